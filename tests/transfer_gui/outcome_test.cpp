/*
 * The moves prove their outcome, through the real kiromenu.exe: both moves
 * with data directories given relative to where the menu was started
 * (".\", "..\Data", none at all), crafted archives refused before anything
 * is written, a table changed by another station while the disks are
 * swapped (no lock, the set withdrawn, and the other PC refusing it), and a
 * set taken back that is no longer taken for live data on its first disk.
 */
#include "move_support.h"

#include <map>
#include <string>
#include <vector>

namespace {

/* The menu started from folder cwd by command_line (program name first, as
   a user's shortcut or prompt gives it); its kiromenu.exe lies in cwd. Runs
   the move and answers exactly these boxes, then closes the menu. */
void run_move_from(const std::string &cwd, const std::string &command_line, const std::vector<Step> &steps)
{
    std::string exe = cwd + "kiromenu.exe";
    Program program = start_program_line(exe, command_line, cwd.c_str());
    ASSERT_TRUE(program.process) << command_line;
    HWND window = wait_main_menu(program.pid);
    if (!window) {
        kill_program(program);
        FAIL() << "no main menu for " << command_line;
    }
    send_message(GetDlgItem(window, IDC_START), BM_SETCHECK, BST_UNCHECKED, 0);
    send_message(GetDlgItem(window, IDC_MOVE), BM_SETCHECK, BST_CHECKED, 0);
    click(window, IDC_OK);
    for (const Step &step : steps) {
        MessageBoxSeen box;
        if (!wait_message_box(program.pid, box, BOX_WAIT)) {
            ADD_FAILURE() << "no message box; expected: " << step.text;
            break;
        }
        EXPECT_EQ(step.text, box.text.substr(0, step.text.size())) << "whole text: " << box.text;
        if (step.swap_to)
            insert(*step.swap_to);
        answer(box, step.button);
    }
    MessageBoxSeen extra;
    if (wait_message_box(program.pid, extra, 500)) {
        ADD_FAILURE() << "unexpected box: " << extra.text;
        answer(extra, IDCANCEL);
    }
    for (int i = 0; i < 400; i++) {   /* until the progress dialog has gone */
        int dialogs = 0;
        for (HWND w : top_windows(program.pid))
            dialogs += class_name(w) == "#32770" && w != window;
        if (dialogs == 0)
            break;
        pause_ms(50);
    }
    click(window, IDC_CLOSE);
    if (wait_exit(program, 10000) == -1)
        ADD_FAILURE() << "the menu did not end";
}

unsigned long long free_bytes(const std::string &dir)
{
    ULARGE_INTEGER available, total, all;
    return GetDiskFreeSpaceExA(dir.c_str(), &available, &total, &all) ? available.QuadPart : 0;
}

/* B, locked, with its data directory on a tmpfs of its own (exact free
   space), and a disk holding a one-disk set whose volume python writes. */
struct CraftedSet {
    Installation b;
    ScopedTmpfs data_drive;
    Disk disk;
    explicit CraftedSet(const char *name)
        : b(make_installation(name, 7, 10327, "nej", "ja", "e:")), data_drive(std::string(name) + "_d", 4 << 20),
          disk(std::string(name) + "_e", 1 << 20)
    {
        fill_data(b, 20000, 60);
        std::string data_dir = windows_path(data_drive.dir) + "\\Data\\";
        for (const auto &f : snapshot(b)) {
            make_dirs(data_dir + f.first.substr(0, f.first.find('\\')));
            write_file(data_dir + f.first, f.second);
        }
        b.data_dir = data_dir;
    }
    void write_volume(const std::string &python_program)
    {
        std::string dir = disk.dir() + "/KIRO-Flyt7";
        ASSERT_EQ(0, run_unix("mkdir -p '" + dir + "' && /usr/bin/python3 -c \"" + python_program + "\" '" + dir +
                              "/Data.z01'"));
        ASSERT_TRUE(write_file(flyt_ini(disk), "[global]\r\ninsnr=7\r\nversion=10327\r\ndisknr=1\r\n"
                                               "antaldiske=1\r\nskemal\xE5st=nej\r\n"));
    }
};

}  // namespace

