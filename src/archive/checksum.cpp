/*
 * Reading back what was written (see checksum.h): the length and CRC-32
 * of files, on several threads for a list of them, and a test of a whole
 * archive, every entry read to its end with its CRC checked.
 */
#include "archive/checksum.h"
#include "archive/extract.h"
#include "archive/survey.h"
#include "archive/threads.h"

#include <atomic>
#include <stdlib.h>

#include <vector>

enum { READ_BUFFER = 262144 };

/* file_crc32 through a block buffer of READ_BUFFER bytes the caller keeps:
   a list of many small files is summed without a new buffer for each,
   which under Wine costs more than reading the file. */
static bool sum_file(const char *path, unsigned char *buffer, unsigned long long *size, unsigned long *crc)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    uLong sum = crc32(0L, Z_NULL, 0);
    unsigned long long total = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, READ_BUFFER, &got, NULL)) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        sum = crc32(sum, buffer, got);
        total += got;
    }
    CloseHandle(file);
    if (ok) {
        *size = total;
        *crc = sum;
    }
    return ok;
}

bool file_crc32(const char *path, unsigned long long *size, unsigned long *crc)
{
    unsigned char *buffer = (unsigned char *)malloc(READ_BUFFER);
    bool ok = buffer && sum_file(path, buffer, size, crc);
    free(buffer);
    return ok;
}

/* Files summed by several threads, each taking the next file. */
struct Summing {
    FileSum *files;
    size_t count;
    std::atomic<size_t> next;
};

/* Ends when the files run out: it waits for nothing. */
static unsigned __stdcall sum_worker(void *context)
{
    Summing *run = (Summing *)context;
    unsigned char *buffer = (unsigned char *)malloc(READ_BUFFER);
    for (size_t i; (i = run->next++) < run->count;) {
        FileSum *file = &run->files[i];
        file->read = buffer && sum_file(file->path, buffer, &file->size, &file->crc);
    }
    free(buffer);
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
    char *buffer = (char *)malloc(READ_BUFFER);
    if (!buffer) {
        unzClose(zip);
        return ZIP_NO_MEMORY;
    }
    unz_global_info64 global;
    int code = unzGetGlobalInfo64(zip, &global) == UNZ_OK ? 0 : UNZIP_DAMAGED;
    for (ZPOS64_T i = 0; code == 0 && i < global.number_entry; i++) {
        unz_file_info64 info;
        if ((i > 0 && unzGoToNextFile(zip) != UNZ_OK)
            || unzGetCurrentFileInfo64(zip, &info, NULL, 0, NULL, 0, NULL, 0) != UNZ_OK) {
            code = UNZIP_DAMAGED;
            break;
        }
        if (unzOpenCurrentFile(zip) != UNZ_OK) {
            unzCloseCurrentFile(zip);
            code = UNZIP_DAMAGED;
            break;
        }
        int got;
        unsigned long long total = 0;
        bool own_crc = !library_checks_crc(info.uncompressed_size);
        uLong crc = crc32(0L, Z_NULL, 0);
        while ((got = unzReadCurrentFile(zip, buffer, READ_BUFFER)) > 0) {
            total += (unsigned)got;
            if (own_crc)
                crc = crc32(crc, (const Bytef *)buffer, (uInt)got);
        }
        int closed = unzCloseCurrentFile(zip);
        if (got < 0)
            code = got;
        else if (closed != UNZ_OK)
            code = closed;
        else if (total != info.uncompressed_size || (own_crc && crc != info.crc))
            code = UNZIP_DAMAGED;
    }
    free(buffer);
    unzClose(zip);
    return code;
}
