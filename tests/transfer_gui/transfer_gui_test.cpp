/*
 * Moving the schedule data between two PCs through the real kiromenu.exe.
 * Two installations with different data directories stand for the two PCs;
 * drive E: is a removable Wine drive backed by tmpfs disks of chosen sizes,
 * and "inserting another disk" redefines E: over another tmpfs. The test
 * answers every question the program asks and checks, after each run, where
 * the live data are: on the PC (unlocked) or on the disk ("skemalåst"="nej")
 * and never both or neither.
 */
#include "move_support.h"
#include "support/disk_utils.h"
#include "transfer/transfer_set.h"

#include <map>
#include <string>
#include <vector>


TEST_F(Transfer, OneDiskRoundTrip)
{
    Installation a = make_installation("pc_a", 7, 10327, "nej", "nej", "e:");
    Installation b = make_installation("pc_b", 7, 10327, "nej", "ja", "e:");
    fill_data(a, 20000, 1);
    fill_data(b, 5000, 2);
    write_file(b.data_dir + "data\\exp.dat", "export");
    write_file(b.data_dir + "data\\imp.dat.gz", "import");
    write_file(b.data_dir + "data\\egen.dat", "only on b");
    std::map<std::string, std::string> a_files = snapshot(a);

    Disk disk("one_disk", 1024 * 1024);
    insert(disk);
    {
        Menu menu(a);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect(DONE_OUT, IDOK);
        ASSERT_TRUE(menu.idle());
        EXPECT_EQ("&Start KIRO-skema [LÅST]", menu.label(IDC_START));
        EXPECT_EQ("&Flyt data til harddisk", menu.label(IDC_MOVE));
    }
    EXPECT_EQ("ja", locked_key(a));
    EXPECT_FALSE(file_exists(a.data_dir + "Data.zip"));
    EXPECT_FALSE(file_exists(a.data_dir + "Data.tvk"));
    EXPECT_TRUE(file_exists(TRANSFER_DIR + "\\Data.z01"));
    EXPECT_FALSE(file_exists(TRANSFER_DIR + "\\Data.z02"));
    EXPECT_FALSE(file_exists(TRANSFER_DIR + "\\Flyttest.txt"));
    EXPECT_EQ("1", ini_value(TRANSFER_FILE, "disknr"));
    EXPECT_EQ("1", ini_value(TRANSFER_FILE, "antaldiske"));
    EXPECT_EQ("7", ini_value(TRANSFER_FILE, "insnr"));
    EXPECT_EQ("10327", ini_value(TRANSFER_FILE, "version"));
    EXPECT_EQ("nej", ini_value(TRANSFER_FILE, "skemalåst"));
    EXPECT_NE(std::string::npos, read_file(TRANSFER_FILE).find("skemal\xE5st=nej"));

    {
        Menu menu(b);
        ASSERT_TRUE(menu.window);
        EXPECT_EQ("&Flyt data til harddisk", menu.label(IDC_MOVE));
        menu.start_move();
        menu.expect(DONE_BACK, IDOK);
        ASSERT_TRUE(menu.idle());
        EXPECT_EQ("&Start KIRO-skema", menu.label(IDC_START));
        EXPECT_EQ("&Flyt data til enhed", menu.label(IDC_MOVE));
    }
    std::map<std::string, std::string> b_files = snapshot(b);
    for (const auto &f : a_files) {
        if (f.first == "ini\\kiro.ini")
            continue;   /* the lock key is the one line that differs */
        EXPECT_EQ(f.second, b_files[f.first]) << f.first;
    }
    EXPECT_EQ("nej", locked_key(b));
    EXPECT_EQ("only on b", b_files["data\\egen.dat"]);
    EXPECT_EQ(0u, b_files.count("data\\exp.dat"));
    EXPECT_EQ(0u, b_files.count("data\\imp.dat.gz"));
    EXPECT_FALSE(file_exists(b.data_dir + "Data.zip"));
    EXPECT_EQ("ja", ini_value(TRANSFER_FILE, "skemalåst"));
    /* nothing landed at A's paths from B's run */
    EXPECT_EQ(a_files["data\\elev.dat"], read_file(a.data_dir + "data\\elev.dat"));
}


