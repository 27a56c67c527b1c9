/*
 * Entry point of kiromenu.exe, the main menu of KIRO-skema.
 */
#include "shell/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show)
{
    return run_menu(instance);
}
