/*
 * Moves that go wrong at the worst moment, through the real kiromenu.exe:
 * the menu ended while its last box is up, a table held open by another
 * station, a full data drive, a set taken back twice, a stick swapped while
 * it is written, the schedule program started during a move, a lock that
 * cannot be written, directory links on the stick, and real exFAT sticks.
 * After each fault: which PC is locked, what each disk's flyt.ini says,
 * every table old or new whole, and the same move done again completes.
 */
#include "move_support.h"
#include "transfer/transfer_set.h"

#include <map>
#include <string>
#include <vector>

namespace {

const char *const STALE_QUESTION =
    "Data-filerne på disk enheden er allerede flyttet til en harddisk og kan være forældede.\n\n"
    "Er du sikker på du vil installere dem?";
const char *const IN_USE = "Du er ved at flytte data fra en KIRO, som er i brug af en anden bruger\n"
                           "KIRO skal være afsluttet inden der kan flyttes data!";

/* Another station holds path open without sharing until released. */
struct HeldFile {
    Program holder;
    explicit HeldFile(const std::string &path)
    {
        holder = start_program(test_exe_dir() + "..\\standins\\hold_file.exe", "\"" + path + "\" 120");
        std::string marker = path + ".held";
        for (int i = 0; i < 500 && !file_exists(marker); i++)
            pause_ms(10);
        EXPECT_TRUE(file_exists(marker)) << "could not hold " << path;
        /* the marker is not part of the data: gone once the holder closed it */
        for (int i = 0; i < 500 && !DeleteFileA(marker.c_str()) && file_exists(marker); i++)
            pause_ms(10);
    }
    ~HeldFile() { release(); }
    void release() { kill_program(holder); }
};

/* A PC whose data went out earlier: locked, with old tables. */
Installation locked_pc(const char *name, unsigned seed)
{
    Installation pc = make_installation(name, 7, 10327, "nej", "ja", "e:");
    fill_data(pc, 40000, seed);
    return pc;
}

}  // namespace

TEST_F(Transfer, MenuEndedWhileTheLastBoxIsUpLeavesThePcLocked)
{
    Installation a = make_installation("pc_kill", 7, 10327, "nej", "nej", "e:");
    fill_data(a, 30000, 31);
    Disk disk("kill", 1024 * 1024);
    insert(disk);
    Menu menu(a);
    ASSERT_TRUE(menu.window);
    menu.start_move();
    MessageBoxSeen box;
    ASSERT_TRUE(wait_message_box(menu.program.pid, box, BOX_WAIT));
    EXPECT_EQ(DONE_OUT, box.text);
    kill_program(menu.program);   /* a power cut while the user reads it */

    EXPECT_EQ("ja", locked_key(a));
    EXPECT_EQ("nej", ini_value(TRANSFER_FILE, "skemalåst"));
    EXPECT_EQ(0, run_unix("unzip -tq '" + unix_file(disk, "Data.z01") + "' >/dev/null"));
    EXPECT_FALSE(file_exists(a.data_dir + "Data.zip"));
}

TEST_F(Transfer, TakeBackWithATableHeldOpenStaysLockedAndCompletesWhenDoneAgain)
{
    Installation a = make_installation("pc_src_h", 7, 10327, "nej", "nej", "e:");
    fill_data(a, 3 * 1024 * 1024, 32);
    write_file(a.data_dir + "data\\timer.dat", random_bytes(200000, 33));
    Installation b = locked_pc("pc_held", 34);
    write_file(b.data_dir + "data\\timer.dat", random_bytes(100000, 35));
    std::map<std::string, std::string> old_files = snapshot(b), new_files = snapshot(a);
    Disk disk("held", 16 * 1024 * 1024);
    write_set(a, { &disk }, { "nej" });
    insert(disk);
    {
        HeldFile held(b.data_dir + "data\\skema.dat");
        run_move(b, { Step("Filen " + b.data_dir + "data\\skema.dat kunne ikke erstattes.", IDOK, NULL,
                           "take_back_file_held.png") });
    }
    EXPECT_EQ("ja", locked_key(b));
    EXPECT_EQ("nej", ini_value(TRANSFER_FILE, "skemalåst"));
    expect_old_or_new(b, old_files, new_files);
    EXPECT_TRUE(old_files["data\\skema.dat"] == read_file(b.data_dir + "data\\skema.dat"));
    EXPECT_FALSE(file_exists(b.data_dir + "Flyt.tmp"));
    EXPECT_FALSE(file_exists(b.data_dir + "Data.zip"));
    run_move(b, { Step(DONE_BACK, IDOK) });
    expect_same_files(new_files, snapshot(b), true);
    EXPECT_EQ("nej", locked_key(b));
    EXPECT_EQ("ja", ini_value(TRANSFER_FILE, "skemalåst"));
}

