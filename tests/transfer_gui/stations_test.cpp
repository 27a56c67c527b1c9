/*
 * Several stations of one installation at once, through real kiromenu.exe
 * processes on the same directories: a second menu that still shows the
 * state from before another moved the data out, every changing action and
 * the start tried while another station's take-back waits for a disk, the
 * schedule program started meanwhile, and a counterfeit stick that gives
 * back other bytes than were written to it.
 */
#include "move_support.h"

#include <map>
#include <string>

namespace {

const char *const HELD = "Der er en flytning af KIRO-data i gang på en anden PC.";
const char *const CHANGED = "KIRO-skema er blevet låst eller åbnet fra en anden station, siden menuen blev vist.";

/* A counterfeit stick: counterfeitfs reporting bytes of room but keeping
   only real of them, unmounted when the test ends. */
struct Counterfeit {
    std::string dir;
    Counterfeit(const std::string &name, unsigned long bytes, unsigned long real)
    {
        std::string mount = drive_dir(name);
        std::string tool = build_unix_dir() + "/counterfeit/counterfeitfs";
        if (run_unix("'" + tool + "' '" + mount + "' --size=" + std::to_string(bytes) +
                     " --real=" + std::to_string(real) + " && mountpoint -q '" + mount + "'") == 0)
            dir = mount;
        else
            ADD_FAILURE() << "counterfeitfs could not be mounted on " << mount
                          << " (root, /dev/fuse and tools/build.sh's build of it are needed)";
    }
    ~Counterfeit()
    {
        if (!dir.empty() && run_unix("fusermount3 -u '" + dir + "' || umount -l '" + dir + "'") != 0)
            ADD_FAILURE() << "could not unmount " << dir;
    }
};

void open_advanced_and_ok(Menu &menu, int choice)
{
    click(menu.window, IDC_ADVANCED);
    HWND advanced = wait_window(menu.program.pid, "#32770", "Avanceret");
    ASSERT_TRUE(advanced);
    ASSERT_TRUE(wait_idle(advanced));
    PostMessageA(GetDlgItem(advanced, choice), BM_CLICK, 0, 0);
    ASSERT_TRUE(wait_checked(advanced, choice));
    click(advanced, IDC_ADV_OK);
}

void choose_start(Menu &menu)
{
    send_message(GetDlgItem(menu.window, IDC_MOVE), BM_SETCHECK, BST_UNCHECKED, 0);
    send_message(GetDlgItem(menu.window, IDC_START), BM_SETCHECK, BST_CHECKED, 0);
}

void expect_with_screenshot(Menu &menu, const std::string &text, const char *shot)
{
    MessageBoxSeen box;
    if (wait_message_box(menu.program.pid, box, BOX_WAIT)) {
        pause_ms(300);
        EXPECT_TRUE(screenshot(screenshot_path(shot)));
    }
    menu.expect(text, IDOK);
}

}  // namespace

TEST_F(Transfer, ASecondMenuActsOnlyOnTheStateAsItIsNow)
{
    Installation a = make_installation("pc_two_menus", 7, 10327, "nej", "nej", "e:");
    fill_data(a, 30000, 61);
    Disk disk("two_menus", 1024 * 1024);
    insert(disk);
    Menu first(a), second(a);
    ASSERT_TRUE(first.window && second.window);
    EXPECT_EQ("&Flyt data til enhed", second.label(IDC_MOVE));
    first.start_move();
    first.expect(DONE_OUT, IDOK);
    ASSERT_TRUE(first.idle());
    std::string set = disk_listing(disk);

    /* The second menu still shows the data as here: told, and refreshed. */
    second.start_move();
    expect_with_screenshot(second, CHANGED, "menu_state_changed.png");
    second.expect_no_box(500);
    EXPECT_EQ("&Flyt data til harddisk", wait_text(second.window, IDC_MOVE, "&Flyt data til harddisk"));
    EXPECT_EQ("&Start KIRO-skema [LÅST]", wait_text(second.window, IDC_START, "&Start KIRO-skema [LÅST]"));
    EXPECT_EQ(set, disk_listing(disk));
    EXPECT_EQ("ja", locked_key(a));

    /* A lock file that cannot be made (a folder in its place) refuses. */
    ASSERT_TRUE(make_dirs(a.data_dir + "ini\\flyt.lck"));
    second.start_move();
    expect_with_screenshot(second, "KIRO-data kan ikke reserveres til denne PC, fordi filen " + a.data_dir +
                                       "ini\\flyt.lck ikke kan oprettes.",
                           "move_lock_unavailable.png");
    second.expect_no_box(500);
    RemoveDirectoryA((a.data_dir + "ini\\flyt.lck").c_str());
    EXPECT_EQ(set, disk_listing(disk));
    EXPECT_EQ("ja", locked_key(a));
}

