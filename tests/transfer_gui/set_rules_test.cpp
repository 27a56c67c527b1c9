/*
 * The sets a move may write, through the real kiromenu.exe: a data folder
 * with more files than a set may hold, two tables whose names differ only
 * in case, and a table name too long for the taking PC are refused before
 * anything is written, naming the file and the reason, with the PC left
 * open; a table of 4 GB and more travels out and back byte for byte; and a
 * taking drive too small for the set is refused before the first volume is
 * copied, naming what is needed and what is free.
 */
#include "move_support.h"
#include "archive/survey.h"
#include "transfer/acceptable_set.h"

#include <stdlib.h>

#include <map>
#include <string>

namespace {

const std::string NOT_MOVED = "Dataene er ikke flyttet, og KIRO-skema er ikke låst på denne PC.";

/* A refused move out: the box came, nothing was packed or written, the PC
   is open. Answers the box's whole text. */
std::string refused_out(const Installation &pc, const Disk &disk, const std::string &start, const char *shot = NULL)
{
    std::string stick = disk_listing(disk);
    std::string text;
    {
        Menu menu(pc);
        if (!menu.window) {
            ADD_FAILURE() << "no main menu";
            return "";
        }
        menu.start_move();
        MessageBoxSeen box;
        if (shot && wait_message_box(menu.program.pid, box, BOX_WAIT)) {
            pause_ms(300);
            EXPECT_TRUE(screenshot(screenshot_path(shot)));
        }
        text = menu.expect(start, IDOK);
        menu.expect_no_box(500);
        EXPECT_TRUE(menu.idle());
        EXPECT_EQ("&Flyt data til enhed", menu.label(IDC_MOVE));
    }
    EXPECT_NE(std::string::npos, text.find(NOT_MOVED)) << text;
    EXPECT_EQ("nej", locked_key(pc));
    EXPECT_FALSE(file_exists(pc.data_dir + "Data.tvk"));
    EXPECT_FALSE(file_exists(pc.data_dir + "Data.zip"));
    EXPECT_EQ(stick, disk_listing(disk));
    return text;
}

/* A move of pc that takes minutes before its last box, which is answered. */
void long_move(const Installation &pc, const char *done)
{
    Menu menu(pc);
    ASSERT_TRUE(menu.window);
    menu.start_move();
    MessageBoxSeen box;
    ASSERT_TRUE(wait_message_box(menu.program.pid, box, 300000));
    menu.expect(done, IDOK);
    ASSERT_TRUE(menu.idle());
}

/* Memory the machine can give a tmpfs now, in bytes. */
unsigned long long memory_available()
{
    std::string file = make_scratch_dir("meminfo") + "\\meminfo";
    run_unix("grep MemAvailable /proc/meminfo > '" + unix_path(file) + "'");
    std::string line = read_file(file);
    size_t digits = line.find_first_of("0123456789");
    return digits == std::string::npos ? 0 : strtoull(line.c_str() + digits, NULL, 10) * 1024;
}

}  // namespace

TEST_F(Transfer, DataFolderWithMoreFilesThanASetHoldsIsRefusedBeforeAnythingIsWritten)
{
    Installation a = make_installation("pc_many", 7, 10327, "nej", "nej", "e:");
    ASSERT_EQ(0, run_unix("cd '" + unix_path(a.data_dir + "data") + "' && /usr/bin/python3 -c \"" +
                          "[open('t%05d.dat' % i, 'w').close() for i in range(" +
                          std::to_string(SURVEY_MAX_ENTRIES + 1) + ")]\""));
    Disk disk("many", 1024 * 1024);
    insert(disk);
    refused_out(a, disk,
                "Datamappen " + a.data_dir + " kan ikke flyttes:\nDer er " +
                    std::to_string(SURVEY_MAX_ENTRIES + 2) + " filer i data og ini, men der kan højst flyttes " +
                    std::to_string(SURVEY_MAX_ENTRIES) + " filer ad gangen.");
}

TEST_F(Transfer, TwinNamesAndANameTooLongForTheTakingPcAreRefusedBeforeAnythingIsWritten)
{
    Installation a = make_installation("pc_names", 7, 10327, "nej", "nej", "e:");
    fill_data(a, 20000, 41);
    /* A share on a case-sensitive server holds both; Windows never could. */
    ASSERT_EQ(0, run_unix("cd '" + unix_path(a.data_dir + "data") + "' && echo A > ELEV.DAT"));
    Disk disk("names", 1024 * 1024);
    insert(disk);
    std::string text = refused_out(a, disk, "Filen '" + a.data_dir + "data\\", "move_refused_twin_names.png");
    EXPECT_NE(std::string::npos, text.find("data\\elev.dat")) << text;
    EXPECT_NE(std::string::npos, text.find("data\\ELEV.DAT")) << text;
    EXPECT_NE(std::string::npos, text.find("samme navn, kun med andre store og små bogstaver")) << text;

    /* A name that packs here but would be too long on a PC whose data
       directory has the length of the budget. */
    ASSERT_EQ(0, run_unix("rm '" + unix_path(a.data_dir + "data\\ELEV.DAT") + "'"));
    std::string name = std::string(longest_set_name(SET_TAKER_DIR_BUDGET, "data") - 3, 'x') + ".dat";
    ASSERT_TRUE(write_file(a.data_dir + "data\\" + name, "lang"));
    refused_out(a, disk,
                "Filen '" + a.data_dir + "data\\" + name + "' kan ikke flyttes:\nNavnet er for langt: på en PC, "
                "hvis datamappe har op til " + std::to_string(SET_TAKER_DIR_BUDGET) + " tegn");
}

