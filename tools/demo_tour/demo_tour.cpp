/*
 * The demo's scripted tour: starts kiromenu.exe on the demo installation and
 * walks through every dialog as a user would: the main menu, "Avanceret"
 * with the drive list open, sending data to support, moving the data out on
 * two sticks and taking them back, the lock question, the refusal to move
 * while the lock file is there and the deletion of that file, deleting the
 * data, and the update offer before the schedule program starts. Every
 * window is saved as a screenshot of the whole screen into the folder given
 * on the command line, and (but for the progress dialogs, which are often
 * gone before the picture is taken) cut to the menu's dialogs into its
 * subfolder "docs": the pictures of the README and the user guide. Every message box
 * must say what the tour expects, or the tour fails.
 *
 * The two sticks are Unix folders (small file systems of their own, empty
 * and of the same size) that the tour puts into drive E: when the menu asks
 * for a disk, as a user changes sticks; "-" for both moves the data on the
 * stick E: holds, in one piece. Used by "make demo" when there is no
 * display to show the menu on.
 *   demo_tour <kiromenu.exe> <screenshot folder> <stick 1> <stick 2> <kiromenu arguments...>
 */
#include "driver.h"
#include "resource.h"

#include <stdio.h>
#include <string.h>
#include <string>

static std::string g_folder;
static DWORD g_pid = 0;
static int g_failures = 0;

