/*
 * Zip packing and unpacking, cross-checked with independent readers and
 * writers on the machine underneath (Info-ZIP's zip and unzip, Python's
 * zipfile): entry names as given, DOS times equal to the files' last-write
 * times, creating and appending, unpacking with times and missing folders
 * (the current directory left alone), folder entries in any order, damaged
 * and hostile archives, and names too long for their buffers.
 */
#include "archive/checksum.h"
#include "archive/extract.h"
#include "archive/threads.h"
#include "archive/zip_write.h"
#include "support/packing.h"
#include "support/progress.h"
#include "support/message_box.h"
#include "resource.h"
#include "test_support.h"
#include "dialog_runner.h"
#include "driver.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

/* Runs a Python program with the archive and further arguments; answers
   its standard output (and error), and its status in *status. */
std::string python(const std::string &dir, const std::string &program, const std::string &args,
                   int *status = NULL)
{
    std::string script = dir + "\\check.py";
    std::string out = dir + "\\check.out";
    write_file(script, program);
    DeleteFileA(out.c_str());
    int s = run_unix("/usr/bin/python3 '" + unix_path(script) + "' " + args + " > '" + unix_path(out) +
                     "' 2>&1");
    if (status)
        *status = s;
    return read_file(out);
}

std::string q(const std::string &windows)
{
    return "'" + unix_path(windows) + "'";
}

/* The entry names, one a line, as Python's zipfile reads them. */
std::string names_of(const std::string &dir, const std::string &archive)
{
    return python(dir,
                  "import sys, zipfile\n"
                  "for i in zipfile.ZipFile(sys.argv[1]).infolist(): print(i.filename)\n",
                  q(archive));
}

FILETIME local_time(int year, int month, int day, int hour, int minute, int second)
{
    SYSTEMTIME st = {};
    st.wYear = (WORD)year;
    st.wMonth = (WORD)month;
    st.wDay = (WORD)day;
    st.wHour = (WORD)hour;
    st.wMinute = (WORD)minute;
    st.wSecond = (WORD)second;
    FILETIME local, utc;
    SystemTimeToFileTime(&st, &local);
    LocalFileTimeToFileTime(&local, &utc);
    return utc;
}

void set_write_time(const std::string &path, const FILETIME &time)
{
    HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING, 0, NULL);
    SetFileTime(h, NULL, NULL, &time);
    CloseHandle(h);
}

bool file_times(const std::string &path, FILETIME *created, FILETIME *written)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BOOL ok = GetFileTime(h, created, NULL, written);
    CloseHandle(h);
    return ok != FALSE;
}

bool same_time(const FILETIME &a, const FILETIME &b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

std::string some_bytes(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) {
        seed = seed * 1103515245u + 12345u;
        s[i] = (char)((seed >> 16) % 7 + 'a');   /* compressible, not trivial */
    }
    return s;
}

/* Changes the current directory for a test and back. */
struct InDirectory {
    char previous[MAX_PATH];
    explicit InDirectory(const std::string &dir)
    {
        GetCurrentDirectoryA(sizeof previous, previous);
        SetCurrentDirectoryA(dir.c_str());
    }
    ~InDirectory() { SetCurrentDirectoryA(previous); }
};

}  // namespace

TEST(ZipAddFile, CreatesThenAppendsAndAnotherReaderAgrees)
{
    std::string dir = make_scratch_dir("zip_append");
    InDirectory here(dir);
    std::string one = some_bytes(40000, 1), two = some_bytes(70000, 2);
    write_file(dir + "\\one.dat", one);
    write_file(dir + "\\two.dat", two);
    std::string archive = dir + "\\move.zip";

    EXPECT_EQ(0, zip_add_file(archive.c_str(), (dir + "\\one.dat").c_str(), "data\\one.dat"));
    EXPECT_EQ(0, zip_add_file(archive.c_str(), (dir + "\\two.dat").c_str(), "data\\two.dat"));
    EXPECT_EQ("data\\one.dat\ndata\\two.dat\n", names_of(dir, archive));
    EXPECT_EQ(0, test_archive(archive.c_str()));

    /* Python checks the CRCs and the method; Info-ZIP tests it as well. */
    int status = -1;
    std::string out = python(dir,
                             "import sys, zipfile\n"
                             "z = zipfile.ZipFile(sys.argv[1])\n"
                             "print(z.testzip())\n"
                             "print([i.compress_type for i in z.infolist()])\n"
                             "print(z.read('data\\\\one.dat') == open(sys.argv[2], 'rb').read())\n",
                             q(archive) + " " + q(dir + "\\one.dat"), &status);
    EXPECT_EQ("None\n[8, 8]\nTrue\n", out);
    EXPECT_EQ(0, run_unix("unzip -tqq " + q(archive) + " >/dev/null 2>&1"));
    remove_tree(dir);
}

