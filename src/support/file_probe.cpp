/*
 * File probes (see file_probe.h).
 */
#include "support/file_probe.h"
#include "support/text.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

UINT quiet_drive_begin(void)
{
    return SetErrorMode(SEM_FAILCRITICALERRORS);
}

void quiet_drive_end(UINT previous_mode)
{
    SetErrorMode(previous_mode);
}

unsigned char file_access(const char *path)
{
    UINT mode = quiet_drive_begin();
    errno = 0;
    unsigned char result;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        result = ACCESS_MISSING;
    } else {
        bool read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
        FILE *f = fopen(path, "r+");
        if (f) {
            result = read_only ? ACCESS_NOT_WRITABLE : 0;
        } else {
            f = fopen(path, "r");
            if (f)
                result = ACCESS_NOT_WRITABLE;
            else
                result = read_only ? (ACCESS_NOT_WRITABLE | ACCESS_NOT_READABLE) : ACCESS_NOT_READABLE;
        }
        if (f)
            fclose(f);
    }
    quiet_drive_end(mode);
    return result;
}

/* Appends name to directory with one backslash between them. Answers false
   when the result would not fit, so a path is never silently cut. */
static bool join_path(char *out, size_t size, const char *directory, const char *name)
{
    int n = snprintf(out, size, "%s\\%s", directory, name);
    return n >= 0 && (size_t)n < size;
}

/* A link (symbolic link or junction, to a folder or a file): its marks
   are left alone, and it is never followed, since setting attributes
   through it would change whatever it points to, also outside the
   installation. */
static bool is_link(const WIN32_FIND_DATAA *found)
{
    return (found->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

static void reset_tree(const char *directory)
{
    char pattern[MAX_PATH * 2];
    if (!join_path(pattern, sizeof pattern, directory, "*.*"))
        return;

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !is_link(&found) &&
            !is_dot_entry(found.cFileName)) {
            char child[MAX_PATH * 2];
            if (join_path(child, sizeof child, directory, found.cFileName))
                reset_tree(child);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);

    search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!is_dot_entry(found.cFileName) && !is_link(&found)) {
            char child[MAX_PATH * 2];
            if (join_path(child, sizeof child, directory, found.cFileName))
                SetFileAttributesA(child, FILE_ATTRIBUTE_NORMAL);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

void reset_attributes(const char *directory)
{
    UINT mode = quiet_drive_begin();
    /* An empty directory is the current one, never the root of the drive. */
    reset_tree(directory && directory[0] ? directory : ".");
    quiet_drive_end(mode);
}
