/*
 * File and disk utilities the dialogs call: counting the files of a
 * pattern, copying a file or a slice of it while the progress dialog's file
 * bar advances block by block, reading a volume label, a file's size and a
 * drive's free space, creating one directory and removing a directory tree.
 * Every function that touches a drive switches critical-error boxes off for
 * its duration, so an empty floppy, card or stick drive fails quietly.
 */
#include "support/disk_utils.h"
#include "support/file_probe.h"
#include "support/progress.h"
#include "support/text.h"
#include "resource.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <zlib.h>

static const DWORD COPY_BLOCK = 102400;

int count_files(const char *pattern)
{
    if (!pattern || !pattern[0])
        return 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int count = 0;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            count++;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

/* The number of blocks the file bar counts for a copy of limit bytes from
   offset of a source of size bytes: a small copy still shows two blocks, so
   that the one step taken before the bar is filled shows half a bar. */
static DWORD copy_blocks(ULONGLONG size, ULONGLONG offset, ULONGLONG limit)
{
    ULONGLONG rest = size > offset ? size - offset : 0;
    if (rest > limit)
        return (DWORD)((limit + COPY_BLOCK - 1) / COPY_BLOCK);
    if (rest <= COPY_BLOCK)
        return 2;
    return (DWORD)((rest + COPY_BLOCK - 1) / COPY_BLOCK);
}

static const char *last_component(const char *path)
{
    const char *slash = strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

/* Copies up to limit bytes from in (positioned) to out, a block at a
   time, stepping the file bar once per block, and sums what was written
   into crc when given. The bytes written; *failed is set when the source
   could not be read (a damaged source ends the copy, it never counts as
   done). */
static ULONGLONG copy_slice(HWND dialog, FILE *in, FILE *out, ULONGLONG limit, bool *failed, unsigned long *crc)
{
    char block[COPY_BLOCK];
    /* The first block is bounded by the limit too: a slice smaller than one
       block must not take bytes that belong to the next slice. */
    DWORD length = limit < COPY_BLOCK ? (DWORD)limit : COPY_BLOCK;
    ULONGLONG written = 0;
    while (!feof(in) && written < limit && !ferror(out)) {
        progress_step(dialog, IDC_FILE_BAR);
        size_t got = fread(block, 1, length, in);
        if (got < length && ferror(in)) {
            *failed = true;
            break;
        }
        size_t put = fwrite(block, 1, got, out);
        if (crc)
            *crc = crc32(*crc, (const Bytef *)block, (uInt)put);
        written += put;
        if (limit - written < length)
            length = (DWORD)(limit - written);
    }
    return written;
}

ULONGLONG copy_with_progress(HWND dialog, const char *source, const char *target, ULONGLONG offset,
                             ULONGLONG limit, const char *mode, unsigned long *crc)
{
    if (crc)
        *crc = crc32(0L, Z_NULL, 0);
    if (!source || !target || !mode)
        return 0;
    UINT error_mode = quiet_drive_begin();
    char status[600];
    format_text(status, sizeof status, "Kopierer filen: %s", last_component(source));
    progress_status(dialog, status);

    FILE *in = fopen(source, "rb");
    FILE *out = in ? fopen(target, mode) : NULL;
    bool failed = !in || !out, ran = false;
    ULONGLONG written = 0;
    if (!failed) {
        ULONGLONG size = file_size(source);
        if (limit == 0 || limit > size)
            limit = size;
        failed = fseeko64(in, (long long)offset, SEEK_SET) != 0;
        if (!failed) {
            progress_set_range(dialog, IDC_FILE_BAR, copy_blocks(size, offset, limit));
            progress_set_pos(dialog, IDC_FILE_BAR, 0);
            written = copy_slice(dialog, in, out, limit, &failed, crc);
            ran = true;
            failed = failed || ferror(out);
        }
    }
    if (in)
        fclose(in);
    /* Buffered bytes reach the disk only here: a full disk may show first
       when the target is closed. */
    if (out && fclose(out) != 0)
        failed = true;
    if (ran)
        progress_fill(dialog, IDC_FILE_BAR);
    quiet_drive_end(error_mode);
    return failed ? 0 : written;
}

int read_volume_label(char *buffer, const char *path)
{
    if (buffer)
        buffer[0] = '\0';
    if (!buffer || !path || !path[0] || !path[1])
        return 0;
    char root[4] = { path[0], path[1], '\\', '\0' };
    UINT error_mode = quiet_drive_begin();
    BOOL ok = GetVolumeInformationA(root, buffer, MAX_PATH, NULL, NULL, NULL, NULL, 0);
    if (!ok)
        buffer[0] = '\0';
    quiet_drive_end(error_mode);
    return ok ? 1 : 0;
}

ULONGLONG file_size(const char *path)
{
    /* A path that cannot be examined has size 0: the callers ask only for
       files they have just written, and 0 then reads as nothing copied. */
    if (!path)
        return 0;
    UINT error_mode = quiet_drive_begin();
    struct _stati64 status;
    ULONGLONG size = 0;
    if (_stati64(path, &status) == 0 && status.st_size > 0)
        size = (ULONGLONG)status.st_size;
    quiet_drive_end(error_mode);
    return size;
}

typedef BOOL (WINAPI *FreeSpaceExFn)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

static FreeSpaceExFn extended_free_space_query(void)
{
    char library[MAX_PATH];
    if (!SearchPathA(NULL, "kernel32.dll", NULL, sizeof library, library, NULL))
        return NULL;
    HMODULE kernel = LoadLibraryA(library);   /* stays loaded */
    if (!kernel)
        return NULL;
    return (FreeSpaceExFn)(void *)GetProcAddress(kernel, "GetDiskFreeSpaceExA");
}

/* The root directory of the drive a path names ("a:" or "a:\x" -> "a:\"),
   or the path itself with a trailing backslash when it names no letter. */
static bool drive_root(char *root, size_t size, const char *drive)
{
    if (drive[0] && drive[1] == ':') {
        char letter[4] = { drive[0], ':', '\\', '\0' };
        return copy_text(root, size, letter);
    }
    if (!copy_text(root, size, drive))
        return false;
    size_t n = strlen(root);
    return n > 0 && (root[n - 1] == '\\' || root[n - 1] == '/') ? true : append_text(root, size, "\\");
}

int free_space(const char *drive, ULARGE_INTEGER *available, ULARGE_INTEGER *total)
{
    if (!drive || !available || !total)
        return 0;
    UINT error_mode = quiet_drive_begin();
    int result = 0;
    FreeSpaceExFn query = extended_free_space_query();
    if (query) {
        ULARGE_INTEGER caller_free, capacity, all_free;
        if (query(drive, &caller_free, &capacity, &all_free)) {
            *available = caller_free;
            *total = capacity;
            result = 1;
        }
    } else {
        char root[MAX_PATH];
        DWORD sectors, bytes, free_clusters, clusters;
        if (drive_root(root, sizeof root, drive) &&
            GetDiskFreeSpaceA(root, &sectors, &bytes, &free_clusters, &clusters)) {
            available->HighPart = 0;
            available->LowPart = sectors * bytes * free_clusters;
            total->HighPart = 0;
            total->LowPart = sectors * bytes * clusters;
            result = 1;
        }
    }
    quiet_drive_end(error_mode);
    return result;
}

DWORD cluster_size(const char *drive)
{
    if (!drive)
        return 0;
    char root[MAX_PATH];
    if (!drive_root(root, sizeof root, drive))
        return 0;
    UINT error_mode = quiet_drive_begin();
    DWORD sectors, bytes, free_clusters, clusters, result = 0;
    if (GetDiskFreeSpaceA(root, &sectors, &bytes, &free_clusters, &clusters))
        result = sectors * bytes;
    quiet_drive_end(error_mode);
    return result;
}

/* Bytes per sector of the drive that holds path when unbuffered reads of
   READ_BACK_BLOCK bytes into a page-aligned buffer suit it (a power of two
   no larger than a page), else 0. */
static const DWORD READ_BACK_BLOCK = 1 << 20;

static DWORD unbuffered_sector(const char *path)
{
    char root[MAX_PATH];
    DWORD sectors, bytes, free_clusters, clusters;
    if (!drive_root(root, sizeof root, path) || !GetDiskFreeSpaceA(root, &sectors, &bytes, &free_clusters, &clusters))
        return 0;
    return bytes > 0 && bytes <= 4096 && (bytes & (bytes - 1)) == 0 ? bytes : 0;
}

/* The file opened for reading back: unbuffered where the drive allows it,
   so the bytes come from the device and not from what the system kept of
   the writing; through the cache otherwise. */
static HANDLE open_for_read_back(const char *path)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE file = INVALID_HANDLE_VALUE;
    if (unbuffered_sector(path))
        file = CreateFileA(path, GENERIC_READ, share, NULL, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, NULL);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND)
        file = CreateFileA(path, GENERIC_READ, share, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    return file;
}

ReadBack read_back_crc32(HWND dialog, const char *path, unsigned long long *size, unsigned long *crc)
{
    if (!path || !path[0])
        return READ_BACK_MISSING;
    UINT error_mode = quiet_drive_begin();
    char status[600];
    format_text(status, sizeof status, "Kontrollerer filen: %s", last_component(path));
    progress_status(dialog, status);
    HANDLE file = open_for_read_back(path);
    if (file == INVALID_HANDLE_VALUE) {
        quiet_drive_end(error_mode);
        return READ_BACK_MISSING;
    }
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file, &length))
        length.QuadPart = 0;
    progress_set_range(dialog, IDC_FILE_BAR, (DWORD)(length.QuadPart / READ_BACK_BLOCK + 1));
    progress_set_pos(dialog, IDC_FILE_BAR, 0);
    /* Whole blocks into a page-aligned buffer: the last read asks for a
       whole block too and gets what is left. */
    unsigned char *block =
        (unsigned char *)VirtualAlloc(NULL, READ_BACK_BLOCK, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ReadBack result = block ? READ_BACK_DONE : READ_BACK_FAILED;
    uLong sum = crc32(0L, Z_NULL, 0);
    unsigned long long total = 0;
    while (result == READ_BACK_DONE) {
        progress_step(dialog, IDC_FILE_BAR);
        DWORD got = 0;
        if (!ReadFile(file, block, READ_BACK_BLOCK, &got, NULL)) {
            result = READ_BACK_FAILED;
            break;
        }
        if (got == 0)
            break;
        sum = crc32(sum, block, got);
        total += got;
    }
    DWORD error = GetLastError();
    if (block)
        VirtualFree(block, 0, MEM_RELEASE);
    CloseHandle(file);
    progress_fill(dialog, IDC_FILE_BAR);
    quiet_drive_end(error_mode);
    SetLastError(error);
    *size = total;
    *crc = sum;
    return result;
}