TEST(ZipAddFile, ZipIsAppendedOnlyToANameWithoutAnyDot)
{
    std::string dir = make_scratch_dir("zip_names");
    InDirectory here(dir);
    write_file(dir + "\\f.dat", "data");
    EXPECT_EQ(0, zip_add_file("pakke", "f.dat", NULL));
    EXPECT_TRUE(file_exists(dir + "\\pakke.zip"));
    EXPECT_FALSE(file_exists(dir + "\\pakke"));
    make_dirs(dir + "\\log.d");
    EXPECT_EQ(0, zip_add_file("log.d\\pakke", "f.dat", NULL));
    EXPECT_TRUE(file_exists(dir + "\\log.d\\pakke"));
    EXPECT_FALSE(file_exists(dir + "\\log.d\\pakke.zip"));
    remove_tree(dir);
}

TEST(ZipAddFile, EntryNamesKeepDriveAndLoseLeadingBackslashes)
{
    std::string dir = make_scratch_dir("zip_entry_names");
    std::string file = dir + "\\kiro.ini";
    write_file(file, "[global]\r\ninsnr=7\r\n");
    std::string archive = dir + "\\support.zip";
    EXPECT_EQ(0, zip_add_file(archive.c_str(), file.c_str(), "\\\\skolen\\kiro\\ini\\kiro.ini"));
    EXPECT_EQ(0, zip_add_file(archive.c_str(), file.c_str(), "/ini/kiro.ini"));
    ScriptedBoxes boxes;
    EXPECT_EQ(0, pack_file(NULL, file.c_str(), archive.c_str()));
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ("skolen\\kiro\\ini\\kiro.ini\nini/kiro.ini\n" + file + "\n", names_of(dir, archive));
    remove_tree(dir);
}

TEST(ZipAddFile, EntryTimeIsTheFilesLastWriteTime)
{
    std::string dir = make_scratch_dir("zip_time");
    std::string file = dir + "\\t.dat";
    write_file(file, some_bytes(1000, 3));
    set_write_time(file, local_time(2014, 12, 8, 10, 20, 30));
    std::string archive = dir + "\\t.zip";
    ASSERT_EQ(0, zip_add_file(archive.c_str(), file.c_str(), "t.dat"));
    std::string out = python(dir,
                             "import sys, zipfile\n"
                             "print(zipfile.ZipFile(sys.argv[1]).infolist()[0].date_time)\n",
                             q(archive));
    EXPECT_EQ("(2014, 12, 8, 10, 20, 30)\n", out);
    remove_tree(dir);
}

TEST(ZipAddFile, UnreadableFileLeavesNoEntryAndPackFileTellsTheUser)
{
    std::string dir = make_scratch_dir("zip_unreadable");
    std::string archive = dir + "\\a.zip";
    write_file(dir + "\\ok.dat", "ok");
    ASSERT_EQ(0, zip_add_file(archive.c_str(), (dir + "\\ok.dat").c_str(), "ok.dat"));

    std::string locked = dir + "\\locked.dat";
    write_file(locked, "in use");
    HANDLE h = CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    ScriptedBoxes boxes;
    EXPECT_NE(0, pack_file(NULL, locked.c_str(), archive.c_str()));
    CloseHandle(h);
    ASSERT_EQ(1u, boxes.shown.size());
    /* The reason follows the file: a file held without sharing. */
    std::string prefix = "Fejl ved pakning af filen '" + locked + "'\n";
    EXPECT_EQ(prefix, boxes.shown[0].text.substr(0, prefix.size()));
    EXPECT_NE(std::string::npos, boxes.shown[0].text.find("(fejlkode 32)", prefix.size()));
    EXPECT_EQ("Fejl", boxes.shown[0].caption);
    EXPECT_EQ((UINT)MB_ICONERROR, boxes.shown[0].style);
    EXPECT_EQ("ok.dat\n", names_of(dir, archive));

    /* A missing file does not even create the archive. */
    EXPECT_NE(0, zip_add_file((dir + "\\new.zip").c_str(), (dir + "\\missing.dat").c_str(), NULL));
    EXPECT_FALSE(file_exists(dir + "\\new.zip"));
    remove_tree(dir);
}

