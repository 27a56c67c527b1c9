/*
 * Replacing profile files whole (see profile_file.h).
 *
 * The copy lies beside the file as "<file>.~<process id, 8 hex digits>":
 * one name per process, so two stations that replace the same file never
 * write one copy. Before the copy is put in place it must hold every line
 * the file held, apart from the keys written, and the keys with their new
 * values; so a copy that lost lines on the way (another station removed it
 * as a leftover while it was written) is never put in place. The system
 * refuses to replace a file that another station holds open without
 * sharing it; such a station holds it for a moment only, so the copy and
 * the move are tried again for up to two seconds.
 */
#include "support/profile_file.h"
#include "support/disk_utils.h"
#include "support/file_probe.h"
#include "support/text.h"

#include <windows.h>
#include <string.h>
#include <string>
#include <utility>
#include <vector>

static const int HELD_WAIT_MS = 2000;
static const int HELD_STEP_MS = 50;
static const DWORD LARGEST_PROFILE = 1024 * 1024;

void forget_cached_profile(const char *file)
{
    /* All three names absent: the documented way to flush the cache. */
    WritePrivateProfileStringA(NULL, NULL, NULL, file);
}

static bool copy_path(char *out, size_t size, const char *file)
{
    return format_text(out, size, "%s.~%08lx", file, (unsigned long)GetCurrentProcessId());
}

/* Length of the folder part of path, with its separator (0: none). */
static size_t folder_length(const char *path)
{
    size_t n = strlen(path);
    while (n > 0 && path[n - 1] != '\\' && path[n - 1] != '/')
        n--;
    return n;
}

void remove_replacement_leftovers(const char *file)
{
    char pattern[MAX_PATH + 16];
    if (!format_text(pattern, sizeof pattern, "%s.~*", file))
        return;
    size_t folder = folder_length(file);
    const char *base = file + folder;
    size_t base_length = strlen(base);
    UINT mode = quiet_drive_begin();
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern, &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const char *name = found.cFileName;
            /* exactly "<file>.~" and eight hexadecimal digits */
            if (strlen(name) != base_length + 10 || _strnicmp(name, base, base_length) != 0
                || name[base_length] != '.' || name[base_length + 1] != '~')
                continue;
            bool hex = true;
            for (size_t i = base_length + 2; i < base_length + 10; i++)
                hex = hex && strchr("0123456789abcdefABCDEF", name[i]) != NULL;
            char path[MAX_PATH + 16];
            if (!hex || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                || !format_text(path, sizeof path, "%.*s%s", (int)folder, file, name))
                continue;
            SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path);
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    quiet_drive_end(mode);
}

/* Every section of a profile file with its lines, as the profile
   functions read them. */
typedef std::vector<std::pair<std::string, std::vector<std::string> > > ProfileLines;

/* The zero-separated list a profile function fills, grown until it fits;
   false when the file is larger than any profile file of the menu. */
template <typename Read>
static bool read_list(Read read, std::vector<std::string> &items)
{
    items.clear();
    for (DWORD size = 4096; size <= LARGEST_PROFILE; size *= 4) {
        std::vector<char> buffer(size, '\0');
        DWORD n = read(buffer.data(), size);
        if (n + 2 >= size)
            continue;   /* cut: read again with room */
        for (const char *p = buffer.data(); *p; p += strlen(p) + 1)
            items.push_back(p);
        return true;
    }
    return false;
}

static bool read_lines(const char *file, ProfileLines &lines)
{
    lines.clear();
    forget_cached_profile(file);
    std::vector<std::string> names;
    if (!read_list([file](char *b, DWORD s) { return GetPrivateProfileSectionNamesA(b, s, file); }, names))
        return false;
    for (const std::string &name : names) {
        std::vector<std::string> section;
        if (!read_list([file, &name](char *b, DWORD s) { return GetPrivateProfileSectionA(name.c_str(), b, s, file); },
                       section))
            return false;
        lines.push_back(std::make_pair(name, section));
    }
    return true;
}