int make_directory(const char *path)
{
    if (!path || !path[0])
        return 0;
    UINT error_mode = quiet_drive_begin();
    int result = 1;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);        /* a file or directory of that name: done */
    } else if (!CreateDirectoryA(path, NULL)) {
        /* A name the search cannot find but that is there all the same
           (a directory given with a trailing backslash) also counts. */
        if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
            result = 0;
    }
    quiet_drive_end(error_mode);
    return result;
}

/* directory + "\" + name, or false when that does not fit: a path is never
   cut, since a cut path names another file. */
static bool child_path(char *out, size_t size, const char *directory, const char *name)
{
    return format_text(out, size, "%s\\%s", directory, name);
}

static bool link_attributes(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

/* path without trailing separators: with one it would name what a link
   points to rather than the link. */
static bool without_trailing_separator(char *out, size_t size, const char *path)
{
    if (!copy_text(out, size, path))
        return false;
    size_t n = strlen(out);
    while (n > 3 && (out[n - 1] == '\\' || out[n - 1] == '/'))
        out[--n] = '\0';
    return true;
}

bool is_directory_link(const char *path)
{
    char name[1040];
    if (!path || !path[0] || !without_trailing_separator(name, sizeof name, path))
        return false;
    UINT error_mode = quiet_drive_begin();
    DWORD attributes = GetFileAttributesA(name);
    quiet_drive_end(error_mode);
    return link_attributes(attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

/* The native call that marks an open file for deletion: present on every
   Windows NT, so no newer entry of kernel32 is needed. */
struct DispositionStatus {
    union {
        LONG status;
        void *pointer;
    };
    ULONG_PTR information;
};
typedef LONG (WINAPI *SetInformationFileFn)(HANDLE, DispositionStatus *, void *, ULONG, int);

static bool mark_for_deletion(HANDLE file)
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    SetInformationFileFn set_information =
        ntdll ? (SetInformationFileFn)(void *)GetProcAddress(ntdll, "NtSetInformationFile") : NULL;
    if (!set_information)
        return false;
    DispositionStatus status;
    BOOLEAN delete_file = TRUE;
    const int FILE_DISPOSITION_INFORMATION_CLASS = 13;
    return set_information(file, &status, &delete_file, sizeof delete_file,
                           FILE_DISPOSITION_INFORMATION_CLASS) >= 0;
}

/* Removes the directory link at path itself. The handle is opened on the
   link, not on what it points to, and checked to be the link before it is
   marked for deletion: a system that opens the target instead (Wine does)
   leaves the link where it is rather than deleting the target. */
static void remove_directory_link(const char *path)
{
    HANDLE link = CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (link == INVALID_HANDLE_VALUE)
        return;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(link, &info) && link_attributes(info.dwFileAttributes))
        mark_for_deletion(link);
    CloseHandle(link);
}

static void remove_tree(const char *directory)
{
    char pattern[1040];
    if (!child_path(pattern, sizeof pattern, directory, "*.*"))
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            char child[1040];
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !link_attributes(found.dwFileAttributes) &&
                !is_dot_entry(found.cFileName) && child_path(child, sizeof child, directory, found.cFileName))
                remove_tree(child);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            char child[1040];
            if (is_dot_entry(found.cFileName) ||
                !child_path(child, sizeof child, directory, found.cFileName))
                continue;
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA(child);   /* a file link goes, never what it points to */
            else if (link_attributes(found.dwFileAttributes))
                remove_directory_link(child);
            else
                RemoveDirectoryA(child);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(directory);
}

