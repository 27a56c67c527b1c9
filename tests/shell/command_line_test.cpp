/*
 * The menu's command line: -p/-P and -d/-D switches, quoting, blanks, the
 * fallbacks to the program's own directory, and arguments that are ignored.
 */
#include <gtest/gtest.h>
#include "shell/command_line.h"
#include "support/settings.h"

#include <string>

struct Dirs {
    std::string program, data;
};

static Dirs parse(const wchar_t *line)
{
    char p[KIRO_PATH_SIZE], d[KIRO_PATH_SIZE];
    parse_command_line_text(line, p, d);
    return { p, d };
}

TEST(CommandLine, NoArgumentsUsesTheProgramsOwnDirectory)
{
    Dirs r = parse(L"C:\\Skema\\kiromenu.exe");
    EXPECT_EQ("C:\\Skema\\", r.program);
    EXPECT_EQ("C:\\Skema\\", r.data);
}

TEST(CommandLine, BareFileNameLeavesBothDirectoriesEmpty)
{
    Dirs r = parse(L"kiromenu.exe");
    EXPECT_EQ("", r.program);
    EXPECT_EQ("", r.data);
}

TEST(CommandLine, DataSwitchAloneKeepsTheProgramPath)
{
    Dirs r = parse(L"C:\\Skema\\kiromenu.exe -dD:\\Data");
    EXPECT_EQ("C:\\Skema\\", r.program);
    EXPECT_EQ("D:\\Data\\", r.data);
}

TEST(CommandLine, EmptyDataSwitchFallsBackToTheProgramDirectory)
{
    Dirs r = parse(L"C:\\Skema\\kiromenu.exe -pE:\\Prog -d");
    EXPECT_EQ("E:\\Prog\\", r.program);
    EXPECT_EQ("E:\\Prog\\", r.data);
}

TEST(CommandLine, QuotedValueLosesItsBlanksAndGainsABackslash)
{
    Dirs r = parse(L"x.exe -p\"  C:\\Program Files\\Skema  \" -D\"D:\\My Data\"");
    EXPECT_EQ("C:\\Program Files\\Skema\\", r.program);
    EXPECT_EQ("D:\\My Data\\", r.data);
}

TEST(CommandLine, OneCharacterValueGetsNoBackslash)
{
    Dirs r = parse(L"x.exe -pC -dD");
    EXPECT_EQ("C", r.program);
    EXPECT_EQ("D", r.data);
}

TEST(CommandLine, LaterSwitchOfTheSameLetterWins)
{
    Dirs r = parse(L"x.exe -PC:\\A -pC:\\B");
    EXPECT_EQ("C:\\B\\", r.program);
}

TEST(CommandLine, SlashAndUnknownSwitchesAreIgnored)
{
    Dirs r = parse(L"C:\\Skema\\kiromenu.exe /pC:\\X -xC:\\X plain");
    EXPECT_EQ("C:\\Skema\\", r.program);
    EXPECT_EQ("C:\\Skema\\", r.data);
}

TEST(CommandLine, ArgumentOverFiveHundredNineteenBytesIsIgnored)
{
    std::wstring fits = L"-pC:\\" + std::wstring(519 - 5, L'a');    /* exactly 519 bytes */
    std::wstring too_long = L"-dD:\\" + std::wstring(520 - 5, L'b'); /* 520 bytes */
    std::wstring line = L"C:\\Skema\\kiromenu.exe " + fits + L" " + too_long;
    Dirs r = parse(line.c_str());
    EXPECT_EQ(518u, r.program.size());   /* 519 less "-p", plus the backslash */
    EXPECT_EQ('\\', r.program.back());
    EXPECT_EQ(r.program, r.data);        /* the long -d was ignored */
}

TEST(CommandLine, NonAnsiCharactersBecomeTheDefaultCharacterNotALookAlike)
{
    /* Danish letters are Windows-1252; a Greek Omega has no code there and
       must not be mapped to a similar Latin letter. */
    Dirs r = parse(L"x.exe -pC:\\Sk\u00E6ma\\\u03A9 -dC:\\\u00C5rhus");
    EXPECT_EQ("C:\\Sk\xE6" "ma\\?\\", r.program);
    EXPECT_EQ("C:\\\xC5rhus\\", r.data);
}

TEST(CommandLine, ShortcutArgumentsReadEveryWord)
{
    char p[KIRO_PATH_SIZE] = "", d[KIRO_PATH_SIZE] = "";
    ASSERT_TRUE(parse_switches(L"-d\"D:\\Skole Data\" -pC:\\P", p, d));
    EXPECT_STREQ("C:\\P", p);
    EXPECT_STREQ("D:\\Skole Data", d);
}

TEST(TextHelpers, TrimBlanksKeepsBytesAbove127)
{
    char t[32] = "\t  \xE5" "ben \r\n";
    trim_blanks(t);
    EXPECT_STREQ("\xE5" "ben", t);
    char blanks[8] = " \t ";
    trim_blanks(blanks);
    EXPECT_STREQ("", blanks);
}

TEST(TextHelpers, StripToDirectory)
{
    char a[32] = "C:\\A\\b.exe";
    strip_to_directory(a);
    EXPECT_STREQ("C:\\A\\", a);
    char b[32] = "kiromenu.exe";
    strip_to_directory(b);
    EXPECT_STREQ("", b);
}