static bool written_key(const char *section_name, const std::string &line, const char *section,
                        const ProfileValue *values, size_t count)
{
    if (lstrcmpiA(section_name, section) != 0)
        return false;
    std::string key = line.substr(0, line.find('='));
    for (size_t k = 0; k < count; k++)
        if (lstrcmpiA(key.c_str(), values[k].key) == 0)
            return true;
    return false;
}

/* The keys have their values in file (a removed key is absent). */
static bool says(const char *file, const char *section, const ProfileValue *values, size_t count)
{
    forget_cached_profile(file);
    for (size_t k = 0; k < count; k++) {
        char now[1024];
        const char *wanted = values[k].value ? values[k].value : "?";
        DWORD n = GetPrivateProfileStringA(section, values[k].key, values[k].value ? "" : "?", now, sizeof now,
                                           file);
        if (n + 1 >= sizeof now || strcmp(now, wanted) != 0)
            return false;
    }
    return true;
}

/* The copy holds every line the file held, apart from the keys written. */
static bool keeps_the_rest(const ProfileLines &before, const char *copy, const char *section,
                           const ProfileValue *values, size_t count)
{
    ProfileLines after;
    if (!read_lines(copy, after))
        return false;
    for (const auto &old_section : before) {
        const std::vector<std::string> *now = NULL;
        for (const auto &s : after)
            if (s.first == old_section.first)
                now = &s.second;
        for (const std::string &line : old_section.second) {
            if (written_key(old_section.first.c_str(), line, section, values, count))
                continue;
            bool kept = false;
            for (size_t i = 0; now && i < now->size() && !kept; i++)
                kept = (*now)[i] == line;
            if (!kept)
                return false;
        }
    }
    return true;
}

static bool held_by_another(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

/* A copy or a move of a file another station may hold for a moment. */
static bool copy_or_move(const char *from, const char *to, bool move)
{
    for (int waited = 0;; waited += HELD_STEP_MS) {
        BOOL done = move ? MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                         : CopyFileA(from, to, FALSE);
        if (done)
            return true;
        DWORD error = GetLastError();
        if (!held_by_another(error) || waited >= HELD_WAIT_MS) {
            SetLastError(error);
            return false;
        }
        Sleep(HELD_STEP_MS);
    }
}

/* The folder's entries on the device, where the system lets a folder be
   flushed at all; nothing depends on it where it does not. */
static void flush_folder(const char *file)
{
    char folder[MAX_PATH + 16];
    size_t n = folder_length(file);
    if (n == 0)
        copy_text(folder, sizeof folder, ".");
    else if (!format_text(folder, sizeof folder, "%.*s", (int)n, file))
        return;
    HANDLE handle = CreateFileA(folder, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (handle != INVALID_HANDLE_VALUE) {
        FlushFileBuffers(handle);
        CloseHandle(handle);
    }
}

/* Makes the new version as the copy: the file copied (when there is one),
   the keys written into it, and proven. */
static bool make_new_version(const char *file, const char *copy, const char *section, const ProfileValue *values,
                             size_t count)
{
    ProfileLines before;
    bool exists = GetFileAttributesA(file) != INVALID_FILE_ATTRIBUTES;
    if (exists && (!copy_or_move(file, copy, false) || !read_lines(copy, before)))
        return false;
    forget_cached_profile(copy);
    for (size_t k = 0; k < count; k++)
        if (!WritePrivateProfileStringA(section, values[k].key, values[k].value, copy))
            return false;
    return says(copy, section, values, count) && keeps_the_rest(before, copy, section, values, count);
}

bool replace_profile_values(const char *file, const char *section, const ProfileValue *values, size_t count)
{
    char copy[MAX_PATH + 16];
    if (!file || !file[0] || !copy_path(copy, sizeof copy, file))
        return false;
    UINT mode = quiet_drive_begin();
    remove_replacement_leftovers(file);
    bool placed = make_new_version(file, copy, section, values, count) && flush_file(copy)
                  && copy_or_move(copy, file, true);
    DWORD error = GetLastError();
    if (placed) {
        flush_folder(file);
    } else {
        SetFileAttributesA(copy, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(copy);
    }
    forget_cached_profile(copy);
    bool done = placed && says(file, section, values, count);
    quiet_drive_end(mode);
    if (!placed)
        SetLastError(error);   /* for the caller's message */
    return done;
}
