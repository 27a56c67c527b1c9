/*
 * Profile files replaced whole: several keys in one replacement give the
 * bytes the profile functions give writing in place, copies left by a power
 * cut are removed and nothing else, and a file another station holds for a
 * moment is waited for, while one held on is left as it was with nothing
 * beside it.
 */
#include "support/profile_file.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>

namespace {

const char *const START = "[global]\r\ninsnr=7\r\nversion=10327\r\nskemal\xE5st=nej\r\ngammel=1\r\n"
                          "[kontakt]\r\ndatabase=skole\r\n";

std::vector<std::string> names_in(const std::string &dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return names;
}

DWORD WINAPI close_later(void *handle)
{
    Sleep(300);
    CloseHandle((HANDLE)handle);
    return 0;
}

}  // namespace

TEST(ProfileFile, SeveralKeysAreOneReplacementWithTheBytesOfWritingInPlace)
{
    std::string dir = make_scratch_dir("profile_keys");
    std::string file = dir + "\\kiro.ini", in_place = dir + "\\in_place.txt";
    ASSERT_TRUE(write_file(file, START) && write_file(in_place, START));
    WritePrivateProfileStringA("global", "skemal\xE5st", "ja", in_place.c_str());
    WritePrivateProfileStringA("global", "flytdrev", "P:", in_place.c_str());
    WritePrivateProfileStringA("global", "gammel", NULL, in_place.c_str());
    forget_cached_profile(in_place.c_str());

    ProfileValue values[] = { { "skemal\xE5st", "ja" }, { "flytdrev", "P:" }, { "gammel", NULL } };
    ASSERT_TRUE(replace_profile_values(file.c_str(), "global", values, 3));
    EXPECT_EQ(read_file(in_place), read_file(file));
    EXPECT_EQ(2u, names_in(dir).size()) << "no copy is left beside it";
    remove_tree(dir);
}

TEST(ProfileFile, CopiesLeftByAPowerCutAreRemovedAndNothingElse)
{
    std::string dir = make_scratch_dir("profile_leftovers");
    std::string file = dir + "\\kiro.ini";
    const char *kept[] = { "kiro.ini", "kiro.ini.bak", "kiro.ini.~12", "flyt.ini.~0000abcd" };
    for (const char *name : kept)
        ASSERT_TRUE(write_file(dir + "\\" + name, START));
    ASSERT_TRUE(write_file(file + ".~0000ABCD", "[glob"));
    remove_replacement_leftovers(file.c_str());
    EXPECT_FALSE(file_exists(file + ".~0000ABCD"));
    EXPECT_EQ(4u, names_in(dir).size());

    ASSERT_TRUE(write_file(file + ".~00001234", ""));
    ProfileValue lock = { "skemal\xE5st", "ja" };
    EXPECT_TRUE(replace_profile_values(file.c_str(), "global", &lock, 1));
    EXPECT_FALSE(file_exists(file + ".~00001234")) << "the next replacement removes them too";
    remove_tree(dir);
}

TEST(ProfileFile, AFileHeldForAMomentIsWaitedForOneHeldOnIsLeftAsItWas)
{
    std::string dir = make_scratch_dir("profile_held");
    std::string file = dir + "\\kiro.ini";
    ASSERT_TRUE(write_file(file, START));
    ProfileValue lock = { "skemal\xE5st", "ja" };

    HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    HANDLE releaser = CreateThread(NULL, 0, close_later, held, 0, NULL);
    ASSERT_TRUE(releaser);
    EXPECT_TRUE(replace_profile_values(file.c_str(), "global", &lock, 1));
    WaitForSingleObject(releaser, 5000);
    CloseHandle(releaser);
    EXPECT_NE(std::string::npos, read_file(file).find("skemal\xE5st=ja"));

    std::string before = read_file(file);
    held = CreateFileA(file.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    ProfileValue open = { "skemal\xE5st", "nej" };
    EXPECT_FALSE(replace_profile_values(file.c_str(), "global", &open, 1));
    CloseHandle(held);
    EXPECT_EQ(before, read_file(file));
    EXPECT_EQ(1u, names_in(dir).size()) << "no copy is left beside it";
    remove_tree(dir);
}