static void fail(const std::string &what)
{
    printf("demo_tour: %s\n", what.c_str());
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

static std::string quoted(const std::string &text)
{
    return "'" + text + "'";
}

/* The screen area of the menu's dialogs, boxes and drop-down lists (every
   window of the menu but its full-screen backdrop), with a margin. */
static bool dialogs_area(RECT *area)
{
    bool any = false;
    for (HWND w : top_windows(g_pid)) {
        if (class_name(w) == "MenuWndClass")
            continue;
        RECT r;
        if (!GetWindowRect(w, &r))
            continue;
        if (!any)
            *area = r;
        else
            UnionRect(area, area, &r);
        any = true;
    }
    if (!any)
        return false;
    const int margin = 12;
    area->left = area->left > margin ? area->left - margin : 0;
    area->top = area->top > margin ? area->top - margin : 0;
    area->right = area->right + margin < GetSystemMetrics(SM_CXSCREEN) ? area->right + margin
                                                                      : GetSystemMetrics(SM_CXSCREEN);
    area->bottom = area->bottom + margin < GetSystemMetrics(SM_CYSCREEN) ? area->bottom + margin
                                                                       : GetSystemMetrics(SM_CYSCREEN);
    return true;
}

/* What goes into the docs folder beside the whole screen. */
enum DocsCopy { DOCS_CUT, DOCS_WHOLE, DOCS_NONE };

/* Saves the screen as name, and as docs\name cut to the dialogs, whole,
   or not at all. */
static void shot(const char *name, DocsCopy docs_copy = DOCS_CUT)
{
    std::string path = g_folder + "\\" + name;
    pause_ms(250);
    if (!screenshot(path)) {
        fail(std::string("screenshot failed: ") + name);
        return;
    }
    printf("screenshot: %s\n", unix_path(path).c_str());
    fflush(stdout);
    if (docs_copy == DOCS_NONE)
        return;
    std::string docs = unix_path(g_folder + "\\docs\\" + name);
    RECT a;
    std::string command;
    if (docs_copy == DOCS_WHOLE || !dialogs_area(&a)) {
        command = "cp " + quoted(unix_path(path)) + " " + quoted(docs);
    } else {
        char geometry[64];
        snprintf(geometry, sizeof geometry, "%ldx%ld+%ld+%ld", a.right - a.left, a.bottom - a.top,
                 a.left, a.top);
        command = "convert " + quoted(unix_path(path)) + " -crop " + geometry + " +repage " + quoted(docs);
    }
    if (run_unix(command) != 0)
        fail(std::string("could not cut the screenshot ") + name);
}

/* Waits for a message box whose text begins with expected, saves it as
   name (when given) and presses button. Before pressing, then_do runs
   (the tour changes the stick there). */
static bool box(const char *name, const char *expected, int button, void (*then_do)(void) = NULL)
{
    MessageBoxSeen seen;
    if (!wait_message_box(g_pid, seen, 60000)) {
        fail(std::string("no message box came; expected: ") + utf8(expected));
        return false;
    }
    printf("  [%s] %s\n", utf8(seen.caption).c_str(), utf8(seen.text).c_str());
    bool as_expected = seen.text.compare(0, strlen(expected), expected) == 0;
    if (!as_expected)
        fail("the box above is not the one expected: " + utf8(expected));
    if (name)
        shot(name);
    if (then_do)
        then_do();
    answer(seen, button);
    return as_expected;
}

/* Catches a progress dialog while it works, if it is still there (often
   the work is done before the picture is taken: not for the docs). */
static void progress_shot(const char *caption, const char *name)
{
    if (wait_window(g_pid, "#32770", caption, 3000))
        shot(name, DOCS_NONE);
}

static HWND open_advanced(HWND menu)
{
    click(menu, IDC_ADVANCED);
    HWND advanced = wait_window(g_pid, "#32770", "Avanceret");
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

/* Runs a choice of "Avanceret" with OK. */
static bool advanced_choice(HWND menu, int id)
{
    HWND advanced = open_advanced(menu);
    if (!advanced)
        return false;
    choose(advanced, id);
    click(advanced, IDC_ADV_OK);
    return true;
}

static void wait_label(HWND menu, int id, const char *label)
{
    for (int i = 0; i < 100 && control_text(menu, id) != label; i++)
        pause_ms(50);
    if (control_text(menu, id) != label)
        fail(std::string("the main menu does not read ") + utf8(label));
}

/* The sticks: Unix folders, E: follows its link at once. */
static std::string g_stick[2];

static void put_stick(int k)
{
    if (run_unix("ln -sfn " + quoted(g_stick[k]) + " \"$WINEPREFIX/dosdevices/e:\"") != 0)
        fail("could not change the stick in E:");
}
static void put_stick_1(void) { put_stick(0); }
static void put_stick_2(void) { put_stick(1); }

/* Moves the data out (to two sticks when there are two) and back. */
static void move_out_and_back(HWND menu, bool two_sticks)
{
    if (two_sticks)
        put_stick_1();
    choose(menu, IDC_MOVE);
    click(menu, IDC_OK);
    box("update_offer.png", "Der ligger en opdatering klar til afvikling", IDNO);
    progress_shot("Pakker filer...", "move_to_device_progress.png");
    if (two_sticks) {
        box("move_disk_count.png", "Der skal bruges 2 tomme disk enheder", IDOK);
        box("move_insert_disk_2.png", "Indsæt flyt-enhed nr. 2.", IDOK, put_stick_2);
    }
    box("move_to_device_done.png", "Så er filerne kopieret til disk enheden!", IDOK);
    wait_label(menu, IDC_START, "&Start KIRO-skema [LÅST]");
    pause_ms(300);
    shot("main_menu_locked.png");

    choose(menu, IDC_MOVE);
    click(menu, IDC_OK);
    if (two_sticks) {
        /* Disk 2 is still in the drive: the menu asks for disk 1 first. */
        box("take_back_insert_disk_1.png", "Indsæt disk enhed nr: 1 i drevet!", IDOK, put_stick_1);
        box(NULL, "Indsæt disk enhed nr: 2 i drevet!", IDOK, put_stick_2);
    }
    progress_shot("Udpakker filer...", "move_to_hard_disk_progress.png");
    box("move_to_hard_disk_done.png", "Så er filerne kopieret til harddisken!", IDOK);
    wait_label(menu, IDC_START, "&Start KIRO-skema");
    pause_ms(300);
}

/* The lock file the schedule program keeps while it runs. */
static bool write_lock_file(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        fail("could not write " + path);
        return false;
    }
    CloseHandle(file);
    return true;
}

static std::string argument_value(int argc, char **argv, int from, const char *switch_text)
{
    for (int i = from; i < argc; i++)
        if (strncmp(argv[i], switch_text, 2) == 0)
            return argv[i] + 2;
    return std::string();
}

int main(int argc, char **argv)
{
    if (argc < 5) {
        fprintf(stderr, "usage: demo_tour <kiromenu.exe> <screenshot folder> <stick 1> <stick 2> "
                        "[arguments]\n");
        return 2;
    }
    std::string exe = argv[1];
    g_folder = argv[2];
    g_stick[0] = argv[3];
    g_stick[1] = argv[4];
    bool two_sticks = g_stick[0] != "-" && g_stick[1] != "-";
    CreateDirectoryA(g_folder.c_str(), NULL);
    CreateDirectoryA((g_folder + "\\docs").c_str(), NULL);
    std::string args;
    for (int i = 5; i < argc; i++)
        args += std::string(i > 5 ? " " : "") + "\"" + argv[i] + "\"";
    std::string data_dir = argument_value(argc, argv, 5, "-d");
    if (!data_dir.empty() && data_dir.back() != '\\')
        data_dir += '\\';
    std::string lock_file = data_dir + "ini\\kiro.lck";

    Program menu_program = start_program(exe, args);
    if (!menu_program.process) {
        fprintf(stderr, "demo_tour: cannot start %s\n", exe.c_str());
        return 1;
    }
    g_pid = menu_program.pid;
    HWND menu = wait_main_menu(g_pid);
    if (!menu) {
        fprintf(stderr, "demo_tour: the main menu did not appear\n");
        kill_program(menu_program);
        return 1;
    }
    shot("main_menu_screen.png", DOCS_WHOLE);
    shot("main_menu.png");

    /* Advanced: the drive list opens with "Flyt&drev". */
    if (HWND advanced = open_advanced(menu)) {
        shot("advanced.png");
        choose(advanced, IDC_MOVE_DRIVE);
        set_focus(advanced, IDC_MOVE_DRIVE);
        pause_ms(300);
        shot("advanced_move_drive.png");
        click(advanced, IDC_ADV_CANCEL);
        pause_ms(300);
    }

    /* Send data to support, against the demo's own FTP server. */
    if (advanced_choice(menu, IDC_SEND_SUPPORT)) {
        progress_shot("Send data til support...", "send_support_progress.png");
        box("send_support_done.png", "Data'ene er nu sendt til KIRO-support!", IDOK);
        pause_ms(300);
    }

    move_out_and_back(menu, two_sticks);

    /* The lock by hand: asked, and declined. */
    if (advanced_choice(menu, IDC_LOCK)) {
        box("lock_question.png", "Er du sikker på at du vil 'låse' skemaet?", IDNO);
        pause_ms(300);
    }

    /* The schedule program in use (its lock file): no move; then the lock
       file is deleted after its warning. */
    if (write_lock_file(lock_file)) {
        choose(menu, IDC_MOVE);
        click(menu, IDC_OK);
        box("move_refused_lock_file.png", "Du er ved at flytte data fra en KIRO, som er i brug", IDOK);
        pause_ms(300);
        if (advanced_choice(menu, IDC_DELETE_LOCKFILE)) {
            box("delete_lock_file_warning.png", "Bemærk at data'ene tilhørende installation nr.", IDYES);
            pause_ms(500);
            if (GetFileAttributesA(lock_file.c_str()) != INVALID_FILE_ATTRIBUTES)
                fail("the lock file is still there");
        }
    }

    /* Delete the schedule data: the chain of warnings, the progress dialog. */
    if (advanced_choice(menu, IDC_DELETE_DATA)) {
        box("delete_warning.png", "Dette vil slette ALLE skemadata", IDYES);
        box("delete_final_question.png", "Er du HELT sikker du vil slette skemadata?", IDYES);
        progress_shot("Sletter filer...", "delete_progress.png");
        box("delete_done.png", "Så er skemadata slettet!", IDOK);
        pause_ms(300);
    }

    /* Start: the pending update is offered and declined, then the schedule
       program starts and the menu ends. */
    choose(menu, IDC_START);
    click(menu, IDC_OK);
    box(NULL, "Der ligger en opdatering klar til afvikling", IDNO);
    int code = wait_exit(menu_program, 30000);
    if (code != 0) {
        fprintf(stderr, "demo_tour: kiromenu.exe ended with %d\n", code);
        return 1;
    }
    printf("demo_tour: the menu started the schedule program and ended\n");
    return g_failures ? 1 : 0;
}