TEST_F(Transfer, TakingDriveTooSmallIsRefusedBeforeTheFirstVolumeIsCopied)
{
    Installation a = make_installation("pc_src_room", 7, 10327, "nej", "nej", "e:");
    fill_data(a, 3 * 1024 * 1024, 42);
    Disk disk("room_set", 16 * 1024 * 1024);
    insert(disk);
    move_out_one_disk(a);
    ASSERT_NE("", ini_value(TRANSFER_FILE, "udpakket"));

    /* B's data on a drive with room for the volume, not for it and the
       files unpacked beside it. */
    Installation b = make_installation("pc_room", 7, 10327, "nej", "ja", "e:");
    fill_data(b, 40000, 43);
    ScopedTmpfs data_drive("room_data", 6 * 1024 * 1024);
    ASSERT_NO_FATAL_FAILURE(move_data_dir(b, data_drive));
    std::map<std::string, std::string> before = snapshot(b);
    ULARGE_INTEGER free_before, total;
    ASSERT_TRUE(GetDiskFreeSpaceExA(b.data_dir.c_str(), &free_before, &total, NULL));

    Menu menu(b);
    ASSERT_TRUE(menu.window);
    menu.start_move();
    std::string text = menu.expect("Der er ikke plads nok på harddisken til dataene.\nDer skal bruges ", IDOK);
    ASSERT_TRUE(menu.idle());
    /* The free space named is the drive's before anything was copied. */
    size_t at = text.find("men der er kun ");
    ASSERT_NE(std::string::npos, at) << text;
    std::string figure = text.substr(at + 15, text.find(" MB", at) - at - 15);
    for (char &c : figure)
        c = c == ',' ? '.' : c;
    double named = atof(figure.c_str()), free_mb = free_before.QuadPart / 1048576.0;
    EXPECT_TRUE(named <= free_mb && named > free_mb - 0.2) << text << " (free " << free_mb << " MB)";
    EXPECT_FALSE(file_exists(b.data_dir + "Data.zip"));
    expect_same_files(before, snapshot(b));
    EXPECT_EQ("ja", locked_key(b));
    EXPECT_EQ("nej", ini_value(TRANSFER_FILE, "skemalåst"));
}

TEST_F(Transfer, TableOfFourGigabytesMovesOutAndBackByteForByte)
{
    /* The table is sparse where it is made; coming back it is 4 GB of real
       zeros, in a tmpfs of the machine's memory. */
    const unsigned long long big = (4ULL << 30) + 4096;
    if (memory_available() < (7ULL << 30))
        GTEST_SKIP() << "needs 7 GB of free memory for the 4 GB table taken back into a tmpfs";
    Installation a = make_installation("pc_src_4g", 7, 10327, "nej", "nej", "e:");
    fill_data(a, 30000, 44);
    std::string table = unix_path(a.data_dir + "data") + "/stor.dat";
    ASSERT_EQ(0, run_unix("truncate -s " + std::to_string(big) + " '" + table + "' && printf 'slut' | "
                          "dd of='" + table + "' bs=1 seek=" + std::to_string(big - 4) + " conv=notrunc 2>/dev/null"));
    Disk disk("set_4g", 64 * 1024 * 1024);
    insert(disk);
    ASSERT_NO_FATAL_FAILURE(long_move(a, DONE_OUT));
    EXPECT_EQ("ja", locked_key(a));
    std::string listing = make_scratch_dir("listing_4g") + "\\unzip.txt";
    EXPECT_EQ(0, run_unix("unzip -l '" + unix_file(disk, "Data.z01") + "' > '" + unix_path(listing) + "'"));
    EXPECT_NE(std::string::npos, read_file(listing).find(std::to_string(big))) << read_file(listing);

    Installation b = make_installation("pc_4g", 7, 10327, "nej", "ja", "e:");
    ScopedTmpfs data_drive("data_4g", 64 * 1024 * 1024);
    ASSERT_FALSE(data_drive.dir.empty());
    ASSERT_EQ(0, run_unix("mount -o remount,size=5g '" + data_drive.dir + "'"));
    ASSERT_NO_FATAL_FAILURE(move_data_dir(b, data_drive));
    const std::string data_dir = b.data_dir;
    ASSERT_NO_FATAL_FAILURE(long_move(b, DONE_BACK));
    EXPECT_EQ("nej", locked_key(b));
    EXPECT_EQ(0, run_unix("cmp '" + table + "' '" + data_drive.dir + "/Data/data/stor.dat'", 120000));
    EXPECT_EQ(read_file(a.data_dir + "data\\elev.dat"), read_file(data_dir + "data\\elev.dat"));
    EXPECT_FALSE(file_exists(data_dir + "Flyt.tmp"));
    run_unix("rm -f '" + table + "'");
}
