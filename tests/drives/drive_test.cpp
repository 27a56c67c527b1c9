/*
 * Drives configured in the test prefix: the drive list in letter order with
 * its descriptions, the drive-type query, free space on a tmpfs drive of a
 * known size and on a drive without a medium, volume labels, and copies onto
 * a full drive. These tests redefine the prefix's drives and run alone.
 */
#include "archive/extract.h"
#include "archive/zip_write.h"
#include "support/disk_utils.h"
#include "support/drives.h"
#include "support/file_probe.h"
#include "support/packing.h"
#include "drive_fixture.h"
#include "driver.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>

namespace {

const DriveEntry *find_entry(const DriveList &list, const char *designation)
{
    for (int i = 0; i < list.count; i++)
        if (_stricmp(list.entries[i].designation, designation) == 0)
            return &list.entries[i];
    return NULL;
}

std::string big_pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++)
        s[i] = (char)(i * 7 + i / 1000);
    return s;
}

/* Counts the system's own error boxes (class #32770 of this process) that
   appear while a drive is probed; quiet probing shows none. */
int visible_dialogs()
{
    int n = 0;
    for (HWND w : top_windows(GetCurrentProcessId()))
        if (class_name(w) == "#32770")
            n++;
    return n;
}

}  // namespace

TEST(DriveFixture, TmpfsDriveHasKnownSizeAndIsEmpty)
{
    ScopedTmpfs mount("stick_e", 2 * 1024 * 1024);
    ASSERT_FALSE(mount.dir.empty());
    ScopedDrive drive('p', DRIVE_REMOVABLE, mount.dir);
    ASSERT_TRUE(drive.ok);
    EXPECT_EQ((UINT)DRIVE_REMOVABLE, drive_type("p"));

    ULARGE_INTEGER available = {}, total = {};
    ASSERT_EQ(1, free_space("p:", &available, &total));
    EXPECT_EQ(2ull * 1024 * 1024, total.QuadPart);
    EXPECT_EQ(total.QuadPart, available.QuadPart);
    EXPECT_NE(0u, cluster_size("p:"));

    ASSERT_TRUE(make_dirs("p:\\KIRO-Flyt7"));
    ASSERT_TRUE(write_file("p:\\KIRO-Flyt7\\one.bin", std::string(100000, 'x')));
    ASSERT_EQ(1, free_space("p:\\KIRO-Flyt7", &available, &total));
    EXPECT_LT(available.QuadPart, total.QuadPart);
}

TEST(DriveFixture, EmptyStickFileSystemsCountAsEmpty)
{
    /* exFAT as a stick carries it: its own structures take room, so free
       space never equals capacity, yet the disk is empty. */
    ScopedExfat stick("exfat_empty", 4 * 1024 * 1024);
    ASSERT_FALSE(stick.dir.empty());
    ScopedDrive drive('p', DRIVE_REMOVABLE, stick.dir, "STICK");
    ASSERT_TRUE(drive.ok);
    ULARGE_INTEGER available = {}, total = {};
    ASSERT_EQ(1, free_space("p:", &available, &total));
    EXPECT_EQ(4194304ull, total.QuadPart);
    EXPECT_EQ(4161536ull, available.QuadPart);
    EXPECT_EQ(4096u, cluster_size("p:"));
    EXPECT_TRUE(disk_is_empty("p:"));
    char label[260];
    EXPECT_EQ(1, read_volume_label(label, "p:")) << GetLastError();
    EXPECT_STREQ("STICK", label);

    ASSERT_TRUE(make_dirs("p:\\System Volume Information"));
    ASSERT_TRUE(write_file("p:\\System Volume Information\\IndexerVolumeGuid", "{...}"));
    EXPECT_TRUE(disk_is_empty("p:"));
    ASSERT_TRUE(make_dirs("p:\\Billeder"));
    EXPECT_FALSE(disk_is_empty("p:"));
    RemoveDirectoryA("p:\\Billeder");
    ASSERT_TRUE(write_file("p:\\noter.txt", "x"));
    EXPECT_FALSE(disk_is_empty("p:"));
}

