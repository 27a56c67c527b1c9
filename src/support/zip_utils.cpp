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
 *
 * Many files go into an archive on every processor: worker threads read
 * and deflate the files ahead into memory, exactly as the library deflates
 * them, and the calling thread writes each as a raw entry in its turn, so
 * the archive is the same byte for byte as one packed file by file.
 * Extraction and reading files back run on several threads too, each file
 * by one of them. Workers never touch a window, and every one has ended
 * before the call that started it returns.
 */
#include "support/zip_utils.h"
#include "support/file_probe.h"
#include "support/message_box.h"
#include "support/progress.h"
#include "support/text.h"
#include "resource.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <direct.h>
#include <mutex>
#include <new>
#include <process.h>
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

/* An archive opened for new entries, with the guard over its writes. */
struct AddingArchive {
    zipFile zip;
    GuardedArchive guard;
    zlib_filefunc_def functions;
};

/* Opens path for new entries at its end, creating it when it does not
   exist; 0, or ZIP_ARCHIVE_CLOSE with the system's error as last error. */
static int open_for_adding(AddingArchive *archive, const char *path)
{
    FILE *probe = fopen(path, "rb");
    bool exists = probe != NULL;
    if (probe)
        fclose(probe);
    guarded_functions(&archive->guard, &archive->functions);
    archive->zip = zipOpen2(path, exists ? APPEND_STATUS_ADDINZIP : APPEND_STATUS_CREATE, NULL,
                            &archive->functions);
    return archive->zip ? 0 : ZIP_ARCHIVE_CLOSE;
}

/* Closes the archive, writing its directory unless code says an entry
   went wrong: then nothing more reaches the file. Answers code, or the
   failure of closing; a failure leaves the system's error as last error. */
static int close_for_adding(AddingArchive *archive, int code)
{
    if (code != 0)
        archive->guard.poisoned = true;
    if (zipClose(archive->zip, NULL) != ZIP_OK && code == 0)
        code = ZIP_ARCHIVE_CLOSE;
    archive->zip = NULL;
    if (code != 0 && archive->guard.error != 0)
        SetLastError(archive->guard.error);
    return code;
}

/* Adds source as one entry named name, deflated by the library as it is
   read (buffer holds ADD_BUFFER bytes); 0 or the code of the step that
   failed. The entry is closed only when all went well. */
static int add_stream(AddingArchive *archive, FILE *source, const char *file, const char *name, char *buffer)
{
    zip_fileinfo info;
    memset(&info, 0, sizeof info);
    info.dosDate = dos_time_of(file);
    if (zipOpenNewFileInZip3(archive->zip, name, &info, NULL, 0, NULL, 0, NULL, Z_DEFLATED, Z_DEFAULT_COMPRESSION,
                             0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, NULL, 0) != ZIP_OK)
        return ZIP_ENTRY_OPEN;
    int code = 0;
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        size_t got = fread(buffer, 1, ADD_BUFFER, source);
        if (got < ADD_BUFFER && !feof(source)) {
            code = ZIP_FILE_READ;
            keep_error(&archive->guard, ERROR_SUCCESS);
        }
        if (got > 0)
            code = zipWriteInFileInZip(archive->zip, buffer, (unsigned)got) == ZIP_OK ? 0 : ZIP_ENTRY_WRITE;
        if (got == 0 || code != 0)
            break;
    }
    if (code == 0 && ferror(source))
        code = ZIP_FILE_READ;
    if (code == 0 && zipCloseFileInZip(archive->zip) != ZIP_OK)
        code = ZIP_ENTRY_CLOSE;
    return code;
}

/* The entry name zip_add_file stores for file: entry_name (or the file
   path) less any leading slashes; false when it does not fit. */