int delete_tree(const char *directory)
{
    if (!directory || !directory[0])
        return 1;
    UINT error_mode = quiet_drive_begin();
    char name[1040];
    if (is_directory_link(directory)) {
        if (without_trailing_separator(name, sizeof name, directory))
            remove_directory_link(name);
    } else {
        remove_tree(directory);
    }
    quiet_drive_end(error_mode);
    return 1;
}

/* Opens path as asked and writes what the system holds of it to the
   device; true when it is there. */
static bool flush_opened(const char *path, DWORD access, DWORD share, DWORD flags)
{
    if (!path || !path[0])
        return false;
    UINT error_mode = quiet_drive_begin();
    HANDLE handle = CreateFileA(path, access, share, NULL, OPEN_EXISTING, flags, NULL);
    bool flushed = false;
    if (handle != INVALID_HANDLE_VALUE) {
        flushed = FlushFileBuffers(handle) != 0;
        CloseHandle(handle);
    }
    quiet_drive_end(error_mode);
    return flushed;
}

bool flush_file(const char *path)
{
    return flush_opened(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_ATTRIBUTE_NORMAL);
}

bool flush_directory(const char *directory)
{
    /* A folder opens only as a backup would open it. */
    return flush_opened(directory, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        FILE_FLAG_BACKUP_SEMANTICS);
}

