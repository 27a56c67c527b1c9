/*
 * The move lock, called directly: one holder at a time, the file gone with
 * the handle, a file a crash left behind taken at once, and a lock file
 * that cannot be made refusing with the system's reason.
 */
#include <gtest/gtest.h>
#include "test_support.h"
#include "schedule_files/move_lock.h"
#include "support/settings.h"

#include <string>

TEST(MoveLock, OneHolderAtATimeAndTheFileGoesWithTheHandle)
{
    std::string dir = make_scratch_dir("move_lock") + "\\";
    ASSERT_TRUE(make_dirs(dir + "ini"));
    std::string file = dir + "ini\\flyt.lck";
    /* A lock file left by a crash is held by nobody. */
    ASSERT_TRUE(write_file(file, ""));

    MoveLock first, second;
    EXPECT_EQ(MOVE_LOCK_TAKEN, try_move_lock(dir.c_str(), &first));
    EXPECT_EQ(MOVE_LOCK_HELD_ELSEWHERE, try_move_lock(dir.c_str(), &second));
    EXPECT_EQ(INVALID_HANDLE_VALUE, second.file);
    release_move_lock(&first);
    EXPECT_FALSE(file_exists(file));
    EXPECT_EQ(MOVE_LOCK_TAKEN, try_move_lock(dir.c_str(), &second));
    {
        MoveLock scoped;
        EXPECT_EQ(MOVE_LOCK_HELD_ELSEWHERE, try_move_lock(dir.c_str(), &scoped));
    }
    release_move_lock(&second);
    remove_tree(dir);
}

TEST(MoveLock, ALockFileThatCannotBeMadeRefusesWithTheReason)
{
    std::string dir = make_scratch_dir("move_lock_none") + "\\";   /* no ini\ folder */
    snprintf(g_settings.data_dir, sizeof g_settings.data_dir, "%s", dir.c_str());
    ScriptedBoxes boxes({ IDOK });
    MoveLock lock;
    EXPECT_FALSE(take_move_lock(NULL, &lock));
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ("Fejl", boxes.shown[0].caption);
    EXPECT_EQ(0u, boxes.shown[0].text.find("KIRO-data kan ikke reserveres til denne PC, fordi filen " + dir +
                                           "ini\\flyt.lck ikke kan oprettes.\n"))
        << boxes.shown[0].text;
    EXPECT_NE(std::string::npos, boxes.shown[0].text.find("(fejlkode 3)")) << boxes.shown[0].text;
    remove_tree(dir);
}
