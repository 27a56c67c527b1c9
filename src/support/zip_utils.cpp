/*
 * Zip packing and unpacking over minizip and zlib. A file is added as one
 * deflated entry at the end of an archive (created when missing) under the
 * name the caller gives, with the file's last-write time as its DOS time;
 * unpacking extracts every entry into a directory or wherever the caller
 * places it, restores the entries' times, and checks every entry's length
 * and CRC. An archive is surveyed whole before its first byte is written:
 * names, targets, methods, and local headers and data that must neither
 * repeat nor overlap, so a few kilobytes can never pose as gigabytes.
 * Results are small codes: 0 success, anything else a failure. A path or
 * name that does not fit its buffer is refused, never cut, and an entry
 * whose name climbs out of its target with ".." is never written.
 */
#include "support/zip_utils.h"
#include "support/file_probe.h"
#include "support/progress.h"
#include "support/text.h"
#include "resource.h"

#include <algorithm>
#include <direct.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zip.h"
#include "unzip.h"

enum { ADD_BUFFER = 16384, EXTRACT_BUFFER = 262144 };

/* Archive paths and entry names: at most 255 characters. */
typedef char ZipName[256];

/* The archive path with ".zip" appended when it holds no dot at all;
   false when it does not fit. */
static bool archive_name(ZipName name, const char *archive)
{
    if (!copy_text(name, sizeof(ZipName), archive))
        return false;
    if (!strchr(name, '.'))
        return append_text(name, sizeof(ZipName), ".zip");
    return true;
}

/* The last-write time of path as local DOS date (high half) and time (low
   half); 0 when the file cannot be looked up. */
static uLong dos_time_of(const char *path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(search);
    FILETIME local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&found.ftLastWriteTime, &local) || !FileTimeToDosDateTime(&local, &date, &time))
        return 0;
    return ((uLong)date << 16) | time;
}

/* File access for an archive being written: the library's standard table,
   except that once an entry has gone wrong every further write fails. The
   archive is then left without its directory, so no reader takes a cut
   entry for a whole one. */
struct GuardedArchive {
    zlib_filefunc_def standard;
    bool poisoned;
    DWORD error;   /* the system's error of the first write or close that failed */
};

/* Keeps the system's error of a failed step (called with the last error
   cleared before the step), or otherwise when the system named none: a
   write that stops short without an error has found the disk full. */
static void keep_error(GuardedArchive *guard, DWORD otherwise)
{
    DWORD error = GetLastError();
    if (guard->error == 0)
        guard->error = error != ERROR_SUCCESS ? error : otherwise;
}

static uLong ZCALLBACK guarded_write(voidpf opaque, voidpf stream, const void *buf, uLong size)
{
    GuardedArchive *guard = (GuardedArchive *)opaque;
    if (guard->poisoned)
        return 0;
    SetLastError(ERROR_SUCCESS);
    uLong written = guard->standard.zwrite_file(guard->standard.opaque, stream, buf, size);
    if (written != size)
        keep_error(guard, ERROR_DISK_FULL);
    return written;
}

static voidpf ZCALLBACK guarded_open(voidpf opaque, const char *name, int mode)
{
    GuardedArchive *guard = (GuardedArchive *)opaque;
    return guard->standard.zopen_file(guard->standard.opaque, name, mode);
}

static uLong ZCALLBACK guarded_read(voidpf opaque, voidpf stream, void *buf, uLong size)
{
    GuardedArchive *guard = (GuardedArchive *)opaque;
    return guard->standard.zread_file(guard->standard.opaque, stream, buf, size);
}

static long ZCALLBACK guarded_tell(voidpf opaque, voidpf stream)
{
    GuardedArchive *guard = (GuardedArchive *)opaque;
    return guard->standard.ztell_file(guard->standard.opaque, stream);
}

static long ZCALLBACK guarded_seek(voidpf opaque, voidpf stream, uLong offset, int origin)
{
    GuardedArchive *guard = (GuardedArchive *)opaque;
    return guard->standard.zseek_file(guard->standard.opaque, stream, offset, origin);
}