TEST_F(Transfer, TakeBackOntoAFullDataDriveChangesNothingAndCompletesWithRoom)
{
    Installation a = make_installation("pc_src_f", 7, 10327, "nej", "nej", "e:");
    fill_data(a, 3 * 1024 * 1024, 36);
    Installation b = locked_pc("pc_full", 37);
    /* B's data directory on a drive of its own with room for the joined
       archive but not for its unpacked files beside it. */
    ScopedTmpfs data_drive("full_data", 4608 * 1024);
    ASSERT_NO_FATAL_FAILURE(move_data_dir(b, data_drive));
    std::map<std::string, std::string> old_files = snapshot(b), new_files = snapshot(a);
    Disk disk("full_set", 16 * 1024 * 1024);
    write_set(a, { &disk }, { "nej" });
    insert(disk);

    /* Refused before the first file is unpacked, saying what is needed. */
    run_move(b, { Step("Der er ikke plads nok på harddisken til dataene.\nDer skal bruges ", IDOK, NULL,
                       "take_back_no_room.png") });
    expect_same_files(old_files, snapshot(b));
    EXPECT_EQ("ja", locked_key(b));
    EXPECT_EQ("nej", ini_value(TRANSFER_FILE, "skemalåst"));
    EXPECT_FALSE(file_exists(b.data_dir + "Flyt.tmp"));

    ASSERT_EQ(0, run_unix("mount -o remount,size=16m '" + data_drive.dir + "'"));
    run_move(b, { Step(DONE_BACK, IDOK) });
    expect_same_files(new_files, snapshot(b), true);
    EXPECT_EQ("nej", locked_key(b));
    EXPECT_EQ("ja", ini_value(TRANSFER_FILE, "skemalåst"));
}

TEST_F(Transfer, ASetTakenBackIsCaughtOnWhicheverDiskSaysSo)
{
    /* B took this two-disk set back and marked disk 2, the disk in its drive
       at the end. C now starts again from disk 1, the natural order. */
    Installation a = make_installation("pc_src_2", 7, 10327, "nej", "nej", "e:");
    fill_data(a, 60000, 38);
    Installation c = locked_pc("pc_again", 39);
    std::map<std::string, std::string> c_files = snapshot(c);
    Disk d1("again1", 1024 * 1024), d2("again2", 1024 * 1024);
    write_set(a, { &d1, &d2 }, { "nej", "ja" });
    /* Written within the same moment, as a stick's clock keeps it: the two
       flyt.ini look alike to the system but for their contents. */
    ASSERT_EQ(0, run_unix("touch -d @1765000000 '" + unix_file(d1, "flyt.ini") + "' '" +
                          unix_file(d2, "flyt.ini") + "'"));
    std::string before1 = disk_listing(d1), before2 = disk_listing(d2);
    insert(d1);
    run_move(c, { Step("Indsæt disk enhed nr: 2 i drevet!", IDOK, &d2),
                  Step(STALE_QUESTION, IDNO) });
    expect_untouched(c, c_files, "ja");
    EXPECT_FALSE(file_exists(c.data_dir + "Data.zip"));
    EXPECT_EQ(before1, disk_listing(d1));
    EXPECT_EQ(before2, disk_listing(d2));
}

TEST_F(Transfer, StickSwappedWhileItsVolumeIsWrittenIsAskedForAgain)
{
    Installation a = make_installation("pc_swap", 7, 10327, "nej", "nej", "e:");
    fill_data(a, 12 * 1024 * 1024, 40);
    Disk x("swap_x", 32 * 1024 * 1024), y("swap_y", 32 * 1024 * 1024);
    insert(x);
    /* The user pulls the stick the moment its volume is started and puts
       in another one. */
    on_file_appearing(unix_file(x, "Data.z01"), "ln -sfn \"" + y.dir() + "\" \"$WINEPREFIX/dosdevices/e:\"");
    run_move(a, { Step("Disk enheden blev skiftet, mens der blev skrevet på den.\nIndsæt flyt-enhed nr. 1. ",
                       IDOK, &x, "move_disk_changed.png"),
                  Step(DONE_OUT, IDOK) });
    EXPECT_EQ("ja", locked_key(a));
    EXPECT_FALSE(file_exists(windows_path(unix_file(y, "flyt.ini"))));   /* nothing landed on the other */
    EXPECT_EQ("1", ini_value(flyt_ini(x), "disknr"));
    EXPECT_EQ("nej", ini_value(flyt_ini(x), "skemalåst"));
    EXPECT_EQ(0, run_unix("unzip -tq '" + unix_file(x, "Data.z01") + "' >/dev/null"));
}

