/*
 * The Advanced dialog through the real kiromenu.exe: the drive list with
 * the prefix's drives, the move drive preselected, saved and kept, a drive
 * that has vanished (the chosen action still runs), the drive list checking
 * "Flyt&drev", the focus ring and the drop-down, the lock choice and the lock
 * toggle with the main menu's labels, also in a super installation, the lock
 * file, and deleting the data.
 */
#include <gtest/gtest.h>
#include "driver.h"
#include "drive_fixture.h"
#include "test_support.h"
#include "resource.h"

#include <string>
#include <vector>

namespace {

struct Session {
    Installation inst;
    Program program = {};
    HWND menu = NULL;
    HWND advanced = NULL;
    ~Session()
    {
        if (program.process)
            kill_program(program);
    }
};

bool start_menu(Session &s)
{
    s.program = start_program(s.inst.program_dir + "kiromenu.exe", s.inst.args());
    if (!s.program.process)
        return false;
    s.menu = wait_main_menu(s.program.pid);
    return s.menu != NULL;
}

bool open_advanced(Session &s)
{
    click(s.menu, IDC_ADVANCED);
    s.advanced = wait_window(s.program.pid, "#32770", "Avanceret");
    if (!s.advanced)
        return false;
    /* The lock choice is labelled, and the drive list closed or opened,
       by the first paint. */
    wait_text(s.advanced, IDC_LOCK, "");
    return wait_idle(s.advanced);
}

/* Waits until the window is gone. */
bool wait_gone(HWND window, int timeout_ms = 10000)
{
    for (int waited = 0; waited < timeout_ms; waited += 50) {
        if (!IsWindow(window))
            return true;
        pause_ms(50);
    }
    return false;
}

std::vector<std::string> combo_entries(HWND dialog)
{
    std::vector<std::string> entries;
    HWND combo = GetDlgItem(dialog, IDC_DRIVE_LIST);
    DWORD_PTR n = 0;
    SendMessageTimeoutW(combo, CB_GETCOUNT, 0, 0, SMTO_NORMAL, 10000, &n);
    for (int i = 0; i < (int)n; i++) {
        wchar_t wide[600] = L"";
        char text[600] = "";
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(combo, CB_GETLBTEXT, i, (LPARAM)wide, SMTO_NORMAL, 10000, &ignored);
        WideCharToMultiByte(1252, 0, wide, -1, text, sizeof text, NULL, NULL);
        entries.push_back(text);
    }
    return entries;
}

int entry_index(HWND dialog, const std::string &prefix)
{
    std::vector<std::string> entries = combo_entries(dialog);
    for (size_t i = 0; i < entries.size(); i++)
        if (entries[i].compare(0, prefix.size(), prefix) == 0)
            return (int)i;
    return -1;
}

int selection(HWND dialog)
{
    return (int)send_message(GetDlgItem(dialog, IDC_DRIVE_LIST), CB_GETCURSEL, 0, 0);
}

std::string ini_value(const Installation &inst, const char *key)
{
    char value[64];
    GetPrivateProfileStringA("global", key, "(none)", value, sizeof value, inst.ini().c_str());
    return value;
}

/* A real mouse click at the centre of a window; what it does is seen by
   waiting for its effect. */
void mouse_click(HWND window)
{
    RECT r;
    GetWindowRect(window, &r);
    POINT centre = { (r.left + r.right) / 2, (r.top + r.bottom) / 2 }, at = { -1, -1 };
    SetCursorPos(centre.x, centre.y);
    for (int waited = 0; GetCursorPos(&at) && (at.x != centre.x || at.y != centre.y) && waited < 5000;
         waited += 10)
        pause_ms(10);
    mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
    pause_ms(30);
    mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
}

std::string shot_path(const char *name)
{
    static std::string dir = make_scratch_dir("advanced_shots");
    return dir + "\\" + name + ".png";
}


bool dropped_down(HWND dialog)
{
    return send_message(GetDlgItem(dialog, IDC_DRIVE_LIST), CB_GETDROPPEDSTATE, 0, 0) != 0;
}

/* Clicks a radio button as the mouse does: focus, check, notification,
   and the repaint that follows. */
void choose(HWND dialog, int id)
{
    PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
    wait_checked(dialog, id);
}

void select_entry(HWND dialog, int index)
{
    send_message(GetDlgItem(dialog, IDC_DRIVE_LIST), CB_SETCURSEL, index, 0);
}

/* A box as it was seen before it was answered. */
struct Seen {
    std::string text, caption, owner_caption;
    HWND owner;
};

/* OK on the Advanced dialog, then the boxes answered in order. */
std::vector<Seen> press_ok(Session &s, std::vector<int> answers)
{
    std::vector<Seen> seen;
    click(s.advanced, IDC_ADV_OK);
    for (int answer_with : answers) {
        MessageBoxSeen box;
        if (!wait_message_box(s.program.pid, box))
            break;
        seen.push_back({ box.text, box.caption, window_text(box.owner), box.owner });
        answer(box, answer_with);
    }
    return seen;
}

void close_menu(Session &s)
{
    click(s.menu, IDC_CLOSE);
    EXPECT_EQ(0, wait_exit(s.program));
    s.program.process = NULL;
}

}  // namespace