TEST_F(Transfer, BothMovesWorkWithEveryFormOfTheDataDirectory)
{
    Installation a = make_installation("pc_form_a", 7, 10327, "nej", "ja", "e:");
    fill_data(a, 30000, 50);
    Disk disk("forms", 1024 * 1024);
    insert(disk);
    struct Form {
        const char *name;
        std::string start_in;       /* the folder the menu is started from */
        std::string command_line;
    };
    unsigned seed = 51;
    for (const char *name : { "dot", "parent", "bare" }) {
        SCOPED_TRACE(name);
        Installation b = make_installation((std::string("pc_form_") + name).c_str(), 7, 10327, "nej", "ja", "e:");
        fill_data(b, 5000, seed++);
        Form form;
        if (std::string(name) == "parent") {
            /* program and data side by side: started in the program folder */
            form = { name, b.root + "\\Prog\\", "kiromenu.exe -d..\\Data" };
        } else {
            /* program and data in one folder, given as ".\" or not at all */
            form = { name, b.data_dir,
                     std::string(name) == "dot" ? "kiromenu.exe -p.\\ -d.\\" : "kiromenu.exe" };
        }
        ASSERT_TRUE(make_dirs(form.start_in));
        ASSERT_TRUE(CopyFileA(kiromenu_exe().c_str(), (form.start_in + "kiromenu.exe").c_str(), FALSE));

        /* B takes A's data back, moves them out again with its own change,
           and A takes them back. */
        write_set(a, { &disk }, { "nej" });
        std::map<std::string, std::string> a_files = snapshot(a);
        run_move_from(form.start_in, form.command_line, { Step(DONE_BACK, IDOK) });
        expect_same_files(a_files, snapshot(b), true);
        EXPECT_EQ("nej", locked_key(b));
        EXPECT_EQ("ja", ini_value(TRANSFER_FILE, "skemalåst"));
        EXPECT_FALSE(file_exists(b.data_dir + "Flyt.tmp"));

        write_file(b.data_dir + "data\\skema.dat", std::string("rettet på B ") + name);
        std::map<std::string, std::string> b_files = snapshot(b);
        run_move_from(form.start_in, form.command_line, { Step(DONE_OUT, IDOK) });
        EXPECT_EQ("ja", locked_key(b));
        EXPECT_FALSE(file_exists(b.data_dir + "Data.zip"));
        run_move(a, { Step(DONE_BACK, IDOK) });
        expect_same_files(b_files, snapshot(a), true);
        EXPECT_EQ("nej", locked_key(a));
        set_ini(a, "skemalåst", "ja");
    }
}

TEST_F(Transfer, CraftedArchivesAreRefusedBeforeAnythingIsWritten)
{
    /* A short entry: 11 real bytes that claim 7000 and a CRC they lack. */
    const char *const SHORT =
        "import sys, zipfile, struct; z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED); "
        "z.writestr('C:\\\\\\\\pc_a\\\\\\\\data\\\\\\\\skema.dat', b'elleve byte'); z.close(); "
        "d = bytearray(open(sys.argv[1], 'rb').read()); c = d.find(b'PK\\\\x01\\\\x02'); "
        "[struct.pack_into('<I', d, at, 0x12345678) for at in (14, c + 16)]; "
        "[struct.pack_into('<I', d, at, 7000) for at in (22, c + 24)]; open(sys.argv[1], 'wb').write(d)";
    /* 200 directory records pointing at one local header: 1,048,576,000
       bytes to write out of 18 KB, every CRC right. */
    const char *const OVERLAP =
        "import sys, zipfile, struct; name = 'C:\\\\\\\\pc_a\\\\\\\\data\\\\\\\\t%03d.dat'; "
        "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED); z.writestr(name % 0, bytes(5242880)); "
        "z.close(); d = open(sys.argv[1], 'rb').read(); c = d.find(b'PK\\\\x01\\\\x02'); "
        "e = d.find(b'PK\\\\x05\\\\x06'); r = d[c:e]; n = struct.unpack_from('<H', r, 28)[0]; "
        "central = b''.join(r[:46] + (name % k).encode() + r[46 + n:] for k in range(200)); "
        "end = bytearray(d[e:]); struct.pack_into('<HHII', end, 8, 200, 200, len(central), c); "
        "open(sys.argv[1], 'wb').write(d[:c] + central + end)";
    for (const char *program : { SHORT, OVERLAP }) {
        SCOPED_TRACE(program == SHORT ? "short entry" : "overlapping entries");
        CraftedSet set(program == SHORT ? "crafted_short" : "crafted_overlap");
        ASSERT_FALSE(set.data_drive.dir.empty());
        set.write_volume(program);
        insert(set.disk);
        std::map<std::string, std::string> before = snapshot(set.b);
        unsigned long long free_before = free_bytes(set.b.data_dir);
        run_move(set.b, { Step("Kan ikke udpakke filen: " + set.b.data_dir + "Data.zip", IDOK) });
        expect_untouched(set.b, before, "ja");
        EXPECT_EQ(free_before, free_bytes(set.b.data_dir));
        EXPECT_FALSE(file_exists(set.b.data_dir + "Flyt.tmp"));
        EXPECT_EQ("nej", ini_value(TRANSFER_FILE, "skemalåst"));
        remove_drive('e');
    }
}

