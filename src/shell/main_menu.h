/*
 * The main menu dialog (resource 102): three choices (start, start with
 * the view switch, move the data), the Advanced dialog, OK and Close. Its
 * labels follow the super setting, the schedule-locked flag and the type of
 * the move drive; it paints a version banner and a focus ring.
 */
#ifndef KIRO_MAIN_MENU_H
#define KIRO_MAIN_MENU_H

#include <windows.h>
#include <stddef.h>

struct MainMenuLabels {
    const char *start;   /* 1001 */
    const char *view;    /* 1009 */
    const char *move;    /* 1002 */
};

MainMenuLabels main_menu_labels(bool schedule_locked, const char *super_setting, UINT move_drive_type);
void version_banner(char *out, size_t size, int installation, unsigned version);

/* Runs the dialog modally over owner. */
INT_PTR run_main_menu(HWND owner);
INT_PTR CALLBACK main_menu_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

#endif
