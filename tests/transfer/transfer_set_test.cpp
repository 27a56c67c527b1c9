/*
 * Function tests of the transfer set: the reserve kept beside every volume,
 * the disk count and volume lengths, the names on the disk, the transfer
 * file's keys (order, bytes, checked writes), recognising a disk written
 * earlier in the same move, accepting a set, where archive entries may
 * land on the way back, the room a set needs there, and the rules of a set
 * the other PC accepts, the same on the way out and back.
 */
#include <gtest/gtest.h>
#include "test_support.h"
#include "archive/survey.h"
#include "transfer/acceptable_set.h"
#include "transfer/transfer_set.h"

#include <string>

TEST(Reserve, IsThreeThousandBytesOrThreeAllocationUnits)
{
    EXPECT_EQ(3000u, disk_reserve(0));        /* unknown unit size */
    EXPECT_EQ(3000u, disk_reserve(512));      /* floppy: the classic rule */
    EXPECT_EQ(3000u, disk_reserve(1000));
    EXPECT_EQ(3003u, disk_reserve(1001));
    EXPECT_EQ(12288u, disk_reserve(4096));    /* tmpfs pages */
    EXPECT_EQ(98304u, disk_reserve(32768));   /* memory stick */
}

TEST(DiskCount, ExactRoomIsOneDiskOneByteMoreIsTwo)
{
    /* a 1.44 MB floppy with 512-byte units */
    const ULONGLONG floppy = 1457664;
    DWORD room = volume_room(floppy, disk_reserve(512));
    ASSERT_EQ(floppy - 3000, room);
    EXPECT_EQ(1u, disk_count(room, room));
    EXPECT_EQ(2u, disk_count(room + 1, room));
    EXPECT_EQ(3u, disk_count(3 * room, room));
    EXPECT_EQ(4u, disk_count(3 * room + 1, room));
    EXPECT_EQ(1u, disk_count(1, room));

    /* a stick with 32 KiB units keeps three units free, so its flyt.ini and
       directory still fit after a full volume */
    const ULONGLONG stick = 64ULL * 32768;
    room = volume_room(stick, disk_reserve(32768));
    EXPECT_EQ(stick - 98304, room);
    EXPECT_EQ(1u, disk_count(room, room));
    EXPECT_EQ(2u, disk_count(room + 1, room));
}

TEST(DiskCount, DiskWithoutUsableRoomGivesNoCount)
{
    EXPECT_EQ(0u, volume_room(3000, 3000));
    EXPECT_EQ(0u, volume_room(2999, 3000));
    EXPECT_EQ(1u, volume_room(3001, 3000));
    EXPECT_EQ(0u, disk_count(5000, 0));
    /* huge free space is capped, not wrapped */
    EXPECT_EQ(0xFFFFFFFFu, volume_room(0x200000000ULL, 3000));
}

TEST(VolumeSizes, AllButTheLastAreFullAndTheyAddUpToTheArchive)
{
    const DWORD room = 1000, size = 2500;
    unsigned n = disk_count(size, room);
    ASSERT_EQ(3u, n);
    EXPECT_EQ(1000u, planned_volume_size(size, room, n, 1));
    EXPECT_EQ(1000u, planned_volume_size(size, room, n, 2));
    EXPECT_EQ(500u, planned_volume_size(size, room, n, 3));
    EXPECT_EQ(0u, planned_volume_size(size, room, n, 4));
    EXPECT_EQ(0u, planned_volume_size(size, room, n, 0));
    /* one disk holds the whole archive whatever the room */
    EXPECT_EQ(700u, planned_volume_size(700, 5000, 1, 1));
    /* exact multiple: the last volume is full, never empty */
    EXPECT_EQ(1000u, planned_volume_size(3000, room, disk_count(3000, room), 3));

    /* an archive of 10 GB on sticks that take 4 GB - 1 per file */
    const ULONGLONG big = 10ULL << 30;
    const DWORD fat32 = volume_room(64ULL << 30, disk_reserve(32768));
    ASSERT_EQ(0xFFFFFFFFu, fat32);
    ASSERT_EQ(3u, disk_count(big, fat32));
    EXPECT_EQ(0xFFFFFFFFull, planned_volume_size(big, fat32, 3, 2));
    EXPECT_EQ(big - 2 * 0xFFFFFFFFull, planned_volume_size(big, fat32, 3, 3));
}

TEST(Room, TheTakingDriveHoldsTheArchiveAndEveryFileRoundedUp)
{
    /* three files of 4097, 4097 and 1806 bytes take 20480 bytes in 4 KiB
       units; the bound is never below that, and at most a unit a file above */
    SetTotals totals = { 5000, 10000, 3 };
    ULONGLONG needed = room_to_take_back(&totals, 4096);
    EXPECT_GE(needed, 8192u + 20480u + SURVEY_ROOM_MARGIN);
    EXPECT_LE(needed, 8192u + 20480u + 3 * 4096u + SURVEY_ROOM_MARGIN);
    SetTotals absurd = { ~0ULL - 10, 1000, 5 };
    EXPECT_EQ(~0ULL, room_to_take_back(&absurd, 0));
}

