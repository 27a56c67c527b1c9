/*
 * The smallest Win32 dialog program: the yardstick the menu's start-up time
 * is measured against. It shows one modal dialog and ends when it closes.
 */
#include <windows.h>

static INT_PTR CALLBACK minimal_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show)
{
    DialogBoxParamA(instance, MAKEINTRESOURCEA(100), NULL, minimal_proc, 0);
    return 0;
}
