/*
 * The lock toggle and the lock-file confirmation, called directly: the
 * questions, what reaches kiro.ini, a configuration file that cannot be
 * written, and the lock file present, read-only and missing.
 */
#include <gtest/gtest.h>
#include "advanced/schedule_lock.h"
#include "schedule_files/move_lock.h"
#include "support/settings.h"
#include "test_support.h"

#include <string>

static std::string g_ini;

static void use_data_dir(const char *name, const char *locked, const char *super = "nej", int installation = 7)
{
    std::string dir = make_scratch_dir(name) + "\\";
    make_dirs(dir + "ini");
    g_ini = dir + "ini\\kiro.ini";
    write_file(g_ini, std::string("[global]\r\ninsnr=") + std::to_string(installation) + "\r\nskemalåst=" + locked +
                          "\r\nsuperkiro=" + super + "\r\n");
    snprintf(g_settings.data_dir, sizeof g_settings.data_dir, "%s", dir.c_str());
    snprintf(g_settings.config_path, sizeof g_settings.config_path, "%s", g_ini.c_str());
    read_configuration();
}

static std::string locked_value()
{
    char value[20];
    GetPrivateProfileStringA("global", "skemalåst", "(none)", value, sizeof value, g_ini.c_str());
    return value;
}

TEST(LockToggle, LockedScheduleIsOpenedOnYes)
{
    use_data_dir("toggle_open", "ja");
    ASSERT_TRUE(g_settings.schedule_locked);
    ScriptedBoxes boxes({ IDYES });
    toggle_schedule_lock();
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ("Er du sikker på at du vil 'åbne' skemaet?\n Dette bør normalt gøres ved at Flytte skemaet til harddisk!",
              boxes.shown[0].text);
    EXPECT_EQ("Information", boxes.shown[0].caption);
    EXPECT_EQ((UINT)(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON1), boxes.shown[0].style);
    EXPECT_EQ(nullptr, boxes.shown[0].owner);
    EXPECT_EQ("nej", locked_value());
    EXPECT_FALSE(g_settings.schedule_locked);
}

TEST(LockToggle, NoChangesNothing)
{
    use_data_dir("toggle_no", "nej");
    std::string before = read_file(g_ini);
    ScriptedBoxes boxes({ IDNO });
    toggle_schedule_lock();
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ("Er du sikker på at du vil 'låse' skemaet?\n Dette bør normalt gøres ved at Flytte skemaet til enhed!",
              boxes.shown[0].text);
    EXPECT_EQ(before, read_file(g_ini));
    EXPECT_FALSE(g_settings.schedule_locked);
}

TEST(LockToggle, SuperInstallationStartsOpenAndCanBeLocked)
{
    use_data_dir("toggle_super", "ja", "ja");
    ASSERT_FALSE(g_settings.schedule_locked);
    ScriptedBoxes boxes({ IDYES });
    toggle_schedule_lock();
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_NE(std::string::npos, boxes.shown[0].text.find("'låse'"));
    EXPECT_EQ("ja", locked_value());
    EXPECT_TRUE(g_settings.schedule_locked) << "locked by hand, a super installation is locked too";
}

TEST(LockToggle, FailedWriteIsReportedAndTheFlagStays)
{
    use_data_dir("toggle_readonly", "nej");
    HANDLE held = CreateFileA(g_ini.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    ScriptedBoxes boxes({ IDYES });
    toggle_schedule_lock();
    CloseHandle(held);
    ASSERT_EQ(2u, boxes.shown.size());
    EXPECT_EQ("Fejl", boxes.shown[1].caption);
    EXPECT_NE(std::string::npos, boxes.shown[1].text.find("ikke låses"));
    EXPECT_NE(std::string::npos, boxes.shown[1].text.find(g_ini));
    EXPECT_EQ("nej", locked_value());
    EXPECT_FALSE(g_settings.schedule_locked);
}

TEST(LockToggle, ActsOnlyUnderTheMoveLockOnTheStateTheFileHasThen)
{
    use_data_dir("toggle_stations", "ja");
    ASSERT_TRUE(g_settings.schedule_locked);
    /* Another station opened the schedule after this menu read it. */
    write_file(g_ini, "[global]\r\ninsnr=7\r\nskemalåst=nej\r\nsuperkiro=nej\r\n");
    std::string opened = read_file(g_ini);
    {
        ScriptedBoxes boxes({ IDYES });
        toggle_schedule_lock();
        ASSERT_EQ(1u, boxes.shown.size());
        EXPECT_EQ(0u, boxes.shown[0].text.find("KIRO-skema er blevet låst eller åbnet fra en anden station"));
        EXPECT_EQ(opened, read_file(g_ini));
        EXPECT_FALSE(g_settings.schedule_locked) << "the menu now shows the state the file has";
    }
    /* Another station holds the move lock: nothing is asked or written. */
    MoveLock other;
    ASSERT_EQ(MOVE_LOCK_TAKEN, try_move_lock(g_settings.data_dir, &other));
    ScriptedBoxes boxes({ IDYES });
    toggle_schedule_lock();
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ("OBS!", boxes.shown[0].caption);
    EXPECT_EQ(0u, boxes.shown[0].text.find("Der er en flytning af KIRO-data i gang på en anden PC."));
    EXPECT_EQ(opened, read_file(g_ini));
}

TEST(LockFile, PresentAndWritableAsksAndIsDeletedOnlyOnYes)
{
    use_data_dir("lockfile_present", "nej", "nej", 3);
    std::string lock = std::string(g_settings.data_dir) + "ini\\kiro.lck";
    write_file(lock, "");
    HWND owner = (HWND)0x4321;
    {
        ScriptedBoxes boxes({ IDNO });
        EXPECT_FALSE(confirm_delete_lock_file(owner));
        ASSERT_EQ(1u, boxes.shown.size());
        EXPECT_EQ("Bemærk at data'ene tilhørende installation nr. 3 er i brug !!!\n"
                  "Hvis du sletter Kiro.lck filen kan det medføre tab af data\nfor ovenstående installation.\n"
                  "Du skal være sikker på konsekvensen af dette.\n\nEr du sikker på du vil slette Kiro.lck filen?",
                  boxes.shown[0].text);
        EXPECT_EQ("Advarsel!", boxes.shown[0].caption);
        EXPECT_EQ((UINT)(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2), boxes.shown[0].style);
        EXPECT_EQ(owner, boxes.shown[0].owner);
    }
    ScriptedBoxes yes({ IDYES });
    EXPECT_TRUE(confirm_delete_lock_file(owner));
    EXPECT_TRUE(delete_lock_file());
    EXPECT_FALSE(file_exists(lock));
}

TEST(LockFile, ReadOnlyOrMissingAsksNothingAndDeletesNothing)
{
    use_data_dir("lockfile_readonly", "nej");
    std::string lock = std::string(g_settings.data_dir) + "ini\\kiro.lck";
    ScriptedBoxes boxes;
    EXPECT_TRUE(confirm_delete_lock_file(NULL));
    EXPECT_FALSE(delete_lock_file());
    write_file(lock, "");
    SetFileAttributesA(lock.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(confirm_delete_lock_file(NULL));
    EXPECT_FALSE(delete_lock_file());
    EXPECT_TRUE(file_exists(lock));
    EXPECT_EQ(0u, boxes.shown.size());
}
