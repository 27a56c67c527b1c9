/*
 * File utilities on ordinary folders: counting files, copying whole files
 * and slices with the file bar of a real progress dialog, creating a
 * directory over an existing file, and removing a tree that holds a
 * read-only file. Drive-level behaviour (full disks, free space, labels,
 * drives without a medium) is tested with the drive fixture elsewhere.
 */
#include "support/disk_utils.h"
#include "support/progress.h"
#include "resource.h"
#include "test_support.h"
#include "dialog_runner.h"
#include "driver.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <zlib.h>
#include <string>

namespace {

BarRecord g_bar;

DWORD copy_in_dialog(const std::string &source, const std::string &target, DWORD offset, DWORD limit,
                     const char *mode)
{
    DWORD result = 0xDEADBEEF;
    g_bar = run_in_dialog([&](HWND dialog) {
        result = copy_with_progress(dialog, source.c_str(), target.c_str(), offset, limit, mode);
    });
    return result;
}

std::string pattern_bytes(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    unsigned x = seed;
    for (size_t i = 0; i < n; i++) {
        x = x * 1103515245u + 12345u;
        s[i] = (char)(x >> 16);
    }
    return s;
}

}  // namespace

TEST(CountFiles, CountsFilesNotDirectories)
{
    std::string dir = make_scratch_dir("count");
    write_file(dir + "\\a.dat", "1");
    write_file(dir + "\\b.dat", "2");
    write_file(dir + "\\c.txt", "3");
    make_dirs(dir + "\\d.dat");
    EXPECT_EQ(2, count_files((dir + "\\*.dat").c_str()));
    EXPECT_EQ(3, count_files((dir + "\\*.*").c_str()));
    EXPECT_EQ(0, count_files((dir + "\\*.xyz").c_str()));
    EXPECT_EQ(0, count_files((dir + "\\missing\\*.*").c_str()));
    remove_tree(dir);
}

TEST(CopyWithProgress, EmptySourceIsAFailure)
{
    std::string dir = make_scratch_dir("copy_empty");
    write_file(dir + "\\empty", "");
    EXPECT_EQ(0u, copy_in_dialog(dir + "\\empty", dir + "\\out", 0, 0, "wb"));
    EXPECT_EQ(0u, copy_in_dialog(dir + "\\missing", dir + "\\out2", 0, 0, "wb"));
    EXPECT_FALSE(file_exists(dir + "\\out2"));
    EXPECT_EQ(0u, copy_with_progress(NULL, (dir + "\\empty").c_str(), (dir + "\\no\\such\\dir").c_str(),
                                     0, 0, "wb"));
    remove_tree(dir);
}

TEST(CopyWithProgress, SmallSourceShowsTwoBlocksOneStepped)
{
    std::string dir = make_scratch_dir("copy_small");
    std::string data = pattern_bytes(5000, 1);
    write_file(dir + "\\src.bin", data);
    EXPECT_EQ(5000u, copy_in_dialog(dir + "\\src.bin", dir + "\\dst.bin", 0, 0, "wb"));
    EXPECT_EQ(data, read_file(dir + "\\dst.bin"));
    EXPECT_EQ(1, g_bar.file_steps);
    EXPECT_EQ(2, g_bar.high);
    EXPECT_EQ(2, g_bar.pos);
    EXPECT_EQ("Kopierer filen: src.bin", g_bar.status);
    remove_tree(dir);
}

TEST(CopyWithProgress, LimitZeroOrBeyondCopiesToTheEnd)
{
    std::string dir = make_scratch_dir("copy_limit");
    std::string data = pattern_bytes(250000, 2);
    write_file(dir + "\\src.bin", data);
    EXPECT_EQ(250000u - 1000u, copy_in_dialog(dir + "\\src.bin", dir + "\\a.bin", 1000, 0, "wb"));
    EXPECT_EQ(data.substr(1000), read_file(dir + "\\a.bin"));
    EXPECT_EQ(3, g_bar.high);    /* 249000 bytes: three blocks */
    EXPECT_EQ(3, g_bar.file_steps);
    EXPECT_EQ(250000u, copy_in_dialog(dir + "\\src.bin", dir + "\\b.bin", 0, 999999, "wb"));
    EXPECT_EQ(data, read_file(dir + "\\b.bin"));
    remove_tree(dir);
}

