/*
 * The file-access check on real files, the attribute reset of a tree, and
 * the error texts.
 */
#include <gtest/gtest.h>
#include "support/error_text.h"
#include "support/file_probe.h"
#include "support/message_box.h"
#include "test_support.h"

TEST(FileAccess, ResultsForMissingNormalReadOnlyHeldAndDirectory)
{
    std::string dir = make_scratch_dir("access");
    std::string normal = dir + "\\normal.txt", ro = dir + "\\ro.txt", held = dir + "\\held.txt";
    ASSERT_TRUE(write_file(normal, "x"));
    ASSERT_TRUE(write_file(ro, "x"));
    ASSERT_TRUE(write_file(held, "x"));
    SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_READONLY);

    EXPECT_EQ(1, file_access((dir + "\\missing.txt").c_str()));
    EXPECT_EQ(0, file_access(normal.c_str()));
    EXPECT_EQ(2, file_access(ro.c_str()));
    EXPECT_EQ(4, file_access(dir.c_str()));    /* a directory opens neither way */

    HANDLE h = CreateFileA(held.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(4, file_access(held.c_str()));
    CloseHandle(h);

    SetFileAttributesA(held.c_str(), FILE_ATTRIBUTE_READONLY);
    h = CreateFileA(held.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(6, file_access(held.c_str()));
    CloseHandle(h);
    EXPECT_EQ(0, file_access(normal.c_str())) << "the probe must not keep anything open";
    remove_tree(dir);
}

TEST(AttributeReset, ClearsMarksBelowButKeepsTheDirectoryItself)
{
    std::string dir = make_scratch_dir("reset");
    std::string hidden = dir + "\\hidden", file = hidden + "\\ro.dat";
    ASSERT_TRUE(make_dirs(hidden));
    ASSERT_TRUE(write_file(file, "data"));
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
    SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY);
    SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_HIDDEN);
    ASSERT_NE(0u, GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY);
    ASSERT_NE(0u, GetFileAttributesA(hidden.c_str()) & FILE_ATTRIBUTE_HIDDEN);

    reset_attributes((dir + "\\").c_str());   /* trailing backslash: doubled in the pattern */

    DWORD f = GetFileAttributesA(file.c_str());
    DWORD h = GetFileAttributesA(hidden.c_str());
    EXPECT_EQ(0u, f & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(0u, h & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_NE(0u, GetFileAttributesA(dir.c_str()) & FILE_ATTRIBUTE_HIDDEN) << "the given folder keeps its marks";
    SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
    remove_tree(dir);
}

TEST(AttributeReset, EmptyDirectoryMeansTheCurrentOneNotTheDriveRoot)
{
    std::string dir = make_scratch_dir("reset_cwd");
    std::string file = dir + "\\here.dat";
    ASSERT_TRUE(write_file(file, "x"));
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
    /* A marker at the root of the drive must keep its mark. */
    std::string root_marker = dir.substr(0, 3) + "kiro_root_marker.tmp";
    ASSERT_TRUE(write_file(root_marker, "x"));
    SetFileAttributesA(root_marker.c_str(), FILE_ATTRIBUTE_READONLY);

    char saved[MAX_PATH];
    GetCurrentDirectoryA(sizeof saved, saved);
    SetCurrentDirectoryA(dir.c_str());
    reset_attributes("");
    SetCurrentDirectoryA(saved);

    EXPECT_EQ(0u, GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_NE(0u, GetFileAttributesA(root_marker.c_str()) & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA(root_marker.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(root_marker.c_str());
    remove_tree(dir);
}

TEST(ErrorTexts, ErrorBoxShowsTheSystemTextAndItsCodeWhenNoTextIsGivenElseTheTextAsItIs)
{
    ScriptedBoxes boxes({ IDOK });
    SetLastError(ERROR_FILE_NOT_FOUND);
    char text[256];
    system_error_text(text, sizeof text);
    EXPECT_NE('\0', text[0]) << "some language must have a text for error 2";
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());

    SetLastError(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(IDOK, error_box(NULL, MB_ICONWARNING));
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ("Fejl", boxes.shown[0].caption);
    EXPECT_EQ(text, boxes.shown[0].text);
    EXPECT_EQ((UINT)MB_ICONWARNING, boxes.shown[0].style & MB_ICONMASK);
    EXPECT_EQ(NULL, boxes.shown[0].owner);

    /* The code follows the text; where the system has no text, words of
       the program's own stand in its place, never nothing. */
    EXPECT_EQ(std::string(text).size() - strlen(" (fejlkode 2)"), std::string(text).rfind(" (fejlkode 2)"));
    EXPECT_EQ(std::string::npos, std::string(text).find('\n'));
    const DWORD unknown = 0x20004711;   /* a customer code: no system has a text for it */
    SetLastError(unknown);
    EXPECT_EQ(IDOK, error_box(NULL, MB_ICONWARNING));
    EXPECT_EQ("Windows har ingen beskrivelse af fejlen. (fejlkode 0x20004711)", boxes.shown[1].text);
    EXPECT_EQ(unknown, GetLastError());
    char described[256];
    EXPECT_STREQ("Egen tekst (fejlkode 0x20004711)", describe_error(unknown, "Egen tekst", described, sizeof described));
    EXPECT_STREQ("Windows har ikke oplyst nogen årsag.", describe_error(0, NULL, described, sizeof described));
    boxes.shown.clear();

    /* A given text is shown as it is: no inserts, line breaks or ends. */
    const char *given = "Kan ikke 100% kopiere 'C:\\data\\uge%0%n%1.dat'";
    error_box(given, MB_ICONERROR | MB_OKCANCEL);
    EXPECT_EQ(given, boxes.shown[0].text);
    EXPECT_EQ((UINT)MB_OKCANCEL, boxes.shown[0].style & MB_TYPEMASK);
}