static bool stored_name(ZipName name, const char *file, const char *entry_name)
{
    const char *stored = entry_name ? entry_name : file;
    while (*stored == '\\' || *stored == '/')
        stored++;
    return copy_text(name, sizeof(ZipName), stored);
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
    if (!stored_name(name, file, entry_name)) {
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
    AddingArchive adding;
    if (open_for_adding(&adding, path) != 0) {
        DWORD error = GetLastError();
        fclose(source);
        free(buffer);
        SetLastError(error);
        return ZIP_ARCHIVE_CLOSE;
    }
    int code = add_stream(&adding, source, file, name, buffer);
    fclose(source);
    /* After a failure, closing would write the entry's end and the
       archive's directory: none of it may reach the file. */
    code = close_for_adding(&adding, code);
    free(buffer);
    return code;
}

void show_packing_error(HWND dialog, const char *file)
{
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

int pack_file(HWND dialog, const char *file, const char *archive)
{
    int code = zip_add_file(archive, file, NULL);
    if (code != 0)
        show_packing_error(dialog, file);
    return code;
}

void list_files(const char *pattern, std::vector<WIN32_FIND_DATAA> *files)
{
    files->clear();
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files->push_back(found);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

int packing_failure(int code)
{
    /* zip_add_file opens the file before it touches the archive, so a file
       that cannot be opened leaves the archive as it was. */
    return code == ZIP_FILE_OPEN ? 0 : code;
}

/* ------------------------------------------------------------------ */
/* Packing on several threads                                          */

static unsigned g_zip_threads = 0;

void set_zip_threads(unsigned threads)
{
    g_zip_threads = threads;
}

/* Processors this process may run on (its affinity), at least 1. */
static unsigned processors(void)
{
    DWORD_PTR mine = 0, system = 0;
    unsigned count = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &mine, &system))
        for (; mine; mine &= mine - 1)
            count++;
    if (count == 0) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        count = info.dwNumberOfProcessors;
    }
    return count ? count : 1;
}

unsigned zip_threads(void)
{
    unsigned threads = g_zip_threads ? g_zip_threads : processors();
    return threads < (unsigned)ZIP_MAX_THREADS ? threads : (unsigned)ZIP_MAX_THREADS;
}

/* Starts up to count threads running proc(context); the handles of
   those that started. */
static void start_threads(unsigned count, unsigned(__stdcall *proc)(void *), void *context,
                          std::vector<HANDLE> *threads)
{
    for (unsigned k = 0; k < count; k++) {
        HANDLE thread = (HANDLE)_beginthreadex(NULL, 0, proc, context, 0, NULL);
        if (!thread)
            break;
        threads->push_back(thread);
    }
}

/* Waits until every thread has ended. */
static void join_threads(std::vector<HANDLE> *threads)
{
    for (HANDLE thread : *threads) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    threads->clear();
}

enum { READ_BLOCK = 262144, WRITE_PIECE = 1 << 20 };

/* What a worker made of one file. */
enum ItemState {
    ITEM_WAITING,    /* no worker has it yet */
    ITEM_BUSY,       /* a worker deflates it */
    ITEM_READY,      /* deflated into data, or failed with code */
    ITEM_INLINE      /* too large to hold: deflated as it is written */
};

struct PackedItem {
    ItemState state;
    int code;                  /* 0, ZIP_FILE_OPEN or ZIP_FILE_READ */
    DWORD error;               /* the system's error of that failure */
    unsigned char *data;       /* the raw deflate stream ... */
    size_t length;             /* ... of this many bytes */
    unsigned long long size;   /* bytes read from the file */
    uLong crc;                 /* their CRC-32 */
    uLong dos_date;
    bool text;                 /* zlib took the data for text */
    size_t reserved;           /* memory counted in flight for it */
};

struct PackWorkers {
    std::mutex lock;
    std::condition_variable room;    /* memory in flight went down, or stop */
    std::condition_variable ready;   /* an item was finished */
    std::vector<PackedItem> items;
    const PackFile *files;
    size_t next_claim;
    size_t in_flight;
    std::atomic<bool> stop;
    bool failed;                     /* an entry went wrong: nothing more is written */
    std::vector<HANDLE> threads;
    AddingArchive archive;
    bool archive_open;
    char *buffer;                    /* for a file deflated as it is written */
};

/* Memory a file's deflated data may take: zlib's bound for its length as
   listed, or 0 when that is more than may be in flight. */
