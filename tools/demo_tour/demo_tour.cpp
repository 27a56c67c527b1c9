/*
 * The demo's scripted tour: starts kiromenu.exe on the demo installation,
 * waits for each window, saves a screenshot of it into the screenshot folder
 * given on the command line, and closes the menu again. Used by "make demo"
 * when there is no display to show the menu on.
 *   demo_tour <kiromenu.exe> <screenshot folder> <kiromenu arguments...>
 */
#include "driver.h"
#include "resource.h"

#include <stdio.h>
#include <string>

static std::string g_folder;
static int g_failures = 0;

static void shot(const char *name)
{
    std::string path = g_folder + "\\" + name;
    pause_ms(300);
    if (screenshot(path)) {
        printf("screenshot: %s\n", unix_path(path).c_str());
    } else {
        printf("screenshot failed: %s\n", name);
        g_failures++;
    }
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: demo_tour <kiromenu.exe> <screenshot folder> [arguments]\n");
        return 2;
    }
    std::string exe = argv[1];
    g_folder = argv[2];
    CreateDirectoryA(g_folder.c_str(), NULL);
    std::string args;
    for (int i = 3; i < argc; i++)
        args += std::string(i > 3 ? " " : "") + "\"" + argv[i] + "\"";

    Program menu = start_program(exe, args);
    if (!menu.process) {
        fprintf(stderr, "demo_tour: cannot start %s\n", exe.c_str());
        return 1;
    }
    HWND dialog = wait_window(menu.pid, "#32770", "KIRO-skema", 20000);
    if (!dialog) {
        fprintf(stderr, "demo_tour: the main menu did not appear\n");
        kill_program(menu);
        return 1;
    }
    shot("main_menu.png");

    click(dialog, IDC_CLOSE);
    int code = wait_exit(menu, 20000);
    if (code != 0) {
        fprintf(stderr, "demo_tour: kiromenu.exe ended with %d\n", code);
        return 1;
    }
    return g_failures ? 1 : 0;
}