bool flush_parent_directory(const char *path)
{
    char parent[1040];
    copy_text(parent, sizeof parent, path);
    char *last = strrchr(parent, '\\');
    if (!last || (last > parent && last[-1] == '\\'))
        return false;
    last[1] = '\0';   /* "e:\KIRO-Flyt7" -> "e:\" */
    return flush_directory(parent);
}

bool read_volume_serial(const char *path, DWORD *serial)
{
    if (!path || !path[0] || !path[1] || !serial)
        return false;
    char root[4] = { path[0], path[1], '\\', '\0' };
    UINT error_mode = quiet_drive_begin();
    DWORD number = 0;
    BOOL ok = GetVolumeInformationA(root, NULL, 0, &number, NULL, NULL, NULL, 0);
    quiet_drive_end(error_mode);
    if (ok)
        *serial = number;
    return ok != 0;
}

/* What the file system and the system keep in a drive's root themselves. */
static const char *const OWN_ROOT_ENTRIES[] = {
    "System Volume Information", "$RECYCLE.BIN", "RECYCLER", "RECYCLED",
    ".windows-label", ".windows-serial",
};

static bool own_root_entry(const char *name)
{
    if (is_dot_entry(name))
        return true;
    for (const char *own : OWN_ROOT_ENTRIES)
        if (_stricmp(name, own) == 0)
            return true;
    return false;
}

bool disk_is_empty(const char *drive)
{
    if (!drive || !drive[0])
        return false;
    char root[MAX_PATH], pattern[MAX_PATH];
    if (!drive_root(root, sizeof root, drive) || !format_text(pattern, sizeof pattern, "%s*.*", root))
        return false;
    UINT error_mode = quiet_drive_begin();
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    bool empty;
    if (search == INVALID_HANDLE_VALUE) {
        /* An empty root has not even "." to show. */
        empty = GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_NO_MORE_FILES;
    } else {
        empty = true;
        do {
            if (!own_root_entry(found.cFileName))
                empty = false;
        } while (empty && FindNextFileA(search, &found));
        FindClose(search);
    }
    quiet_drive_end(error_mode);
    return empty;
}
