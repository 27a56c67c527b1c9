/*
 * The power-cut file system itself, driven by the Win32 calls the menu
 * makes (under Wine): after a cut a new name, a replacing rename, a
 * deletion and a new folder survive only when their folder was flushed,
 * and a rename between folders only with the earlier changes of both.
 */
#include <gtest/gtest.h>
#include "driver.h"
#include "drive_fixture.h"
#include "test_support.h"

#include <windows.h>
#include <string>

namespace {

/* One powercutfs mount over a backing folder of its own. */
struct CutMount {
    std::string root = build_unix_dir() + "/powercut/fs-test";
    std::string backing = root + "/backing", mount = root + "/mnt", control = root + "/control";

    bool start(const std::string &prepare)
    {
        return run_unix("rm -rf " + shell_quote(root) + " && mkdir -p " + shell_quote(backing) + " " +
                        shell_quote(mount) + " && cd " + shell_quote(backing) + " && " + prepare + " && " +
                        shell_quote(build_unix_dir() + "/powercut/powercutfs") + " " + shell_quote(backing) + " " +
                        shell_quote(mount) + " --control=" + shell_quote(control)) == 0;
    }
    /* Cuts the power and unmounts; the stat that fails has had the file
       system undo what was pending first. */
    bool cut_and_stop()
    {
        HANDLE f = CreateFileA(windows_path(control).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               NULL, OPEN_EXISTING, 0, NULL);
        int one = 1;
        DWORD written = 0;
        bool cut = f != INVALID_HANDLE_VALUE && SetFilePointer(f, 16, NULL, FILE_BEGIN) == 16 &&
                   WriteFile(f, &one, sizeof one, &written, NULL) && written == sizeof one;
        if (f != INVALID_HANDLE_VALUE)
            CloseHandle(f);
        return cut && run_unix("! stat " + shell_quote(mount) + " >/dev/null 2>&1 && fusermount3 -u " +
                               shell_quote(mount)) == 0;
    }
    std::string at(const std::string &name) const { return windows_path(mount + "/" + name); }
    std::string kept(const std::string &name) const { return read_file(windows_path(backing + "/" + name)); }
    bool exists(const std::string &name) const { return file_exists(windows_path(backing + "/" + name)); }
    ~CutMount() { run_unix("fusermount3 -u " + shell_quote(mount) + " 2>/dev/null; rm -rf " + shell_quote(root)); }
};

bool flush(const std::string &path, bool folder)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, folder ? FILE_FLAG_BACKUP_SEMANTICS : 0, NULL);
    bool flushed = h != INVALID_HANDLE_VALUE && FlushFileBuffers(h);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    return flushed;
}

bool put(const std::string &path, const std::string &content)
{
    return write_file(path, content) && flush(path, false);
}

/* The same changes, with the folders flushed or not, then a cut. */
void change_and_cut(CutMount &m, bool flush_folders)
{
    ASSERT_TRUE(m.start("mkdir d s && printf old > d/old && printf x > d/gone"));
    ASSERT_TRUE(put(m.at("d/new"), "new"));
    ASSERT_TRUE(put(m.at("d/old.~1"), "replaced"));
    ASSERT_TRUE(MoveFileExA(m.at("d/old.~1").c_str(), m.at("d/old").c_str(), MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(DeleteFileA(m.at("d/gone").c_str()));
    ASSERT_TRUE(put(m.at("s/x"), "moved"));
    ASSERT_TRUE(MoveFileExA(m.at("s/x").c_str(), m.at("d/x").c_str(), 0));
    ASSERT_TRUE(put(m.at("s/later"), "later"));
    ASSERT_TRUE(CreateDirectoryA(m.at("e").c_str(), NULL));
    ASSERT_TRUE(put(m.at("e/f"), "f"));
    ASSERT_TRUE(flush(m.at("e"), true));
    if (flush_folders) {
        ASSERT_TRUE(flush(m.at("d"), true));
        ASSERT_TRUE(flush(windows_path(m.mount), true));
    }
    ASSERT_TRUE(m.cut_and_stop());
}

TEST(PowerCutFs, ChangesOfFoldersNotFlushedAreLost)
{
    CutMount m;
    change_and_cut(m, false);
    EXPECT_FALSE(m.exists("d/new"));
    EXPECT_EQ("old", m.kept("d/old"));
    EXPECT_EQ("x", m.kept("d/gone"));
    EXPECT_FALSE(m.exists("d/x"));
    EXPECT_FALSE(m.exists("s/x"));   /* its creation was lost with the rename */
    EXPECT_FALSE(m.exists("e"));     /* the folder's own name was never flushed */
}

TEST(PowerCutFs, FlushedFoldersKeepTheirChangesInOrder)
{
    CutMount m;
    change_and_cut(m, true);
    EXPECT_EQ("new", m.kept("d/new"));
    EXPECT_EQ("replaced", m.kept("d/old"));
    EXPECT_FALSE(m.exists("d/old.~1"));
    EXPECT_FALSE(m.exists("d/gone"));
    EXPECT_EQ("moved", m.kept("d/x"));
    EXPECT_FALSE(m.exists("s/x"));
    EXPECT_FALSE(m.exists("s/later"));   /* s itself was never flushed */
    EXPECT_EQ("f", m.kept("e/f"));
}

}  // namespace