TEST_F(Transfer, DisksAskedForAgainAreIdentifiedAnew)
{
    Installation a = make_installation("pc_again_out", 7, 10327, "nej", "nej", "e:");
    fill_data(a, 100000, 46);
    /* Disk 1 write-protected; the user puts in another one, which holds an
       older version's set: that one's folder goes and its version counts. */
    Disk locked("again_ro", 1024 * 1024, true), older("again_old", 1024 * 1024);
    ASSERT_TRUE(make_dirs(windows_path(older.dir() + "/KIRO-Flyt7")));
    ASSERT_TRUE(write_file(windows_path(unix_file(older, "gammel.txt")), "fra sidste år"));
    ASSERT_TRUE(write_file(flyt_ini(older), "[global]\r\ninsnr=7\r\nversion=10300\r\ndisknr=1\r\n"
                                            "antaldiske=1\r\nskemal\xE5st=ja\r\n"));
    insert(locked);
    {
        Menu menu(a);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect("Der kan ikke skrives til disk enheden, fjern evt. skrivebeskyttelsen!", IDOK, &older);
        std::string done = menu.expect(DONE_OUT, IDOK);
        EXPECT_NE(std::string::npos, done.find("OBS!  Den KIRO-version der er på din anden PC er ældre"));
        ASSERT_TRUE(menu.idle());
    }
    EXPECT_FALSE(file_exists(windows_path(unix_file(older, "gammel.txt"))));
    EXPECT_EQ("ja", locked_key(a));

    /* A later disk write-protected: asked about, not the end of the run. */
    set_ini(a, "skemalåst", "nej");
    Disk d1("again_d1", 65536), ro2("again_ro2", 131072, true), d2("again_d2", 131072);
    insert(d1);
    run_move(a, { Step("Der skal bruges 2 tomme disk enheder", IDOK),
                  Step("Indsæt flyt-enhed nr. 2. ", IDOK, &ro2),
                  Step("Der kan ikke skrives til disk enheden, fjern evt. skrivebeskyttelsen!", IDOK),
                  Step("Indsæt flyt-enhed nr. 2. ", IDOK, &d2),
                  Step(DONE_OUT, IDOK) });
    EXPECT_EQ("2", ini_value(flyt_ini(d2), "disknr"));
    EXPECT_EQ("ja", locked_key(a));
}

TEST_F(Transfer, MoveOutThatCannotLockThisPcLeavesNoLiveSet)
{
    Installation a = make_installation("pc_nolock", 7, 10327, "nej", "nej", "e:");
    fill_data(a, 100000, 41);
    std::map<std::string, std::string> files = snapshot(a);
    Disk d1("nolock1", 65536), d2("nolock2", 131072);
    std::string lock_file = a.data_dir + "ini\\kiro.lck";
    insert(d1);
    {
        /* Another station starts the schedule program while disk 2 is asked
           for: the PC is not locked and the set's claim is taken back. */
        Menu menu(a);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect("Der skal bruges 2 tomme disk enheder", IDOK);
        ASSERT_TRUE(write_file(lock_file, ""));
        menu.expect("Indsæt flyt-enhed nr. 2. ", IDOK, &d2);
        menu.expect(IN_USE, IDOK);
        menu.expect_no_box(500);
        ASSERT_TRUE(menu.idle());
        EXPECT_EQ("&Start KIRO-skema", menu.label(IDC_START));
    }
    DeleteFileA(lock_file.c_str());
    expect_untouched(a, files, "nej");
    EXPECT_EQ("ja", ini_value(flyt_ini(d2), "skemalåst"));
    /* Disk 1 still says "nej", but its set is incomplete without disk 2;
       moving out again over it asks first, as over any live-looking set. */
    const char *const GUARD = "Disk enheden indeholder data fra en anden PC";

    insert(d1);
    {
        /* kiro.ini cannot be written when the set is done. */
        Menu menu(a);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect(GUARD, IDYES);
        menu.expect("Der skal bruges 2 tomme disk enheder", IDOK);
        HeldFile held(a.ini());
        menu.expect("Indsæt flyt-enhed nr. 2. ", IDOK, &d2);
        menu.expect("Kan ikke skrive til filen: " + a.ini() + "\nKIRO-skema er ikke blevet låst på denne PC!",
                    IDOK);
        menu.expect_no_box(500);
        ASSERT_TRUE(menu.idle());
        held.release();
        EXPECT_EQ("&Start KIRO-skema", menu.label(IDC_START));
    }
    EXPECT_EQ("ja", ini_value(flyt_ini(d2), "skemalåst"));
    expect_untouched(a, files, "nej");

    insert(d1);
    run_move(a, { Step(GUARD, IDYES),
                  Step("Der skal bruges 2 tomme disk enheder", IDOK),
                  Step("Indsæt flyt-enhed nr. 2. ", IDOK, &d2),
                  Step(DONE_OUT, IDOK) });
    EXPECT_EQ("ja", locked_key(a));
    EXPECT_EQ("nej", ini_value(flyt_ini(d2), "skemalåst"));
}

