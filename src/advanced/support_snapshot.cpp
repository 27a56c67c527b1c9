/*
 * The pieces of the support snapshot that need no dialog: the archive
 * names built from the "kontakt" settings, the removal of earlier archives,
 * and the directory listing log\dirlst.txt with the schedule program's
 * version and one listing per folder, times in UTC as the file system
 * keeps them.
 */
#include <windows.h>

#include "advanced/send_support.h"
#include "support/settings.h"
#include "support/text.h"

#include <stdio.h>
#include <string.h>

void cut_at_first_dot(char *text)
{
    char *dot = strchr(text, '.');
    if (dot)
        *dot = '\0';
}

bool support_archive_base(char *out, size_t size, const char *program_dir, const char *database,
                          const char *server, int installation)
{
    return format_text(out, size, "%s%s%s%i", program_dir, database, server, installation);
}

bool final_archive_name(char *out, size_t size, const char *base, const SYSTEMTIME *local)
{
    return format_text(out, size, "%s-%d.%02d.%02d-%02d.%02d.zip", base, local->wYear, local->wMonth,
                       local->wDay, local->wHour, local->wMinute);
}

int delete_earlier_archives(const char *pattern)
{
    int deleted = 0;
    char directory[1024];
    copy_text(directory, sizeof directory, pattern);
    char *slash = strrchr(directory, '\\');
    char *other = strrchr(directory, '/');
    if (other > slash)
        slash = other;
    if (slash)
        slash[1] = '\0';
    else
        directory[0] = '\0';
    for (;;) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(pattern, &found);
        if (search == INVALID_HANDLE_VALUE)
            break;
        FindClose(search);
        char path[1024];
        if (!format_text(path, sizeof path, "%s%s", directory, found.cFileName) ||
            !DeleteFileA(path))
            break;
        deleted++;
    }
    return deleted;
}

bool format_listing_line(char *out, size_t size, const WIN32_FIND_DATAA *entry)
{
    SYSTEMTIME written;
    if (!FileTimeToSystemTime(&entry->ftLastWriteTime, &written))
        memset(&written, 0, sizeof written);
    if (entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return format_text(out, size, "%02i-%02i-%2i   %02i:%02i     <DIR>          %s\n",
                           written.wDay, written.wMonth, written.wYear, written.wHour,
                           written.wMinute, entry->cFileName);
    return format_text(out, size, "%02i-%02i-%2i   %02i:%02i       %10u   %s\n", written.wDay,
                       written.wMonth, written.wYear, written.wHour, written.wMinute,
                       (unsigned)entry->nFileSizeLow, entry->cFileName);
}

/* Appends the listing of one search pattern; skipped when the listing file
   cannot be opened. */
static void append_listing(const char *listing, const char *pattern)
{
    FILE *out = fopen(listing, "a");
    if (!out)
        return;
    fprintf(out, "\nIndhold af : %s\n\n", pattern);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        int entries = 0;
        unsigned bytes = 0;
        do {
            char line[KIRO_PATH_SIZE];
            format_listing_line(line, sizeof line, &found);
            fputs(line, out);
            entries++;
            bytes += (unsigned)found.nFileSizeLow;
        } while (FindNextFileA(search, &found));
        FindClose(search);
        fprintf(out, "             %i fil(er)        %u bytes\n", entries, bytes);
    }
    fclose(out);
}

void write_directory_listing(const char *listing, const char *executable,
                             const char *const *patterns, int pattern_count)
{
    DeleteFileA(listing);
    char value[256];
    version_string(executable, "FileVersion", value, sizeof value);
    WritePrivateProfileStringA("version", "FileVersion", value, listing);
    version_string(executable, "SpecialBuild", value, sizeof value);
    WritePrivateProfileStringA("version", "SpecialBuild", value, listing);
    for (int i = 0; i < pattern_count; i++)
        append_listing(listing, patterns[i]);
}