static size_t reservation(unsigned long long size)
{
    if (size > ZIP_MEMORY_IN_FLIGHT)
        return 0;
    uLong bound = compressBound((uLong)size);
    return bound <= ZIP_MEMORY_IN_FLIGHT ? (size_t)bound : 0;
}

/* Reads and deflates one file into item->data, exactly as the library
   deflates it when the file is written entry by entry: the same level,
   memory level, window and strategy, the data fed without any flush and
   finished once at the end. A file that has grown past its reservation
   is left to be deflated as it is written: ITEM_INLINE, else ITEM_READY
   (item->code tells whether the file could be read). */
static ItemState deflate_file(PackWorkers *workers, const PackFile *file, PackedItem *item, unsigned char *input)
{
    FILE *source = fopen(file->file, "rb");
    if (!source) {
        item->code = ZIP_FILE_OPEN;
        item->error = GetLastError();
        return ITEM_READY;
    }
    item->dos_date = dos_time_of(file->file);
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    item->data = (unsigned char *)malloc(item->reserved);
    bool deflating = item->data
        && deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, DEF_MEM_LEVEL,
                        Z_DEFAULT_STRATEGY) == Z_OK;
    bool whole = false;
    if (deflating) {
        stream.next_out = item->data;
        stream.avail_out = (uInt)item->reserved;
        uLong crc = crc32(0L, Z_NULL, 0);
        int status = Z_OK;
        for (;;) {
            if (workers->stop)
                break;
            SetLastError(ERROR_SUCCESS);
            size_t got = fread(input, 1, READ_BLOCK, source);
            if (got < READ_BLOCK && !feof(source) && item->error == 0)
                item->error = GetLastError();
            if (got == 0)
                break;
            crc = crc32(crc, input, (uInt)got);
            item->size += got;
            stream.next_in = input;
            stream.avail_in = (uInt)got;
            while (stream.avail_in > 0 && stream.avail_out > 0 && status == Z_OK)
                status = deflate(&stream, Z_NO_FLUSH);
            if (stream.avail_in > 0 || status != Z_OK)
                break;   /* grown past its reservation */
        }
        if (ferror(source)) {
            item->code = ZIP_FILE_READ;
        } else if (!workers->stop && feof(source) && status == Z_OK) {
            while (status == Z_OK && stream.avail_out > 0)
                status = deflate(&stream, Z_FINISH);
            whole = status == Z_STREAM_END;
        }
        item->crc = crc;
        item->length = item->reserved - stream.avail_out;
        item->text = stream.data_type == Z_TEXT;
        deflateEnd(&stream);
    }
    fclose(source);
    if (!whole) {
        free(item->data);
        item->data = NULL;
    }
    if (item->code != 0)
        return ITEM_READY;
    item->error = 0;
    return whole ? ITEM_READY : ITEM_INLINE;
}

/* A worker: takes the files in their order, each with its memory counted
   in flight before it starts, and deflates them until none is left or
   the run stops. It never touches a window. */
static unsigned __stdcall pack_worker(void *context)
{
    PackWorkers *workers = (PackWorkers *)context;
    unsigned char *input = (unsigned char *)malloc(READ_BLOCK);
    std::unique_lock<std::mutex> hold(workers->lock);
    while (!workers->stop && workers->next_claim < workers->items.size()) {
        size_t index = workers->next_claim;
        PackedItem *item = &workers->items[index];
        size_t need = reservation(workers->files[index].size);
        if (need == 0 || !input) {
            /* Too large to hold: the writing thread deflates it itself. */
            item->state = ITEM_INLINE;
            workers->next_claim++;
            workers->ready.notify_all();
            continue;
        }
        if (workers->in_flight + need > ZIP_MEMORY_IN_FLIGHT) {
            workers->room.wait(hold);
            continue;
        }
        workers->next_claim++;
        workers->in_flight += need;
        item->reserved = need;
        item->state = ITEM_BUSY;
        hold.unlock();
        ItemState done = deflate_file(workers, &workers->files[index], item, input);
        hold.lock();
        item->state = done;
        workers->ready.notify_all();
    }
    hold.unlock();
    free(input);
    return 0;
}

