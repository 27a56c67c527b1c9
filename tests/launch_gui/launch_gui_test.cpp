/*
 * The real kiromenu.exe starting the schedule program and updates: OK on
 * a start choice, the running-update refusal, the update offer, a failed
 * start, and the clean-up at start-up.
 */
#include <gtest/gtest.h>
#include "driver.h"
#include "test_support.h"
#include "standins.h"
#include "resource.h"

#include <string>

static std::string without_backslash(const std::string &dir)
{
    return dir.substr(0, dir.size() - 1);
}

/* The unquoted command line of versions up to 10412. */
static std::string plain_line(const Installation &inst, int version)
{
    return inst.program_dir + std::to_string(version) + ".exe -p" + without_backslash(inst.program_dir) +
           " -d" + without_backslash(inst.data_dir);
}

struct Menu {
    Program program;
    HWND dialog;
    DWORD answered = 0;   /* when the update offer was answered */
};

static Menu open_menu(const Installation &inst)
{
    Menu menu;
    menu.program = start_program(inst.program_dir + "kiromenu.exe", inst.args());
    menu.dialog = menu.program.process ? wait_main_menu(menu.program.pid) : NULL;
    return menu;
}

static void close_menu(Menu &menu)
{
    if (menu.dialog && IsWindow(menu.dialog))
        click(menu.dialog, IDC_CLOSE);
    EXPECT_EQ(0, wait_exit(menu.program));
}

TEST(LaunchGui, StartChoiceStartsTheProgramAndTheMenuEnds)
{
    Installation inst = make_installation("gui_start");
    std::string exe = inst.program_dir + "10327.exe";
    ASSERT_TRUE(install_standin("schedule", exe));
    Menu menu = open_menu(inst);
    ASSERT_TRUE(menu.dialog);
    DWORD clicked = GetTickCount();
    click(menu.dialog, IDC_OK);
    EXPECT_EQ(plain_line(inst, 10327) + "\n", wait_recorded(exe));
    EXPECT_EQ(0, wait_exit(menu.program));
    /* The menu stays three seconds after the start. */
    EXPECT_GE(GetTickCount() - clicked, 2900u);
}

TEST(LaunchGui, ViewChoiceWithQuotedForm)
{
    Installation inst = make_installation("gui_view", 7, 10413);
    std::string exe = inst.program_dir + "10413.exe";
    ASSERT_TRUE(install_standin("schedule", exe));
    Menu menu = open_menu(inst);
    ASSERT_TRUE(menu.dialog);
    PostMessageA(GetDlgItem(menu.dialog, IDC_VIEW), BM_CLICK, 0, 0);
    for (int i = 0; i < 100 && !is_checked(menu.dialog, IDC_VIEW); i++)
        pause_ms(20);
    ASSERT_TRUE(is_checked(menu.dialog, IDC_VIEW));
    click(menu.dialog, IDC_OK);
    EXPECT_EQ(inst.program_dir + "10413.exe -p\"" + without_backslash(inst.program_dir) + "\" -d\"" +
                  without_backslash(inst.data_dir) + "\" -l\n",
              wait_recorded(exe));
    EXPECT_EQ(0, wait_exit(menu.program));
}

TEST(LaunchGui, RunningUpdateRefusesAndNothingStarts)
{
    Installation inst = make_installation("gui_opdat");
    std::string exe = inst.program_dir + "10327.exe";
    ASSERT_TRUE(install_standin("schedule", exe));
    write_file(inst.program_dir + "opdat.lck", "");
    Menu menu = open_menu(inst);
    ASSERT_TRUE(menu.dialog);
    click(menu.dialog, IDC_OK);
    MessageBoxSeen box;
    ASSERT_TRUE(wait_message_box(menu.program.pid, box));
    EXPECT_EQ("Opdatering", box.caption);
    EXPECT_EQ("Opdatering er under afvikling. Prøv igen om lidt.\n", box.text);
    EXPECT_EQ((UINT)MB_ICONERROR, message_box_icon(box));
    screenshot(make_scratch_dir("shots") + "\\opdatering.png");
    answer(box, IDOK);
    wait_idle(menu.dialog);     /* the OK has been handled to its end */
    wait_standin_ended(exe);
    EXPECT_TRUE(IsWindow(menu.dialog));
    EXPECT_EQ("", recorded(exe));
    close_menu(menu);
    EXPECT_EQ("", recorded(exe));
}