/* Drive A: is a stick labelled STICK for the whole suite: defining and
   removing the same drive between tests races with the mount manager. */
class AdvancedGui : public ::testing::Test {
protected:
    static bool stick_defined;
    static void SetUpTestSuite() { stick_defined = define_drive('a', DRIVE_REMOVABLE, drive_dir("adv_stick"), "STICK"); }
    static void TearDownTestSuite() { remove_drive('a'); }
};
bool AdvancedGui::stick_defined = false;

TEST_F(AdvancedGui, DriveListFocusRingAndDropDown)
{
    ASSERT_TRUE(stick_defined);
    ScopedDrive r('r', DRIVE_FIXED, drive_dir("adv_fixed"));
    Session s;
    s.inst = make_installation("adv_drives", 7, 10327, "nej", "nej", "a:");
    ASSERT_TRUE(start_menu(s));
    ASSERT_TRUE(open_advanced(s));

    std::vector<std::string> entries = combo_entries(s.advanced);
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ("(A:) STICK", entries[0]);
    EXPECT_NE(-1, entry_index(s.advanced, "(C:) Lokal disk"));
    EXPECT_NE(-1, entry_index(s.advanced, "(R:) Lokal disk"));
    EXPECT_EQ(0, selection(s.advanced));
    EXPECT_TRUE(is_checked(s.advanced, IDC_SEND_SUPPORT));
    EXPECT_EQ("L&ås KIRO-skema", control_text(s.advanced, IDC_LOCK));
    EXPECT_FALSE(dropped_down(s.advanced));
    EXPECT_TRUE(screenshot(shot_path("advanced_opened")));

    // choosing "Flyt&drev" opens the list, moving elsewhere closes it
    choose(s.advanced, IDC_MOVE_DRIVE);
    EXPECT_TRUE(is_checked(s.advanced, IDC_MOVE_DRIVE));
    EXPECT_TRUE(dropped_down(s.advanced));
    EXPECT_TRUE(screenshot(shot_path("advanced_flytdrev_open")));
    choose(s.advanced, IDC_LOCK);
    EXPECT_TRUE(is_checked(s.advanced, IDC_LOCK));
    EXPECT_FALSE(dropped_down(s.advanced));

    // clicking into the drive list's field checks "Flyt&drev"
    HWND edit = GetWindow(GetDlgItem(s.advanced, IDC_DRIVE_LIST), GW_CHILD);
    ASSERT_TRUE(edit);
    mouse_click(edit);
    EXPECT_TRUE(wait_checked(s.advanced, IDC_MOVE_DRIVE));
    EXPECT_FALSE(is_checked(s.advanced, IDC_LOCK));
    EXPECT_FALSE(dropped_down(s.advanced));
    EXPECT_TRUE(screenshot(shot_path("advanced_field_clicked")));

    // the preselected drive is the configured one: OK writes nothing
    std::string before = read_file(s.inst.ini());
    EXPECT_TRUE(press_ok(s, {}).empty());
    EXPECT_TRUE(wait_gone(s.advanced));
    EXPECT_EQ(before, read_file(s.inst.ini()));
    EXPECT_EQ("a:", ini_value(s.inst, "flytdrev"));
    close_menu(s);
}

TEST_F(AdvancedGui, AnotherDriveIsSavedEvenWhenTheActionIsDeclined)
{
    ASSERT_TRUE(stick_defined);
    Session s;
    s.inst = make_installation("adv_save", 7, 10327, "nej", "nej", "a:");
    ASSERT_TRUE(start_menu(s));
    ASSERT_TRUE(open_advanced(s));
    int c = entry_index(s.advanced, "(C:)");
    ASSERT_NE(-1, c);
    select_entry(s.advanced, c);
    choose(s.advanced, IDC_DELETE_DATA);
    std::vector<Seen> boxes = press_ok(s, { IDNO });
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Advarsel!", boxes[0].caption);
    EXPECT_TRUE(wait_gone(s.advanced));
    EXPECT_EQ("C:", ini_value(s.inst, "flytdrev"));
    // the main menu follows: C: is a fixed disk
    EXPECT_EQ("&Flyt data til harddisk", wait_text(s.menu, IDC_MOVE, "&Flyt data til harddisk"));
    close_menu(s);
}