TEST_F(Transfer, ThreeDiskRoundTripJoinsTheVolumesInOrder)
{
    Installation a = make_installation("pc_a3", 7, 10327, "nej", "nej", "e:");
    Installation b = make_installation("pc_b3", 7, 10327, "nej", "ja", "e:");
    fill_data(a, 139000, 3);
    fill_data(b, 3000, 4);
    std::map<std::string, std::string> a_files = snapshot(a);
    Disk d1("d1", 65536), d2("d2", 65536), d3("d3", 65536);
    insert(d1);
    {
        Menu menu(a);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect("Der skal bruges 3 tomme disk enheder til at flytte dataene!\n\nVil du fortsætte?", IDOK);
        MessageBoxSeen box;
        if (wait_message_box(menu.program.pid, box, BOX_WAIT)) {
            /* the question aside, so the progress dialog shows whole */
            SetWindowPos(box.window, NULL, 20, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            pause_ms(300);
            std::string shot = make_scratch_dir("transfer_shots") + "\\three_disks.png";
            EXPECT_TRUE(screenshot(shot));
        }
        menu.expect("Indsæt flyt-enhed nr. 2. ", IDOK);   /* disk 1 still in: refused */
        menu.expect("Disk enheden er ikke nr 2.\nIndsæt disk enhed nr. 2 eller en ny og tryk OK", IDOK);
        menu.expect("Disk enheden er ikke nr 2.", IDOK, &d2);
        menu.expect("Indsæt flyt-enhed nr. 3. ", IDOK, &d3);
        menu.expect(DONE_OUT, IDOK);
        ASSERT_TRUE(menu.idle());
    }
    EXPECT_EQ("ja", locked_key(a));
    const Disk *disks[] = { &d1, &d2, &d3 };
    for (int k = 0; k < 3; k++) {
        std::string ini = flyt_ini(*disks[k]);
        EXPECT_EQ(std::to_string(k + 1), ini_value(ini, "disknr"));
        EXPECT_EQ("3", ini_value(ini, "antaldiske"));
        char volume[16];
        snprintf(volume, sizeof volume, "Data.z%02d", k + 1);
        EXPECT_TRUE(file_exists(windows_path(unix_file(*disks[k], volume))));
    }
    std::string joined = unix_path(make_scratch_dir("joined")) + "/joined.zip";
    EXPECT_EQ(0, run_unix("cat '" + unix_file(d1, "Data.z01") + "' '" + unix_file(d2, "Data.z02") + "' '" +
                          unix_file(d3, "Data.z03") + "' > " + joined + " && unzip -tq " + joined + " >/dev/null"));

    insert(d3);
    {
        Menu menu(b);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect("Indsæt disk enhed nr: 1 i drevet!", IDOK);   /* disk 3 still in */
        menu.expect("Indsæt disk enhed nr: 1 i drevet!", IDOK, &d1);
        menu.expect("Indsæt disk enhed nr: 2 i drevet!", IDOK, &d2);
        menu.expect("Indsæt disk enhed nr: 3 i drevet!", IDOK, &d3);
        menu.expect(DONE_BACK, IDOK);
        ASSERT_TRUE(menu.idle());
    }
    std::map<std::string, std::string> b_files = snapshot(b);
    EXPECT_EQ(a_files["data\\elev.dat"], b_files["data\\elev.dat"]);
    EXPECT_EQ(a_files["data\\skema.dat"], b_files["data\\skema.dat"]);
    EXPECT_EQ(a_files["ini\\farver.ini"], b_files["ini\\farver.ini"]);
    EXPECT_EQ("nej", locked_key(b));
    EXPECT_EQ("ja", ini_value(flyt_ini(d3), "skemalåst"));
    EXPECT_EQ("nej", ini_value(flyt_ini(d1), "skemalåst"));
}

TEST_F(Transfer, MovingOutOverAnotherPcsLiveSetAsksFirst)
{
    Installation a = make_installation("pc_ga", 7, 10327, "nej", "nej", "e:");
    Installation c = make_installation("pc_gc", 7, 10327, "nej", "nej", "e:");
    fill_data(a, 10000, 5);
    fill_data(c, 10000, 6);
    Disk disk("guard_a", 1024 * 1024);
    insert(disk);
    move_out_one_disk(a);
    ASSERT_EQ("ja", locked_key(a));
    std::string before = disk_listing(disk);
    ASSERT_NE("", before);
    std::map<std::string, std::string> c_files = snapshot(c);
    {
        Menu menu(c);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect("Disk enheden indeholder data fra en anden PC, som endnu ikke er flyttet til harddisken.\n"
                    "Hvis du fortsætter, bliver de data slettet!\n\nEr du sikker på du vil fortsætte?", IDNO);
        menu.expect_no_box();
        ASSERT_TRUE(menu.idle());
        EXPECT_EQ("&Start KIRO-skema", menu.label(IDC_START));
    }
    EXPECT_EQ(before, disk_listing(disk));
    expect_untouched(c, c_files, "nej");
    EXPECT_FALSE(file_exists(c.data_dir + "Data.zip"));
    {
        Menu menu(c);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect("Disk enheden indeholder data fra en anden PC", IDYES);
        menu.expect(DONE_OUT, IDOK);
        ASSERT_TRUE(menu.idle());
    }
    EXPECT_EQ("ja", locked_key(c));
    EXPECT_NE(before, disk_listing(disk));
}

TEST_F(Transfer, TakingBackAStaleSetAsksFirst)
{
    Installation a = make_installation("pc_sa", 7, 10327, "nej", "nej", "e:");
    Installation b = make_installation("pc_sb", 7, 10327, "nej", "ja", "e:");
    Installation d = make_installation("pc_sd", 7, 10327, "nej", "ja", "e:");
    fill_data(a, 10000, 7);
    fill_data(b, 1000, 8);
    fill_data(d, 1000, 9);
    Disk disk("stale", 1024 * 1024);
    insert(disk);
    move_out_one_disk(a);
    {
        Menu menu(b);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect(DONE_BACK, IDOK);
        ASSERT_TRUE(menu.idle());
    }
    ASSERT_EQ("ja", ini_value(TRANSFER_FILE, "skemalåst"));
    std::string before = disk_listing(disk);
    std::map<std::string, std::string> d_files = snapshot(d);
    {
        Menu menu(d);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect("Data-filerne på disk enheden er allerede flyttet til en harddisk og kan være forældede.\n\n"
                    "Er du sikker på du vil installere dem?", IDNO);
        menu.expect_no_box();
        ASSERT_TRUE(menu.idle());
        EXPECT_EQ("&Start KIRO-skema [LÅST]", menu.label(IDC_START));
    }
    expect_untouched(d, d_files, "ja");
    EXPECT_EQ(before, disk_listing(disk));
}

TEST_F(Transfer, DriveWithoutMediumOrUnreadableEndsTheRun)
{
    Installation a = make_installation("pc_nm", 7, 10327, "nej", "nej", "e:");
    fill_data(a, 5000, 10);
    std::map<std::string, std::string> files = snapshot(a);
    ASSERT_TRUE(define_drive_without_medium('e', DRIVE_REMOVABLE));
    {
        Menu menu(a);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect("Kan ikke læse fra disk enheden!\nIndsæt flyt-enhed nr. 1. ", IDOK);
        menu.expect("Kan ikke læse fra disk enheden!\nIndsæt flyt-enhed nr. 1. ", IDCANCEL);
        menu.expect_no_box();
        ASSERT_TRUE(menu.idle());
    }
    expect_untouched(a, files, "nej");
    EXPECT_FALSE(file_exists(a.data_dir + "Data.zip"));
    EXPECT_FALSE(file_exists(a.data_dir + "Data.tvk"));

    ASSERT_TRUE(define_drive_without_medium('e', DRIVE_FIXED));
    {
        Menu menu(a);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect("Kan ikke læse fra disk enheden!  'e:'\nKopiering af dataene stopper!", IDOK);
        menu.expect_no_box();
        ASSERT_TRUE(menu.idle());
    }
    expect_untouched(a, files, "nej");
    EXPECT_FALSE(file_exists(a.data_dir + "Data.zip"));
}

TEST_F(Transfer, NonEmptyFirstDiskForTwoDisksAndWriteProtectedDiskAreRefused)
{
    Installation a = make_installation("pc_ne", 7, 10327, "nej", "nej", "e:");
    fill_data(a, 100000, 11);
    std::map<std::string, std::string> files = snapshot(a);
    Disk full("nonempty", 65536);
    ASSERT_TRUE(write_file(windows_path(full.dir() + "/andet.txt"), "andre filer"));
    insert(full);
    {
        Menu menu(a);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect("Disk enheden er ikke tom og der er ikke plads nok til data'ene."
                    "\nSlet indholdet på disk enheden eller benyt en anden tom disk enhed.", IDOK);
        menu.expect_no_box();
        ASSERT_TRUE(menu.idle());
    }
    expect_untouched(a, files, "nej");
    EXPECT_EQ("andre filer", read_file(windows_path(full.dir() + "/andet.txt")));
    EXPECT_FALSE(file_exists(windows_path(full.dir() + "/KIRO-Flyt7")));
    EXPECT_FALSE(file_exists(a.data_dir + "Data.zip"));

    Disk locked("readonly", 1024 * 1024);
    ASSERT_TRUE(make_dirs(windows_path(locked.dir() + "/KIRO-Flyt7")));
    ASSERT_TRUE(remount_tmpfs(locked.dir(), true));
    insert(locked);
    {
        Menu menu(a);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect("Der kan ikke skrives til disk enheden, fjern evt. skrivebeskyttelsen!", IDOK);
        menu.expect("Der kan ikke skrives til disk enheden, fjern evt. skrivebeskyttelsen!", IDCANCEL);
        menu.expect_no_box();
        ASSERT_TRUE(menu.idle());
    }
    remount_tmpfs(locked.dir(), false);
    expect_untouched(a, files, "nej");
    EXPECT_FALSE(file_exists(a.data_dir + "Data.zip"));
}

TEST_F(Transfer, OlderSetOnTheDiskGivesTheObsLinesAndSuperIsNeverLocked)
{
    Installation a = make_installation("pc_old", 7, 10327, "ja", "nej", "e:");
    fill_data(a, 5000, 12);
    Disk disk("older", 1024 * 1024);
    ASSERT_TRUE(make_dirs(windows_path(disk.dir() + "/KIRO-Flyt7")));
    ASSERT_TRUE(write_file(flyt_ini(disk),
                           "[global]\r\ninsnr=7\r\nversion=10300\r\ndisknr=1\r\nantaldiske=1\r\nskemal\xE5st=ja\r\n"));
    insert(disk);
    {
        Menu menu(a);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        std::string text = menu.expect(DONE_OUT, IDOK);
        EXPECT_EQ(std::string(DONE_OUT) + "\n\nOBS!  Den KIRO-version der er på din anden PC er ældre"
                  "\nend den du kopierer dataene fra."
                  "\nDu skal oprette en ny installationsenhed og opgradere den anden PC!", text);
        ASSERT_TRUE(menu.idle());
        EXPECT_EQ("&Start Super KIRO", menu.label(IDC_START));
        EXPECT_EQ("&Flyt data til enhed", menu.label(IDC_MOVE));
    }
    EXPECT_EQ("nej", locked_key(a));   /* a super installation is never locked */
    EXPECT_EQ("10327", ini_value(TRANSFER_FILE, "version"));
    EXPECT_EQ("nej", ini_value(TRANSFER_FILE, "skemalåst"));
}

TEST_F(Transfer, SetsThatCannotBeTakenBackLeaveThePcLockedAndUnchanged)
{
    Installation a = make_installation("pc_ra", 7, 10327, "nej", "nej", "e:");
    Installation b = make_installation("pc_rb", 7, 10327, "nej", "ja", "e:");
    fill_data(a, 30000, 13);
    fill_data(b, 2000, 14);
    Disk disk("refusals", 1024 * 1024);
    insert(disk);
    move_out_one_disk(a);
    const std::string ini = flyt_ini(disk);
    const std::string volume = windows_path(unix_file(disk, "Data.z01"));
    const std::string good_ini = read_file(ini), good_volume = read_file(volume);
    ASSERT_FALSE(good_volume.empty());
    std::map<std::string, std::string> b_files = snapshot(b);

    struct Case {
        const char *name;
        std::string ini, volume, message;
    };
    std::string damaged = good_volume;
    for (size_t k = damaged.size() / 3; k < damaged.size() / 3 + 64; k++)
        damaged[k] ^= 0x5A;
    std::string no_count = good_ini;
    no_count.erase(no_count.find("antaldiske"), no_count.find('\n', no_count.find("antaldiske")) + 1 -
                                                   no_count.find("antaldiske"));
    std::string other_installation = good_ini;
    other_installation.replace(other_installation.find("insnr=7"), 7, "insnr=8");
    std::string other_version = good_ini;
    other_version.replace(other_version.find("version=10327"), 13, "version=10400");
    const std::string archive = b.data_dir + "Data.zip";
    Case cases[] = {
        { "other installation", other_installation, good_volume,
          "Data-filerne på disk enheden tilhører ikke denne installation" },
        { "other version", other_version, good_volume,
          "Data-filerne på disk enheden er fra en program-version 10400 og\nprogrammet data'ene installeres "
          "til, er af en version 10327.\n\nDu kan derfor ikke installere denne version af data!" },
        { "missing flyt.ini", "", good_volume,
          "Kan ikke læse filen: e:\\KIRO-Flyt7\\flyt.ini fra disk enheden!\nEller enheden er ikke en KIRO enhed!" },
        { "no antaldiske", no_count, good_volume, "Kan ikke udpakke filen: " + archive },
        { "damaged volume", good_ini, damaged, "Kan ikke udpakke filen: " + archive },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.ini.empty())
            DeleteFileA(ini.c_str());
        else
            ASSERT_TRUE(write_file(ini, c.ini));
        ASSERT_TRUE(write_file(volume, c.volume));
        {
            Menu menu(b);
            ASSERT_TRUE(menu.window);
            menu.start_move();
            std::string text = menu.expect(c.message, IDOK);
            EXPECT_EQ(c.message, text);
            menu.expect_no_box(500);
            ASSERT_TRUE(menu.idle());
            EXPECT_EQ("&Start KIRO-skema [LÅST]", menu.label(IDC_START));
        }
        DeleteFileA(archive.c_str());   /* a failed join may leave it; the next run removes it */
        expect_untouched(b, b_files, "ja");
    }
}