/* The move out's verdict on one file, and the index it names. */
static SetFault verdict(const char *data_dir, std::vector<SetFile> files, size_t *at = NULL, size_t *other = NULL)
{
    size_t a = 0, o = 0;
    SetFault fault = check_set_files(data_dir, files, &a, &o);
    if (at)
        *at = a;
    if (other)
        *other = o;
    return fault;
}

TEST(AcceptableSet, NamesThatFitOnTheWayOutFitOnTheWayBackAtTheBudget)
{
    const char *here = "C:\\D\\";
    const size_t limit = longest_set_name(SET_TAKER_DIR_BUDGET, "data");
    ASSERT_EQ(92u, limit);   /* 150 + "Flyt.tmp\\" + "3f\\" + "data\\" + name < 260 */
    std::string longest(limit, 'n'), too_long(limit + 1, 'n');
    EXPECT_EQ(SET_FITS, verdict(here, { { "data", longest.c_str() }, { "ini", (longest + "x").c_str() } }));
    EXPECT_EQ(SET_PATH_TOO_LONG, verdict(here, { { "data", too_long.c_str() } }));
    /* the taking PC with a data directory of exactly the budget */
    std::string staging = "C:\\" + std::string(SET_TAKER_DIR_BUDGET - 4, 'd') + "\\" STAGING_FOLDER "\\";
    char target[600];
    EXPECT_EQ(SET_FITS, judge_set_entry(("C:\\D\\data\\" + longest).c_str(), staging.c_str(), target, sizeof target));
    EXPECT_EQ(SET_PATH_TOO_LONG,
              judge_set_entry(("C:\\D\\data\\" + too_long).c_str(), staging.c_str(), target, sizeof target));
    /* a data directory here longer than the budget: the set must come back here too */
    std::string long_here = "C:\\" + std::string(196, 'h') + "\\";
    EXPECT_EQ(SET_FITS, verdict(long_here.c_str(), { { "data", std::string(42, 'n').c_str() } }));
    EXPECT_EQ(SET_PATH_TOO_LONG, verdict(long_here.c_str(), { { "data", std::string(43, 'n').c_str() } }));
    /* names alike but for case share their bucket, so the survey meets them */
    char other[600];
    ASSERT_EQ(SET_FITS, judge_set_entry("C:\\D\\data\\Elev.DAT", "C:\\E\\", target, sizeof target));
    ASSERT_EQ(SET_FITS, judge_set_entry("C:\\F\\DATA\\eLEV.dat", "C:\\E\\", other, sizeof other));
    EXPECT_EQ(0, compare_file_names(target, other)) << target << " " << other;
}

TEST(AcceptableSet, NamesAlikeButForCaseDeviceNamesAndTooManyFilesAreRefused)
{
    size_t at = 0, other = 0;
    EXPECT_EQ(SET_NAME_TWICE,
              verdict("C:\\D\\", { { "data", "elev.dat" }, { "data", "skema.dat" }, { "data", "ELEV.dat" } }, &at, &other));
    EXPECT_EQ(2u, at);
    EXPECT_EQ(0u, other);
    EXPECT_EQ(SET_NAME_TWICE, verdict("C:\\D\\", { { "data", "æ" "ble.dat" }, { "data", "Æ" "BLE.DAT" } }));
    EXPECT_EQ(SET_FITS, verdict("C:\\D\\", { { "data", "elev.dat" }, { "ini", "ELEV.DAT" } }));
    EXPECT_EQ(SET_NAME_UNUSABLE, verdict("C:\\D\\", { { "data", "aux.dat" } }));
    EXPECT_EQ(SET_NAME_UNUSABLE, verdict("C:\\D\\", { { "ini", "kiro.ini." } }));
    std::vector<SetFile> many(SURVEY_MAX_ENTRIES + 1, SetFile{ "data", "t.dat" });
    EXPECT_EQ(SET_TOO_MANY_FILES, verdict("C:\\D\\", many));
}

