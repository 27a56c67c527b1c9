/*
 * Extraction of a surveyed archive (see extract.h). Entries are written
 * through EXTRACT_BUFFER-sized blocks; a file whose folder is missing gets
 * it made with every parent and is tried once more. Several threads each
 * open the archive on their own and take the entries in archive order one
 * at a time; after a failure no entry is started.
 */
#include "archive/extract.h"
#include "archive/threads.h"
#include "support/text.h"

#include <atomic>
#include <ctype.h>
#include <direct.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

enum { EXTRACT_BUFFER = 262144 };

int make_path(const char *path)
{
    if (!path || !path[0])
        return 0;
    char buffer[1040];
    if (!copy_text(buffer, sizeof buffer, path))
        return 0;
    size_t n = strlen(buffer);
    if (n > 1 && buffer[n - 1] == '/')
        buffer[n - 1] = '\0';
    if (_mkdir(buffer) == 0)
        return 1;
    for (char *p = buffer + 1; *p; p++) {
        if (*p != '\\' && *p != '/')
            continue;
        char separator = *p;
        *p = '\0';
        int failed = _mkdir(buffer) != 0 && errno == ENOENT;
        *p = separator;
        if (failed)
            return 0;
    }
    if (_mkdir(buffer) != 0 && errno == ENOENT)
        return 0;
    return 1;
}

/* The entry's DOS time, taken as local time, as a file time. */
static bool entry_file_time(uLong dos_date, FILETIME *universal)
{
    FILETIME local;
    return DosDateTimeToFileTime((WORD)(dos_date >> 16), (WORD)(dos_date & 0xFFFF), &local) &&
           LocalFileTimeToFileTime(&local, universal);
}

int check_entry_written(unsigned long long written, unsigned long long declared)
{
    return written == declared ? 0 : UNZIP_SHORT;
}

/* Writes all of buffer; false (last error set) when the file takes less. */
static bool write_all(HANDLE file, const char *buffer, DWORD length)
{
    while (length > 0) {
        DWORD done = 0;
        if (!WriteFile(file, buffer, length, &done, NULL))
            return false;
        if (done == 0) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        buffer += done;
        length -= done;
    }
    return true;
}

static HANDLE create_target(const char *target)
{
    HANDLE file = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    const char *bare = target;
    for (const char *p = target; *p; p++)
        if (*p == '\\' || *p == '/')
            bare = p + 1;
    if (file == INVALID_HANDLE_VALUE && bare != target) {
        char folder[1040];
        copy_text(folder, sizeof folder, target);
        folder[bare - target - 1] = '\0';
        make_path(folder);
        file = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           NULL);
    }
    return file;
}

/* A folder entry: made with every missing parent, whatever thread got to
   its parent entries first; 0 when it is a folder afterwards, else
   UNZIP_NOT_WRITTEN with the reason as last error. */
static int make_folder(const char *target)
{
    char folder[sizeof(((ArchiveEntry *)0)->target)];
    copy_text(folder, sizeof folder, target);
    size_t n = strlen(folder);
    while (n > 1 && (folder[n - 1] == '\\' || folder[n - 1] == '/'))
        folder[--n] = '\0';
    make_path(folder);
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return UNZIP_NOT_WRITTEN;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return 0;
    SetLastError(ERROR_ALREADY_EXISTS);   /* a file of that name is in the way */
    return UNZIP_NOT_WRITTEN;
}

/* Extracts the archive's current entry to its surveyed target; 0 when it
   is whole on disk. A file or folder that cannot be made or written
   leaves its reason as the last error. */
static int extract_entry(unzFile zip, const ArchiveEntry *entry, char *buffer)
{
    unz_file_info info;
    if (unzGetCurrentFileInfo(zip, &info, NULL, 0, NULL, 0, NULL, 0) != UNZ_OK)
        return UNZIP_DAMAGED;
    if (is_folder_name(entry->name))
        return make_folder(entry->target);
    int code = unzOpenCurrentFile(zip);
    if (code != UNZ_OK) {
        unzCloseCurrentFile(zip);
        return code;
    }
    HANDLE out = create_target(entry->target);
    DWORD write_error = 0;
    if (out == INVALID_HANDLE_VALUE) {
        code = UNZIP_NOT_WRITTEN;
        write_error = GetLastError();
    } else {
        unsigned long long written = 0;
        for (;;) {
            int got = unzReadCurrentFile(zip, buffer, EXTRACT_BUFFER);
            if (got <= 0) {
                code = got;
                break;
            }
            if (!write_all(out, buffer, (DWORD)got)) {
                code = UNZIP_WRITE;
                write_error = GetLastError();
                break;
            }
            written += (unsigned)got;
        }
        if (code == 0)
            code = check_entry_written(written, entry->size);
        FILETIME time;
        if (code == 0 && entry_file_time(info.dosDate, &time))
            SetFileTime(out, &time, NULL, &time);
        if (!CloseHandle(out) && code == 0) {
            code = UNZIP_WRITE;
            write_error = GetLastError();
        }
    }
    /* Closing checks the CRC, now that every declared byte has been read. */
    int closed = unzCloseCurrentFile(zip);
    if (code == 0)
        code = closed;
    if (write_error)
        SetLastError(write_error);   /* why the file could not be written */
    return code;
}