TEST_F(Transfer, EntryOutsideTheDataFoldersIsRefusedBeforeAnythingIsWritten)
{
    Installation b = make_installation("pc_eb", 7, 10327, "nej", "ja", "e:");
    fill_data(b, 2000, 15);
    std::map<std::string, std::string> b_files = snapshot(b);
    Disk disk("outside", 1024 * 1024);
    std::string dir = disk.dir() + "/KIRO-Flyt7";
    ASSERT_EQ(0, run_unix("mkdir -p '" + dir + "' && cd '" + dir + "' && /usr/bin/python3 -c \""
                          "import zipfile; z = zipfile.ZipFile('Data.z01', 'w', zipfile.ZIP_DEFLATED); "
                          "z.writestr('C:\\\\\\\\pc_a\\\\\\\\data\\\\\\\\skema.dat', 'ny skema'); "
                          "z.writestr('C:\\\\\\\\windows\\\\\\\\kiro_ondt.dat', 'ondt'); z.close()\""));
    ASSERT_TRUE(write_file(windows_path(dir + "/flyt.ini"),
                           "[global]\r\ninsnr=7\r\nversion=10327\r\ndisknr=1\r\nantaldiske=1\r\nskemal\xE5st=nej\r\n"));
    insert(disk);
    {
        Menu menu(b);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect("Kan ikke udpakke filen: C:\\windows\\kiro_ondt.dat", IDOK);
        menu.expect_no_box(500);
        ASSERT_TRUE(menu.idle());
    }
    expect_untouched(b, b_files, "ja");
    EXPECT_FALSE(file_exists("C:\\windows\\kiro_ondt.dat"));
    EXPECT_EQ("nej", ini_value(windows_path(dir + "/flyt.ini"), "skemalåst"));
}

