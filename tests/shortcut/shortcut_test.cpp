/*
 * The desktop shortcut check, on shortcuts this test creates in the
 * prefix's desktop folder: the desktop folder's registry value, which
 * shortcut belongs to the installation, the icon index that follows the
 * super setting, and that only the first matching shortcut is written.
 */
#include <gtest/gtest.h>
#include "driver.h"
#include "test_support.h"
#include "resource.h"
#include "support/settings.h"
#include "shell/shortcut.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <string>
#include <vector>

struct Link {
    std::string target, arguments, icon_file;
    int icon_index = -1;
};

static std::wstring wide(const std::string &s)
{
    wchar_t buffer[1024];
    MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, buffer, 1024);
    return buffer;
}

static bool save_link(const std::string &path, const Link &link)
{
    IShellLinkA *shell = NULL;
    IPersistFile *file = NULL;
    bool ok = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                         (void **)&shell)) &&
              SUCCEEDED(shell->QueryInterface(IID_IPersistFile, (void **)&file)) &&
              SUCCEEDED(shell->SetPath(link.target.c_str())) &&
              SUCCEEDED(shell->SetArguments(link.arguments.c_str())) &&
              (link.icon_index < 0 ||
               SUCCEEDED(shell->SetIconLocation(link.icon_file.c_str(), link.icon_index))) &&
              SUCCEEDED(file->Save(wide(path).c_str(), TRUE));
    if (file)
        file->Release();
    if (shell)
        shell->Release();
    return ok;
}

static Link load_link(const std::string &path)
{
    Link link;
    IShellLinkA *shell = NULL;
    IPersistFile *file = NULL;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   (void **)&shell)) &&
        SUCCEEDED(shell->QueryInterface(IID_IPersistFile, (void **)&file)) &&
        SUCCEEDED(file->Load(wide(path).c_str(), STGM_READ))) {
        char text[MAX_PATH] = "";
        shell->GetPath(text, sizeof text, NULL, 0);
        link.target = text;
        text[0] = '\0';
        shell->GetArguments(text, sizeof text);
        link.arguments = text;
        text[0] = '\0';
        link.icon_index = 0;
        shell->GetIconLocation(text, sizeof text, &link.icon_index);
        link.icon_file = text;
    }
    if (file)
        file->Release();
    if (shell)
        shell->Release();
    return link;
}

/* An installation whose program directory holds the menu and the schedule
   program (empty files are enough for a shortcut target), the shortcuts
   this test puts on the desktop, and the menu settings pointing at it. */
struct Desktop : ::testing::Test {
    std::string desktop, root, program, data, prefix;
    std::vector<std::string> links;

    void SetUp() override
    {
        CoInitialize(NULL);
        char folder[MAX_PATH];
        ASSERT_TRUE(desktop_folder(folder, sizeof folder));
        desktop = std::string(folder) + "\\";
        make_dirs(desktop);
        root = make_scratch_dir("desk");
        program = root + "\\Prog Dir\\";
        data = root + "\\Data Dir\\";
        make_dirs(program);
        make_dirs(data + "ini");
        write_file(program + "kiromenu.exe", "menu");
        write_file(program + "10327.exe", "schedule");
        use(program, data, "nej");
        prefix = "kirotest" + std::to_string(GetCurrentProcessId()) + "_";
    }
    void TearDown() override
    {
        for (const std::string &l : links)
            DeleteFileA(l.c_str());
        CoUninitialize();
    }
    void use(const std::string &p, const std::string &d, const char *super)
    {
        strcpy(g_settings.program_dir, p.c_str());
        strcpy(g_settings.data_dir, d.c_str());
        strcpy(g_settings.config_path, (d + "ini\\kiro.ini").c_str());
        make_dirs(d + "ini");
        ASSERT_TRUE(WritePrivateProfileStringA("global", "superkiro", super, g_settings.config_path));
    }
    std::string add(const char *name, const std::string &target, const std::string &arguments,
                    int icon_index = 0, const std::string &icon_file = "C:\\windows\\system32\\shell32.dll")
    {
        std::string path = desktop + prefix + name + ".lnk";
        Link link;
        link.target = target;
        link.arguments = arguments;
        link.icon_file = icon_file;
        link.icon_index = icon_index;
        EXPECT_TRUE(save_link(path, link));
        links.push_back(path);
        return path;
    }
    std::string args(const std::string &p, const std::string &d)
    {
        return "-p\"" + p.substr(0, p.size() - 1) + "\" -d\"" + d.substr(0, d.size() - 1) + "\"";
    }
};