TEST_F(Transfer, TableChangedWhileTheDisksAreSwappedWithdrawsTheSet)
{
    Installation a = make_installation("pc_changed", 7, 10327, "nej", "nej", "e:");
    Installation b = make_installation("pc_changed_b", 7, 10327, "nej", "ja", "e:");
    fill_data(a, 100000, 55);
    fill_data(b, 5000, 56);
    std::map<std::string, std::string> b_files = snapshot(b);
    Disk d1("changed1", 65536), d2("changed2", 131072);
    insert(d1);
    {
        /* Another station saves a table while disk 2 is asked for. */
        Menu menu(a);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect("Der skal bruges 2 tomme disk enheder", IDOK);
        MessageBoxSeen box;
        ASSERT_TRUE(wait_message_box(menu.program.pid, box, BOX_WAIT));
        ASSERT_TRUE(write_file(a.data_dir + "data\\skema.dat", "gemt på en anden station"));
        menu.expect("Indsæt flyt-enhed nr. 2. ", IDOK, &d2);
        ASSERT_TRUE(wait_message_box(menu.program.pid, box, BOX_WAIT));
        pause_ms(300);
        EXPECT_TRUE(screenshot(screenshot_path("move_data_changed.png")));
        menu.expect("Dataene er blevet ændret på en anden station, mens de blev flyttet.", IDOK);
        menu.expect_no_box(500);
        ASSERT_TRUE(menu.idle());
        EXPECT_EQ("&Start KIRO-skema", menu.label(IDC_START));
    }
    EXPECT_EQ("nej", locked_key(a));
    EXPECT_EQ("gemt på en anden station", read_file(a.data_dir + "data\\skema.dat"));
    EXPECT_EQ("ja", ini_value(flyt_ini(d2), "trukket"));

    /* The other PC is never offered the withdrawn set. */
    insert(d1);
    run_move(b, { Step("Indsæt disk enhed nr: 2 i drevet!", IDOK, &d2),
                  Step("Data-filerne på disk enheden er trukket tilbage af den PC, der skrev dem", IDOK, NULL,
                       "take_back_withdrawn.png") });
    expect_untouched(b, b_files, "ja");

    /* Done again, the move completes: over the withdrawn set's disk 1
       without asking, since this PC knows that set is not live. */
    insert(d1);
    run_move(a, { Step("Der skal bruges 2 tomme disk enheder", IDOK),
                  Step("Indsæt flyt-enhed nr. 2. ", IDOK, &d2),
                  Step(DONE_OUT, IDOK) });
    EXPECT_EQ("ja", locked_key(a));
    run_move(b, { Step("Indsæt disk enhed nr: 1 i drevet!", IDOK, &d1),
                  Step("Indsæt disk enhed nr: 2 i drevet!", IDOK, &d2),
                  Step(DONE_BACK, IDOK) });
    EXPECT_EQ("gemt på en anden station", read_file(b.data_dir + "data\\skema.dat"));
}

TEST_F(Transfer, ASetTakenBackIsNotTakenForLiveDataOnItsFirstDisk)
{
    Installation a = make_installation("pc_known_a", 7, 10327, "nej", "nej", "e:");
    Installation b = make_installation("pc_known_b", 7, 10327, "nej", "ja", "e:");
    fill_data(a, 100000, 57);
    fill_data(b, 5000, 58);
    Disk d1("known1", 65536), d2("known2", 131072);
    insert(d1);
    run_move(a, { Step("Der skal bruges 2 tomme disk enheder", IDOK),
                  Step("Indsæt flyt-enhed nr. 2. ", IDOK, &d2),
                  Step(DONE_OUT, IDOK) });
    insert(d1);
    run_move(b, { Step("Indsæt disk enhed nr: 2 i drevet!", IDOK, &d2), Step(DONE_BACK, IDOK) });
    ASSERT_EQ("nej", ini_value(flyt_ini(d1), "skemalåst"));   /* only disk 2 was in the drive */

    /* B moves the data out again onto the same disks: no warning that
       another PC's live data would be deleted. */
    insert(d1);
    run_move(b, { Step("Der skal bruges 2 tomme disk enheder", IDOK),
                  Step("Indsæt flyt-enhed nr. 2. ", IDOK, &d2),
                  Step(DONE_OUT, IDOK) });
    EXPECT_EQ("ja", locked_key(b));
    EXPECT_EQ("nej", ini_value(flyt_ini(d2), "skemalåst"));
}
