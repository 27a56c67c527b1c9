/*
 * The message trace: nothing without trace_open, the head, the omitted
 * messages, the line format, message names, the -t switch, and a file that
 * cannot be created.
 */
#include <gtest/gtest.h>
#include "diagnostics/trace.h"
#include "test_support.h"

#include <windows.h>
#include <string.h>
#include <string>

static const char HEAD[] =
    "// KIRO-MessageTrace !!!\r\n\r\n"
    "/* Disse messages er udeladt :\r\n"
    "   WM_NCMOUSEMOVE             : 00A0\r\n"
    "   WM_MOUSEFIRST WM_MOUSEMOVE : 0200\r\n"
    "   WM_SETCURSOR               : 0020\r\n"
    "   WM_NCHITTEST               : 0084\r\n"
    "*/\r\n";

TEST(Trace, WithoutOpenNothingIsWritten)
{
    std::string dir = make_scratch_dir("trace_closed");
    trace_record("COMBOBOX: ", 0x0007, 1, 2);
    trace_close();
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*.*").c_str(), &found);
    int files = 0;
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, ".."))
                files++;
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    EXPECT_EQ(0, files);
}

TEST(Trace, HeadOmittedMessagesAndLineFormat)
{
    std::string path = make_scratch_dir("trace_lines") + "\\trace.txt";
    write_file(path, "old content that must go\n");
    trace_open(path.c_str());
    trace_record("COMBOBOX: ", 0x0200, 5, 6);       // left out
    trace_record("COMBOBOX: ", 0x00A0, 5, 6);
    trace_record("COMBOBOX: ", 0x0020, 5, 6);
    trace_record("COMBOBOX: ", 0x0084, 5, 6);
    trace_record("COMBOBOX: ", 0x0007, 1234, -5);
    trace_record("X", 0x020A, -1, 2147483647L);
    trace_close();
    std::string expected = std::string(HEAD) +
        "COMBOBOX:    WM_SETFOCUS                 wParam:     1234  lParam:         -5\r\n"
        "X        522                         wParam:       -1  lParam: 2147483647\r\n";
    EXPECT_EQ(expected, read_file(path));
    trace_record("COMBOBOX: ", 0x0007, 1, 2);   // closed again: nothing more
    EXPECT_EQ(expected, read_file(path));
}

TEST(Trace, MessageNames)
{
    EXPECT_STREQ("WM_NULL", message_name(0));
    EXPECT_STREQ("WM_SETFOCUS", message_name(0x0007));
    EXPECT_STREQ("WM_WININICHANGE", message_name(0x001A));
    EXPECT_STREQ("WM_KEYFIRST WM_KEYDOWN", message_name(0x0100));
    EXPECT_STREQ("WM_KEYLAST", message_name(0x0109));
    EXPECT_STREQ("WM_IME_COMPOSITION WM_IME_KEYLAST", message_name(0x010F));
    EXPECT_STREQ("WM_MBUTTONDBLCLK WM_MOUSELAST", message_name(0x0209));
    EXPECT_STREQ("WM_HANDHELDLAST", message_name(0x035F));
    EXPECT_STREQ("WM_AFXFIRST", message_name(0x0360));
    EXPECT_STREQ("WM_PENWINLAST", message_name(0x038F));
    EXPECT_STREQ("WM_USER", message_name(0x0400));
    EXPECT_STREQ("WM_APP", message_name(0x8000));
    EXPECT_STREQ("522", message_name(0x020A));
    EXPECT_STREQ("4", message_name(0x0004));
    EXPECT_STREQ("1025", message_name(0x0401));
    // exactly 186 numbers carry a name
    int named = 0;
    for (unsigned int m = 0; m <= 0x8000; m++) {
        char digits[16];
        snprintf(digits, sizeof digits, "%u", m);
        if (strcmp(message_name(m), digits) != 0)
            named++;
    }
    EXPECT_EQ(186, named);
}

TEST(Trace, PathThatCannotBeCreatedGivesNoTrace)
{
    std::string dir = make_scratch_dir("trace_bad");
    std::string path = dir + "\\missing\\folder\\trace.txt";
    trace_open(path.c_str());
    trace_record("COMBOBOX: ", 0x0007, 1, 2);
    trace_close();
    EXPECT_FALSE(file_exists(path));
    EXPECT_FALSE(file_exists(dir + "\\missing"));
}

TEST(Trace, SwitchNamesTheTraceFile)
{
    char path[520];
    EXPECT_TRUE(trace_switch(L"kiromenu.exe -pC:\\kiro -tC:\\log\\trace.txt -dC:\\data", path, sizeof path));
    EXPECT_STREQ("C:\\log\\trace.txt", path);
    EXPECT_TRUE(trace_switch(L"kiromenu.exe \"-TC:\\my logs\\t.txt\"", path, sizeof path));
    EXPECT_STREQ("C:\\my logs\\t.txt", path);
    EXPECT_FALSE(trace_switch(L"kiromenu.exe -pC:\\kiro -dC:\\data", path, sizeof path));
    EXPECT_FALSE(trace_switch(L"kiromenu.exe -t", path, sizeof path));
}