static void offer_update(const char *name, int button, Installation &inst, Menu &menu)
{
    inst = make_installation(name);
    ASSERT_TRUE(install_standin("schedule", inst.program_dir + "10327.exe"));
    ASSERT_TRUE(install_standin("update", inst.program_dir + "opd10328.exe"));
    menu = open_menu(inst);
    ASSERT_TRUE(menu.dialog);
    click(menu.dialog, IDC_OK);
    MessageBoxSeen box;
    ASSERT_TRUE(wait_message_box(menu.program.pid, box));
    EXPECT_EQ("Ny Version", box.caption);
    EXPECT_EQ("Der ligger en opdatering klar til afvikling, ønsker at køre den nu?\n", box.text);
    EXPECT_EQ(0u, message_box_icon(box));
    EXPECT_EQ((std::vector<int>{ IDYES, IDNO }), message_box_buttons(box));
    menu.answered = GetTickCount();
    answer(box, button);
}

TEST(LaunchGui, DeclinedUpdateStartsTheProgram)
{
    Installation inst;
    Menu menu;
    offer_update("gui_no", IDNO, inst, menu);
    EXPECT_EQ(plain_line(inst, 10327) + "\n", wait_recorded(inst.program_dir + "10327.exe"));
    EXPECT_EQ(0, wait_exit(menu.program));
    EXPECT_EQ("", recorded(inst.program_dir + "opd10328.exe"));
}

TEST(LaunchGui, AcceptedUpdateRunsAndTheMenuEnds)
{
    Installation inst;
    Menu menu;
    offer_update("gui_yes", IDYES, inst, menu);
    EXPECT_EQ(0, wait_exit(menu.program));
    DWORD took = GetTickCount() - menu.answered;
    EXPECT_EQ(inst.program_dir + "opd10328.exe -p" + inst.program_dir + " -d" + inst.data_dir + "\n",
              wait_recorded(inst.program_dir + "opd10328.exe"));
    /* No three-second wait here: a menu that waited would take longer. */
    EXPECT_LT(took, 3000u);
    EXPECT_EQ("", recorded(inst.program_dir + "10327.exe"));
}

TEST(LaunchGui, FailedStartIsReportedAndTheMenuStays)
{
    Installation inst = make_installation("gui_fail");
    Menu menu = open_menu(inst);
    ASSERT_TRUE(menu.dialog);
    click(menu.dialog, IDC_OK);
    MessageBoxSeen box;
    ASSERT_TRUE(wait_message_box(menu.program.pid, box));
    EXPECT_EQ("Fejl", box.caption);
    EXPECT_EQ(0u, box.text.find("Fejl under opstart af KIRO-skema!\n"));
    EXPECT_EQ((UINT)MB_ICONWARNING, message_box_icon(box));
    EXPECT_FALSE(IsWindowEnabled(menu.dialog)) << "the box without owner leaves the menu usable";
    answer(box, IDOK);
    wait_idle(menu.dialog);     /* the OK has been handled to its end */
    /* The menu takes the keyboard again once the box has gone. */
    for (int waited = 0; GetForegroundWindow() != menu.dialog && waited < 5000; waited += 50)
        pause_ms(50);
    EXPECT_EQ(menu.dialog, GetForegroundWindow());
    ASSERT_TRUE(IsWindow(menu.dialog));
    EXPECT_TRUE(is_checked(menu.dialog, IDC_START));
    close_menu(menu);
}

TEST(LaunchGui, CleanupRunsAtStartUp)
{
    Installation inst = make_installation("gui_cleanup", 7, 10328);
    write_file(inst.program_dir + "10324.EXE", "old");
    write_file(inst.program_dir + "opd10327.zip", "old");
    write_file(inst.program_dir + "Opd10328.exe", "marker");
    write_file(inst.program_dir + "Prg10328.zip", "package");
    Menu menu = open_menu(inst);
    ASSERT_TRUE(menu.dialog);
    EXPECT_FALSE(file_exists(inst.program_dir + "10324.EXE"));
    EXPECT_FALSE(file_exists(inst.program_dir + "opd10327.zip"));
    EXPECT_FALSE(file_exists(inst.program_dir + "Opd10328.exe"));
    EXPECT_FALSE(file_exists(inst.program_dir + "Prg10328.zip"));
    EXPECT_TRUE(file_exists(inst.program_dir + "START.LOG"));
    EXPECT_TRUE(file_exists(inst.program_dir + "kiromenu.exe"));
    close_menu(menu);
}

TEST(LaunchGui, CleanupWaitsForOlderStations)
{
    Installation inst = make_installation("gui_nocleanup", 7, 10328);
    write_file(inst.program_dir + "10324.exe", "old");
    write_file(inst.program_dir + "Opd10328.exe", "marker");
    write_file(inst.program_dir + "START.LOG", "01,10328,A\r\n02,10327,B\r\n");
    Menu menu = open_menu(inst);
    ASSERT_TRUE(menu.dialog);
    EXPECT_TRUE(file_exists(inst.program_dir + "10324.exe"));
    EXPECT_TRUE(file_exists(inst.program_dir + "Opd10328.exe"));
    close_menu(menu);
}
