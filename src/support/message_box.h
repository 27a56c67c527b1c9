/*
 * The one way the program shows a message box. Every question and message
 * of the menu passes through message_box() (error_box() is the same with
 * the caption "Fejl" and no owner), so the tests can read each box
 * (owner, text, caption, style) and answer it without a screen: a test
 * installs a hook, and the hook's answer is returned as if the user had
 * pressed that button.
 */
#ifndef KIRO_MESSAGE_BOX_H
#define KIRO_MESSAGE_BOX_H

#include <windows.h>

typedef int (*MessageBoxHook)(HWND owner, const char *text, const char *caption, UINT style);

/* Shows text with caption and style (MB_* flags) owned by owner (may be
   NULL); returns the button pressed (IDOK, IDCANCEL, IDYES, ...). While
   the box is up no other window of the thread takes input: a box without
   owner is shown task-modal. */
int message_box(HWND owner, const char *text, const char *caption, UINT style);

/* A box without owner, caption "Fejl", with the icon and buttons of style.
   A NULL text shows the system's text for the last error with its code
   (support/error_text.h), never an empty box. */
int error_box(const char *text, UINT style);

/* Replaces the real box by hook (NULL restores it). For tests. */
void set_message_box_hook(MessageBoxHook hook);

#endif
