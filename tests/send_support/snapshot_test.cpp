/*
 * The support snapshot's pieces without the dialog: archive names from
 * the settings, removal of earlier archives, and the directory listing in
 * its exact line formats.
 */
#include <gtest/gtest.h>

#include "advanced/send_support.h"
#include "test_support.h"

#include <string.h>

TEST(SupportNames, BaseFinalAndServerCut)
{
    char server[200] = "sql01.skole.local";
    cut_at_first_dot(server);
    EXPECT_STREQ("sql01", server);
    char plain[20] = "sql01";
    cut_at_first_dot(plain);
    EXPECT_STREQ("sql01", plain);

    char base[1024];
    ASSERT_TRUE(support_archive_base(base, sizeof base, "C:\\Kiro\\", "skole", server, 17));
    EXPECT_STREQ("C:\\Kiro\\skolesql0117", base);
    SYSTEMTIME t = {};
    t.wYear = 2026;
    t.wMonth = 3;
    t.wDay = 8;
    t.wHour = 5;
    t.wMinute = 7;
    char final_name[1024];
    ASSERT_TRUE(final_archive_name(final_name, sizeof final_name, base, &t));
    EXPECT_STREQ("C:\\Kiro\\skolesql0117-2026.03.08-05.07.zip", final_name);

    ASSERT_TRUE(support_archive_base(base, sizeof base, "C:\\Kiro\\", "", "", 0));
    EXPECT_STREQ("C:\\Kiro\\0", base);
}

TEST(SupportNames, EarlierArchivesOfTheSameStartAreDeleted)
{
    std::string dir = make_scratch_dir("earlier_archives");
    const char *doomed[] = { "skolesql011-2025.01.01-10.00.zip", "skolesql0112-2025.01.01-10.00.zip",
                             "skolesql011.zip" };
    const char *kept[] = { "skolesql011.tvk", "skolesql012-2025.01.01-10.00.zip", "andet.zip",
                           "skolesql011-notes.txt" };
    for (const char *name : doomed)
        ASSERT_TRUE(write_file(dir + "\\" + name, "x"));
    for (const char *name : kept)
        ASSERT_TRUE(write_file(dir + "\\" + name, "x"));
    EXPECT_EQ(3, delete_earlier_archives((dir + "\\skolesql011*.zip").c_str()));
    for (const char *name : doomed)
        EXPECT_FALSE(file_exists(dir + "\\" + name)) << name;
    for (const char *name : kept)
        EXPECT_TRUE(file_exists(dir + "\\" + name)) << name;
}