/* Several threads extracting one surveyed archive: each opens the archive
   on its own, takes the entries in archive order one at a time and writes
   each into its own file. After a failure no entry is started. */
struct Extraction {
    const char *archive;
    const ArchiveSurvey *survey;
    std::atomic<size_t> next;
    std::atomic<bool> stop;
    std::vector<int> codes;       /* each entry's, written by the thread that took it */
    std::vector<DWORD> errors;
};

enum { NOT_EXTRACTED = 1 };   /* never a code of extract_entry */

/* Ends when the entries run out or the run stops: it waits for nothing. */
static unsigned __stdcall extract_worker(void *context)
{
    Extraction *run = (Extraction *)context;
    unzFile zip = open_archive(run->archive);
    char *buffer = (char *)malloc(EXTRACT_BUFFER);
    size_t count = run->survey->entries.size();
    while (zip && buffer && !run->stop) {
        size_t i = run->next++;
        if (i >= count)
            break;
        const ArchiveEntry *entry = &run->survey->entries[i];
        unz64_file_pos position = { entry->directory_pos, entry->number };
        int code = unzGoToFilePos64(zip, &position) == UNZ_OK ? extract_entry(zip, entry, buffer) : UNZIP_DAMAGED;
        run->errors[i] = GetLastError();
        run->codes[i] = code;
        if (code != 0)
            run->stop = true;
    }
    free(buffer);
    if (zip)
        unzClose(zip);
    return 0;
}

/* One thread: every entry in archive order, stopping at the first that
   fails. */
static int extract_in_order(const char *archive, const ArchiveSurvey *survey, size_t *failed)
{
    unzFile zip = open_archive(archive);
    if (!zip)
        return UNZIP_NO_ARCHIVE;
    char *buffer = (char *)malloc(EXTRACT_BUFFER);
    int code = buffer ? 0 : ZIP_NO_MEMORY;
    for (size_t i = 0; code == 0 && i < survey->entries.size(); i++) {
        const ArchiveEntry *entry = &survey->entries[i];
        unz64_file_pos position = { entry->directory_pos, entry->number };
        code = unzGoToFilePos64(zip, &position) == UNZ_OK ? extract_entry(zip, entry, buffer) : UNZIP_DAMAGED;
        if (code != 0 && failed)
            *failed = i;
    }
    DWORD error = GetLastError();
    free(buffer);
    unzClose(zip);
    SetLastError(error);
    return code;
}

int extract_surveyed(const char *archive, const ArchiveSurvey *survey, size_t *failed)
{
    size_t count = survey->entries.size();
    unsigned threads = zip_threads();
    if (threads > count)
        threads = (unsigned)count;
    if (threads < 2)
        return extract_in_order(archive, survey, failed);

    Extraction run;
    run.archive = archive;
    run.survey = survey;
    run.next = 0;
    run.stop = false;
    run.codes.assign(count, NOT_EXTRACTED);
    run.errors.assign(count, 0);
    std::vector<HANDLE> workers;
    start_threads(threads, extract_worker, &run, &workers);
    if (workers.empty())
        return extract_in_order(archive, survey, failed);
    join_threads(&workers);
    /* Entries are taken in order, so every entry before the first failure
       was taken and finished; one never taken means the archive could not
       be opened at all. */
    for (size_t i = 0; i < count; i++) {
        if (run.codes[i] == 0)
            continue;
        if (failed)
            *failed = i;
        if (run.codes[i] == NOT_EXTRACTED)
            return UNZIP_NO_ARCHIVE;
        SetLastError(run.errors[i]);
        return run.codes[i];
    }
    return 0;
}

/* unzip_archive's placement: target_dir is the context (see extract.h);
   a name that climbs out with "..", or one with a drive and no root, is
   refused. */
static bool place_under(const char *name, char *target, size_t size, void *context)
{
    const char *dir = (const char *)context;
    if (climbs_out(name))
        return false;
    bool has_drive = isalpha((unsigned char)name[0]) && name[1] == ':';
    if (has_drive)
        return (name[2] == '\\' || name[2] == '/') && copy_text(target, size, name);
    if (name[0] == '\\' || name[0] == '/')
        return isalpha((unsigned char)dir[0]) && dir[1] == ':' && format_text(target, size, "%.2s%s", dir, name);
    size_t n = strlen(dir);
    bool ends = n > 0 && (dir[n - 1] == '\\' || dir[n - 1] == '/');
    return format_text(target, size, "%s%s%s", dir, ends ? "" : "\\", name);
}

int unzip_archive_placed(const char *archive, EntryPlacer placer, void *context)
{
    ArchiveSurvey survey;
    int code = survey_archive(archive, placer, context, &survey);
    return code != 0 ? code : extract_surveyed(archive, &survey, NULL);
}

int unzip_archive(const char *archive, const char *target_dir)
{
    unzFile zip = open_archive(archive);
    if (!zip)
        return UNZIP_NO_ARCHIVE;
    unzClose(zip);
    DWORD attributes = target_dir ? GetFileAttributesA(target_dir) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return UNZIP_TARGET_DIR;
    return unzip_archive_placed(archive, place_under, (void *)target_dir);
}