TEST_F(AdvancedGui, FortrydKeepsTheOldDrive)
{
    ASSERT_TRUE(stick_defined);
    Session s;
    s.inst = make_installation("adv_cancel", 7, 10327, "nej", "nej", "a:");
    ASSERT_TRUE(start_menu(s));
    ASSERT_TRUE(open_advanced(s));
    int c = entry_index(s.advanced, "(C:)");
    ASSERT_NE(-1, c);
    select_entry(s.advanced, c);
    click(s.advanced, IDC_ADV_CANCEL);
    EXPECT_TRUE(wait_gone(s.advanced));
    EXPECT_EQ("a:", ini_value(s.inst, "flytdrev"));
    EXPECT_EQ("&Flyt data til enhed", control_text(s.menu, IDC_MOVE));
    ASSERT_TRUE(open_advanced(s));
    EXPECT_EQ(entry_index(s.advanced, "(A:)"), selection(s.advanced));
    click(s.advanced, IDC_ADV_CANCEL);
    EXPECT_TRUE(wait_gone(s.advanced));
    close_menu(s);
}

TEST_F(AdvancedGui, VanishedDriveIsRefused)
{
    ASSERT_TRUE(stick_defined);
    ScopedDrive q('q', DRIVE_REMOVABLE, drive_dir("adv_gone"), "GONE");
    Session s;
    s.inst = make_installation("adv_vanished", 7, 10327, "nej", "nej", "a:");
    ASSERT_TRUE(start_menu(s));
    ASSERT_TRUE(open_advanced(s));
    click(s.advanced, IDC_ADV_CANCEL);
    ASSERT_TRUE(wait_gone(s.advanced));
    ASSERT_TRUE(remove_drive('q'));

    ASSERT_TRUE(open_advanced(s));   // the list is not built again
    int q_index = entry_index(s.advanced, "(Q:) GONE");
    ASSERT_NE(-1, q_index);
    select_entry(s.advanced, q_index);
    choose(s.advanced, IDC_LOCK);
    // the refusal, and then the chosen action still goes on
    std::vector<Seen> boxes = press_ok(s, { IDOK, IDYES });
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ("Flytdrevet er ikke et gyldigt drev bogstav!", boxes[0].text);
    EXPECT_EQ("Flytdrev", boxes[0].caption);
    EXPECT_EQ(nullptr, boxes[0].owner);
    EXPECT_NE(std::string::npos, boxes[1].text.find("'låse' skemaet?"));
    EXPECT_TRUE(wait_gone(s.advanced));
    EXPECT_EQ("a:", ini_value(s.inst, "flytdrev"));
    EXPECT_EQ("ja", ini_value(s.inst, "skemalåst"));
    close_menu(s);
}

TEST_F(AdvancedGui, LockToggleWritesTheStateAndTheLabelsFollow)
{
    Session s;
    s.inst = make_installation("adv_lock", 7, 10327, "nej", "nej", "c:");
    ASSERT_TRUE(start_menu(s));
    EXPECT_EQ("&Start KIRO-skema", control_text(s.menu, IDC_START));
    ASSERT_TRUE(open_advanced(s));
    EXPECT_EQ("L&ås KIRO-skema", control_text(s.advanced, IDC_LOCK));
    choose(s.advanced, IDC_LOCK);
    std::vector<Seen> boxes = press_ok(s, { IDYES });
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Information", boxes[0].caption);
    EXPECT_NE(std::string::npos, boxes[0].text.find("'låse' skemaet?"));
    EXPECT_EQ(nullptr, boxes[0].owner);
    EXPECT_TRUE(wait_gone(s.advanced));
    EXPECT_EQ("ja", ini_value(s.inst, "skemalåst"));
    EXPECT_EQ("&Start KIRO-skema [LÅST]", wait_text(s.menu, IDC_START, "&Start KIRO-skema [LÅST]"));
    EXPECT_EQ("&Flyt data til harddisk", wait_text(s.menu, IDC_MOVE, "&Flyt data til harddisk"));

    ASSERT_TRUE(open_advanced(s));
    EXPECT_EQ("&Åbn KIRO-skema", control_text(s.advanced, IDC_LOCK));
    choose(s.advanced, IDC_LOCK);
    boxes = press_ok(s, { IDYES });
    ASSERT_EQ(1u, boxes.size());
    EXPECT_NE(std::string::npos, boxes[0].text.find("'åbne' skemaet?"));
    EXPECT_TRUE(wait_gone(s.advanced));
    EXPECT_EQ("nej", ini_value(s.inst, "skemalåst"));
    EXPECT_EQ("&Start KIRO-skema", wait_text(s.menu, IDC_START, "&Start KIRO-skema"));
    close_menu(s);
}