TEST(SupportNames, UndeletableArchiveEndsTheCleanUp)
{
    std::string dir = make_scratch_dir("earlier_readonly");
    std::string stuck = dir + "\\skole7-2025.01.01-10.00.zip";
    ASSERT_TRUE(write_file(stuck, "x"));
    SetFileAttributesA(stuck.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(0, delete_earlier_archives((dir + "\\skole7*.zip").c_str()));
    EXPECT_TRUE(file_exists(stuck));
    SetFileAttributesA(stuck.c_str(), FILE_ATTRIBUTE_NORMAL);
}

static FILETIME utc(int year, int month, int day, int hour, int minute)
{
    SYSTEMTIME s = {};
    s.wYear = (WORD)year;
    s.wMonth = (WORD)month;
    s.wDay = (WORD)day;
    s.wHour = (WORD)hour;
    s.wMinute = (WORD)minute;
    FILETIME f;
    SystemTimeToFileTime(&s, &f);
    return f;
}

TEST(DirectoryListing, LineFormats)
{
    WIN32_FIND_DATAA entry = {};
    entry.ftLastWriteTime = utc(2026, 1, 2, 3, 4);
    entry.nFileSizeLow = 1234;
    strcpy(entry.cFileName, "KIRO.DAT");
    char line[600];
    ASSERT_TRUE(format_listing_line(line, sizeof line, &entry));
    EXPECT_STREQ("02-01-2026   03:04             1234   KIRO.DAT\n", line);

    entry.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    strcpy(entry.cFileName, "datakopi");
    entry.ftLastWriteTime = utc(2025, 11, 30, 23, 59);
    ASSERT_TRUE(format_listing_line(line, sizeof line, &entry));
    EXPECT_STREQ("30-11-2025   23:59     <DIR>          datakopi\n", line);
}

static void set_write_time(const std::string &path, FILETIME time)
{
    HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    SetFileTime(h, NULL, NULL, &time);
    CloseHandle(h);
}

TEST(DirectoryListing, VersionSectionListingsAndSummaries)
{
    std::string dir = make_scratch_dir("dirlst");
    std::string program = dir + "\\prog\\";
    make_dirs(program + "sub");
    make_dirs(dir + "\\log");
    ASSERT_TRUE(CopyFileA((test_exe_dir() + "test_send_support.exe").c_str(),
                          (program + "10327.exe").c_str(), FALSE));
    ASSERT_TRUE(write_file(program + "a.dat", std::string(1234, 'a')));
    ASSERT_TRUE(write_file(program + "b.txt", ""));
    set_write_time(program + "a.dat", utc(2026, 1, 2, 3, 4));
    set_write_time(program + "b.txt", utc(2024, 12, 31, 0, 0));
    set_write_time(program + "sub", utc(2025, 6, 7, 8, 9));
    DWORD exe_size = (DWORD)read_file(program + "10327.exe").size();

    std::string listing = dir + "\\log\\dirlst.txt";
    ASSERT_TRUE(write_file(listing, "old content\r\n"));
    std::string pattern1 = program + "*.*";
    std::string pattern2 = dir + "\\missing\\*.*";
    const char *patterns[2] = { pattern1.c_str(), pattern2.c_str() };
    write_directory_listing(listing.c_str(), (program + "10327.exe").c_str(), patterns, 2);

    std::string text = read_file(listing);
    EXPECT_EQ(std::string::npos, text.find("old content"));
    const std::string version = "[version]\r\nFileVersion=1.1.8.0\r\nSpecialBuild=20141208\r\n";
    ASSERT_EQ(0u, text.find(version)) << text;

    std::string header1 = "\r\nIndhold af : " + pattern1 + "\r\n\r\n";
    size_t at = text.find(header1);
    ASSERT_NE(std::string::npos, at) << text;
    std::string header2 = "\r\nIndhold af : " + pattern2 + "\r\n\r\n";
    size_t at2 = text.find(header2);
    ASSERT_NE(std::string::npos, at2) << text;
    EXPECT_EQ(text.size(), at2 + header2.size()) << "a missing folder gives the header alone";

    std::string body = text.substr(at + header1.size(), at2 - at - header1.size());
    const char *lines[] = {
        "02-01-2026   03:04             1234   a.dat\r\n",
        "31-12-2024   00:00                0   b.txt\r\n",
        "07-06-2025   08:09     <DIR>          sub\r\n",
    };
    for (const char *line : lines)
        EXPECT_NE(std::string::npos, body.find(line)) << line << "\nin\n" << body;
    EXPECT_NE(std::string::npos, body.find("     <DIR>          .\r\n"));
    EXPECT_NE(std::string::npos, body.find("     <DIR>          ..\r\n"));
    char summary[100];
    snprintf(summary, sizeof summary, "             6 fil(er)        %lu bytes\r\n",
             (unsigned long)(1234 + exe_size));
    EXPECT_EQ(body.size() - strlen(summary), body.find(summary)) << body;
}

TEST(DirectoryListing, MissingExecutableGivesEmptyVersionKeys)
{
    std::string dir = make_scratch_dir("dirlst_noexe");
    std::string listing = dir + "\\dirlst.txt";
    write_directory_listing(listing.c_str(), (dir + "\\99.exe").c_str(), NULL, 0);
    EXPECT_EQ("[version]\r\nFileVersion=\r\nSpecialBuild=\r\n", read_file(listing));
}
