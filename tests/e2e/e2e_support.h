/*
 * Helpers of the end-to-end roads: a running menu with its main dialog, the
 * answering of its questions in order, and comparing data folders.
 */
#ifndef KIRO_E2E_SUPPORT_H
#define KIRO_E2E_SUPPORT_H

#include "driver.h"
#include "test_support.h"

#include <map>
#include <string>

struct Menu {
    Program program;
    HWND dialog = NULL;
};

Menu open_menu(const Installation &inst);
/* Checks a radio choice of the main menu and presses OK. */
void choose_and_ok(Menu &menu, int choice);
/* Waits for the next message box; its text must contain expected. */
bool expect_box(Menu &menu, const std::string &expected, int button, MessageBoxSeen *seen = NULL,
                int timeout_ms = 60000);
/* Closes the menu with "&Luk"; true when it ended with 0. */
bool close_menu(Menu &menu);

/* name -> content of every file directly in a folder. */
std::map<std::string, std::string> folder_files(const std::string &dir);
/* Fills data\ with n table files of size bytes of random (incompressible)
   content, and an ini file. */
void fill_data(const Installation &inst, int n, int size, unsigned seed);
std::string ini_value(const std::string &ini, const char *key);

#endif
