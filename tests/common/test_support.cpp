/*
 * Helpers shared by the tests (see test_support.h), and the ending of the
 * programs a test left running.
 */
#include "test_support.h"
#include "driver.h"
#include "support/message_box.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

/* After every test, whatever program it started and left running (a test
   that failed early never closes its menu) is ended, so that no window of
   it stays on the display for the tests that follow. */
namespace {
struct EndLeftPrograms : testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo &test) override
    {
        int left = end_started_programs();
        if (left > 0)
            printf("[ note     ] %s.%s left %d program(s) running; ended\n", test.test_suite_name(),
                   test.name(), left);
    }
};
const bool g_ends_left_programs =
    (testing::UnitTest::GetInstance()->listeners().Append(new EndLeftPrograms), true);
}  // namespace

static ScriptedBoxes *g_scripted = NULL;

static int scripted_box(HWND owner, const char *text, const char *caption, UINT style)
{
    if (!g_scripted)
        return IDOK;
    g_scripted->shown.push_back({ owner, text, caption, style });
    if (g_scripted->answers.empty())
        return (style & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
    int answer = g_scripted->answers.front();
    g_scripted->answers.erase(g_scripted->answers.begin());
    return answer;
}

ScriptedBoxes::ScriptedBoxes(std::vector<int> a) : answers(a)
{
    g_scripted = this;
    set_message_box_hook(scripted_box);
}

ScriptedBoxes::~ScriptedBoxes()
{
    set_message_box_hook(NULL);
    g_scripted = NULL;
}

std::string test_exe_dir()
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof path);
    char *slash = strrchr(path, '\\');
    if (slash)
        slash[1] = '\0';
    return path;
}

std::string kiromenu_exe()
{
    return test_exe_dir() + "..\\kiromenu.exe";
}

bool make_dirs(const std::string &path)
{
    std::string partial;
    for (size_t i = 0; i < path.size(); i++) {
        partial += path[i];
        if ((path[i] == '\\' || i + 1 == path.size()) && partial.size() > 3)
            CreateDirectoryA(partial.c_str(), NULL);
    }
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

void remove_tree(const std::string &dir)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = dir + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                remove_tree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(dir.c_str());
}

std::string make_scratch_dir(const char *name)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string dir = std::string(temp) + "kirotest\\" + std::to_string(GetCurrentProcessId()) + "\\" + name;
    remove_tree(dir);
    make_dirs(dir);
    return dir;
}

bool write_file(const std::string &path, const std::string &content)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(content.data(), 1, content.size(), f) == content.size();
    return fclose(f) == 0 && ok;
}

std::string random_bytes(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; i++) {
        x = x * 1103515245u + 12345u;
        s[i] = (char)(x >> 16);
    }
    return s;
}

std::string read_file(const std::string &path)
{
    std::string content;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return content;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        content.append(buffer, n);
    fclose(f);
    return content;
}

bool file_exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Installation::args() const
{
    std::string p = program_dir.substr(0, program_dir.size() - 1);
    std::string d = data_dir.substr(0, data_dir.size() - 1);
    return "-p\"" + p + "\" -d\"" + d + "\"";
}

void set_ini(const Installation &inst, const char *key, const char *value)
{
    WritePrivateProfileStringA("global", key, value, inst.ini().c_str());
}

Installation make_installation(const char *name, int installation, int version, const char *super,
                               const char *locked, const char *move_drive)
{
    Installation inst;
    inst.root = make_scratch_dir(name);
    inst.program_dir = inst.root + "\\Program Files\\Skema\\";
    inst.data_dir = inst.root + "\\Data\\";
    make_dirs(inst.program_dir);
    make_dirs(inst.data_dir + "ini");
    make_dirs(inst.data_dir + "data");
    CopyFileA(kiromenu_exe().c_str(), (inst.program_dir + "kiromenu.exe").c_str(), FALSE);
    set_ini(inst, "insnr", std::to_string(installation).c_str());
    set_ini(inst, "version", std::to_string(version).c_str());
    set_ini(inst, "skemalåst", locked);
    set_ini(inst, "superkiro", super);
    set_ini(inst, "flytdrev", move_drive);
    return inst;
}
