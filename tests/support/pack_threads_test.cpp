/*
 * Packing on several threads against packing on one: the same files give
 * the same archive byte for byte (text and binary entries, an empty file,
 * a file larger than it was listed, an archive appended to), a file gone
 * or held open meanwhile answers as it does file by file, a failure ends
 * the run, and no thread of a run outlives it.
 */
#include "archive/checksum.h"
#include "archive/deflate_workers.h"
#include "archive/pack.h"
#include "archive/threads.h"
#include "archive/zip_write.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <string>
#include <vector>

namespace {

std::string bytes(size_t n, unsigned seed, unsigned spread)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) {
        seed = seed * 1103515245u + 12345u;
        s[i] = (char)((seed >> 16) % spread);
    }
    return s;
}

int threads_of_this_process()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

PackFile pack_file_entry(const std::string &file, const std::string &entry, unsigned long long size)
{
    PackFile f;
    snprintf(f.file, sizeof f.file, "%s", file.c_str());
    snprintf(f.entry, sizeof f.entry, "%s", entry.c_str());
    f.size = size;
    return f;
}

/* Packs files into archive on the given number of threads; each file's
   code and last error, and pack_end's code last. */
std::vector<int> pack_on(unsigned threads, const std::string &archive, const std::vector<PackFile> &files,
                         std::vector<DWORD> *errors = NULL)
{
    set_zip_threads(threads);
    std::vector<int> codes;
    PackRun run;
    pack_begin(&run, archive.c_str(), files.data(), files.size());
    int code = 0;
    for (size_t k = 0; k < files.size() && packing_failure(code) == 0; k++) {
        code = pack_next(&run);
        codes.push_back(code);
        if (errors)
            errors->push_back(code ? GetLastError() : 0);
    }
    codes.push_back(pack_end(&run, packing_failure(code)));
    set_zip_threads(0);
    return codes;
}

}  // namespace

TEST(PackRun, SeveralThreadsWriteTheArchiveOneThreadWrites)
{
    std::string dir = make_scratch_dir("pack_threads_same");
    write_file(dir + "\\kiro.ini", "[global]\r\ninsnr=7\r\nversion=10327\r\nflytdrev=e:\r\n");
    write_file(dir + "\\akti.dat", bytes(400000, 1, 6));
    write_file(dir + "\\noise.bin", bytes(100000, 2, 256));
    write_file(dir + "\\empty.dat", "");
    write_file(dir + "\\grown.dat", bytes(100000, 3, 20));
    std::vector<PackFile> files = {
        pack_file_entry(dir + "\\kiro.ini", "ini\\kiro.ini", 46),
        pack_file_entry(dir + "\\akti.dat", "data\\akti.dat", 400000),
        pack_file_entry(dir + "\\noise.bin", "", 100000),                  /* named by its path */
        pack_file_entry(dir + "\\empty.dat", "data\\empty.dat", 0),
        pack_file_entry(dir + "\\grown.dat", "data\\grown.dat", 1000),     /* listed before it grew */
    };
    /* Appended to an archive that holds an entry already, and made anew. */
    std::vector<PackFile> more(files.begin() + 1, files.end());
    for (int round = 0; round < 2; round++) {
        std::string one = dir + "\\one.zip", four = dir + "\\four.zip";
        DeleteFileA(one.c_str());
        DeleteFileA(four.c_str());
        const std::vector<PackFile> &list = round == 0 ? files : more;
        if (round == 1) {
            ASSERT_EQ(0, zip_add_file(one.c_str(), files[0].file, files[0].entry));
            ASSERT_EQ(0, zip_add_file(four.c_str(), files[0].file, files[0].entry));
        }
        int before = threads_of_this_process();
        std::vector<int> codes_one = pack_on(1, one, list);
        std::vector<int> codes_four = pack_on(4, four, list);
        EXPECT_LE(threads_of_this_process(), before) << "a worker outlived its run";
        EXPECT_EQ(std::vector<int>(list.size() + 1, 0), codes_one);
        EXPECT_EQ(codes_one, codes_four);
        std::string a = read_file(one), b = read_file(four);
        ASSERT_GT(a.size(), 100000u);
        EXPECT_TRUE(a == b) << "round " << round << ": the archives differ";
        EXPECT_EQ(0, test_archive(four.c_str()));
    }
    remove_tree(dir);
}

TEST(PackRun, FileGoneOrHeldOpenEndsAsOnOneThread)
{
    std::string dir = make_scratch_dir("pack_threads_failure");
    for (const char *name : { "a.dat", "held.dat", "b.dat" })
        write_file(dir + "\\" + name, bytes(50000, name[0], 9));
    /* Listed, then gone before a worker comes to it; held by another
       program without sharing. */
    std::vector<PackFile> files = {
        pack_file_entry(dir + "\\a.dat", "data\\a.dat", 50000),
        pack_file_entry(dir + "\\gone.dat", "data\\gone.dat", 50000),
        pack_file_entry(dir + "\\held.dat", "data\\held.dat", 50000),
        pack_file_entry(dir + "\\b.dat", "data\\b.dat", 50000),
    };
    HANDLE held = CreateFileA((dir + "\\held.dat").c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0,
                              NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    int before = threads_of_this_process();
    std::vector<DWORD> errors_one, errors_four;
    std::vector<int> codes_one = pack_on(1, dir + "\\one.zip", files, &errors_one);
    std::vector<int> codes_four = pack_on(4, dir + "\\four.zip", files, &errors_four);
    EXPECT_EQ((std::vector<int>{ 0, ZIP_FILE_OPEN, ZIP_FILE_OPEN, 0, 0 }), codes_one);
    EXPECT_EQ(codes_one, codes_four);
    EXPECT_EQ(errors_one, errors_four);
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, errors_four[2]);
    EXPECT_TRUE(read_file(dir + "\\one.zip") == read_file(dir + "\\four.zip"));

    /* A failure that damages the archive ends the run the same way: the
       archive cannot be made, and nothing is left of it or of the run. */
    std::string nowhere = dir + "\\missing\\move.zip";
    std::vector<PackFile> readable = { files[0], files[3] };
    EXPECT_EQ((std::vector<int>{ ZIP_ARCHIVE_CLOSE, ZIP_ARCHIVE_CLOSE }), pack_on(1, nowhere, readable));
    EXPECT_EQ((std::vector<int>{ ZIP_ARCHIVE_CLOSE, ZIP_ARCHIVE_CLOSE }), pack_on(4, nowhere, readable));
    CloseHandle(held);
    EXPECT_LE(threads_of_this_process(), before) << "a worker outlived its run";
    EXPECT_FALSE(file_exists(nowhere));
    remove_tree(dir);
}
