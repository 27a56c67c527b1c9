/*
 * Finding updates, the update check with its questions, and the command
 * lines the schedule program and the update programs receive (read back
 * from the stand-ins).
 */
#include <gtest/gtest.h>
#include "test_support.h"
#include "standins.h"
#include "shell/launcher.h"
#include "support/settings.h"

#include <string>

/* A program directory with blanks and a data directory elsewhere, set as
   the menu's. */
struct Dirs {
    std::string root, program, data;
};

static Dirs use_dirs(const char *name, int version)
{
    Dirs d;
    d.root = make_scratch_dir(name);
    d.program = d.root + "\\Program Files\\Skema\\";
    d.data = d.root + "\\Andet sted\\Data\\";
    make_dirs(d.program);
    make_dirs(d.data);
    strcpy(g_settings.program_dir, d.program.c_str());
    strcpy(g_settings.data_dir, d.data.c_str());
    g_settings.version = (unsigned short)version;
    return d;
}

static void touch(const std::string &path)
{
    write_file(path, "x");
}

TEST(FindNextUpdate, SmallestNewerNumber)
{
    Dirs d = use_dirs("find", 10327);
    const char *dir = d.program.c_str();
    EXPECT_EQ(0, find_next_update(dir, 10327));
    touch(d.program + "opd10327.exe");
    EXPECT_EQ(0, find_next_update(dir, 10327));      /* equal is not newer */
    touch(d.program + "opd10330.exe");
    touch(d.program + "OPD10328.EXE");                /* the match ignores case */
    touch(d.program + "opdat.exe");                   /* reads as 0 */
    touch(d.program + "opd10329.zip");
    EXPECT_EQ(10328, find_next_update(dir, 10327));
    EXPECT_EQ(10330, find_next_update(dir, 10328));
    EXPECT_EQ(0, find_next_update(dir, 10330));
    touch(d.program + "opd  999.exe");
    EXPECT_EQ(999, find_next_update(dir, 500));
    EXPECT_EQ(0, find_next_update((d.root + "\\nowhere\\").c_str(), 0));
}

TEST(UpdateCheck, RunningUpdateRefuses)
{
    Dirs d = use_dirs("running", 10327);
    touch(d.program + "opdat.lck");
    touch(d.program + "opd10328.exe");
    ScriptedBoxes boxes({ IDYES });
    EXPECT_EQ(UPDATE_RUNNING, update_check());
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ("Opdatering er under afvikling. Prøv igen om lidt.\n", boxes.shown[0].text);
    EXPECT_EQ("Opdatering", boxes.shown[0].caption);
    EXPECT_EQ((UINT)(MB_OK | MB_ICONERROR | MB_SYSTEMMODAL), boxes.shown[0].style);
}