TEST(ShortcutRules, IconIndex)
{
    EXPECT_EQ(1, shortcut_icon_index("ja", 0));
    EXPECT_EQ(0, shortcut_icon_index("nej", 1));
    EXPECT_EQ(5, shortcut_icon_index("ja", 5));
    EXPECT_EQ(1, shortcut_icon_index("ja", 1));
    EXPECT_EQ(0, shortcut_icon_index("Ja", 0));
    EXPECT_EQ(1, shortcut_icon_index("JA", 1));
    EXPECT_EQ(1, shortcut_icon_index("", 1));
}

TEST(ShortcutRules, WhichShortcutBelongs)
{
    const char *p = "C:\\Skema\\", *d = "D:\\Data\\";
    EXPECT_TRUE(shortcut_belongs("C:\\Skema\\kiromenu.exe", "-pC:\\Skema -dD:\\Data", p, d));
    EXPECT_TRUE(shortcut_belongs("c:\\skema\\KIROMENU.EXE", "-d\"  d:\\data  \"", p, d));
    EXPECT_TRUE(shortcut_belongs("C:\\Skema\\10327.exe", "-DD:\\DATA\\", p, d));
    EXPECT_FALSE(shortcut_belongs("C:\\Skema\\kiromenu.exe", "-pC:\\Skema -dD:\\Andet", p, d));
    EXPECT_FALSE(shortcut_belongs("C:\\Skema2\\kiromenu.exe", "-dD:\\Data", p, d));
    /* -p alone names the data directory too; no arguments: the target's. */
    EXPECT_TRUE(shortcut_belongs("C:\\Skema\\kiromenu.exe", "-pD:\\Data", p, d));
    EXPECT_FALSE(shortcut_belongs("C:\\Skema\\kiromenu.exe", "", p, d));
    EXPECT_TRUE(shortcut_belongs("C:\\Skema\\kiromenu.exe", "", p, p));
    EXPECT_TRUE(shortcut_belongs("C:\\Skema\\kiromenu.exe", "-x /dD:\\Data", p, p));
    EXPECT_FALSE(shortcut_belongs("", "", "", ""));
    /* Danish letters compare without case as well. */
    EXPECT_TRUE(shortcut_belongs("C:\\Skema\\kiromenu.exe", "-dD:\\SKOLEÅR", p, "D:\\skoleår\\"));
}

TEST(DesktopFolder, ValueOfUpTo520BytesIsRead)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER,
                                           "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                                           0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key));
    char saved[KIRO_PATH_SIZE];
    DWORD saved_size = sizeof saved;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Desktop", NULL, NULL, (BYTE *)saved, &saved_size));
    for (size_t length : { 519, 520 }) {   /* with its end: 520 and 521 bytes */
        std::string folder = "C:\\" + std::string(length - 3, 'd');
        RegSetValueExA(key, "Desktop", 0, REG_SZ, (const BYTE *)folder.c_str(), (DWORD)folder.size() + 1);
        char read[2 * KIRO_PATH_SIZE] = "";
        bool found = desktop_folder(read, sizeof read);
        EXPECT_EQ(length == 519, found) << length;
        if (found) {
            EXPECT_EQ(folder, read);
        }
    }
    RegSetValueExA(key, "Desktop", 0, REG_SZ, (const BYTE *)saved, saved_size);
    RegCloseKey(key);
}