TEST_F(Transfer, WhileATakeBackWaitsForADiskNoOtherStationChangesAnything)
{
    Installation a = make_installation("pc_wait_a", 7, 10327, "nej", "nej", "e:");
    Installation b = make_installation("pc_wait_b", 7, 10327, "nej", "ja", "e:");
    fill_data(a, 60000, 62);
    fill_data(b, 5000, 63);
    std::map<std::string, std::string> old_files = snapshot(b), new_files = snapshot(a);
    Disk d1("wait1", 1024 * 1024), d2("wait2", 1024 * 1024);
    write_set(a, { &d1, &d2 }, { "nej", "nej" });
    insert(d1);
    {
        Menu taking(b);
        ASSERT_TRUE(taking.window);
        taking.start_move();
        MessageBoxSeen asked;
        ASSERT_TRUE(wait_message_box(taking.program.pid, asked, BOX_WAIT));
        ASSERT_EQ("Indsæt disk enhed nr: 2 i drevet!", asked.text);
        {
            Menu other(b);
            ASSERT_TRUE(other.window);
            other.start_move();
            expect_with_screenshot(other, HELD, "move_in_progress_elsewhere.png");
            for (int choice : { IDC_LOCK, IDC_DELETE_DATA, IDC_DELETE_LOCKFILE }) {
                open_advanced_and_ok(other, choice);
                other.expect(HELD, IDOK);
                ASSERT_TRUE(other.idle());
            }
            choose_start(other);
            click(other.window, IDC_OK);
            other.expect(HELD, IDOK);
            other.expect_no_box(500);
        }
        expect_untouched(b, old_files, "ja");

        /* The schedule program is started on a third station meanwhile. */
        ASSERT_TRUE(write_file(b.data_dir + "ini\\kiro.lck", ""));
        taking.expect("Indsæt disk enhed nr: 2 i drevet!", IDOK, &d2);
        expect_with_screenshot(taking, "KIRO-skema er blevet startet på en anden station, mens dataene blev flyttet.",
                               "take_back_started_meanwhile.png");
        taking.expect_no_box(500);
        ASSERT_TRUE(taking.idle());
    }
    ASSERT_TRUE(DeleteFileA((b.data_dir + "ini\\kiro.lck").c_str()));
    expect_untouched(b, old_files, "ja");
    EXPECT_EQ("nej", ini_value(flyt_ini(d1), "skemalåst"));
    EXPECT_EQ("nej", ini_value(flyt_ini(d2), "skemalåst"));

    /* Done again, the take-back completes. */
    insert(d1);
    run_move(b, { Step("Indsæt disk enhed nr: 2 i drevet!", IDOK, &d2), Step(DONE_BACK, IDOK) });
    expect_same_files(new_files, snapshot(b), true);
    EXPECT_EQ("nej", locked_key(b));
}

TEST_F(Transfer, ACounterfeitStickIsFoundFaultyBeforeAnythingIsLocked)
{
    /* 8 MiB of room, 1 MiB kept: a volume of 3 MiB overwrites itself. */
    Counterfeit stick("counterfeit", 8 * 1024 * 1024, 1024 * 1024);
    ASSERT_FALSE(stick.dir.empty());
    Installation a = make_installation("pc_counterfeit", 7, 10327, "nej", "nej", "e:");
    fill_data(a, 3 * 1024 * 1024, 64);
    std::map<std::string, std::string> files = snapshot(a);
    ASSERT_TRUE(define_drive('e', DRIVE_REMOVABLE, stick.dir));
    run_move(a, { Step("Disk enhed nr. 1 er defekt: de data, der blev læst tilbage fra den, er ikke de samme",
                       IDOK, NULL, "move_disk_faulty.png") });
    expect_untouched(a, files, "nej");
    EXPECT_FALSE(file_exists(a.data_dir + "Data.zip"));
    EXPECT_FALSE(file_exists(windows_path(stick.dir + "/KIRO-Flyt7/flyt.ini")));

    /* What fits in what the stick keeps moves out whole. */
    fill_data(a, 100000, 65);
    run_move(a, { Step(DONE_OUT, IDOK) });
    EXPECT_EQ("ja", locked_key(a));
    EXPECT_EQ(0, run_unix("unzip -tq '" + stick.dir + "/KIRO-Flyt7/Data.z01' >/dev/null"));
}
