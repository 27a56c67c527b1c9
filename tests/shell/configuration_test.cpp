/*
 * Reading ini\kiro.ini into the menu settings and writing the lock key.
 */
#include <gtest/gtest.h>
#include "support/settings.h"
#include "test_support.h"

static void use_ini(const std::string &path)
{
    memset(&g_settings, 0, sizeof g_settings);
    strcpy(g_settings.config_path, path.c_str());
}

TEST(Configuration, KeysDefaultsAndTheLockedFlag)
{
    std::string dir = make_scratch_dir("config");
    std::string ini = dir + "\\kiro.ini";
    ASSERT_TRUE(write_file(ini, "[global]\r\ninsnr=7\r\nversion=70000\r\nskemal\xE5st=ja\r\n"));
    use_ini(ini);
    read_configuration();
    EXPECT_EQ(7, g_settings.installation);
    EXPECT_EQ(4464, g_settings.version) << "the low 16 bits of 70000";
    EXPECT_STREQ("nej", g_settings.super_setting);
    EXPECT_STREQ("a:", g_settings.move_drive);
    EXPECT_TRUE(g_settings.schedule_locked);

    ASSERT_TRUE(write_file(ini, "[global]\r\ninsnr=abc\r\nskemal\xE5st=ja\r\nsuperkiro=ja\r\nflytdrev=e:\\x\r\n"));
    read_configuration();
    EXPECT_EQ(0, g_settings.installation);
    EXPECT_FALSE(g_settings.schedule_locked) << "a super installation is never locked";
    EXPECT_STREQ("e:\\", g_settings.move_drive) << "at most three bytes";
    remove_tree(dir);
}

TEST(Configuration, LockedFlagNeedsExactTexts)
{
    EXPECT_TRUE(derive_schedule_locked("ja", "nej"));
    EXPECT_FALSE(derive_schedule_locked("Ja", "nej"));
    EXPECT_FALSE(derive_schedule_locked("ja", "Nej"));
    EXPECT_FALSE(derive_schedule_locked("nej", "nej"));
}

TEST(Configuration, WritingTheLockKeepsTheFlagEqualToTheFile)
{
    std::string dir = make_scratch_dir("config_lock");
    std::string ini = dir + "\\kiro.ini";
    ASSERT_TRUE(write_file(ini, "[global]\r\nsuperkiro=nej\r\n"));
    use_ini(ini);
    read_configuration();
    EXPECT_TRUE(write_schedule_locked(true));
    EXPECT_TRUE(g_settings.schedule_locked);
    EXPECT_NE(std::string::npos, read_file(ini).find("skemal\xE5st=ja"));

    /* Held open without sharing by another program: the write fails. */
    HANDLE held = CreateFileA(ini.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_FALSE(write_schedule_locked(false)) << "a failed write is reported";
    EXPECT_TRUE(g_settings.schedule_locked) << "and the flag still says what the file says";
    CloseHandle(held);
    EXPECT_NE(std::string::npos, read_file(ini).find("skemal\xE5st=ja"));
    remove_tree(dir);
}
