/*
 * Parallel deflate with ordered raw writes (see deflate_workers.h). Worker
 * threads take the files strictly in list order, each with zlib's bound
 * for its listed length counted in flight before it starts, and deflate
 * it whole into memory exactly as the library deflates it when the file is
 * written entry by entry: the same level, memory level, window and
 * strategy, the data fed without any flush and finished once at the end.
 * The calling thread writes each file as a raw entry in its turn, with the
 * worker's length, CRC-32 and text mark, so the local header, data and
 * directory record are the ones the library writes itself.
 *
 * Two waits meet here, both without a time limit, and neither can hang:
 * the writer waits for the file it writes next, and a worker waits for
 * memory in flight to go down. Files are claimed in order, and a file is
 * released as soon as it is written; so when the writer waits for file i,
 * either a worker holds i and finishes it without waiting for anything,
 * or i is the next to be claimed, every file before it has been written
 * and released, nothing is in flight, and a worker claims i at once.
 */
#include "archive/deflate_workers.h"
#include "archive/survey.h"
#include "archive/threads.h"
#include "archive/zip_write.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <stdlib.h>
#include <string.h>

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

/* Feeds source through stream into item->data until the file ends, the
   run stops or the file outgrows its reservation; false when it outgrew
   it. */
static bool deflate_blocks(PackWorkers *workers, FILE *source, z_stream *stream, PackedItem *item,
                           unsigned char *input)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    int status = Z_OK;
    bool fits = true;
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
        stream->next_in = input;
        stream->avail_in = (uInt)got;
        while (stream->avail_in > 0 && stream->avail_out > 0 && status == Z_OK)
            status = deflate(stream, Z_NO_FLUSH);
        if (stream->avail_in > 0 || status != Z_OK) {
            fits = false;
            break;
        }
    }
    item->crc = crc;
    return fits;
}

/* A worker's deflate stream, set up once and reset for every file: a
   reset stream deflates exactly as a new one, without allocating its
   window and tables again for each small file. */
struct WorkerStream {
    z_stream stream;
    bool ready;
};

static bool start_stream(WorkerStream *worker)
{
    if (worker->ready)
        return deflateReset(&worker->stream) == Z_OK;
    memset(&worker->stream, 0, sizeof worker->stream);
    worker->ready = deflateInit2(&worker->stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, DEF_MEM_LEVEL,
                                 Z_DEFAULT_STRATEGY) == Z_OK;
    return worker->ready;
}

/* Reads and deflates one file into item->data. A file that has grown past
   its reservation is left to be deflated as it is written: ITEM_INLINE,
   else ITEM_READY (item->code tells whether the file could be read). */
static ItemState deflate_file(PackWorkers *workers, const PackFile *file, PackedItem *item, unsigned char *input,
                              WorkerStream *worker)
{
    FILE *source = fopen(file->file, "rb");
    if (!source) {
        item->code = ZIP_FILE_OPEN;
        item->error = GetLastError();
        return ITEM_READY;
    }
    item->dos_date = dos_time_of(source);
    z_stream &stream = worker->stream;
    item->data = (unsigned char *)malloc(item->reserved);
    bool deflating = item->data && start_stream(worker);
    bool whole = false;
    if (deflating) {
        stream.next_out = item->data;
        stream.avail_out = (uInt)item->reserved;
        bool fits = deflate_blocks(workers, source, &stream, item, input);
        if (ferror(source)) {
            item->code = ZIP_FILE_READ;
        } else if (fits && !workers->stop && feof(source)) {
            int status = Z_OK;
            while (status == Z_OK && stream.avail_out > 0)
                status = deflate(&stream, Z_FINISH);
            whole = status == Z_STREAM_END;
        }
        item->length = item->reserved - stream.avail_out;
        item->text = stream.data_type == Z_TEXT;
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
    WorkerStream stream;
    stream.ready = false;
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
            /* No limit: memory in flight is files claimed and not yet
               written, and the writer releases each as it writes it; with
               nothing in flight every file fits (see the head of this
               file). pack_end's stop wakes this wait too. */
            workers->room.wait(hold);
            continue;
        }
        workers->next_claim++;
        workers->in_flight += need;
        item->reserved = need;
        item->state = ITEM_BUSY;
        hold.unlock();
        ItemState done = deflate_file(workers, &workers->files[index], item, input, &stream);
        hold.lock();
        item->state = done;
        workers->ready.notify_all();
    }
    hold.unlock();
    if (stream.ready)
        deflateEnd(&stream.stream);
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

static PackWorkers *new_workers(const PackFile *files, size_t count)
{
    PackWorkers *workers = new (std::nothrow) PackWorkers;
    if (!workers)
        return NULL;
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
    return workers;
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
    if (!archive || count == 0)
        return;
    PackWorkers *workers = new_workers(files, count);
    if (!workers)
        return;
    if (workers->buffer && threads >= 2)
        start_threads(threads, pack_worker, workers, &workers->threads);
    if (workers->threads.empty()) {
        /* One thread: every file is deflated as it is written, into the
           one archive kept open for the whole run (opening it again for
           each file would read its whole directory every time). */
        for (PackedItem &item : workers->items)
            item.state = ITEM_INLINE;
        workers->next_claim = count;
    }
    if (!workers->buffer) {
        /* No buffer to be had: the files are added one by one. */
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
    if (zipOpenNewFileInZip2_64(archive->zip, name, &info, NULL, 0, NULL, 0, NULL, Z_DEFLATED,
                                Z_DEFAULT_COMPRESSION, 1, needs_zip64(item->size)) != ZIP_OK)
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

/* Writes file's entry from what its worker made of it; 0 or the code of
   the failure, its system error in *error. */
static int write_item(PackRun *run, const PackFile *file, const PackedItem *item, DWORD *error)
{
    PackWorkers *workers = run->workers;
    ZipName path, name;
    if (!archive_name(path, run->archive))
        return ZIP_ARCHIVE_CLOSE;
    if (!stored_name(name, file->file, file->entry[0] ? file->entry : NULL))
        return ZIP_ENTRY_OPEN;
    if (item->code != 0) {
        *error = item->error;
        return item->code;
    }
    /* As zip_add_file: the file is opened before the archive is touched,
       so a file that cannot be read creates no archive. */
    int code = 0;
    FILE *source = NULL;
    if (item->state == ITEM_INLINE && !(source = fopen(file->file, "rb"))) {
        *error = GetLastError();
        return ZIP_FILE_OPEN;
    }
    if (!workers->archive_open) {
        code = open_for_adding(&workers->archive, path);
        *error = GetLastError();
        workers->archive_open = code == 0;
    }
    if (code == 0) {
        code = source ? add_stream(&workers->archive, source, file->file, name, workers->buffer)
                      : write_deflated(&workers->archive, name, item);
        *error = workers->archive.guard.error;
    }
    if (source)
        fclose(source);
    return code;
}

/* The next file of a run with workers, written in its turn. */
static int pack_next_deflated(PackRun *run, size_t index)
{
    PackWorkers *workers = run->workers;
    PackedItem *item = &workers->items[index];
    if (workers->failed)
        return ZIP_ARCHIVE_CLOSE;   /* the archive is damaged already */
    {
        /* No limit: the file written next is always deflated without
           delay (see the head of this file). */
        std::unique_lock<std::mutex> hold(workers->lock);
        while (item->state != ITEM_READY && item->state != ITEM_INLINE)
            workers->ready.wait(hold);
    }
    DWORD error = 0;
    int code = write_item(run, &run->files[index], item, &error);
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