TEST_F(Desktop, SuperSettingJaTurnsIndexZeroIntoOne)
{
    use(program, data, "ja");
    std::string path = add("ja", program + "kiromenu.exe", args(program, data), 0);
    check_desktop_shortcut();
    Link link = load_link(path);
    EXPECT_EQ(1, link.icon_index);
    EXPECT_EQ(program + "kiromenu.exe", link.icon_file);
    EXPECT_EQ(args(program, data), link.arguments);
    EXPECT_EQ(program + "kiromenu.exe", link.target);
}

TEST_F(Desktop, SuperSettingNejTurnsIndexOneIntoZero)
{
    std::string path = add("nej", program + "kiromenu.exe", args(program, data), 1);
    check_desktop_shortcut();
    Link link = load_link(path);
    EXPECT_EQ(0, link.icon_index);
    EXPECT_EQ(program + "kiromenu.exe", link.icon_file);
}

TEST_F(Desktop, OtherLetterCaseLeavesTheIndexButSaves)
{
    use(program, data, "Ja");
    std::string path = add("Ja", program + "10327.exe", args(program, data), 0);
    check_desktop_shortcut();
    Link link = load_link(path);
    EXPECT_EQ(0, link.icon_index);
    EXPECT_EQ(program + "10327.exe", link.icon_file);   /* its own target */
}

TEST_F(Desktop, AnotherInstallationIsSkipped)
{
    use(program, data, "ja");
    std::string other = add("other", program + "kiromenu.exe", args(program, root + "\\Andet\\"), 0);
    std::string before = read_file(other);
    std::string ours = add("ours", program + "kiromenu.exe", args(program, data), 0);
    check_desktop_shortcut();
    EXPECT_EQ(before, read_file(other));
    EXPECT_EQ(1, load_link(ours).icon_index);
}

TEST_F(Desktop, NoArgumentsMatchesOnlyTheProgramDirectoryAsData)
{
    use(program, data, "ja");
    std::string path = add("bare", program + "kiromenu.exe", "", 0);
    std::string before = read_file(path);
    check_desktop_shortcut();
    EXPECT_EQ(before, read_file(path));
    use(program, program, "ja");
    check_desktop_shortcut();
    EXPECT_EQ(1, load_link(path).icon_index);
}

TEST_F(Desktop, OnlyTheFirstMatchingShortcutIsWritten)
{
    use(program, data, "ja");
    std::string a = add("first", program + "kiromenu.exe", args(program, data), 0);
    std::string b = add("second", program + "kiromenu.exe", args(program, data), 0);
    /* Which one the desktop listing gives first. */
    std::string first;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((desktop + "*.lnk").c_str(), &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    do {
        std::string path = desktop + found.cFileName;
        if (path == a || path == b) {
            first = path;
            break;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::string second = first == a ? b : a;
    std::string untouched = read_file(second);
    check_desktop_shortcut();
    EXPECT_EQ(1, load_link(first).icon_index);
    EXPECT_EQ(untouched, read_file(second));
}

TEST_F(Desktop, ShortcutsElsewhereAreLeftAlone)
{
    use(program, data, "ja");
    std::string elsewhere = root + "\\Elsewhere\\";
    make_dirs(elsewhere);
    write_file(elsewhere + "kiromenu.exe", "menu");
    std::string path = add("elsewhere", elsewhere + "kiromenu.exe", args(program, data), 0);
    std::string before = read_file(path);
    check_desktop_shortcut();
    EXPECT_EQ(before, read_file(path));
}

TEST_F(Desktop, StartUpOfTheRealMenuUpdatesTheShortcut)
{
    Installation inst = make_installation("desk_gui", 7, 10327, "ja");
    std::string path = add("gui", inst.program_dir + "kiromenu.exe", inst.args(), 0);
    Program p = start_program(inst.program_dir + "kiromenu.exe", inst.args());
    ASSERT_TRUE(p.process);
    HWND menu = wait_main_menu(p.pid);
    ASSERT_TRUE(menu);
    Link link = load_link(path);
    EXPECT_EQ(1, link.icon_index);
    EXPECT_EQ(inst.program_dir + "kiromenu.exe", link.icon_file);
    click(menu, IDC_CLOSE);
    EXPECT_EQ(0, wait_exit(p));
}