/* Stops every worker and waits until each has ended. */
static void stop_workers(PackWorkers *workers)
{
    {
        std::lock_guard<std::mutex> hold(workers->lock);
        workers->stop = true;
        workers->room.notify_all();
    }
    join_threads(&workers->threads);
}

void pack_begin(PackRun *run, const char *archive, const PackFile *files, size_t count)
{
    run->archive = archive;
    run->files = files;
    run->count = count;
    run->next = 0;
    run->workers = NULL;
    unsigned threads = zip_threads();
    if (threads > count)
        threads = (unsigned)count;
    if (threads < 2 || !archive)
        return;
    PackWorkers *workers = new (std::nothrow) PackWorkers;
    if (!workers)
        return;
    workers->items.resize(count);
    for (PackedItem &item : workers->items) {
        memset(&item, 0, sizeof item);
        item.state = ITEM_WAITING;
    }
    workers->files = files;
    workers->next_claim = 0;
    workers->in_flight = 0;
    workers->stop = false;
    workers->failed = false;
    workers->archive_open = false;
    workers->buffer = (char *)malloc(ADD_BUFFER);
    if (workers->buffer)
        start_threads(threads, pack_worker, workers, &workers->threads);
    if (workers->threads.empty()) {
        /* No thread to be had: the files are added one by one. */
        free(workers->buffer);
        delete workers;
        return;
    }
    run->workers = workers;
}

/* Writes a deflated item as a raw entry: the same local header, data and
   directory record the library writes when it deflates the file itself. */
static int write_deflated(AddingArchive *archive, const char *name, const PackedItem *item)
{
    zip_fileinfo info;
    memset(&info, 0, sizeof info);
    info.dosDate = item->dos_date;
    info.internal_fa = item->text ? Z_TEXT : 0;   /* as the library marks what zlib took for text */
    if (zipOpenNewFileInZip2(archive->zip, name, &info, NULL, 0, NULL, 0, NULL, Z_DEFLATED, Z_DEFAULT_COMPRESSION,
                             1) != ZIP_OK)
        return ZIP_ENTRY_OPEN;
    for (size_t done = 0; done < item->length;) {
        size_t piece = std::min(item->length - done, (size_t)WRITE_PIECE);
        if (zipWriteInFileInZip(archive->zip, item->data + done, (unsigned)piece) != ZIP_OK)
            return ZIP_ENTRY_WRITE;
        done += piece;
    }
    if (zipCloseFileInZipRaw64(archive->zip, item->size, item->crc) != ZIP_OK)
        return ZIP_ENTRY_CLOSE;
    return 0;
}

/* The next file of a run with workers, written in its turn. */
static int pack_next_deflated(PackRun *run, size_t index)
{
    PackWorkers *workers = run->workers;
    const PackFile *file = &run->files[index];
    PackedItem *item = &workers->items[index];
    if (workers->failed)
        return ZIP_ARCHIVE_CLOSE;   /* the archive is damaged already */
    {
        std::unique_lock<std::mutex> hold(workers->lock);
        while (item->state != ITEM_READY && item->state != ITEM_INLINE)
            workers->ready.wait(hold);
    }
    ZipName path, name;
    int code = 0;
    DWORD error = 0;
    if (!archive_name(path, run->archive)) {
        code = ZIP_ARCHIVE_CLOSE;
    } else if (!stored_name(name, file->file, file->entry[0] ? file->entry : NULL)) {
        code = ZIP_ENTRY_OPEN;
    } else if (item->code != 0) {
        code = item->code;
        error = item->error;
    } else {
        /* As zip_add_file: the file is opened before the archive is
           touched, so a file that cannot be read creates no archive. */
        FILE *source = NULL;
        if (item->state == ITEM_INLINE && !(source = fopen(file->file, "rb"))) {
            code = ZIP_FILE_OPEN;
            error = GetLastError();
        } else if (!workers->archive_open) {
            code = open_for_adding(&workers->archive, path);
            error = GetLastError();
            workers->archive_open = code == 0;
        }
        if (code == 0) {
            code = source ? add_stream(&workers->archive, source, file->file, name, workers->buffer)
                          : write_deflated(&workers->archive, name, item);
            error = workers->archive.guard.error;
        }
        if (source)
            fclose(source);
    }
    {
        std::lock_guard<std::mutex> hold(workers->lock);
        free(item->data);
        item->data = NULL;
        workers->in_flight -= item->reserved;
        item->reserved = 0;
        workers->room.notify_all();
    }
    /* An entry gone wrong: nothing more reaches the archive. */
    if (code != 0 && code != ZIP_FILE_OPEN) {
        workers->archive.guard.poisoned = true;
        workers->failed = true;
        workers->stop = true;
    }
    if (code != 0 && error != 0)
        SetLastError(error);
    return code;
}