TEST(DriveFixture, DriveWithoutMediumFailsQuietly)
{
    ASSERT_TRUE(define_drive_without_medium('q', DRIVE_REMOVABLE));
    EXPECT_EQ((UINT)DRIVE_REMOVABLE, drive_type("q:"));
    ULARGE_INTEGER available, total;
    available.QuadPart = 11;
    total.QuadPart = 22;
    int before = visible_dialogs();
    EXPECT_EQ(0, free_space("q:", &available, &total));
    EXPECT_EQ(11u, available.QuadPart);   /* untouched on failure */
    EXPECT_EQ(22u, total.QuadPart);
    EXPECT_EQ(0, make_directory("q:\\KIRO-Flyt7"));
    EXPECT_EQ(before, visible_dialogs());
    remove_drive('q');
}

TEST(DriveFixture, VolumeLabelWithAndWithout)
{
    std::string dir = drive_dir("labelled");
    char label[MAX_PATH];
    ASSERT_TRUE(define_drive('r', DRIVE_REMOVABLE, dir, "STICK"));
    EXPECT_EQ(1, read_volume_label(label, "r:"));
    EXPECT_STREQ("STICK", label);
    EXPECT_EQ(1, read_volume_label(label, "r:\\KIRO-Flyt7\\flyt.ini"));
    EXPECT_STREQ("STICK", label);

    /* Another disk in the same drive: no label now. */
    ASSERT_TRUE(define_drive('r', DRIVE_REMOVABLE, dir, NULL));
    read_volume_label(label, "r:");
    EXPECT_STREQ("", label);
    remove_drive('r');
}

TEST(DriveList, ListsConfiguredDrivesInLetterOrderWithDescriptions)
{
    std::string stick = drive_dir("list_stick");
    std::string bare = drive_dir("list_bare");
    std::string fixed = drive_dir("list_fixed");
    ScopedDrive k('k', DRIVE_REMOVABLE, stick, "STICK");
    ScopedDrive l('l', DRIVE_REMOVABLE, bare);
    ASSERT_TRUE(define_drive_without_medium('m', DRIVE_CDROM));
    ScopedDrive n('n', DRIVE_FIXED, fixed);
    ASSERT_TRUE(define_network_drive('o', "skolen", "skema"));

    DriveList list = {};
    list.selected_index = 3;
    strcpy(list.selected_drive, "k:");
    build_drive_list(&list);
    EXPECT_EQ(1, list.built);
    EXPECT_EQ(0, list.selected_index);
    EXPECT_STREQ("", list.selected_drive);
    ASSERT_GE(list.count, 5);
    for (int i = 1; i < list.count; i++)
        EXPECT_LT(_stricmp(list.entries[i - 1].designation, list.entries[i].designation), 0);
    for (int i = 0; i < list.count; i++)
        EXPECT_EQ(2u, strlen(list.entries[i].designation)) << list.entries[i].designation;

    const DriveEntry *e;
    ASSERT_TRUE(e = find_entry(list, "K:"));
    EXPECT_STREQ("STICK", e->description);
    ASSERT_TRUE(e = find_entry(list, "L:"));
    EXPECT_STREQ("Flytbar", e->description);
    ASSERT_TRUE(e = find_entry(list, "M:"));
    EXPECT_STREQ("Cd-drev", e->description);
    ASSERT_TRUE(e = find_entry(list, "N:"));
    EXPECT_STREQ("Lokal disk", e->description);
    ASSERT_TRUE(e = find_entry(list, "O:"));
    EXPECT_STREQ("\\\\skolen\\skema", e->description);

    /* Released: all of it zero; rebuilt: the same entries again. */
    int count = list.count;
    release_drive_list(&list);
    EXPECT_EQ(0, list.built);
    EXPECT_EQ(0, list.count);
    EXPECT_EQ(NULL, list.entries);
    build_drive_list(&list);
    EXPECT_EQ(count, list.count);
    release_drive_list(&list);
    remove_drive('m');
    remove_drive('o');
}

TEST(DriveList, TypeQueryIsTheSameForLetterColonAndRoot)
{
    ScopedDrive k('k', DRIVE_CDROM, drive_dir("type_cd"));
    EXPECT_EQ((UINT)DRIVE_CDROM, drive_type("k"));
    EXPECT_EQ((UINT)DRIVE_CDROM, drive_type("k:"));
    EXPECT_EQ((UINT)DRIVE_CDROM, drive_type("k:\\"));
    EXPECT_EQ((UINT)DRIVE_CDROM, drive_type("K:\\KIRO-Flyt7"));
    remove_drive('k');
    EXPECT_LT(drive_type("k"), 2u);
}

