/*
 * The real kiromenu.exe at start-up: the refusal of a missing configuration
 * file, the attribute reset that never follows a link, the main window and
 * the main menu with the labels and banner the configuration implies,
 * leaving through "&Luk" and Escape, and the refusal to move data while the
 * lock file is present.
 */
#include <gtest/gtest.h>
#include "driver.h"
#include "drive_fixture.h"
#include "test_support.h"
#include "resource.h"

struct Running {
    Program program;
    HWND main = NULL;
    HWND menu = NULL;
};

static Running start_menu(const Installation &inst)
{
    Running r;
    r.program = start_program(inst.program_dir + "kiromenu.exe", inst.args());
    if (r.program.process) {
        r.menu = wait_main_menu(r.program.pid);
        r.main = wait_window(r.program.pid, "MenuWndClass", NULL, 2000);
    }
    return r;
}

static bool has_main_window(DWORD pid)
{
    for (HWND w : top_windows(pid))
        if (class_name(w) == "MenuWndClass")
            return true;
    return false;
}

TEST(Start, MissingConfigurationIsRefusedWithoutAWindow)
{
    Installation inst = make_installation("start_missing");
    DeleteFileA(inst.ini().c_str());
    Program p = start_program(inst.program_dir + "kiromenu.exe", inst.args());
    MessageBoxSeen box;
    ASSERT_TRUE(wait_message_box(p.pid, box));
    EXPECT_EQ("Fejl", box.caption);
    EXPECT_EQ("Filen '" + inst.data_dir + "ini\\kiro.ini' - blev ikke fundet!\nKontakt din systemadministrator!",
              box.text);
    EXPECT_EQ((UINT)MB_ICONERROR, message_box_icon(box));
    EXPECT_FALSE(has_main_window(p.pid));
    answer(box, IDOK);
    EXPECT_EQ(0, wait_exit(p));
}

TEST(Start, ReadOnlyConfigurationIsAcceptedAndItsMarkCleared)
{
    Installation inst = make_installation("start_readonly");
    SetFileAttributesA(inst.ini().c_str(), FILE_ATTRIBUTE_READONLY);
    Running r = start_menu(inst);
    ASSERT_TRUE(r.menu);
    EXPECT_EQ(0u, GetFileAttributesA(inst.ini().c_str()) & FILE_ATTRIBUTE_READONLY);
    click(r.menu, IDC_CLOSE);
    EXPECT_EQ(0, wait_exit(r.program));
}

TEST(Start, ACopyOfTheConfigurationLeftByAPowerCutIsRemoved)
{
    Installation inst = make_installation("start_leftover");
    std::string leftover = inst.ini() + ".~0000beef", other = inst.ini() + ".bak";
    ASSERT_TRUE(write_file(leftover, "[global]\r\ninsnr=7\r\n") && write_file(other, "gemt"));
    Running r = start_menu(inst);
    ASSERT_TRUE(r.menu);
    EXPECT_FALSE(file_exists(leftover));
    EXPECT_TRUE(file_exists(other)) << "only a copy of the menu's own is removed";
    click(r.menu, IDC_CLOSE);
    EXPECT_EQ(0, wait_exit(r.program));
}