int pack_next(PackRun *run)
{
    if (run->next >= run->count)
        return 0;
    size_t index = run->next++;
    const PackFile *file = &run->files[index];
    if (!run->workers)
        return zip_add_file(run->archive, file->file, file->entry[0] ? file->entry : NULL);
    return pack_next_deflated(run, index);
}

int pack_end(PackRun *run, int code)
{
    PackWorkers *workers = run->workers;
    if (!workers)
        return code;
    DWORD error = GetLastError();
    stop_workers(workers);
    for (PackedItem &item : workers->items)
        free(item.data);
    if (workers->archive_open) {
        int closed = close_for_adding(&workers->archive, code);
        if (closed != code) {
            code = closed;
            error = GetLastError();
        }
    }
    free(workers->buffer);
    delete workers;
    run->workers = NULL;
    SetLastError(error);
    return code;
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

    /* The whole folder is listed first, so that files can be deflated
       ahead while the earlier ones are written. A name that does not fit
       an entry is left out like a file that cannot be opened; it is never
       packed under a cut name. */
    std::vector<WIN32_FIND_DATAA> listed;
    list_files(search_pattern, &listed);
    std::vector<PackFile> files;
    std::vector<bool> fits(listed.size());
    for (size_t k = 0; k < listed.size(); k++) {
        PackFile file;
        fits[k] = format_text(file.entry, sizeof file.entry, "%s%s", folder, listed[k].cFileName) &&
                  format_text(file.file, sizeof file.file, "%s%s", base_dir, file.entry);
        if (fits[k]) {
            file.size = ((unsigned long long)listed[k].nFileSizeHigh << 32) | listed[k].nFileSizeLow;
            files.push_back(file);
        }
    }
    PackRun run;
    pack_begin(&run, archive, files.data(), files.size());
    int code = 0;
    DWORD error = 0;
    for (size_t k = 0; k < listed.size() && code == 0; k++) {
        char status[600];
        format_text(status, sizeof status, "Pakker filen: %s", listed[k].cFileName);
        progress_status(dialog, status);
        if (fits[k]) {
            code = packing_failure(pack_next(&run));
            error = GetLastError();
        }
        progress_step(dialog, IDC_OVERALL_BAR);
    }
    int ended = pack_end(&run, code);
    if (ended != code)
        error = GetLastError();
    SetLastError(error);
    return ended;
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

/* Files summed by several threads, each taking the next file. */
struct Summing {
    FileSum *files;
    size_t count;
    std::atomic<size_t> next;
};

static unsigned __stdcall sum_worker(void *context)
{
    Summing *run = (Summing *)context;
    for (size_t i; (i = run->next++) < run->count;) {
        FileSum *file = &run->files[i];
        file->read = file_crc32(file->path, &file->size, &file->crc);
    }
    return 0;
}

void files_crc32(FileSum *files, size_t count)
{
    Summing run;
    run.files = files;
    run.count = count;
    run.next = 0;
    unsigned threads = zip_threads();
    std::vector<HANDLE> workers;
    if (threads > 1 && count > 1)
        start_threads(threads < count ? threads : (unsigned)count, sum_worker, &run, &workers);
    if (workers.empty())
        sum_worker(&run);
    join_threads(&workers);
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
