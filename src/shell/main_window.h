/*
 * The main window: a maximised backdrop with "KIRO-skema", "HOVEDMENU" and
 * the footer line, which opens the main menu dialog as soon as it exists and
 * ends the program when that dialog ends.
 */
#ifndef KIRO_MAIN_WINDOW_H
#define KIRO_MAIN_WINDOW_H

#include <windows.h>

extern const char *const MAIN_WINDOW_CLASS;   /* "MenuWndClass" */

/* Registers the class, creates the main window with the title line, shows it
   maximised and paints it. False when the window could not be created. */
bool create_main_window(void);
void unregister_main_window_class(void);
LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

/* Where the main window paints its three texts for a client height. */
struct MainWindowLayout {
    bool show_names;        /* "KIRO-skema" and "HOVEDMENU" (height > 480) */
    int name_top;
    int heading_top;
    int footer_x, footer_y;
};
MainWindowLayout main_window_layout(int client_height);

#endif
