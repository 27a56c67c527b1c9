/*
 * Function tests of the transfer set: the reserve kept beside every volume,
 * the disk count and volume lengths, the names on the disk, the transfer
 * file's keys (order, bytes, checked writes), recognising a disk written
 * earlier in the same move, accepting a set, and where archive entries may
 * land on the way back.
 */
#include <gtest/gtest.h>
#include "test_support.h"
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
    ASSERT_TRUE(write_transfer_info(file.c_str(), 7, 10327, 2, 3, NULL));
    std::string text = read_file(file);
    size_t a = text.find("insnr=7"), b = text.find("version=10327"), c = text.find("disknr=2"),
           d = text.find("antaldiske=3"), e = text.find("skemal\xE5st=nej");
    ASSERT_NE(std::string::npos, a) << text;
    ASSERT_NE(std::string::npos, e) << text;
    EXPECT_TRUE(text.find("[global]") < a && a < b && b < c && c < d && d < e) << text;

    TransferInfo info;
    read_transfer_info(file.c_str(), &info);
    EXPECT_EQ(7, info.installation);
    EXPECT_EQ(10327, info.version);
    EXPECT_EQ(2, info.disk_number);
    EXPECT_EQ(3, info.disk_count);
    EXPECT_STREQ("nej", info.locked);
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
    ASSERT_TRUE(write_transfer_info(marked.c_str(), 7, 10327, 2, 2, "1F-2A"));
    ASSERT_TRUE(write_transfer_locked(last.c_str(), "ja"));   /* an older set's mark */
    ASSERT_TRUE(write_transfer_info_unmarked(last.c_str(), 7, 10327, 2, 2, "1F-2A"));
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
    EXPECT_FALSE(write_transfer_info(nowhere.c_str(), 7, 10327, 1, 1, NULL));
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
    return target;
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