TEST(Names, TransferPathsVolumesAndArchives)
{
    ASSERT_TRUE(set_transfer_paths("a:", 7));
    EXPECT_STREQ("a:\\KIRO-Flyt7", g_transfer_dir);
    EXPECT_STREQ("a:\\KIRO-Flyt7\\flyt.ini", g_transfer_file);

    char out[64];
    ASSERT_TRUE(volume_path(out, sizeof out, "e:\\KIRO-Flyt7", 1));
    EXPECT_STREQ("e:\\KIRO-Flyt7\\Data.z01", out);
    volume_path(out, sizeof out, "e:\\KIRO-Flyt7", 99);
    EXPECT_STREQ("e:\\KIRO-Flyt7\\Data.z99", out);
    volume_path(out, sizeof out, "e:\\KIRO-Flyt7", 100);
    EXPECT_STREQ("e:\\KIRO-Flyt7\\Data.z100", out);
    move_archive_path(out, sizeof out, "c:\\kiro\\");
    EXPECT_STREQ("c:\\kiro\\Data.zip", out);
    packing_archive_path(out, sizeof out, "c:\\kiro\\");
    EXPECT_STREQ("c:\\kiro\\Data.tvk", out);
    write_test_path(out, sizeof out, "e:\\KIRO-Flyt7");
    EXPECT_STREQ("e:\\KIRO-Flyt7\\Flyttest.txt", out);
}

TEST(TransferFile, KeysInOrderWithTheLockKeyInWindows1252)
{
    std::string dir = make_scratch_dir("transfer_file_keys");
    std::string file = dir + "\\flyt.ini";
    SetTotals totals = { 0x123456789ULL, 0x2000000005ULL, 20000 };
    ASSERT_TRUE(write_transfer_info(file.c_str(), 7, 10327, 2, 3, NULL, &totals));
    std::string text = read_file(file);
    size_t a = text.find("insnr=7"), b = text.find("version=10327"), c = text.find("disknr=2"),
           d = text.find("antaldiske=3"), p = text.find("pakket=4886718345"),
           u = text.find("udpakket=137438953477"), f = text.find("antalfiler=20000"),
           e = text.find("skemal\xE5st=nej");
    ASSERT_NE(std::string::npos, a) << text;
    ASSERT_NE(std::string::npos, e) << text;
    EXPECT_TRUE(text.find("[global]") < a && a < b && b < c && c < d && d < p && p < u && u < f && f < e)
        << text;

    TransferInfo info;
    read_transfer_info(file.c_str(), &info);
    EXPECT_EQ(7, info.installation);
    EXPECT_EQ(10327, info.version);
    EXPECT_EQ(2, info.disk_number);
    EXPECT_EQ(3, info.disk_count);
    EXPECT_STREQ("nej", info.locked);
    EXPECT_TRUE(info.has_totals);
    EXPECT_EQ(totals.packed, info.totals.packed);
    EXPECT_EQ(totals.unpacked, info.totals.unpacked);
    EXPECT_EQ(20000ul, info.totals.files);
    EXPECT_TRUE(set_is_live(&info, 7));
    EXPECT_FALSE(set_is_live(&info, 8));   /* another installation's set */
    EXPECT_FALSE(set_is_stale(&info));

    ASSERT_TRUE(write_transfer_locked(file.c_str(), "ja"));
    read_transfer_info(file.c_str(), &info);
    EXPECT_TRUE(set_is_stale(&info));
    EXPECT_FALSE(set_is_live(&info, 7));
    remove_tree(dir);
}

TEST(TransferFile, TheLastDiskWrittenUnmarkedIsNotLiveUntilMarkedAndThenTheSameFile)
{
    std::string dir = make_scratch_dir("transfer_file_unmarked");
    std::string marked = dir + "\\marked.ini", last = dir + "\\flyt.ini";
    ASSERT_TRUE(write_transfer_info(marked.c_str(), 7, 10327, 2, 2, "1F-2A", NULL));
    ASSERT_TRUE(write_transfer_locked(last.c_str(), "ja"));   /* an older set's mark */
    ASSERT_TRUE(write_transfer_info_unmarked(last.c_str(), 7, 10327, 2, 2, "1F-2A", NULL));
    TransferInfo info;
    read_transfer_info(last.c_str(), &info);
    EXPECT_EQ(2, info.disk_count);
    EXPECT_STREQ("", info.locked);
    EXPECT_FALSE(set_is_live(&info, 7));
    EXPECT_FALSE(set_is_stale(&info));
    EXPECT_TRUE(set_is_unmarked(&info, 7)) << "never overwritten without asking";
    EXPECT_FALSE(set_is_unmarked(&info, 8));
    ASSERT_TRUE(write_transfer_locked(last.c_str(), "nej"));
    EXPECT_EQ(read_file(marked), read_file(last)) << "the other PC reads the same file";
    remove_tree(dir);
}