TEST(UpdateCheck, ReadOnlyMarkerIsNoRunningUpdate)
{
    Dirs d = use_dirs("readonly", 10327);
    touch(d.program + "opdat.lck");
    SetFileAttributesA((d.program + "opdat.lck").c_str(), FILE_ATTRIBUTE_READONLY);
    ScriptedBoxes boxes;
    EXPECT_EQ(UPDATE_PROCEED, update_check());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST(UpdateCheck, NothingOfferedAboveTheLimitOrAtTheVersion)
{
    Dirs d = use_dirs("limit", 10327);
    touch(d.program + "opd10332.exe");
    touch(d.program + "opd10327.exe");
    ScriptedBoxes boxes({ IDYES });
    EXPECT_EQ(UPDATE_PROCEED, update_check());
    DeleteFileA((d.program + "opd10327.exe").c_str());
    g_settings.version = 10300;
    EXPECT_EQ(UPDATE_PROCEED, update_check());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST(UpdateCheck, DeclinedOfferProceeds)
{
    Dirs d = use_dirs("declined", 10327);
    ASSERT_TRUE(install_standin("update", d.program + "opd10328.exe"));
    ScriptedBoxes boxes({ IDNO });
    EXPECT_EQ(UPDATE_PROCEED, update_check());
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ("Der ligger en opdatering klar til afvikling, ønsker at køre den nu?\n", boxes.shown[0].text);
    EXPECT_EQ("Ny Version", boxes.shown[0].caption);
    EXPECT_EQ((UINT)MB_YESNO, boxes.shown[0].style);
    wait_standin_ended(d.program + "opd10328.exe");
    EXPECT_EQ("", recorded(d.program + "opd10328.exe"));
}

TEST(UpdateCheck, YesStartsTheSmallestNewerUpdate)
{
    Dirs d = use_dirs("accepted", 10327);
    ASSERT_TRUE(install_standin("update", d.program + "opd10328.exe"));
    ASSERT_TRUE(install_standin("update", d.program + "opd10330.exe"));
    ScriptedBoxes boxes({ IDYES });
    EXPECT_EQ(UPDATE_STARTED, update_check());
    EXPECT_EQ(d.program + "opd10328.exe -p" + d.program + " -d" + d.data + "\n",
              wait_recorded(d.program + "opd10328.exe"));
    EXPECT_EQ("", recorded(d.program + "opd10330.exe"));
}

TEST(UpdateCheck, NumberBelowTenThousandIsPaddedWithBlanks)
{
    Dirs d = use_dirs("padded", 500);
    ASSERT_TRUE(install_standin("update", d.program + "opd  999.exe"));
    ScriptedBoxes boxes({ IDYES });
    EXPECT_EQ(UPDATE_STARTED, update_check());
    EXPECT_EQ(d.program + "opd  999.exe -p" + d.program + " -d" + d.data + "\n",
              wait_recorded(d.program + "opd  999.exe"));
}

TEST(UpdateCheck, UpdateThatCannotStartStillEndsTheMenu)
{
    Dirs d = use_dirs("broken", 10327);
    write_file(d.program + "opd10328.exe", "not a program");
    ScriptedBoxes boxes({ IDYES });
    EXPECT_EQ(UPDATE_STARTED, update_check());
    EXPECT_EQ(1u, boxes.shown.size());
}

TEST(CommandLine, BothForms)
{
    char program[600], line[2100];
    ASSERT_TRUE(schedule_command_line("C:\\Program Files\\Skema\\", "D:\\Data\\", 10412, false,
                                      program, sizeof program, line, sizeof line));
    EXPECT_STREQ("C:\\Program Files\\Skema\\10412.exe", program);
    EXPECT_STREQ("C:\\Program Files\\Skema\\10412.exe -pC:\\Program Files\\Skema -dD:\\Data", line);
    ASSERT_TRUE(schedule_command_line("C:\\Program Files\\Skema\\", "D:\\Data\\", 10413, true,
                                      program, sizeof program, line, sizeof line));
    EXPECT_STREQ("C:\\Program Files\\Skema\\10413.exe -p\"C:\\Program Files\\Skema\" -d\"D:\\Data\" -l", line);
    ASSERT_TRUE(schedule_command_line("C:\\", "C:\\", 10413, false, program, sizeof program, line,
                                      sizeof line));
    EXPECT_STREQ("C:\\10413.exe -p\"C:\" -d\"C:\"", line);
    ASSERT_TRUE(update_command_line("C:\\Skema\\", "C:\\Skema\\", 10328, program, sizeof program,
                                    line, sizeof line));
    EXPECT_STREQ("C:\\Skema\\opd10328.exe -pC:\\Skema\\ -dC:\\Skema\\", line);
}

/* Starts the stand-in installed as the schedule program and answers what
   it received. */
static std::string started_line(const Dirs &d, int version, bool view)
{
    std::string exe = d.program + std::to_string(version) + ".exe";
    EXPECT_TRUE(install_standin("schedule", exe));
    ScriptedBoxes boxes;
    g_settings.version = (unsigned short)version;
    EXPECT_TRUE(start_schedule_program(view));
    EXPECT_TRUE(boxes.shown.empty());
    std::string line = wait_recorded(exe);
    DeleteFileA((exe + ".cmdline").c_str());
    return line;
}

TEST(StartScheduleProgram, ExactCommandLines)
{
    Dirs d = use_dirs("start", 10412);
    std::string p = d.program.substr(0, d.program.size() - 1);
    std::string dd = d.data.substr(0, d.data.size() - 1);
    EXPECT_EQ(d.program + "10412.exe -p" + p + " -d" + dd + "\n", started_line(d, 10412, false));
    EXPECT_EQ(d.program + "10412.exe -p" + p + " -d" + dd + " -l\n", started_line(d, 10412, true));
    EXPECT_EQ(d.program + "10413.exe -p\"" + p + "\" -d\"" + dd + "\"\n", started_line(d, 10413, false));
    EXPECT_EQ(d.program + "10413.exe -p\"" + p + "\" -d\"" + dd + "\" -l\n", started_line(d, 10413, true));
}

TEST(StartScheduleProgram, DriveRootAsProgramDirectory)
{
    /* C:\ of the test prefix; the version is unusual enough to be ours. */
    Dirs d = use_dirs("root", 10413);
    strcpy(g_settings.program_dir, "C:\\");
    Dirs root = d;
    root.program = "C:\\";
    std::string dd = d.data.substr(0, d.data.size() - 1);
    EXPECT_EQ("C:\\10413.exe -p\"C:\" -d\"" + dd + "\"\n", started_line(root, 10413, false));
    EXPECT_EQ("C:\\10412.exe -pC: -d" + dd + "\n", started_line(root, 10412, false));
    DeleteFileA("C:\\10413.exe");
    DeleteFileA("C:\\10412.exe");
    DeleteFileA("C:\\standin.quiet");
}

TEST(StartScheduleProgram, BlankCutPrefixCannotTakeOver)
{
    /* root\Program.exe is what an unquoted root\Program Files\Skema\...
       would be taken for first. */
    Dirs d = use_dirs("hijack", 10412);
    ASSERT_TRUE(install_standin("schedule", d.root + "\\Program.exe"));
    std::string line = started_line(d, 10412, false);
    EXPECT_EQ(0u, line.find(d.program + "10412.exe -p"));
    wait_standin_ended(d.root + "\\Program.exe");
    EXPECT_EQ("", recorded(d.root + "\\Program.exe"));
}

TEST(StartScheduleProgram, MissingProgramIsReported)
{
    use_dirs("missing", 10327);
    ScriptedBoxes boxes;
    EXPECT_FALSE(start_schedule_program(false));
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ(0u, boxes.shown[0].text.find("Fejl under opstart af KIRO-skema!\n"));
    EXPECT_GT(boxes.shown[0].text.size(), strlen("Fejl under opstart af KIRO-skema!\n"));
    EXPECT_EQ("Fejl", boxes.shown[0].caption);
    EXPECT_EQ((UINT)(MB_OK | MB_ICONWARNING), boxes.shown[0].style);
}