static int ZCALLBACK guarded_close(voidpf opaque, voidpf stream)
{
    GuardedArchive *guard = (GuardedArchive *)opaque;
    SetLastError(ERROR_SUCCESS);
    int result = guard->standard.zclose_file(guard->standard.opaque, stream);
    if (result != 0)
        keep_error(guard, ERROR_DISK_FULL);   /* the last buffered bytes could not be written */
    return result;
}

static int ZCALLBACK guarded_error(voidpf opaque, voidpf stream)
{
    GuardedArchive *guard = (GuardedArchive *)opaque;
    return guard->standard.zerror_file(guard->standard.opaque, stream);
}

static void guarded_functions(GuardedArchive *guard, zlib_filefunc_def *functions)
{
    fill_fopen_filefunc(&guard->standard);
    guard->poisoned = false;
    guard->error = 0;
    functions->zopen_file = guarded_open;
    functions->zread_file = guarded_read;
    functions->zwrite_file = guarded_write;
    functions->ztell_file = guarded_tell;
    functions->zseek_file = guarded_seek;
    functions->zclose_file = guarded_close;
    functions->zerror_file = guarded_error;
    functions->opaque = guard;
}

int zip_add_file(const char *archive, const char *file, const char *entry_name)
{
    if (!archive || !file)
        return ZIP_ARCHIVE_CLOSE;
    char *buffer = (char *)malloc(ADD_BUFFER);
    if (!buffer)
        return ZIP_NO_MEMORY;

    ZipName path, name;
    if (!archive_name(path, archive)) {
        free(buffer);
        return ZIP_ARCHIVE_CLOSE;
    }
    const char *stored = entry_name ? entry_name : file;
    while (*stored == '\\' || *stored == '/')
        stored++;
    if (!copy_text(name, sizeof name, stored)) {
        free(buffer);
        return ZIP_ENTRY_OPEN;
    }

    /* The file is opened before the archive is touched: a file that cannot
       be read leaves no empty entry behind (and creates no archive). */
    FILE *source = fopen(file, "rb");
    if (!source) {
        free(buffer);
        return ZIP_FILE_OPEN;
    }

    FILE *probe = fopen(path, "rb");
    bool exists = probe != NULL;
    if (probe)
        fclose(probe);
    GuardedArchive guard;
    zlib_filefunc_def functions;
    guarded_functions(&guard, &functions);
    zipFile zip = zipOpen2(path, exists ? APPEND_STATUS_ADDINZIP : APPEND_STATUS_CREATE, NULL, &functions);
    if (!zip) {
        DWORD error = GetLastError();
        fclose(source);
        free(buffer);
        SetLastError(error);
        return ZIP_ARCHIVE_CLOSE;
    }

    zip_fileinfo info;
    memset(&info, 0, sizeof info);
    info.dosDate = dos_time_of(file);
    int code = 0;
    if (zipOpenNewFileInZip3(zip, name, &info, NULL, 0, NULL, 0, NULL, Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0,
                             -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, NULL, 0) != ZIP_OK) {
        code = ZIP_ENTRY_OPEN;
    } else {
        for (;;) {
            SetLastError(ERROR_SUCCESS);
            size_t got = fread(buffer, 1, ADD_BUFFER, source);
            if (got < ADD_BUFFER && !feof(source)) {
                code = ZIP_FILE_READ;
                keep_error(&guard, ERROR_SUCCESS);
            }
            if (got > 0)
                code = zipWriteInFileInZip(zip, buffer, (unsigned)got) == ZIP_OK ? 0 : ZIP_ENTRY_WRITE;
            if (got == 0 || code != 0)
                break;
        }
        if (code == 0 && ferror(source))
            code = ZIP_FILE_READ;
    }
    fclose(source);

    if (code == 0) {
        if (zipCloseFileInZip(zip) != ZIP_OK)
            code = ZIP_ENTRY_CLOSE;
    } else {
        /* Closing writes the entry's end and the archive's directory: none
           of it may reach the file after a failure. */
        guard.poisoned = true;
    }
    if (zipClose(zip, NULL) != ZIP_OK && code == 0)
        code = ZIP_ARCHIVE_CLOSE;
    free(buffer);
    if (code != 0 && guard.error != 0)
        SetLastError(guard.error);
    return code;
}

