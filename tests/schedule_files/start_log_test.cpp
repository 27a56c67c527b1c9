/*
 * The start log: line splitting, the lowest version in use, and the
 * warning when another process holds the log.
 */
#include <gtest/gtest.h>
#include "test_support.h"
#include "schedule_files/start_log.h"
#include "support/message_box.h"

#include <string>
#include <vector>

static std::string dir_of(const char *name)
{
    return make_scratch_dir(name) + "\\";
}

static std::vector<std::string> lines_of(const std::string &content)
{
    std::string dir = dir_of("lines");
    write_file(dir + "START.LOG", content);
    HANDLE file = open_start_log(dir.c_str());
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    std::vector<std::string> result;
    if (file == INVALID_HANDLE_VALUE)
        return result;
    char **lines = NULL;
    int count = read_lines(file, &lines);
    for (int i = 0; i < count; i++)
        result.push_back(lines[i]);
    free_lines(lines, count);
    CloseHandle(file);
    return result;
}

static unsigned lowest_of(const std::string &content)
{
    std::string dir = dir_of("lowest");
    write_file(dir + "START.LOG", content);
    return lowest_version_in_use(dir.c_str());
}

TEST(ReadLines, SplitsAtCrLfWithoutEmptyLastLine)
{
    EXPECT_EQ((std::vector<std::string>{}), lines_of(""));
    EXPECT_EQ((std::vector<std::string>{ "a", "b" }), lines_of("a\r\nb\r\n"));
    EXPECT_EQ((std::vector<std::string>{ "a", "b" }), lines_of("a\r\nb"));
    EXPECT_EQ((std::vector<std::string>{ "a", "", "b" }), lines_of("a\r\n\r\nb"));
    EXPECT_EQ((std::vector<std::string>{ "" }), lines_of("\r\n"));
    EXPECT_EQ((std::vector<std::string>{ "", "x" }), lines_of("\r\nx"));
    /* A bare LF is part of the line. */
    EXPECT_EQ((std::vector<std::string>{ "a\nb" }), lines_of("a\nb"));
}

TEST(ReadLines, CarriageReturnTakesTheNextByteAlong)
{
    EXPECT_EQ((std::vector<std::string>{ "ac" }), lines_of("a\rbc"));
    EXPECT_EQ((std::vector<std::string>{ "a" }), lines_of("a\r"));
}

TEST(LowestVersion, MissingLogIsCreatedEmpty)
{
    std::string dir = dir_of("missing");
    EXPECT_EQ(59999u, lowest_version_in_use(dir.c_str()));
    EXPECT_TRUE(file_exists(dir + "START.LOG"));
    EXPECT_EQ("", read_file(dir + "START.LOG"));
}

TEST(LowestVersion, SmallestSecondField)
{
    EXPECT_EQ(10290u, lowest_of("03,10327,PC1,x\r\n05,10290,PC2,y\r\n"));
    EXPECT_EQ(10290u, lowest_of("03,10327,PC1,x\r\n05,10290,PC2,y"));
    EXPECT_EQ(10327u, lowest_of("03,10327"));
    EXPECT_EQ(59999u, lowest_of(""));
    EXPECT_EQ(10001u, lowest_of(" 3, 10001\r\n"));
}

TEST(LowestVersion, LineWithoutSecondNumber)
{
    /* The first line reads as 0; a later one keeps the line before's. */
    EXPECT_EQ(0u, lowest_of("03\r\n05,10290\r\n"));
    EXPECT_EQ(10327u, lowest_of("03,10327\r\n05\r\n\r\nabc\r\n"));
    EXPECT_EQ(10327u, lowest_of("03,10327\r\n05;10001\r\n"));
}

TEST(LowestVersion, NegativeNumberIsVeryLarge)
{
    EXPECT_EQ(10400u, lowest_of("03,-5\r\n05,10400\r\n"));
    EXPECT_EQ(59999u, lowest_of("03,-1\r\n"));
    EXPECT_EQ(59999u, lowest_of("03,70000\r\n"));
}

/* Another process holds dir\START.LOG open without sharing until ended. */
struct Holder {
    PROCESS_INFORMATION pi = {};
    bool start(const std::string &dir)
    {
        std::string log = dir + "START.LOG";
        std::string exe = test_exe_dir() + "..\\standins\\hold_file.exe";
        std::string line = "\"" + exe + "\" \"" + log + "\" 60";
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        if (!CreateProcessA(exe.c_str(), &line[0], NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL,
                            &si, &pi))
            return false;
        for (int i = 0; i < 200; i++) {
            if (file_exists(log + ".held"))
                return true;
            if (WaitForSingleObject(pi.hProcess, 50) == WAIT_OBJECT_0)
                return false;
        }
        return false;
    }
    void stop()
    {
        if (pi.hProcess) {
            TerminateProcess(pi.hProcess, 0);
            WaitForSingleObject(pi.hProcess, 5000);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
            pi.hProcess = NULL;
        }
    }
    ~Holder() { stop(); }
};

static const char *const HELD_TEXT =
    " KIRO-skema kunne ikke få tilgang til start.log, prøv igen om 5-10 sekunder !";

TEST(LowestVersion, HeldLogWarnsAndCancelGivesZero)
{
    std::string dir = dir_of("held");
    write_file(dir + "START.LOG", "03,10327\r\n");
    Holder holder;
    ASSERT_TRUE(holder.start(dir));
    ScriptedBoxes boxes({ IDOK, IDCANCEL });
    EXPECT_EQ(0u, lowest_version_in_use(dir.c_str()));
    ASSERT_EQ(2u, boxes.shown.size());   /* OK tried again, Cancel gave up */
    EXPECT_EQ(HELD_TEXT, boxes.shown[0].text);
    EXPECT_EQ(" Start.log ", boxes.shown[0].caption);
    EXPECT_EQ((UINT)(MB_OKCANCEL | MB_ICONWARNING), boxes.shown[0].style);
    EXPECT_EQ(NULL, boxes.shown[0].owner);
}

static Holder *g_holder;
static int g_boxes;
static int release_and_retry(HWND owner, const char *text, const char *caption, UINT style)
{
    g_boxes++;
    g_holder->stop();
    return IDOK;
}

TEST(LowestVersion, OkReadsTheLogOnceItIsFree)
{
    std::string dir = dir_of("freed");
    write_file(dir + "START.LOG", "03,10327\r\n05,10326\r\n");
    Holder holder;
    ASSERT_TRUE(holder.start(dir));
    g_holder = &holder;
    g_boxes = 0;
    set_message_box_hook(release_and_retry);
    unsigned lowest = lowest_version_in_use(dir.c_str());
    set_message_box_hook(NULL);
    EXPECT_EQ(1, g_boxes);
    EXPECT_EQ(10326u, lowest);
}