TEST(ZipAddFile, PathsTooLongAreRefusedNotCut)
{
    std::string dir = make_scratch_dir("zip_long");
    InDirectory here(dir);
    write_file(dir + "\\f.dat", "x");
    std::string long_archive = std::string(252, 'a') + ".zip";       /* 256 characters */
    EXPECT_NE(0, zip_add_file(long_archive.c_str(), "f.dat", NULL));
    EXPECT_FALSE(file_exists(dir + "\\" + long_archive.substr(0, 255)));
    std::string long_entry = std::string(256, 'e');
    EXPECT_NE(0, zip_add_file("a.zip", "f.dat", long_entry.c_str()));
    EXPECT_FALSE(file_exists(dir + "\\a.zip"));
    EXPECT_EQ(0, zip_add_file("a.zip", "f.dat", std::string(255, 'e').c_str()));
    EXPECT_NE(0, unzip_archive(long_archive.c_str(), dir.c_str()));
    remove_tree(dir);
}

TEST(PackMatchingFiles, RelativeEntriesStatusAndOneStepPerFile)
{
    std::string dir = make_scratch_dir("zip_matching");
    std::string base = dir + "\\Data\\";
    make_dirs(base + "data\\sub.dat");
    write_file(base + "data\\a.dat", some_bytes(3000, 4));
    write_file(base + "data\\b.dat", some_bytes(3000, 5));
    write_file(base + "data\\c.txt", "not packed");
    write_file(base + "kiro.ini", "[global]");
    std::string archive = dir + "\\move.zip";
    BarRecord bars = run_in_dialog([&](HWND dialog) {
        progress_set_range(dialog, IDC_OVERALL_BAR, 3);
        pack_matching_files(dialog, base.c_str(), "data\\*.dat", archive.c_str());
        pack_matching_files(dialog, base.c_str(), "*.ini", archive.c_str());
    });
    EXPECT_EQ(3, bars.overall_steps);
    EXPECT_EQ("Pakker filen: kiro.ini", bars.status);
    std::string names = names_of(dir, archive);
    EXPECT_NE(std::string::npos, names.find("data\\a.dat\n"));
    EXPECT_NE(std::string::npos, names.find("data\\b.dat\n"));
    EXPECT_NE(std::string::npos, names.find("kiro.ini\n"));
    EXPECT_EQ(std::string::npos, names.find("sub.dat"));
    EXPECT_EQ(std::string::npos, names.find("c.txt"));
    remove_tree(dir);
}