int pack_file(HWND dialog, const char *file, const char *archive)
{
    int code = zip_add_file(archive, file, NULL);
    if (code != 0) {
        if (dialog)
            ShowWindow(dialog, SW_HIDE);
        char text[600];
        format_text(text, sizeof text, "Fejl ved pakning af filen '%s'\n", file ? file : "");
        error_box(text, MB_ICONERROR);
        if (dialog) {
            ShowWindow(dialog, SW_SHOW);
            InvalidateRect(dialog, NULL, TRUE);
            UpdateWindow(dialog);
        }
    }
    return code;
}

int packing_failure(int code)
{
    /* zip_add_file opens the file before it touches the archive, so a file
       that cannot be opened leaves the archive as it was. */
    return code == ZIP_FILE_OPEN ? 0 : code;
}

int pack_matching_files(HWND dialog, const char *base_dir, const char *pattern, const char *archive)
{
    if (!base_dir || !pattern || !archive)
        return ZIP_ARCHIVE_CLOSE;
    char search_pattern[1040];
    if (!format_text(search_pattern, sizeof search_pattern, "%s%s", base_dir, pattern))
        return 0;
    /* The folder part of the pattern, kept in every entry name. */
    char folder[520];
    copy_text(folder, sizeof folder, pattern);
    char *last = NULL;
    for (char *p = folder; *p; p++)
        if (*p == '\\' || *p == '/')
            last = p;
    if (last)
        last[1] = '\0';
    else
        folder[0] = '\0';

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(search_pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int code = 0;
    DWORD error = 0;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        ZipName relative;
        char full[1040], status[600];
        format_text(status, sizeof status, "Pakker filen: %s", found.cFileName);
        progress_status(dialog, status);
        /* A name that does not fit an entry is left out like a file that
           cannot be opened; it is never packed under a cut name. */
        if (format_text(relative, sizeof relative, "%s%s", folder, found.cFileName) &&
            format_text(full, sizeof full, "%s%s", base_dir, relative)) {
            code = packing_failure(zip_add_file(archive, full, relative));
            error = GetLastError();
        }
        progress_step(dialog, IDC_OVERALL_BAR);
    } while (code == 0 && FindNextFileA(search, &found));
    FindClose(search);
    SetLastError(error);
    return code;
}

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

/* True when a component of name is "..": such an entry would be written
   outside the directory it is extracted into. */
static bool climbs_out(const char *name)
{
    const char *start = name;
    for (const char *p = name;; p++) {
        if (*p == '\\' || *p == '/' || *p == '\0') {
            if (p - start == 2 && start[0] == '.' && start[1] == '.')
                return true;
            if (*p == '\0')
                return false;
            start = p + 1;
        }
    }
}

/* The entry's DOS time, taken as local time, as a file time. */
static bool entry_file_time(uLong dos_date, FILETIME *universal)
{
    FILETIME local;
    return DosDateTimeToFileTime((WORD)(dos_date >> 16), (WORD)(dos_date & 0xFFFF), &local) &&
           LocalFileTimeToFileTime(&local, universal);
}

static unzFile open_archive(const char *archive)
{
    if (!archive || !archive[0])
        return NULL;
    ZipName path;
    if (!copy_text(path, sizeof path, archive))
        return NULL;
    unzFile zip = unzOpen(path);
    if (!zip && append_text(path, sizeof path, ".zip"))
        zip = unzOpen(path);
    return zip;
}

/* The length of the file the library opened for archive (".zip" appended
   as open_archive may have done); 0 when it cannot be read. */
