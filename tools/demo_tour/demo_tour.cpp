/*
 * The demo's scripted tour: starts kiromenu.exe on the demo installation and
 * walks through every dialog as a user would (main menu, Advanced with the
 * drive list open, sending data to support, moving the data to the stick and
 * back, deleting the data, the update offer and the start of the schedule
 * program), saving a screenshot of each window into the folder given on the
 * command line. Used by "make demo" when there is no display to show the
 * menu on.
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
    pause_ms(250);
    if (screenshot(path)) {
        printf("screenshot: %s\n", unix_path(path).c_str());
    } else {
        printf("screenshot failed: %s\n", name);
        g_failures++;
    }
    fflush(stdout);
}

static void fail(const char *what)
{
    printf("demo_tour: %s\n", what);
    fflush(stdout);
    g_failures++;
}

/* The program's texts are Windows-1252; the terminal reads UTF-8. */
static std::string utf8(const std::string &text)
{
    std::wstring wide(text.size() + 1, L'\0');
    int n = MultiByteToWideChar(1252, 0, text.c_str(), -1, &wide[0], (int)wide.size());
    std::string out(4 * text.size() + 1, '\0');
    int m = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), n, &out[0], (int)out.size(), NULL, NULL);
    out.resize(m > 0 ? m - 1 : 0);
    return out;
}

/* Waits for a message box, saves it as name (when given), answers it. */
static bool box(DWORD pid, const char *name, int button, int timeout_ms = 60000)
{
    MessageBoxSeen seen;
    if (!wait_message_box(pid, seen, timeout_ms)) {
        fail(name ? name : "a message box did not appear");
        return false;
    }
    printf("  [%s] %s\n", utf8(seen.caption).c_str(), utf8(seen.text).c_str());
    if (name)
        shot(name);
    answer(seen, button);
    return true;
}

/* Catches a progress dialog while it works, if it is still there. */
static void progress_shot(DWORD pid, const char *caption, const char *name)
{
    HWND w = wait_window(pid, "#32770", caption, 3000);
    if (w)
        shot(name);
}

static HWND open_advanced(DWORD pid, HWND menu)
{
    click(menu, IDC_ADVANCED);
    HWND advanced = wait_window(pid, "#32770", "Avanceret");
    if (!advanced)
        fail("the Advanced dialog did not open");
    return advanced;
}

static void choose(HWND dialog, int id)
{
    press(dialog, id);
    for (int i = 0; i < 50 && !is_checked(dialog, id); i++)
        pause_ms(20);
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
    DWORD pid = menu.pid;
    HWND dialog = wait_window(pid, "#32770", "KIRO-skema", 20000);
    if (!dialog) {
        fprintf(stderr, "demo_tour: the main menu did not appear\n");
        kill_program(menu);
        return 1;
    }
    shot("01_main_menu.png");

    /* Advanced: the drive list opens with "Flyt&drev". */
    if (HWND advanced = open_advanced(pid, dialog)) {
        shot("02_advanced.png");
        choose(advanced, IDC_MOVE_DRIVE);
        set_focus(advanced, IDC_MOVE_DRIVE);
        pause_ms(300);
        shot("03_advanced_move_drive.png");
        click(advanced, IDC_ADV_CANCEL);
        pause_ms(300);
    }

    /* Send data to support, against the demo's own FTP server. */
    if (HWND advanced = open_advanced(pid, dialog)) {
        choose(advanced, IDC_SEND_SUPPORT);
        click(advanced, IDC_ADV_OK);
        progress_shot(pid, "Send data til support...", "04_send_support_progress.png");
        box(pid, "05_send_support_done.png", IDOK);
        pause_ms(300);
    }

    /* Move the data to the stick in E:, then back again. */
    choose(dialog, IDC_MOVE);
    click(dialog, IDC_OK);
    box(pid, "06_update_offer.png", IDNO);   /* a pending update is offered first */
    progress_shot(pid, "Pakker filer...", "06_move_to_device_progress.png");
    box(pid, "07_move_to_device_done.png", IDOK);
    pause_ms(500);
    shot("08_main_menu_locked.png");
    choose(dialog, IDC_MOVE);
    click(dialog, IDC_OK);
    progress_shot(pid, "Kopier filer...", "09_move_to_hard_disk_progress.png");
    box(pid, "10_move_to_hard_disk_done.png", IDOK);
    pause_ms(500);

    /* Delete the schedule data: the chain of warnings, the progress dialog. */
    if (HWND advanced = open_advanced(pid, dialog)) {
        choose(advanced, IDC_DELETE_DATA);
        click(advanced, IDC_ADV_OK);
        box(pid, "11_delete_warning.png", IDYES);
        box(pid, "12_delete_final_question.png", IDYES);
        progress_shot(pid, "Sletter filer...", "13_delete_progress.png");
        box(pid, "14_delete_done.png", IDOK);
        pause_ms(300);
    }

    /* Start: the pending update is offered and declined, then the schedule
       program starts and the menu ends. */
    choose(dialog, IDC_START);
    click(dialog, IDC_OK);
    box(pid, NULL, IDNO);
    int code = wait_exit(menu, 30000);
    if (code != 0) {
        fprintf(stderr, "demo_tour: kiromenu.exe ended with %d\n", code);
        return 1;
    }
    printf("demo_tour: the menu started the schedule program and ended\n");
    return g_failures ? 1 : 0;
}