TEST(CopyWithProgress, SlicesJoinToTheWholeAndEndAtTheSource)
{
    std::string dir = make_scratch_dir("copy_slices");
    std::string data = pattern_bytes(300000, 3);
    write_file(dir + "\\src.bin", data);
    /* Slices the way a file is spread over disks: each exactly its limit,
       also one smaller than a block, and the last cut by the end. */
    EXPECT_EQ(150000u, copy_in_dialog(dir + "\\src.bin", dir + "\\v1", 0, 150000, "wb"));
    EXPECT_EQ(2, g_bar.high);    /* ceil(150000 / 102400) */
    EXPECT_EQ(50000u, copy_in_dialog(dir + "\\src.bin", dir + "\\v2", 150000, 50000, "wb"));
    EXPECT_EQ(100000u, copy_in_dialog(dir + "\\src.bin", dir + "\\v3", 200000, 150000, "wb"));
    EXPECT_EQ(data.substr(0, 150000), read_file(dir + "\\v1"));
    EXPECT_EQ(data.substr(150000, 50000), read_file(dir + "\\v2"));
    EXPECT_EQ(data.substr(200000), read_file(dir + "\\v3"));

    /* Appending joins the slices again. */
    EXPECT_EQ(150000u, copy_in_dialog(dir + "\\v1", dir + "\\joined", 0, 0, "wb"));
    EXPECT_EQ(50000u, copy_in_dialog(dir + "\\v2", dir + "\\joined", 0, 0, "ab"));
    EXPECT_EQ(100000u, copy_in_dialog(dir + "\\v3", dir + "\\joined", 0, 0, "ab"));
    EXPECT_EQ(data, read_file(dir + "\\joined"));
    remove_tree(dir);
}

TEST(CopyWithProgress, MultiMegabyteCopyIsByteExact)
{
    std::string dir = make_scratch_dir("copy_big");
    std::string data = pattern_bytes(3 * 1024 * 1024 + 17, 4);
    write_file(dir + "\\big.bin", data);
    EXPECT_EQ(data.size(), copy_in_dialog(dir + "\\big.bin", dir + "\\copy.bin", 0, 0, "wb"));
    EXPECT_EQ(data, read_file(dir + "\\copy.bin"));
    EXPECT_EQ(31, g_bar.high);
    EXPECT_EQ(31, g_bar.file_steps);
    EXPECT_EQ(31, g_bar.pos);
    remove_tree(dir);
}

TEST(CopyWithProgress, CrcOfWhatWasWrittenMatchesTheFileReadBack)
{
    /* More than one read-back block, and a length no sector divides. */
    std::string dir = make_scratch_dir("copy_crc");
    std::string data = pattern_bytes(3 * 1024 * 1024 + 17, 5);
    write_file(dir + "\\src.bin", data);
    const DWORD offset = 100001, limit = 2 * 1024 * 1024 + 5;
    unsigned long crc = 0;
    EXPECT_EQ(limit, copy_with_progress(NULL, (dir + "\\src.bin").c_str(), (dir + "\\v").c_str(), offset, limit,
                                        "wb", &crc));
    EXPECT_EQ(crc32(0, (const Bytef *)data.data() + offset, limit), crc);

    unsigned long long size = 0;
    unsigned long read_crc = 0;
    EXPECT_EQ(READ_BACK_DONE, read_back_crc32(NULL, (dir + "\\v").c_str(), &size, &read_crc));
    EXPECT_EQ(limit, size);
    EXPECT_EQ(crc, read_crc);
    EXPECT_EQ(READ_BACK_MISSING, read_back_crc32(NULL, (dir + "\\missing").c_str(), &size, &read_crc));
    remove_tree(dir);
}