static unsigned long long archive_length(const char *archive)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    ZipName path;
    if (copy_text(path, sizeof path, archive) && GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return ((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    if (append_text(path, sizeof path, ".zip") && GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return ((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    return 0;
}

static bool is_folder_name(const char *name)
{
    size_t n = strlen(name);
    return n > 0 && (name[n - 1] == '/' || name[n - 1] == '\\');
}

/* Fills entry from the archive's current entry: name, target, declared
   length and CRC, and where its local header and data lie. */
static int survey_entry(unzFile zip, unsigned long long length, EntryPlacer placer, void *context,
                        ArchiveEntry *entry, char *refused)
{
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(zip, &info, entry->name, sizeof entry->name, NULL, 0, NULL, 0) != UNZ_OK)
        return UNZIP_DAMAGED;
    copy_text(refused, sizeof(ZipName), entry->name);   /* whatever is refused below is this entry */
    if (info.size_filename >= sizeof entry->name)
        return UNZIP_REFUSED;
    if (placer) {
        if (!placer(entry->name, entry->target, sizeof entry->target, context))
            return UNZIP_REFUSED;
    } else if (climbs_out(entry->name) || !copy_text(entry->target, sizeof entry->target, entry->name)) {
        return UNZIP_REFUSED;
    }
    if ((info.flag & 1) || (info.compression_method != 0 && info.compression_method != Z_DEFLATED))
        return UNZIP_DAMAGED;   /* encrypted, or a method this program never writes */
    entry->size = info.uncompressed_size;
    entry->crc = info.crc;

    unz64_file_pos position;
    if (unzGetFilePos64(zip, &position) != UNZ_OK)
        return UNZIP_DAMAGED;
    entry->directory_pos = position.pos_in_zip_directory;
    entry->number = position.num_of_file;
    /* Opening reads the local header and checks it against the directory;
       the data start right after its name and extra field. */
    if (unzOpenCurrentFile(zip) != UNZ_OK) {
        unzCloseCurrentFile(zip);
        return UNZIP_DAMAGED;
    }
    unsigned long long data = unzGetCurrentFileZStreamPos64(zip);
    int extra = unzGetLocalExtrafield(zip, NULL, 0);
    unzCloseCurrentFile(zip);
    unsigned long long before = 30ULL + info.size_filename + (extra > 0 ? (unsigned)extra : 0);
    if (extra < 0 || data < before || info.compressed_size > length || data > length - info.compressed_size)
        return UNZIP_DAMAGED;
    entry->header = data - before;
    entry->end = data + info.compressed_size;
    return 0;
}

static bool header_before(const ArchiveEntry *a, const ArchiveEntry *b)
{
    return a->header < b->header;
}

static bool target_before(const ArchiveEntry *a, const ArchiveEntry *b)
{
    return lstrcmpiA(a->target, b->target) < 0;
}

int survey_archive(const char *archive, EntryPlacer placer, void *context, ArchiveSurvey *survey)
{
    survey->entries.clear();
    survey->total = 0;
    survey->refused[0] = '\0';
    unzFile zip = open_archive(archive);
    if (!zip)
        return UNZIP_NO_ARCHIVE;
    unsigned long long length = archive_length(archive);
    unz_global_info64 global;
    int code = unzGetGlobalInfo64(zip, &global) == UNZ_OK && global.number_entry <= SURVEY_MAX_ENTRIES
                   ? 0 : UNZIP_DAMAGED;
    if (code == 0)
        survey->entries.resize((size_t)global.number_entry);
    for (size_t i = 0; code == 0 && i < survey->entries.size(); i++) {
        if (i > 0 && unzGoToNextFile(zip) != UNZ_OK) {
            code = UNZIP_DAMAGED;
            break;
        }
        ArchiveEntry *entry = &survey->entries[i];
        code = survey_entry(zip, length, placer, context, entry, survey->refused);
        if (code == 0) {
            survey->total += entry->size;
            if (survey->total < entry->size)
                survey->total = ~0ULL;   /* more than any drive holds */
        }
    }
    unzClose(zip);

    /* No two entries may share bytes: a directory whose records point at
       one local header gives any number of files out of a few bytes. */
    std::vector<const ArchiveEntry *> order;
    if (code == 0) {
        for (const ArchiveEntry &entry : survey->entries)
            order.push_back(&entry);
        std::stable_sort(order.begin(), order.end(), header_before);
        for (size_t k = 1; code == 0 && k < order.size(); k++)
            if (order[k]->header < order[k - 1]->end) {
                code = UNZIP_OVERLAP;
                copy_text(survey->refused, sizeof survey->refused, order[k]->name);
            }
    }
    /* Two entries for one file: which of them would count is anyone's guess. */
    if (code == 0) {
        std::stable_sort(order.begin(), order.end(), target_before);
        for (size_t k = 1; code == 0 && k < order.size(); k++)
            if (lstrcmpiA(order[k]->target, order[k - 1]->target) == 0) {
                code = UNZIP_REFUSED;
                copy_text(survey->refused, sizeof survey->refused, order[k]->name);
            }
    }
    if (code == 0)
        survey->refused[0] = '\0';
    else
        survey->entries.clear();
    return code;
}

unsigned long long room_needed(const ArchiveSurvey *survey, DWORD cluster)
{
    const unsigned long long unit = cluster ? cluster : 4096, margin = 1ULL << 20;
    unsigned long long needed = margin;
    for (const ArchiveEntry &entry : survey->entries) {
        unsigned long long rounded = entry.size / unit * unit + (entry.size % unit ? unit : 0);
        if (rounded < entry.size || needed + rounded < needed)
            return ~0ULL;
        needed += rounded;
    }
    return needed;
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

/* Extracts the archive's current entry to its surveyed target; 0 when it
   is whole on disk. A file that cannot be written leaves its reason as
   the last error. */
static int extract_entry(unzFile zip, const ArchiveEntry *entry, char *buffer)
{
    unz_file_info info;
    if (unzGetCurrentFileInfo(zip, &info, NULL, 0, NULL, 0, NULL, 0) != UNZ_OK)
        return UNZIP_DAMAGED;
    if (is_folder_name(entry->name)) {
        _mkdir(entry->target);   /* a folder entry: made here, one level */
        return 0;
    }
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

int extract_surveyed(const char *archive, const ArchiveSurvey *survey, size_t *failed)
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
    /* Entry names resolve against the target directory, which stays current. */
    if (!target_dir || !SetCurrentDirectoryA(target_dir))
        return UNZIP_TARGET_DIR;
    return unzip_archive_placed(archive, NULL, NULL);
}

bool file_crc32(const char *path, unsigned long long *size, unsigned long *crc)
{
    enum { BLOCK = 1 << 18 };
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    unsigned char *buffer = (unsigned char *)malloc(BLOCK);
    bool ok = buffer != NULL;
    uLong sum = crc32(0L, Z_NULL, 0);
    unsigned long long total = 0;
    while (ok) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, BLOCK, &got, NULL)) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        sum = crc32(sum, buffer, got);
        total += got;
    }
    free(buffer);
    CloseHandle(file);
    if (ok) {
        *size = total;
        *crc = sum;
    }
    return ok;
}

int test_archive(const char *archive)
{
    unzFile zip = open_archive(archive);
    if (!zip)
        return UNZIP_NO_ARCHIVE;
    char *buffer = (char *)malloc(EXTRACT_BUFFER);
    if (!buffer) {
        unzClose(zip);
        return ZIP_NO_MEMORY;
    }
    unz_global_info global;
    int code = unzGetGlobalInfo(zip, &global) == UNZ_OK ? 0 : UNZIP_DAMAGED;
    for (uLong i = 0; code == 0 && i < global.number_entry; i++) {
        if (i > 0 && unzGoToNextFile(zip) != UNZ_OK) {
            code = UNZIP_DAMAGED;
            break;
        }
        unz_file_info info;
        ZipName name;
        if (unzGetCurrentFileInfo(zip, &info, name, sizeof name, NULL, 0, NULL, 0) != UNZ_OK) {
            code = UNZIP_DAMAGED;
            break;
        }
        if (unzOpenCurrentFile(zip) != UNZ_OK) {
            unzCloseCurrentFile(zip);
            code = UNZIP_DAMAGED;
            break;
        }
        int got;
        uLong total = 0;
        while ((got = unzReadCurrentFile(zip, buffer, EXTRACT_BUFFER)) > 0)
            total += (uLong)got;
        int closed = unzCloseCurrentFile(zip);
        if (got < 0)
            code = got;
        else if (closed != UNZ_OK || total != info.uncompressed_size)
            code = closed != UNZ_OK ? closed : UNZIP_DAMAGED;
    }
    free(buffer);
    unzClose(zip);
    return code;
}