namespace {

/* The size of the move archive the menu will pack from pc's files: the same
   entries, named the same way, in the same order. */
DWORD packed_size(const Installation &pc)
{
    std::string archive = pc.root + "\\probe.zip";
    pack_like_the_menu(pc, archive);
    DWORD size = file_size(archive.c_str());
    DeleteFileA(archive.c_str());
    return size;
}

/* Pads pc's data until the move archive is exactly size bytes. */
bool pad_archive_to(const Installation &pc, DWORD size)
{
    std::string pad = pc.data_dir + "data\\fyld.dat";
    long length = 1000;
    for (int round = 0; round < 12; round++) {
        write_file(pad, random_bytes((size_t)length, 99));
        long now = (long)packed_size(pc);
        if (now == (long)size)
            return true;
        length += (long)size - now;
        if (length < 0)
            return false;
    }
    return false;
}

}  // namespace

TEST_F(Transfer, ArchiveOfExactlyTheUsableRoomNeedsOneDiskOneByteMoreTwo)
{
    Installation a = make_installation("pc_exact", 7, 10327, "nej", "nej", "e:");
    fill_data(a, 1000, 16);
    Disk disk("exact", 131072);
    insert(disk);
    ULARGE_INTEGER available, total;
    ASSERT_TRUE(free_space("e:", &available, &total));
    ASSERT_EQ(available.QuadPart, total.QuadPart);
    DWORD room = volume_room(available.QuadPart, disk_reserve(cluster_size("e:")));
    ASSERT_GT(room, 20000u);

    ASSERT_TRUE(pad_archive_to(a, room + 1));
    {
        Menu menu(a);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect("Der skal bruges 2 tomme disk enheder til at flytte dataene!", IDCANCEL);
        menu.expect_no_box(500);
        ASSERT_TRUE(menu.idle());
    }
    EXPECT_EQ("nej", locked_key(a));
    EXPECT_FALSE(file_exists(a.data_dir + "Data.zip"));
    EXPECT_FALSE(file_exists(TRANSFER_DIR));

    ASSERT_TRUE(pad_archive_to(a, room));
    {
        Menu menu(a);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect(DONE_OUT, IDOK);
        ASSERT_TRUE(menu.idle());
    }
    EXPECT_EQ("ja", locked_key(a));
    EXPECT_EQ(room, file_size((TRANSFER_DIR + "\\Data.z01").c_str()));
    EXPECT_EQ("1", ini_value(TRANSFER_FILE, "antaldiske"));
}

