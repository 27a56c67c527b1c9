/*
 * The take-back checks its own outcome, called in-process over a set in a
 * folder: a file that is not the set's once placed keeps the PC locked and
 * the set live, a PC that cannot be opened gives the disk its claim back,
 * and doing it again completes.
 */
#include <gtest/gtest.h>
#include "test_support.h"
#include "support/settings.h"
#include "archive/zip_write.h"
#include "transfer/move_to_hard_disk.h"
#include "transfer/transfer_set.h"

#include <string>

namespace {

std::string g_spoiled;   /* the file the hook changes after it is placed */

void spoil_placed_file(void)
{
    write_file(g_spoiled, "ikke som på disken");
}

std::string g_unwritable;   /* where the configuration cannot be written */

void configuration_unwritable(void)
{
    strcpy(g_settings.config_path, g_unwritable.c_str());
}

std::string lock_key(const std::string &ini)
{
    char value[16];
    GetPrivateProfileStringA("global", "skemal\xE5st", "", value, sizeof value, ini.c_str());
    return value;
}

}  // namespace

TEST(TakeBack, PlacedFilesAreCheckedBeforeTheDiskIsMarkedAndThePcOpened)
{
    std::string root = make_scratch_dir("take_back_check");
    /* the other PC's data, packed as its menu packs them */
    std::string source = root + "\\kilde\\";
    ASSERT_TRUE(make_dirs(source + "data") && make_dirs(source + "ini"));
    write_file(source + "data\\elev.dat", std::string(300000, 'e'));
    write_file(source + "ini\\kiro.ini", "[global]\r\ninsnr=7\r\nversion=10327\r\nskemal\xE5st=nej\r\n");
    std::string set_dir = root + "\\stick\\KIRO-Flyt7\\";
    ASSERT_TRUE(make_dirs(set_dir));
    for (const char *name : { "data\\elev.dat", "ini\\kiro.ini" })
        ASSERT_EQ(0, zip_add_file((set_dir + "Data.z01").c_str(), (source + name).c_str(), NULL));
    std::string flyt = set_dir + "flyt.ini";
    write_file(flyt, "[global]\r\ninsnr=7\r\nversion=10327\r\ndisknr=1\r\nantaldiske=1\r\nskemal\xE5st=nej\r\n");

    /* this PC, locked, with its old data */
    std::string d = root + "\\Data\\";
    ASSERT_TRUE(make_dirs(d + "data") && make_dirs(d + "ini"));
    write_file(d + "data\\elev.dat", "gamle elever");
    write_file(d + "ini\\kiro.ini", "[global]\r\ninsnr=7\r\nversion=10327\r\nskemal\xE5st=ja\r\n");
    strcpy(g_settings.data_dir, d.c_str());
    strcpy(g_settings.config_path, (d + "ini\\kiro.ini").c_str());
    g_settings.installation = 7;
    g_settings.version = 10327;
    strcpy(g_settings.super_setting, "nej");
    g_settings.schedule_locked = true;
    ASSERT_TRUE(set_transfer_paths((root + "\\stick").c_str(), 7));

    g_spoiled = d + "data\\elev.dat";
    set_placed_files_hook(spoil_placed_file);
    {
        ScriptedBoxes boxes;
        EXPECT_FALSE(take_back_transfer_set(NULL));
        ASSERT_EQ(1u, boxes.shown.size());
        EXPECT_EQ("Filen " + g_spoiled + " er ikke den samme som på disk enheden.",
                  boxes.shown[0].text.substr(0, boxes.shown[0].text.find('\n')));
    }
    EXPECT_EQ("ja", lock_key(g_settings.config_path));
    EXPECT_TRUE(g_settings.schedule_locked);
    EXPECT_EQ("nej", lock_key(flyt));
    EXPECT_FALSE(file_exists(d + "Flyt.tmp"));

    /* The check passes, the disk is marked, but this PC cannot be opened. */
    g_unwritable = root + "\\mangler\\kiro.ini";
    set_placed_files_hook(configuration_unwritable);
    {
        ScriptedBoxes boxes;
        EXPECT_FALSE(take_back_transfer_set(NULL));
        ASSERT_EQ(1u, boxes.shown.size());
        EXPECT_EQ("Kan ikke skrive til filen: " + g_unwritable + "\nKIRO-skema er stadig låst på denne PC!",
                  boxes.shown[0].text);
    }
    EXPECT_TRUE(g_settings.schedule_locked);
    EXPECT_EQ("nej", lock_key(flyt));   /* the disk has its claim back */

    set_placed_files_hook(NULL);
    strcpy(g_settings.config_path, (d + "ini\\kiro.ini").c_str());
    {
        ScriptedBoxes boxes;
        EXPECT_TRUE(take_back_transfer_set(NULL));
        ASSERT_EQ(1u, boxes.shown.size());
        EXPECT_EQ("Så er filerne kopieret til harddisken!", boxes.shown[0].text);
    }
    EXPECT_EQ(std::string(300000, 'e'), read_file(d + "data\\elev.dat"));
    EXPECT_EQ("nej", lock_key(g_settings.config_path));
    EXPECT_FALSE(g_settings.schedule_locked);
    EXPECT_EQ("ja", lock_key(flyt));
    remove_tree(root);
}