TEST_F(AdvancedGui, OkClickedAgainWhileTheLockQuestionIsUpDoesNothing)
{
    Session s;
    s.inst = make_installation("adv_twice", 7, 10327, "nej", "nej", "c:");
    ASSERT_TRUE(start_menu(s));
    ASSERT_TRUE(open_advanced(s));
    choose(s.advanced, IDC_LOCK);
    click(s.advanced, IDC_ADV_OK);
    MessageBoxSeen box;
    ASSERT_TRUE(wait_message_box(s.program.pid, box));
    EXPECT_EQ(nullptr, box.owner);
    EXPECT_FALSE(IsWindowEnabled(s.advanced)) << "the box without owner leaves the dialog beneath usable";

    // The box is moved off the dialog, so that the real click lands on OK;
    // then a real click on the box's "Ja", which the menu handles after it.
    SetWindowPos(box.window, NULL, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT moved, dialog, overlap;
    GetWindowRect(box.window, &moved);
    GetWindowRect(s.advanced, &dialog);
    ASSERT_FALSE(IntersectRect(&overlap, &moved, &dialog));
    mouse_click(GetDlgItem(s.advanced, IDC_ADV_OK));
    EXPECT_TRUE(screenshot(shot_path("advanced_ok_again_blocked")));
    mouse_click(GetDlgItem(box.window, IDYES));

    EXPECT_TRUE(wait_gone(s.advanced));
    int boxes_left = 0;
    for (HWND w : top_windows(s.program.pid))
        if (class_name(w) == "#32770" && GetDlgItem(w, 0xFFFF))
            boxes_left++;
    EXPECT_EQ(0, boxes_left) << "a second question came";
    EXPECT_EQ("ja", ini_value(s.inst, "skemalåst"));
    EXPECT_EQ("&Start KIRO-skema [LÅST]", wait_text(s.menu, IDC_START, "&Start KIRO-skema [LÅST]"));
    close_menu(s);
}

TEST_F(AdvancedGui, SuperInstallationLockedByHandReadsLockedOnTheNextOpening)
{
    Session s;
    s.inst = make_installation("adv_super_lock", 7, 10327, "ja", "nej", "c:");
    ASSERT_TRUE(start_menu(s));
    ASSERT_TRUE(open_advanced(s));
    EXPECT_EQ("L&ås KIRO-skema", control_text(s.advanced, IDC_LOCK));
    choose(s.advanced, IDC_LOCK);
    ASSERT_EQ(1u, press_ok(s, { IDYES }).size());
    EXPECT_TRUE(wait_gone(s.advanced));
    EXPECT_EQ("ja", ini_value(s.inst, "skemalåst"));
    ASSERT_TRUE(open_advanced(s));
    EXPECT_EQ("&Åbn KIRO-skema", control_text(s.advanced, IDC_LOCK));
    EXPECT_TRUE(screenshot(shot_path("advanced_super_locked")));
    click(s.advanced, IDC_ADV_CANCEL);
    EXPECT_TRUE(wait_gone(s.advanced));
    close_menu(s);
}

TEST_F(AdvancedGui, LockFilePresentReadOnlyAndMissing)
{
    Session s;
    s.inst = make_installation("adv_lockfile", 7, 10327, "nej", "nej", "c:");
    std::string lock = s.inst.data_dir + "ini\\kiro.lck";
    write_file(lock, "");
    ASSERT_TRUE(start_menu(s));

    // present and writable: the warning, deleted on Yes
    ASSERT_TRUE(open_advanced(s));
    choose(s.advanced, IDC_DELETE_LOCKFILE);
    std::vector<Seen> boxes = press_ok(s, { IDYES });
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Advarsel!", boxes[0].caption);
    EXPECT_EQ(0u, boxes[0].text.find("Bemærk at data'ene tilhørende installation nr. 7 er i brug !!!\n"));
    EXPECT_EQ(s.advanced, boxes[0].owner);
    EXPECT_TRUE(wait_gone(s.advanced));
    EXPECT_FALSE(file_exists(lock));

    // read-only: no question, kept
    write_file(lock, "");
    SetFileAttributesA(lock.c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(open_advanced(s));
    choose(s.advanced, IDC_DELETE_LOCKFILE);
    click(s.advanced, IDC_ADV_OK);
    EXPECT_TRUE(wait_gone(s.advanced));
    MessageBoxSeen box;
    EXPECT_FALSE(wait_message_box(s.program.pid, box, 800));
    EXPECT_TRUE(file_exists(lock));

    // missing: nothing said
    SetFileAttributesA(lock.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(lock.c_str());
    ASSERT_TRUE(open_advanced(s));
    choose(s.advanced, IDC_DELETE_LOCKFILE);
    click(s.advanced, IDC_ADV_OK);
    EXPECT_TRUE(wait_gone(s.advanced));
    EXPECT_FALSE(wait_message_box(s.program.pid, box, 800));
    close_menu(s);
}

TEST_F(AdvancedGui, DeleteDataRemovesTheTableFilesAndSaysSo)
{
    Session s;
    s.inst = make_installation("adv_delete", 7, 10327, "nej", "nej", "c:");
    const char *some_tables[] = { "anom", "akti", "epsh", "medaskeprior", "skfalokarel" };
    const char *kept[] = { "tg", "pp", "la", "lap", "elev", "elti", "ev", "eb" };
    const char *work[] = { "skemabeg.dat", "timoak.dat", "udplatim.dat", "hontim.dat", "CntLokaleBeg.dat" };
    std::string data = s.inst.data_dir + "data\\";
    for (const char *t : some_tables)
        write_file(data + t + ".DAT", "x");
    for (const char *t : kept)
        write_file(data + t + ".DAT", "x");
    for (const char *w : work)
        write_file(data + w, "0, 0\n");
    write_file(data + "exp.dat.gz", "gz");   // an export file: its own question
    ASSERT_TRUE(start_menu(s));
    ASSERT_TRUE(open_advanced(s));
    choose(s.advanced, IDC_DELETE_DATA);
    std::vector<Seen> boxes = press_ok(s, { IDYES, IDYES, IDOK });
    ASSERT_EQ(3u, boxes.size());
    EXPECT_EQ("Bemærk at der er lavet og SENDT en eksportfil !!!\n\nEr du sikker på du vil slette data?", boxes[0].text);
    EXPECT_EQ("Er du HELT sikker du vil slette skemadata?", boxes[1].text);
    EXPECT_EQ(s.advanced, boxes[1].owner);
    EXPECT_EQ("Så er skemadata slettet!", boxes[2].text);
    EXPECT_EQ("Information", boxes[2].caption);
    EXPECT_EQ("Sletter filer...", boxes[2].owner_caption);
    EXPECT_TRUE(wait_gone(s.advanced));
    for (const char *t : some_tables)
        EXPECT_FALSE(file_exists(data + t + ".DAT")) << t;
    for (const char *t : kept)
        EXPECT_TRUE(file_exists(data + t + ".DAT")) << t;
    for (const char *w : work)
        EXPECT_FALSE(file_exists(data + w)) << w;
    EXPECT_TRUE(file_exists(data + "exp.dat.gz"));
    EXPECT_TRUE(file_exists(s.inst.ini()));
    close_menu(s);
}

TEST_F(AdvancedGui, TraceSwitchRecordsTheDriveListMessages)
{
    Session s;
    s.inst = make_installation("adv_trace", 7, 10327, "nej", "nej", "c:");
    std::string trace = s.inst.root + "\\trace.txt";
    s.program = start_program(s.inst.program_dir + "kiromenu.exe", s.inst.args() + " \"-t" + trace + "\"");
    ASSERT_TRUE(s.program.process);
    s.menu = wait_main_menu(s.program.pid);
    ASSERT_TRUE(s.menu);
    ASSERT_TRUE(open_advanced(s));
    choose(s.advanced, IDC_LOCK);
    mouse_click(GetWindow(GetDlgItem(s.advanced, IDC_DRIVE_LIST), GW_CHILD));
    EXPECT_TRUE(wait_checked(s.advanced, IDC_MOVE_DRIVE));
    click(s.advanced, IDC_ADV_CANCEL);
    EXPECT_TRUE(wait_gone(s.advanced));
    close_menu(s);
    std::string text = read_file(trace);
    EXPECT_EQ(0u, text.find("// KIRO-MessageTrace !!!\r\n"));
    EXPECT_NE(std::string::npos, text.find("\nCOMBOBOX:    WM_SETFOCUS "));
    EXPECT_NE(std::string::npos, text.find("\nCOMBOBOX:    WM_PARENTNOTIFY "));
    EXPECT_EQ(std::string::npos, text.find("WM_MOUSEMOVE  "));
}