TEST_F(Transfer, DisksTooSmallAreRefusedAndTheCountStaysExact)
{
    Installation a = make_installation("pc_sizes", 7, 10327, "nej", "nej", "e:");
    fill_data(a, 80000, 17);
    std::map<std::string, std::string> files = snapshot(a);

    Disk tiny("tiny", 8192);   /* no room beside the reserve at all */
    insert(tiny);
    {
        Menu menu(a);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect("Der er ikke plads nok på disk enheden til at flytte dataene.", IDOK);
        menu.expect_no_box(500);
        ASSERT_TRUE(menu.idle());
    }
    expect_untouched(a, files, "nej");
    EXPECT_FALSE(file_exists(TRANSFER_DIR));
    EXPECT_FALSE(file_exists(a.data_dir + "Data.zip"));

    Disk d1("size1", 65536), small("size_small", 32768), big("size_big", 262144);
    insert(d1);
    {
        Menu menu(a);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect("Der skal bruges 2 tomme disk enheder til at flytte dataene!", IDOK);
        menu.expect("Indsæt flyt-enhed nr. 2. ", IDOK, &small);
        menu.expect("Disk enheden er for lille til sin del af dataene.", IDRETRY, &big);
        menu.expect(DONE_OUT, IDOK);
        ASSERT_TRUE(menu.idle());
    }
    EXPECT_EQ("ja", locked_key(a));
    EXPECT_FALSE(file_exists(windows_path(small.dir() + "/KIRO-Flyt7")));
    std::string joined = unix_path(make_scratch_dir("joined")) + "/joined.zip";
    EXPECT_EQ(0, run_unix("cat '" + unix_file(d1, "Data.z01") + "' '" + unix_file(big, "Data.z02") + "' > " +
                          joined + " && unzip -tq " + joined + " >/dev/null"));
    EXPECT_EQ("2", ini_value(flyt_ini(d1), "antaldiske"));
    EXPECT_EQ("2", ini_value(flyt_ini(big), "antaldiske"));
    EXPECT_EQ("2", ini_value(flyt_ini(big), "disknr"));
}

