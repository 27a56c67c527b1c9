/*
 * The questions of the two moves as the user sees them: caption, buttons,
 * icon and default button, read in-process through the message-box hook
 * while the move dialogs run in this test over a tmpfs drive E:.
 */
#include <gtest/gtest.h>
#include "driver.h"
#include "drive_fixture.h"
#include "test_support.h"
#include "support/settings.h"
#include "transfer/move_to_device.h"
#include "transfer/move_to_hard_disk.h"
#include "transfer/transfer_set.h"

#include <string>

namespace {

const char *const LIVE_SET =
    "[global]\r\ninsnr=7\r\nversion=10327\r\ndisknr=1\r\nantaldiske=1\r\nskemal\xE5st=nej\r\n";
/* The last disk of a set whose PC was cut off between its lock and this
   mark: perhaps the only copy of the data. */
const char *const UNMARKED_SET = "[global]\r\ninsnr=7\r\nversion=10327\r\ndisknr=1\r\nantaldiske=1\r\n";
const char *const STALE_SET =
    "[global]\r\ninsnr=7\r\nversion=10327\r\ndisknr=1\r\nantaldiske=1\r\nskemal\xE5st=ja\r\n";

/* This process as a PC of installation 7 with its move drive E:. */
void become_pc(const char *name, bool locked)
{
    std::string dir = make_scratch_dir(name) + "\\";
    make_dirs(dir + "data");
    make_dirs(dir + "ini");
    write_file(dir + "data\\elev.dat", "elever");
    write_file(dir + "ini\\kiro.ini", std::string("[global]\r\ninsnr=7\r\nversion=10327\r\nskemal\xE5st=") +
                                          (locked ? "ja" : "nej") + "\r\nsuperkiro=nej\r\nflytdrev=e:\r\n");
    g_settings.instance = GetModuleHandleA(NULL);
    strcpy(g_settings.data_dir, dir.c_str());
    strcpy(g_settings.config_path, (dir + "ini\\kiro.ini").c_str());
    g_settings.installation = 7;
    g_settings.version = 10327;
    strcpy(g_settings.super_setting, "nej");
    strcpy(g_settings.move_drive, "e:");
    g_settings.schedule_locked = locked;
    set_transfer_paths("e:", 7);
}

const UINT GUARD_STYLE = MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2;

}  // namespace

TEST(TransferBoxes, GuardQuestionsAreWarningsWithNoAsDefault)
{
    ScopedTmpfs fs("boxes", 1024 * 1024);
    ASSERT_FALSE(fs.dir.empty());
    ASSERT_TRUE(make_dirs(windows_path(fs.dir + "/KIRO-Flyt7")));
    std::string flyt = windows_path(fs.dir + "/KIRO-Flyt7/flyt.ini");
    ScopedDrive drive('e', DRIVE_REMOVABLE, fs.dir);

    for (const char *set : { LIVE_SET, UNMARKED_SET }) {
        SCOPED_TRACE(set);
        ASSERT_TRUE(write_file(flyt, set));
        become_pc("boxes_out", false);
        {
            ScriptedBoxes boxes({ IDNO });
            run_move_to_device(NULL);
            ASSERT_EQ(1u, boxes.shown.size());
            EXPECT_EQ("Advarsel!", boxes.shown[0].caption);
            EXPECT_EQ(GUARD_STYLE, boxes.shown[0].style);
            EXPECT_TRUE(boxes.shown[0].owner != NULL);
        }
        EXPECT_EQ(set, read_file(flyt));
        EXPECT_FALSE(g_settings.schedule_locked);
        EXPECT_FALSE(file_exists(std::string(g_settings.data_dir) + "Data.zip"));
    }

    ASSERT_TRUE(write_file(flyt, STALE_SET));
    become_pc("boxes_back", true);
    {
        ScriptedBoxes boxes({ IDNO });
        run_move_to_hard_disk(NULL);
        ASSERT_EQ(1u, boxes.shown.size());
        EXPECT_EQ("Advarsel!", boxes.shown[0].caption);
        EXPECT_EQ(GUARD_STYLE, boxes.shown[0].style);
    }
    EXPECT_TRUE(g_settings.schedule_locked);
    EXPECT_EQ(STALE_SET, read_file(flyt));
}

TEST(TransferBoxes, RefusalsOnTheWayBackAreErrorsAndNoticesAsWritten)
{
    ScopedTmpfs fs("boxes_refuse", 1024 * 1024);
    ASSERT_FALSE(fs.dir.empty());
    ASSERT_TRUE(make_dirs(windows_path(fs.dir + "/KIRO-Flyt7")));
    std::string flyt = windows_path(fs.dir + "/KIRO-Flyt7/flyt.ini");
    ScopedDrive drive('e', DRIVE_REMOVABLE, fs.dir);
    become_pc("boxes_refuse", true);

    struct Case { const char *ini; const char *caption; UINT style; };
    Case cases[] = {
        { NULL, "Information", MB_OK | MB_ICONINFORMATION },
        { "[global]\r\ninsnr=8\r\nversion=10327\r\n", "Fejl", MB_OK | MB_ICONERROR },
        { "[global]\r\ninsnr=7\r\nversion=10400\r\n", "Fejl", MB_OK | MB_ICONERROR },
        /* a set whose volume is missing: the unpacking is refused */
        { LIVE_SET, "Fejl", MB_ICONWARNING },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.ini ? c.ini : "no flyt.ini");
        if (c.ini)
            ASSERT_TRUE(write_file(flyt, c.ini));
        else
            DeleteFileA(flyt.c_str());
        ScriptedBoxes boxes;
        run_move_to_hard_disk(NULL);
        ASSERT_FALSE(boxes.shown.empty());
        EXPECT_EQ(c.caption, boxes.shown.back().caption) << boxes.shown.back().text;
        EXPECT_EQ(c.style, boxes.shown.back().style) << boxes.shown.back().text;
        EXPECT_TRUE(g_settings.schedule_locked);
    }
}

TEST(TransferBoxes, LockFileIsNeverPackedAndStopsTheMoveAfterPacking)
{
    /* The schedule program started on another station while the data were
       packed: its lock file stays out of the archive, and the move stops
       before anything is written to the disk. */
    ScopedTmpfs fs("boxes_lock", 1024 * 1024);
    ASSERT_FALSE(fs.dir.empty());
    ScopedDrive drive('e', DRIVE_REMOVABLE, fs.dir);
    become_pc("boxes_lock", false);
    std::string d = g_settings.data_dir;
    ASSERT_TRUE(write_file(d + "ini\\kiro.lck", ""));
    ScriptedBoxes boxes;
    ASSERT_TRUE(pack_move_archive(NULL));
    EXPECT_EQ(0, run_unix("unzip -l '" + unix_path(d + "Data.zip") + "' | grep -q kiro.ini && ! unzip -l '" +
                          unix_path(d + "Data.zip") + "' | grep -qi kiro.lck"));
    EXPECT_FALSE(write_transfer_disks(NULL));
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ("OBS!", boxes.shown[0].caption);
    EXPECT_EQ((UINT)(MB_OK | MB_ICONWARNING), boxes.shown[0].style);
    EXPECT_FALSE(file_exists(d + "Data.zip"));
    EXPECT_FALSE(file_exists(windows_path(fs.dir + "/KIRO-Flyt7")));
    EXPECT_FALSE(g_settings.schedule_locked);
}