TEST(Start, AttributeResetLeavesWhatALinkPointsToAlone)
{
    Installation inst = make_installation("start_links");
    std::string outside = make_scratch_dir("start_links_outside");
    std::string theirs = outside + "\\elev.dat", ours = inst.data_dir + "data\\own.dat";
    const DWORD marks = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    ASSERT_TRUE(write_file(theirs, "x"));
    ASSERT_TRUE(write_file(ours, "x"));
    SetFileAttributesA(theirs.c_str(), marks);
    SetFileAttributesA(outside.c_str(), FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesA(ours.c_str(), FILE_ATTRIBUTE_READONLY);
    std::string link = unix_path(inst.data_dir + "data") + "/arkiv";
    ASSERT_EQ(0, run_unix("ln -s '" + unix_path(outside) + "' '" + link + "'"));
    Running r = start_menu(inst);
    EXPECT_TRUE(r.menu);
    EXPECT_EQ(0u, GetFileAttributesA(ours.c_str()) & marks) << "the reset ran below the data directory";
    EXPECT_EQ(marks, GetFileAttributesA(theirs.c_str()) & marks);
    EXPECT_NE(0u, GetFileAttributesA(outside.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    if (r.menu) {
        click(r.menu, IDC_CLOSE);
        EXPECT_EQ(0, wait_exit(r.program));
    } else if (r.program.process) {
        kill_program(r.program);
    }
    run_unix("rm -f '" + link + "'");
    SetFileAttributesA(theirs.c_str(), FILE_ATTRIBUTE_NORMAL);
    remove_tree(outside);
}

TEST(Start, NormalInstallationTitleLabelsAndClose)
{
    Installation inst = make_installation("start_normal", 7, 10327, "nej", "nej", "q:");
    ScopedDrive stick('q', DRIVE_REMOVABLE, drive_dir("start_q"));
    ASSERT_TRUE(stick.ok);
    Running r = start_menu(inst);
    ASSERT_TRUE(r.menu);
    ASSERT_TRUE(r.main);
    EXPECT_EQ(" 7 KIRO-skema     Prog. sti: " + inst.program_dir + "   Data sti: " + inst.data_dir,
              window_text(r.main));
    EXPECT_TRUE(IsZoomed(r.main));
    EXPECT_EQ("&Start KIRO-skema", control_text(r.menu, IDC_START));
    EXPECT_EQ("Start KI&RO-skema [VIS]", control_text(r.menu, IDC_VIEW));
    EXPECT_EQ("&Flyt data til enhed", control_text(r.menu, IDC_MOVE)) << "Q: is a removable drive";
    EXPECT_TRUE(is_checked(r.menu, IDC_START));
    EXPECT_FALSE(is_checked(r.menu, IDC_MOVE));
    EXPECT_EQ("A&vanceret", control_text(r.menu, IDC_ADVANCED));
    EXPECT_TRUE(screenshot(screenshot_path("main_menu.png")));
    click(r.menu, IDC_CLOSE);
    EXPECT_EQ(0, wait_exit(r.program));
}

TEST(Start, LockedInstallationLabelsAndEscape)
{
    Installation inst = make_installation("start_locked", 3, 10327, "nej", "ja", "e:");
    Running r = start_menu(inst);
    ASSERT_TRUE(r.menu);
    EXPECT_EQ("&Start KIRO-skema [L\xC5ST]", control_text(r.menu, IDC_START));
    EXPECT_EQ("&Flyt data til harddisk", control_text(r.menu, IDC_MOVE));
    press_key(r.menu, IDC_START, VK_ESCAPE);
    EXPECT_EQ(0, wait_exit(r.program));
}

TEST(Start, SuperInstallationLabelsAndFixedMoveDrive)
{
    Installation inst = make_installation("start_super", 12, 10413, "ja", "ja", "c:");
    Running r = start_menu(inst);
    ASSERT_TRUE(r.menu);
    ASSERT_TRUE(r.main);
    EXPECT_EQ("12 SUPER KIRO-skema     Prog. sti: " + inst.program_dir + "   Data sti: " + inst.data_dir,
              window_text(r.main));
    EXPECT_EQ("&Start Super KIRO", control_text(r.menu, IDC_START));
    EXPECT_EQ("&Flyt data til harddisk", control_text(r.menu, IDC_MOVE))
        << "not locked (super), and C: is not removable";
    click(r.menu, IDCANCEL);
    EXPECT_EQ(0, wait_exit(r.program));
}

TEST(Start, MoveIsRefusedWhileTheLockFileIsPresent)
{
    Installation inst = make_installation("start_lockfile");
    std::string lock = inst.data_dir + "ini\\kiro.lck";
    ASSERT_TRUE(write_file(lock, ""));
    std::string ini_before = read_file(inst.ini());
    Running r = start_menu(inst);
    ASSERT_TRUE(r.menu);
    press(r.menu, IDC_MOVE);
    for (int i = 0; i < 100 && !is_checked(r.menu, IDC_MOVE); i++)
        pause_ms(20);
    ASSERT_TRUE(is_checked(r.menu, IDC_MOVE));
    click(r.menu, IDC_OK);
    MessageBoxSeen box;
    ASSERT_TRUE(wait_message_box(r.program.pid, box));
    EXPECT_EQ("OBS!", box.caption);
    EXPECT_EQ("Du er ved at flytte data fra en KIRO, som er i brug af en anden bruger\n"
              "KIRO skal v\xE6re afsluttet inden der kan flyttes data!", box.text);
    EXPECT_EQ((UINT)MB_ICONWARNING, message_box_icon(box));
    EXPECT_EQ(r.menu, box.owner);
    answer(box, IDOK);
    EXPECT_TRUE(is_checked(r.menu, IDC_MOVE)) << "the choice stays as it was";
    EXPECT_TRUE(file_exists(lock));
    EXPECT_EQ(ini_before, read_file(inst.ini()));
    EXPECT_TRUE(is_running(r.program));
    click(r.menu, IDC_CLOSE);
    EXPECT_EQ(0, wait_exit(r.program));
}