TEST(FileSize, SizeOrZero)
{
    std::string dir = make_scratch_dir("size");
    write_file(dir + "\\f", std::string(12345, 'x'));
    EXPECT_EQ(12345u, file_size((dir + "\\f").c_str()));
    EXPECT_EQ(0u, file_size((dir + "\\missing").c_str()));
    remove_tree(dir);
}

TEST(MakeDirectory, CreatesOneLevelAndAcceptsWhatExists)
{
    std::string dir = make_scratch_dir("mkdir");
    EXPECT_EQ(1, make_directory((dir + "\\new").c_str()));
    EXPECT_TRUE(GetFileAttributesA((dir + "\\new").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(1, make_directory((dir + "\\new").c_str()));
    EXPECT_EQ(1, make_directory((dir + "\\new\\").c_str()));
    write_file(dir + "\\plain", "x");
    EXPECT_EQ(1, make_directory((dir + "\\plain").c_str()));
    EXPECT_EQ(0, make_directory((dir + "\\missing\\child").c_str()));
    EXPECT_FALSE(file_exists(dir + "\\missing"));
    remove_tree(dir);
}

TEST(DeleteTree, RemovesAllButAReadOnlyFileAndItsDirectories)
{
    std::string dir = make_scratch_dir("deltree");
    std::string top = dir + "\\top";
    make_dirs(top + "\\keep\\deeper");
    make_dirs(top + "\\gone\\sub");
    write_file(top + "\\a.dat", "a");
    write_file(top + "\\gone\\sub\\b.dat", "b");
    write_file(top + "\\keep\\deeper\\locked.dat", "c");
    write_file(top + "\\keep\\other.dat", "d");
    SetFileAttributesA((top + "\\keep\\deeper\\locked.dat").c_str(), FILE_ATTRIBUTE_READONLY);

    /* Given with a trailing backslash, as the data directory is. */
    EXPECT_EQ(1, delete_tree((top + "\\").c_str()));
    EXPECT_TRUE(file_exists(top + "\\keep\\deeper\\locked.dat"));
    EXPECT_FALSE(file_exists(top + "\\keep\\other.dat"));
    EXPECT_FALSE(file_exists(top + "\\a.dat"));
    EXPECT_FALSE(file_exists(top + "\\gone"));

    SetFileAttributesA((top + "\\keep\\deeper\\locked.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(1, delete_tree(top.c_str()));
    EXPECT_FALSE(file_exists(top));
    EXPECT_EQ(1, delete_tree(top.c_str()));   /* a missing tree is no error */
    remove_tree(dir);
}

TEST(DeleteTree, LinksAreNeverFollowed)
{
    /* A folder of the PC, reached through a directory link inside the tree
       and through the tree itself being a link. */
    std::string dir = make_scratch_dir("deltree_links");
    make_dirs(dir + "\\pc\\skema");
    write_file(dir + "\\pc\\skema\\elev.dat", "elever");
    make_dirs(dir + "\\pc\\tom");
    make_dirs(dir + "\\top\\sub");
    write_file(dir + "\\top\\sub\\x.dat", "x");
    std::string pc = unix_path(dir + "\\pc");
    std::string top = unix_path(dir + "\\top");
    ASSERT_EQ(0, run_unix("ln -s '" + pc + "/skema' '" + top + "/link' && ln -s '" + pc + "/tom' '" + top +
                          "/sub/empty' && ln -s '" + pc + "' '" + unix_path(dir) + "/toplink'"));
    EXPECT_TRUE(is_directory_link((dir + "\\top\\link").c_str()));
    EXPECT_FALSE(is_directory_link((dir + "\\top\\sub").c_str()));

    EXPECT_EQ(1, delete_tree((dir + "\\top").c_str()));
    EXPECT_EQ(1, delete_tree((dir + "\\toplink\\").c_str()));
    EXPECT_EQ("elever", read_file(dir + "\\pc\\skema\\elev.dat"));
    EXPECT_TRUE(file_exists(dir + "\\pc\\tom"));   /* an empty target too */
    EXPECT_FALSE(file_exists(dir + "\\top\\sub\\x.dat"));
    run_unix("rm -rf '" + top + "' '" + unix_path(dir) + "/toplink'");
    remove_tree(dir);
}