TEST(CopyToDrive, FullDriveIsAWriteError)
{
    ScopedTmpfs mount("full", 64 * 1024);
    ASSERT_FALSE(mount.dir.empty());
    ScopedDrive drive('p', DRIVE_REMOVABLE, mount.dir);
    std::string dir = make_scratch_dir("full_source");
    std::string data = big_pattern(300000);
    ASSERT_TRUE(write_file(dir + "\\Data.zip", data));

    UINT mode = SetErrorMode(0);
    EXPECT_EQ(0u, copy_with_progress(NULL, (dir + "\\Data.zip").c_str(), "p:\\Data.z01", 0, 0, "wb"));
    EXPECT_EQ(0u, SetErrorMode(mode));   /* the caller's mode is back */

    /* A slice that fits is copied whole onto the same drive. */
    DeleteFileA("p:\\Data.z01");
    EXPECT_EQ(40000u, copy_with_progress(NULL, (dir + "\\Data.zip").c_str(), "p:\\Data.z01", 40000, 40000,
                                         "wb"));
    EXPECT_EQ(data.substr(40000, 40000), read_file("p:\\Data.z01"));
    remove_tree(dir);
}

TEST(CopyToDrive, SwitchingTheBackingIsAnotherDisk)
{
    std::string first = drive_dir("disk1");
    std::string second = drive_dir("disk2");
    ASSERT_TRUE(write_file(windows_path(first + "/flyt.ini"), "disk=1"));
    ScopedDrive drive('p', DRIVE_REMOVABLE, first, "DISK1");
    char label[MAX_PATH];
    EXPECT_EQ("disk=1", read_file("p:\\flyt.ini"));
    ASSERT_TRUE(define_drive('p', DRIVE_REMOVABLE, second, "DISK2"));
    EXPECT_FALSE(file_exists("p:\\flyt.ini"));
    read_volume_label(label, "p:");
    EXPECT_STREQ("DISK2", label);
}

TEST(ZipOnDrives, NetworkPathIsStoredWithoutItsLeadingBackslashes)
{
    ASSERT_TRUE(define_network_drive('o', "skolen", "kiro"));
    ASSERT_TRUE(write_file("\\\\skolen\\kiro\\kiro.ini", "[global]"));
    std::string dir = make_scratch_dir("zip_unc");
    std::string archive = dir + "\\support.zip";
    EXPECT_EQ(0, pack_file(NULL, "\\\\skolen\\kiro\\kiro.ini", archive.c_str()));
    std::string listing = dir + "\\names.txt";
    ASSERT_EQ(0, run_unix("unzip -Z1 '" + unix_path(archive) + "' > '" + unix_path(listing) + "'"));
    EXPECT_EQ("skolen\\kiro\\kiro.ini\n", read_file(listing));
    DeleteFileA("\\\\skolen\\kiro\\kiro.ini");
    remove_drive('o');
    remove_tree(dir);
}

TEST(ZipOnDrives, UnpackingOntoAFullDriveIsAFailure)
{
    ScopedTmpfs mount("unzip_full", 60 * 1024);   /* 15 pages: the last write fits only half */
    ASSERT_FALSE(mount.dir.empty());
    ScopedDrive drive('p', DRIVE_REMOVABLE, mount.dir);
    std::string dir = make_scratch_dir("unzip_full_source");
    ASSERT_TRUE(write_file(dir + "\\big.dat", big_pattern(400000)));
    std::string archive = dir + "\\big.zip";
    ASSERT_EQ(0, zip_add_file(archive.c_str(), (dir + "\\big.dat").c_str(), "big.dat"));
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    int code = unzip_archive(archive.c_str(), "p:\\");
    DWORD error = GetLastError();
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(-9, code);   /* the write failed */
    EXPECT_EQ((DWORD)ERROR_DISK_FULL, error);   /* and says why, whatever was called after it */
    /* Packing onto the full drive fails as well, with a code. */
    ASSERT_TRUE(write_file(dir + "\\small.dat", "x"));
    EXPECT_NE(0, zip_add_file("p:\\more.zip", (dir + "\\big.dat").c_str(), "big.dat"));
    remove_tree(dir);
}