TEST(PackMatchingFiles, AFileHeldOpenIsLeftOutAnyOtherFailureEndsThePacking)
{
    std::string dir = make_scratch_dir("zip_matching_failure");
    std::string base = dir + "\\Data\\";
    make_dirs(base + "data");
    write_file(base + "data\\a.dat", "a");
    write_file(base + "data\\b.dat", "b");
    write_file(base + "data\\held.dat", "in use");
    HANDLE held = CreateFileA((base + "data\\held.dat").c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL,
                              OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    std::string archive = dir + "\\move.zip", nowhere = dir + "\\missing\\move.zip";
    int left_out = -1, failed = 0;
    BarRecord bars = run_in_dialog([&](HWND dialog) {
        progress_set_range(dialog, IDC_OVERALL_BAR, 5);
        left_out = pack_matching_files(dialog, base.c_str(), "data\\*.dat", archive.c_str());
        failed = pack_matching_files(dialog, base.c_str(), "data\\?.dat", nowhere.c_str());
    });
    CloseHandle(held);
    EXPECT_EQ(0, left_out);
    std::string names = names_of(dir, archive);
    EXPECT_NE(std::string::npos, names.find("data\\a.dat\n"));
    EXPECT_NE(std::string::npos, names.find("data\\b.dat\n"));
    EXPECT_EQ(std::string::npos, names.find("held"));
    EXPECT_NE(0, failed);
    EXPECT_EQ(4, bars.overall_steps) << "the archive that cannot be made ends the packing at once";
    remove_tree(dir);
}

TEST(UnzipArchive, RestoresContentsTimesAndMissingFolders)
{
    std::string dir = make_scratch_dir("unzip_restore");
    std::string src = dir + "\\src";
    make_dirs(src);
    std::string a = some_bytes(150000, 6), b = some_bytes(10, 7);
    write_file(src + "\\a.dat", a);
    write_file(src + "\\b.dat", b);
    FILETIME when = local_time(2013, 6, 1, 8, 15, 42);
    set_write_time(src + "\\a.dat", when);
    std::string archive = dir + "\\move.zip";
    ASSERT_EQ(0, zip_add_file(archive.c_str(), (src + "\\a.dat").c_str(), "data\\deep\\a.dat"));
    /* An absolute name whose folders do not exist yet. */
    std::string absolute = dir + "\\elsewhere\\x\\y\\b.dat";
    ASSERT_EQ(0, zip_add_file(archive.c_str(), (src + "\\b.dat").c_str(), absolute.c_str()));

    std::string target = dir + "\\target";
    make_dirs(target);
    write_file(target + "\\stale.dat", "stays");
    char previous[MAX_PATH], current[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    EXPECT_EQ(0, unzip_archive(archive.c_str(), target.c_str()));
    GetCurrentDirectoryA(sizeof current, current);
    EXPECT_STREQ(previous, current);   /* entries are placed by path, never by changing directory */

    EXPECT_EQ(a, read_file(target + "\\data\\deep\\a.dat"));
    EXPECT_EQ(b, read_file(absolute));
    EXPECT_EQ("stays", read_file(target + "\\stale.dat"));
    FILETIME created, written;
    ASSERT_TRUE(file_times(target + "\\data\\deep\\a.dat", &created, &written));
    EXPECT_TRUE(same_time(when, written));
    EXPECT_TRUE(same_time(when, created));

    /* The archive is found without its ".zip" too; missing archive: -3. */
    EXPECT_EQ(0, unzip_archive((dir + "\\move").c_str(), target.c_str()));
    EXPECT_EQ(-3, unzip_archive((dir + "\\none.zip").c_str(), target.c_str()));
    EXPECT_EQ(-3, unzip_archive("", target.c_str()));
    EXPECT_NE(0, unzip_archive(archive.c_str(), (dir + "\\no-such-dir").c_str()));
    remove_tree(dir);
}

TEST(UnzipArchive, ArchiveFromInfoZipUnpacksHere)
{
    std::string dir = make_scratch_dir("unzip_infozip");
    std::string tree = dir + "\\tree";
    make_dirs(tree + "\\data\\empty");
    std::string a = some_bytes(200000, 8), b = some_bytes(5, 9);
    write_file(tree + "\\data\\a.dat", a);
    write_file(tree + "\\kiro.ini", b);
    ASSERT_EQ(0, run_unix("cd " + q(tree) + " && zip -qr " + q(dir + "\\info.zip") + " data kiro.ini"));
    std::string target = dir + "\\target";
    make_dirs(target);
    EXPECT_EQ(0, unzip_archive((dir + "\\info.zip").c_str(), target.c_str()));
    EXPECT_EQ(a, read_file(target + "\\data\\a.dat"));
    EXPECT_EQ(b, read_file(target + "\\kiro.ini"));
    DWORD attributes = GetFileAttributesA((target + "\\data\\empty").c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(0, test_archive((dir + "\\info.zip").c_str()));
    remove_tree(dir);
}

TEST(UnzipArchive, FolderEntriesAreMadeWithTheirParentsInAnyOrder)
{
    std::string dir = make_scratch_dir("unzip_folders");
    std::string archive = dir + "\\folders.zip";
    /* A folder entry before its parent's, and one whose parents are no
       entries at all. */
    int status = -1;
    std::string out = python(dir,
                             "import sys, zipfile\n"
                             "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
                             "for n in ('data/empty/', 'data/', 'log/old/2014/'):\n"
                             "    z.writestr(zipfile.ZipInfo(n), b'')\n"
                             "z.writestr('data/a.dat', b'a')\n"
                             "z.close()\n",
                             q(archive), &status);
    ASSERT_EQ(0, status) << out;
    for (unsigned threads : { 1u, 4u }) {
        set_zip_threads(threads);
        std::string target = dir + "\\target" + std::to_string(threads);
        make_dirs(target);
        EXPECT_EQ(0, unzip_archive(archive.c_str(), target.c_str()));
        for (const char *folder : { "\\data\\empty", "\\log\\old\\2014" }) {
            DWORD attributes = GetFileAttributesA((target + folder).c_str());
            EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
                << threads << " threads: " << folder;
        }
        /* A folder that cannot be made (a file of its parent's name is in
           the way) fails the extraction. */
        std::string blocked = dir + "\\blocked" + std::to_string(threads);
        make_dirs(blocked);
        write_file(blocked + "\\log", "a file, not a folder");
        EXPECT_EQ(UNZIP_NOT_WRITTEN, unzip_archive(archive.c_str(), blocked.c_str())) << threads << " threads";
    }
    set_zip_threads(0);
    remove_tree(dir);
}

TEST(UnzipArchive, DamagedThirdEntryStopsWithAFailure)
{
    std::string dir = make_scratch_dir("unzip_damaged");
    std::string archive = dir + "\\damaged.zip";
    /* Four stored entries; a byte in the middle of the third one's data is
       changed, so its CRC no longer matches. */
    int status = -1;
    std::string out = python(dir,
                             "import sys, zipfile\n"
                             "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_STORED)\n"
                             "for n in ('one', 'two', 'three', 'four'):\n"
                             "    z.writestr(n + '.dat', (n * 5000).encode())\n"
                             "z.close()\n"
                             "z = zipfile.ZipFile(sys.argv[1])\n"
                             "i = z.getinfo('three.dat')\n"
                             "data = bytearray(open(sys.argv[1], 'rb').read())\n"
                             "at = i.header_offset + 30 + len(i.filename) + 1000\n"
                             "data[at] ^= 0x55\n"
                             "open(sys.argv[1], 'wb').write(data)\n",
                             q(archive), &status);
    ASSERT_EQ(0, status) << out;
    std::string target = dir + "\\target";
    make_dirs(target);
    std::string one, two;
    for (int i = 0; i < 5000; i++) {
        one += "one";
        two += "two";
    }
    /* One thread stops at the damaged entry. */
    set_zip_threads(1);
    EXPECT_NE(0, unzip_archive(archive.c_str(), target.c_str()));
    set_zip_threads(0);
    EXPECT_EQ(one, read_file(target + "\\one.dat"));
    EXPECT_EQ(two, read_file(target + "\\two.dat"));
    EXPECT_FALSE(file_exists(target + "\\four.dat"));
    EXPECT_NE(0, test_archive(archive.c_str()));

    /* Several threads refuse it the same way: the damaged entry named,
       every entry before it whole. */
    std::string placed = dir + "\\placed";
    make_dirs(placed);
    auto place = [](const char *name, char *out, size_t size, void *c) -> bool {
        return snprintf(out, size, "%s\\%s", (const char *)c, name) < (int)size;
    };
    ArchiveSurvey survey;
    ASSERT_EQ(0, survey_archive(archive.c_str(), place, (void *)placed.c_str(), &survey));
    int code_one = 0;
    for (unsigned threads : { 1u, 4u }) {
        set_zip_threads(threads);
        size_t failed = 99;
        int code = extract_surveyed(archive.c_str(), &survey, &failed);
        if (threads == 1)
            code_one = code;
        EXPECT_NE(0, code);
        EXPECT_EQ(code_one, code);
        EXPECT_EQ(2u, failed);
        EXPECT_EQ(one, read_file(placed + "\\one.dat"));
        EXPECT_EQ(two, read_file(placed + "\\two.dat"));
    }
    set_zip_threads(0);

    /* Cut short: the archive cannot be read at all. */
    std::string whole = read_file(archive);
    write_file(dir + "\\short.zip", whole.substr(0, whole.size() / 2));
    EXPECT_NE(0, test_archive((dir + "\\short.zip").c_str()));
    EXPECT_NE(0, unzip_archive((dir + "\\short.zip").c_str(), target.c_str()));
    remove_tree(dir);
}

TEST(UnzipArchive, EntryClimbingOutOfTheTargetIsRefused)
{
    std::string dir = make_scratch_dir("unzip_climb");
    std::string archive = dir + "\\hostile.zip";
    int status = -1;
    std::string out = python(dir,
                             "import sys, zipfile\n"
                             "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
                             "z.writestr('ok.dat', b'fine')\n"
                             "z.writestr('data/../../evil.dat', b'evil')\n"
                             "z.close()\n",
                             q(archive), &status);
    ASSERT_EQ(0, status) << out;
    std::string target = dir + "\\a\\target";
    make_dirs(target);
    EXPECT_EQ(UNZIP_REFUSED, unzip_archive(archive.c_str(), target.c_str()));
    ArchiveSurvey survey;
    EXPECT_EQ(UNZIP_REFUSED, survey_archive(archive.c_str(), NULL, NULL, &survey));
    EXPECT_STREQ("data/../../evil.dat", survey.refused);   /* the entry itself, not the one before */
    /* refused before anything is written, the harmless entry too */
    EXPECT_FALSE(file_exists(target + "\\ok.dat"));
    EXPECT_FALSE(file_exists(dir + "\\evil.dat"));
    EXPECT_FALSE(file_exists(dir + "\\a\\evil.dat"));
    remove_tree(dir);
}

TEST(UnzipArchive, PlacerChoosesEveryTarget)
{
    std::string dir = make_scratch_dir("unzip_placed");
    std::string file = dir + "\\f.dat";
    write_file(file, "placed");
    std::string archive = dir + "\\p.zip";
    ASSERT_EQ(0, zip_add_file(archive.c_str(), file.c_str(), "C:\\Skema\\Data\\data\\f.dat"));
    ASSERT_EQ(0, zip_add_file(archive.c_str(), file.c_str(), "refuse.dat"));
    std::string target = dir + "\\here";
    make_dirs(target);
    struct Context {
        std::string root;
        std::vector<std::string> asked;
    } context = { target, {} };
    EntryPlacer placer = [](const char *name, char *out, size_t size, void *c) -> bool {
        Context *ctx = (Context *)c;
        ctx->asked.push_back(name);
        if (strcmp(name, "refuse.dat") == 0)
            return false;
        std::string placed = ctx->root + "\\" + (strrchr(name, '\\') + 1);
        if (placed.size() >= size)
            return false;
        strcpy(out, placed.c_str());
        return true;
    };
    /* One entry refused: the survey stops the archive before a byte is
       written, and names the refused entry. */
    ArchiveSurvey survey;
    EXPECT_EQ(UNZIP_REFUSED, survey_archive(archive.c_str(), placer, &context, &survey));
    EXPECT_STREQ("refuse.dat", survey.refused);
    EXPECT_NE(0, unzip_archive_placed(archive.c_str(), placer, &context));
    EXPECT_FALSE(file_exists(target + "\\f.dat"));
    EXPECT_FALSE(file_exists(target + "\\refuse.dat"));
    ASSERT_EQ(4u, context.asked.size());
    EXPECT_EQ("C:\\Skema\\Data\\data\\f.dat", context.asked[0]);

    /* All placed: each lands where the placer says, the current directory
       untouched. */
    std::string good = dir + "\\good.zip";
    ASSERT_EQ(0, zip_add_file(good.c_str(), file.c_str(), "C:\\Skema\\Data\\data\\f.dat"));
    char before[MAX_PATH], after[MAX_PATH];
    GetCurrentDirectoryA(sizeof before, before);
    EXPECT_EQ(0, unzip_archive_placed(good.c_str(), placer, &context));
    GetCurrentDirectoryA(sizeof after, after);
    EXPECT_STREQ(before, after);
    EXPECT_EQ("placed", read_file(target + "\\f.dat"));
    remove_tree(dir);
}

TEST(UnzipArchive, CraftedArchivesAreRefusedOrFailWhole)
{
    std::string dir = make_scratch_dir("unzip_crafted");
    std::string target = dir + "\\target";
    make_dirs(target);
    auto place = [](const char *name, char *out, size_t size, void *c) -> bool {
        const char *bare = strrchr(name, '\\');
        return snprintf(out, size, "%s\\%s", (const char *)c, bare ? bare + 1 : name) < (int)size;
    };

    /* 200 directory records with names of their own, all pointing at one
       local header: 18 KB that would unpack to a gigabyte. */
    std::string bomb = dir + "\\bomb.zip";
    int status = -1;
    std::string out = python(dir,
                             "import sys, zipfile, struct\n"
                             "name = 'C:\\\\pc\\\\data\\\\t%03d.dat'\n"
                             "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
                             "z.writestr(name % 0, bytes(5242880))\n"
                             "z.close()\n"
                             "d = open(sys.argv[1], 'rb').read()\n"
                             "c = d.find(b'PK\\x01\\x02'); e = d.find(b'PK\\x05\\x06')\n"
                             "rec = d[c:e]; n = struct.unpack_from('<H', rec, 28)[0]\n"
                             "central = b''.join(rec[:46] + (name % k).encode() + rec[46 + n:] for k in range(200))\n"
                             "end = bytearray(d[e:]); struct.pack_into('<HHII', end, 8, 200, 200, len(central), c)\n"
                             "open(sys.argv[1], 'wb').write(d[:c] + central + end)\n",
                             q(bomb), &status);
    ASSERT_EQ(0, status) << out;
    ArchiveSurvey survey;
    EXPECT_EQ(UNZIP_OVERLAP, survey_archive(bomb.c_str(), place, (void *)target.c_str(), &survey));
    EXPECT_STREQ("C:\\pc\\data\\t001.dat", survey.refused);
    EXPECT_NE(0, unzip_archive_placed(bomb.c_str(), place, (void *)target.c_str()));
    EXPECT_FALSE(file_exists(target + "\\t000.dat"));

    /* An entry of 11 real bytes that claims 7000 and a CRC it does not have:
       the stream ends early, which the library does not catch. */
    std::string cut = dir + "\\cut.zip";
    out = python(dir,
                 "import sys, zipfile, struct\n"
                 "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
                 "z.writestr('kort.dat', b'elleve byte')\n"
                 "z.close()\n"
                 "d = bytearray(open(sys.argv[1], 'rb').read())\n"
                 "c = d.find(b'PK\\x01\\x02')\n"
                 "for at in (14, c + 16): struct.pack_into('<I', d, at, 0x12345678)\n"
                 "for at in (22, c + 24): struct.pack_into('<I', d, at, 7000)\n"
                 "open(sys.argv[1], 'wb').write(d)\n",
                 q(cut), &status);
    ASSERT_EQ(0, status) << out;
    ASSERT_EQ(0, survey_archive(cut.c_str(), place, (void *)target.c_str(), &survey));
    EXPECT_EQ(7000u, survey.total);
    EXPECT_EQ(UNZIP_SHORT, extract_surveyed(cut.c_str(), &survey, NULL));
    EXPECT_NE(0, test_archive(cut.c_str()));
    remove_tree(dir);
}

TEST(MakePath, CreatesEveryMissingFolder)
{
    std::string dir = make_scratch_dir("make_path");
    EXPECT_EQ(0, make_path(""));
    EXPECT_EQ(1, make_path((dir + "\\a\\b/c/").c_str()));
    DWORD attributes = GetFileAttributesA((dir + "\\a\\b\\c").c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(1, make_path((dir + "\\a\\b").c_str()));
    remove_tree(dir);
}

namespace {
HWND g_packing_dialog;
bool g_visible_during_box = true;
int hidden_check_box(HWND owner, const char *text, const char *caption, UINT style)
{
    g_visible_during_box = IsWindowVisible(g_packing_dialog) != FALSE;
    return IDOK;
}
}  // namespace

TEST(PackFile, DialogIsHiddenWhileTheErrorShowsAndBackAfter)
{
    std::string dir = make_scratch_dir("pack_hidden");
    bool visible_after = false;
    int code = 0;
    set_message_box_hook(hidden_check_box);
    run_in_dialog([&](HWND dialog) {
        g_packing_dialog = dialog;
        code = pack_file(dialog, (dir + "\\missing.dat").c_str(), (dir + "\\a.zip").c_str());
        visible_after = IsWindowVisible(dialog) != FALSE;
    });
    set_message_box_hook(NULL);
    EXPECT_NE(0, code);
    EXPECT_FALSE(g_visible_during_box);
    EXPECT_TRUE(visible_after);
    remove_tree(dir);
}
