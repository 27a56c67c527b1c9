/*
 * Desktop shortcut check (see shortcut.h). The shortcuts are read and
 * written through the shell-link object (IShellLinkA with IPersistFile).
 * A shortcut belongs to this installation when its target lies in the
 * program directory and its arguments, read by the menu's own command-line
 * rules, name the same data directory.
 */
#include "shell/shortcut.h"
#include "shell/command_line.h"
#include "support/settings.h"
#include "support/text.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <string.h>

enum { LINK_TEXT_SIZE = 260 };

int shortcut_icon_index(const char *super_setting, int index)
{
    if (strcmp(super_setting, "ja") == 0 && index == 0)
        return 1;
    if (strcmp(super_setting, "nej") == 0 && index == 1)
        return 0;
    return index;
}

/* Equal when they differ only in letter case (Windows-1252 letters too). */
static bool same_path(const char *a, const char *b)
{
    char x[KIRO_PATH_SIZE], y[KIRO_PATH_SIZE];
    if (!copy_text(x, sizeof x, a) || !copy_text(y, sizeof y, b))
        return false;
    CharUpperBuffA(x, (DWORD)strlen(x));
    CharUpperBuffA(y, (DWORD)strlen(y));
    return strcmp(x, y) == 0;
}

bool shortcut_belongs(const char *target_path, const char *arguments, const char *program_dir,
                      const char *data_dir)
{
    char target_dir[KIRO_PATH_SIZE];
    if (!target_path[0] || !copy_text(target_dir, sizeof target_dir, target_path))
        return false;
    strip_to_directory(target_dir);
    if (!same_path(target_dir, program_dir))
        return false;

    /* The shortcut's data directory by the menu's own rules: -d, else -p,
       else the target's directory; trimmed and ended with a backslash. */
    char link_program[KIRO_PATH_SIZE] = "", link_data[KIRO_PATH_SIZE] = "";
    if (arguments[0]) {
        wchar_t wide[LINK_TEXT_SIZE + 1];
        if (!MultiByteToWideChar(CP_ACP, 0, arguments, -1, wide, LINK_TEXT_SIZE + 1))
            return false;
        if (!parse_switches(wide, link_program, link_data))
            return false;
    }
    if (!link_program[0])
        copy_text(link_program, sizeof link_program, target_dir);
    trim_blanks(link_program);
    end_with_backslash(link_program, sizeof link_program);
    if (!link_data[0])
        copy_text(link_data, sizeof link_data, link_program);
    trim_blanks(link_data);
    end_with_backslash(link_data, sizeof link_data);
    return same_path(link_data, data_dir);
}

bool desktop_folder(char *out, size_t size)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                      0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    char value[KIRO_PATH_SIZE];
    DWORD type = 0, bytes = sizeof value;
    LONG status = RegQueryValueExA(key, "Desktop", NULL, &type, (BYTE *)value, &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    value[bytes < sizeof value ? bytes : sizeof value - 1] = '\0';
    return value[0] && copy_text(out, size, value);
}

/* name in the ANSI code page as UTF-16, at most 260 characters. */
static bool to_wide(const char *text, wchar_t *out)
{
    return MultiByteToWideChar(CP_ACP, 0, text, -1, out, LINK_TEXT_SIZE) > 0;
}

/* Handles one shortcut file; true when it belonged to this installation
   (whether or not it could be saved). */
static bool check_one(IShellLinkA *link, IPersistFile *file, const char *path, const char *super_setting)
{
    wchar_t wide_path[LINK_TEXT_SIZE];
    if (!to_wide(path, wide_path) || FAILED(file->Load(wide_path, STGM_WRITE)))
        return false;
    char target[LINK_TEXT_SIZE] = "", arguments[LINK_TEXT_SIZE] = "";
    if (FAILED(link->GetPath(target, sizeof target, NULL, SLGP_UNCPRIORITY)))
        return false;
    if (FAILED(link->GetArguments(arguments, sizeof arguments)))
        arguments[0] = '\0';
    if (!shortcut_belongs(target, arguments, g_settings.program_dir, g_settings.data_dir))
        return false;

    char icon_file[LINK_TEXT_SIZE];
    int index = 0;
    if (FAILED(link->GetIconLocation(icon_file, sizeof icon_file, &index)))
        index = 0;
    link->SetIconLocation(target, shortcut_icon_index(super_setting, index));
    file->Save(wide_path, TRUE);
    return true;
}

void check_desktop_shortcut(void)
{
    char desktop[KIRO_PATH_SIZE];
    if (!desktop_folder(desktop, sizeof desktop))
        return;
    /* A desktop without shortcuts needs no shell-link object: starting the
       component system is the slowest part of the menu's start. */
    char probe[KIRO_PATH_SIZE];
    copy_text(probe, sizeof probe, desktop);
    end_with_backslash(probe, sizeof probe);
    if (!append_text(probe, sizeof probe, "*.lnk"))
        return;
    WIN32_FIND_DATAA first;
    HANDLE any = FindFirstFileA(probe, &first);
    if (any == INVALID_HANDLE_VALUE)
        return;
    FindClose(any);
    HRESULT com = CoInitialize(NULL);
    IShellLinkA *link = NULL;
    IPersistFile *file = NULL;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   (void **)&link)) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file))) {
        char super_setting[500];
        GetPrivateProfileStringA(KEY_SECTION_GLOBAL, "superkiro", "nej", super_setting,
                                 sizeof super_setting, g_settings.config_path);
        char folder[KIRO_PATH_SIZE], pattern[KIRO_PATH_SIZE];
        copy_text(folder, sizeof folder, desktop);
        end_with_backslash(folder, sizeof folder);
        WIN32_FIND_DATAA found;
        HANDLE search = INVALID_HANDLE_VALUE;
        if (format_text(pattern, sizeof pattern, "%s*.lnk", folder))
            search = FindFirstFileA(pattern, &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                char path[KIRO_PATH_SIZE];
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    continue;
                if (!format_text(path, sizeof path, "%s%s", folder, found.cFileName))
                    continue;
                if (check_one(link, file, path, super_setting))
                    break;
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
    }
    if (file)
        file->Release();
    if (link)
        link->Release();
    if (SUCCEEDED(com))
        CoUninitialize();
}