TEST_F(Transfer, WithoutDataFilesNothingIsWritten)
{
    Installation a = make_installation("pc_nodata", 7, 10327, "nej", "nej", "e:");
    write_file(a.data_dir + "data\\notes.txt", "ikke en tabel");
    Disk disk("nodata", 1024 * 1024);
    insert(disk);
    {
        Menu menu(a);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect("Fejl ved pakning af data-filerne!", IDOK);
        menu.expect_no_box(500);
        ASSERT_TRUE(menu.idle());
        EXPECT_EQ("&Start KIRO-skema", menu.label(IDC_START));
    }
    EXPECT_EQ("nej", locked_key(a));
    EXPECT_FALSE(file_exists(a.data_dir + "Data.zip"));
    EXPECT_FALSE(file_exists(a.data_dir + "Data.tvk"));
    EXPECT_FALSE(file_exists(TRANSFER_DIR));
}

TEST_F(Transfer, AnotherPcsLiveDiskOfferedAsALaterDiskIsKept)
{
    Installation a = make_installation("pc_later", 7, 10327, "nej", "nej", "e:");
    fill_data(a, 80000, 18);
    std::map<std::string, std::string> files = snapshot(a);
    Disk d1("later1", 65536), d1b("later1b", 65536), foreign("foreign", 262144);
    ASSERT_TRUE(make_dirs(windows_path(foreign.dir() + "/KIRO-Flyt7")));
    /* the last disk of another PC's three-disk set */
    ASSERT_TRUE(write_file(windows_path(unix_file(foreign, "Data.z03")), random_bytes(5000, 77)));
    ASSERT_TRUE(write_file(flyt_ini(foreign),
                           "[global]\r\ninsnr=7\r\nversion=10327\r\ndisknr=3\r\nantaldiske=3\r\nskemal\xE5st=nej\r\n"));
    std::string before = disk_listing(foreign);
    insert(d1);
    {
        /* inserted and then cancelled: the disk is left as it was */
        Menu menu(a);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect("Der skal bruges 2 tomme disk enheder til at flytte dataene!", IDOK);
        menu.expect("Indsæt flyt-enhed nr. 2. ", IDCANCEL, &foreign);
        menu.expect_no_box(500);
        ASSERT_TRUE(menu.idle());
    }
    EXPECT_EQ(before, disk_listing(foreign));
    expect_untouched(a, files, "nej");
    EXPECT_FALSE(file_exists(a.data_dir + "Data.zip"));

    insert(d1b);   /* a fresh first disk: the first run's disk 1 holds a set now */
    {
        /* inserted and confirmed: the guard asks before anything is removed */
        Menu menu(a);
        ASSERT_TRUE(menu.window);
        menu.start_move();
        menu.expect("Der skal bruges 2 tomme disk enheder til at flytte dataene!", IDOK);
        menu.expect("Indsæt flyt-enhed nr. 2. ", IDOK, &foreign);
        menu.expect("Disk enheden indeholder data fra en anden PC", IDNO);
        menu.expect_no_box(500);
        ASSERT_TRUE(menu.idle());
    }
    EXPECT_EQ(before, disk_listing(foreign));
    expect_untouched(a, files, "nej");
    EXPECT_FALSE(file_exists(a.data_dir + "Data.zip"));
}