TEST(TransferFile, MissingFileReadsAsZerosAndFailedWritesAreReported)
{
    std::string dir = make_scratch_dir("transfer_file_missing");
    std::string file = dir + "\\flyt.ini";
    TransferInfo info;
    read_transfer_info(file.c_str(), &info);
    EXPECT_EQ(0, info.installation);
    EXPECT_EQ(0, info.version);
    EXPECT_EQ(0, info.disk_number);
    EXPECT_EQ(0, info.disk_count);
    EXPECT_STREQ("", info.locked);
    EXPECT_FALSE(set_is_live(&info, 0));

    /* a transfer file in a folder that does not exist cannot be written */
    std::string nowhere = dir + "\\missing\\flyt.ini";
    EXPECT_FALSE(write_transfer_info(nowhere.c_str(), 7, 10327, 1, 1, NULL, NULL));
    EXPECT_FALSE(write_transfer_locked(nowhere.c_str(), "ja"));
    remove_tree(dir);
}

TEST(Recognition, DisksWrittenEarlierInTheMoveAreRefused)
{
    EXPECT_TRUE(disk_already_written(1, 2));
    EXPECT_TRUE(disk_already_written(1, 3));
    EXPECT_TRUE(disk_already_written(2, 3));
    EXPECT_FALSE(disk_already_written(3, 3));   /* an older move's disk 3 */
    EXPECT_FALSE(disk_already_written(5, 2));
    EXPECT_TRUE(disk_already_written(0, 2));    /* reads as disk 0 */
    EXPECT_FALSE(disk_already_written(1, 1));   /* disk 1 is never refused */
}

TEST(Acceptance, InstallationThenVersionMustMatch)
{
    TransferInfo info = { 7, 10327, 1, 1, "nej" };
    EXPECT_EQ(SET_ACCEPTED, judge_transfer_set(0, &info, 7, 10327));
    EXPECT_EQ(SET_UNREADABLE, judge_transfer_set(1, &info, 7, 10327));
    EXPECT_EQ(SET_UNREADABLE, judge_transfer_set(2, &info, 7, 10327));   /* read-only */
    EXPECT_EQ(SET_OTHER_INSTALLATION, judge_transfer_set(0, &info, 8, 10327));
    EXPECT_EQ(SET_OTHER_INSTALLATION, judge_transfer_set(0, &info, 8, 10400));
    EXPECT_EQ(SET_OTHER_VERSION, judge_transfer_set(0, &info, 7, 10400));
}

static std::string placed(const char *entry)
{
    char target[600];
    char data_dir[] = "C:\\pc_b\\";
    if (!place_transfer_entry(entry, target, sizeof target, data_dir))
        return "refused";
    return std::string(data_dir) + staged_relative_name(target, data_dir);
}

TEST(Placement, EntriesLandByFolderAndNameUnderThisDataDirectory)
{
    EXPECT_EQ("C:\\pc_b\\data\\elev.dat", placed("C:\\pc_a\\kiro\\data\\elev.dat"));
    EXPECT_EQ("C:\\pc_b\\ini\\kiro.ini", placed("Z:\\tmp\\a\\INI\\kiro.ini"));
    EXPECT_EQ("C:\\pc_b\\data\\x.dat", placed("D:/skole/Data/x.dat"));
    EXPECT_EQ("C:\\pc_b\\data\\x.dat", placed("..\\..\\data\\x.dat"));
}

TEST(Placement, EntriesOutsideTheDataFoldersAreRefused)
{
    EXPECT_EQ("refused", placed("C:\\Windows\\system32\\evil.dll"));
    EXPECT_EQ("refused", placed("C:\\pc_a\\data\\sub\\x.dat"));     /* a subfolder */
    EXPECT_EQ("refused", placed("elev.dat"));                         /* no folder */
    EXPECT_EQ("refused", placed("C:\\pc_a\\data\\"));                /* a folder entry */
    EXPECT_EQ("refused", placed("C:\\pc_a\\data\\.."));
    EXPECT_EQ("refused", placed("C:\\pc_a\\data\\x.dat:stream"));
    EXPECT_EQ("refused", placed("C:\\pc_a\\mydata\\x.dat"));
    EXPECT_EQ("refused", placed(""));
    /* names Windows would take as a device or change on the way */
    EXPECT_EQ("refused", placed("C:\\pc_a\\data\\NUL"));
    EXPECT_EQ("refused", placed("C:\\pc_a\\data\\con.dat"));
    EXPECT_EQ("refused", placed("C:\\pc_a\\ini\\lpt1 .ini"));
    EXPECT_EQ("refused", placed("C:\\pc_a\\data\\elev.dat."));
    EXPECT_EQ("refused", placed("C:\\pc_a\\data\\elev.dat "));
    EXPECT_EQ("refused", placed(("C:\\pc_a\\data\\" + std::string(250, 'x') + ".dat").c_str()));
    EXPECT_EQ("C:\\pc_b\\data\\COM10.dat", placed("C:\\pc_a\\data\\COM10.dat"));
    EXPECT_EQ("C:\\pc_b\\data\\console.dat", placed("C:\\pc_a\\data\\console.dat"));
}
