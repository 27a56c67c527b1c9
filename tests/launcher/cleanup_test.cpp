/*
 * Old-version clean-up: when it is due, and which files it removes.
 */
#include <gtest/gtest.h>
#include "test_support.h"
#include "shell/cleanup.h"

#include <string>
#include <vector>

static const char *const OLD_NAMES[] = {
    "10324.exe", "10324.hlp", "10324.cnt", "10324.gid", "10324.fts", "ep10324.exe", "opd10324.exe",
    "opd10324.zip", "ini10324.zip", "prg10324.zip",
    "10325.exe", "10325.hlp", "10325.cnt", "10325.gid", "10325.fts", "ep10325.exe", "opd10325.exe",
    "opd10325.zip", "ini10325.zip", "prg10325.zip",
    "10326.exe", "10326.hlp", "10326.cnt", "10326.chm", "10326.hhc", "10326.gid", "10326.fts",
    "ep10326.exe", "opd10326.exe", "opd10326.zip", "ini10326.zip", "prg10326.zip",
    "10327.exe", "10327.chm", "10327.hhc", "ep10327.exe", "opd10327.exe", "opd10327.zip",
    "ini10327.zip", "prg10327.zip",
};

static std::string upper(std::string s)
{
    for (char &c : s)
        c = (char)toupper((unsigned char)c);
    return s;
}

/* A program directory holding every old file (even-numbered ones in upper
   case), the marker and the two packages of version, and keepers. */
static std::string old_installation(const char *name, int version, bool marker)
{
    std::string dir = make_scratch_dir(name) + "\\";
    int i = 0;
    for (const char *old : OLD_NAMES)
        write_file(dir + (i++ % 2 ? std::string(old) : upper(old)), "old");
    std::string v = std::to_string(version);
    if (marker)
        write_file(dir + "Opd" + v + ".exe", "marker");
    write_file(dir + "Opd" + v + ".zip", "z");
    write_file(dir + "Prg" + v + ".zip", "z");
    write_file(dir + "kiromenu.exe", "keep");
    write_file(dir + "10328.exe", "keep");
    write_file(dir + "opd10329.exe", "keep");
    return dir;
}

static std::vector<std::string> present(const std::string &dir)
{
    std::vector<std::string> names;
    for (const char *old : OLD_NAMES)
        if (file_exists(dir + old))
            names.push_back(old);
    return names;
}

TEST(Cleanup, MarkerAbsentDeletesNothing)
{
    std::string dir = old_installation("nomarker", 10328, false);
    run_cleanup_if_due(dir.c_str(), 10328);
    EXPECT_EQ(sizeof OLD_NAMES / sizeof *OLD_NAMES, present(dir).size());
    EXPECT_TRUE(file_exists(dir + "Opd10328.zip"));
}

TEST(Cleanup, StationBelowTheVersionDeletesNothing)
{
    std::string dir = old_installation("below", 10328, true);
    write_file(dir + "START.LOG", "01,10328,A\r\n02,10326,B\r\n");
    EXPECT_FALSE(cleanup_due(dir.c_str(), 10328));
    run_cleanup_if_due(dir.c_str(), 10328);
    EXPECT_EQ(sizeof OLD_NAMES / sizeof *OLD_NAMES, present(dir).size());
    EXPECT_TRUE(file_exists(dir + "Opd10328.exe"));
}

TEST(Cleanup, ReadOnlyMarkerIsNotAMarker)
{
    std::string dir = old_installation("romarker", 10328, true);
    SetFileAttributesA((dir + "Opd10328.exe").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(cleanup_due(dir.c_str(), 10328));
}

TEST(Cleanup, EmptyStartLogDeletesEverything)
{
    std::string dir = old_installation("empty", 10328, true);
    write_file(dir + "START.LOG", "");
    EXPECT_TRUE(cleanup_due(dir.c_str(), 10328));
    run_cleanup_if_due(dir.c_str(), 10328);
    EXPECT_EQ(std::vector<std::string>{}, present(dir));
    EXPECT_FALSE(file_exists(dir + "Opd10328.exe"));
    EXPECT_FALSE(file_exists(dir + "Opd10328.zip"));
    EXPECT_FALSE(file_exists(dir + "Prg10328.zip"));
    EXPECT_TRUE(file_exists(dir + "kiromenu.exe"));
    EXPECT_TRUE(file_exists(dir + "10328.exe"));
    EXPECT_TRUE(file_exists(dir + "opd10329.exe"));
    EXPECT_TRUE(file_exists(dir + "START.LOG"));
    /* The marker is gone, so the next start does nothing. */
    EXPECT_FALSE(cleanup_due(dir.c_str(), 10328));
}

TEST(Cleanup, StationsAtTheVersionAllowIt)
{
    std::string dir = old_installation("equal", 10328, true);
    write_file(dir + "START.LOG", "01,10328,A\r\n02,10330,B\r\n");
    run_cleanup_if_due(dir.c_str(), 10328);
    EXPECT_EQ(std::vector<std::string>{}, present(dir));
}

TEST(Cleanup, FilesOfTheConfiguredVersionSurvive)
{
    std::string dir = old_installation("own", 10327, true);
    write_file(dir + "START.LOG", "01,10327,A\r\n");
    run_cleanup_if_due(dir.c_str(), 10327);
    std::vector<std::string> left = present(dir);
    /* The marker and the two packages of the version (opd10327.exe,
       opd10327.zip, prg10327.zip in other letter case) go in the last step. */
    EXPECT_EQ((std::vector<std::string>{ "10327.exe", "10327.chm", "10327.hhc", "ep10327.exe",
                                         "ini10327.zip" }),
              left);
    EXPECT_FALSE(file_exists(dir + "10326.exe"));
}