TEST_F(Transfer, DirectoryLinksOnTheStickAreNeverFollowed)
{
    Installation a = make_installation("pc_links", 7, 10327, "nej", "nej", "e:");
    fill_data(a, 20000, 42);
    std::string folder = a.root + "\\Skemaer";
    ASSERT_TRUE(make_dirs(folder));
    ASSERT_TRUE(write_file(folder + "\\2026.dat", "skema 2026"));
    std::string target = unix_path(folder);

    /* A link inside the transfer folder: the move goes ahead beside it. */
    Disk disk("links", 1024 * 1024);
    ASSERT_EQ(0, run_unix("mkdir -p '" + disk.dir() + "/KIRO-Flyt7' && ln -s '" + target + "' '" +
                          unix_file(disk, "gammel") + "'"));
    insert(disk);
    move_out_one_disk(a);
    EXPECT_EQ("skema 2026", read_file(folder + "\\2026.dat"));
    EXPECT_EQ("ja", locked_key(a));
    set_ini(a, "skemalåst", "nej");

    /* The transfer folder itself a link to the PC's folder: nothing is
       deleted there, and no set is written through it. */
    Disk other("link_top", 1024 * 1024);
    ASSERT_EQ(0, run_unix("ln -s '" + target + "' '" + other.dir() + "/KIRO-Flyt7'"));
    insert(other);
    run_move(a, { Step("Kan ikke oprette kataloget: e:\\KIRO-Flyt7", IDOK) });
    EXPECT_EQ("skema 2026", read_file(folder + "\\2026.dat"));
    EXPECT_FALSE(file_exists(folder + "\\Data.z01"));
    EXPECT_EQ("nej", locked_key(a));
}

TEST_F(Transfer, RoundTripsOnExfatSticks)
{
    Installation a = make_installation("pc_ex_a", 7, 10327, "nej", "nej", "e:");
    Installation b = make_installation("pc_ex_b", 7, 10327, "nej", "ja", "e:");
    fill_data(a, 1024 * 1024, 43);
    fill_data(b, 5000, 44);
    Disk one(Exfat(), "exfat_one", 4 * 1024 * 1024);
    insert(one);
    move_out_one_disk(a);
    run_move(b, { Step(DONE_BACK, IDOK) });
    std::map<std::string, std::string> b_files = snapshot(b);
    expect_same_files(snapshot(a), b_files, true);

    /* Three sticks: none has free space equal to its size, all are empty. */
    fill_data(b, 10 * 1024 * 1024, 45);
    b_files = snapshot(b);
    Disk s1(Exfat(), "exfat_1", 4 * 1024 * 1024), s2(Exfat(), "exfat_2", 4 * 1024 * 1024),
        s3(Exfat(), "exfat_3", 4 * 1024 * 1024);
    insert(s1);
    run_move(b, { Step("Der skal bruges 3 tomme disk enheder til at flytte dataene!", IDOK),
                  Step("Indsæt flyt-enhed nr. 2. ", IDOK, &s2),
                  Step("Indsæt flyt-enhed nr. 3. ", IDOK, &s3),
                  Step(DONE_OUT, IDOK) });
    EXPECT_EQ("ja", locked_key(b));
    /* A, locked since its own data went out, takes them back. */
    run_move(a, { Step("Indsæt disk enhed nr: 1 i drevet!", IDOK, &s1),
                  Step("Indsæt disk enhed nr: 2 i drevet!", IDOK, &s2),
                  Step("Indsæt disk enhed nr: 3 i drevet!", IDOK, &s3),
                  Step(DONE_BACK, IDOK) });
    expect_same_files(b_files, snapshot(a), true);
    EXPECT_EQ("nej", locked_key(a));
    EXPECT_EQ("ja", ini_value(flyt_ini(s3), "skemalåst"));
}
