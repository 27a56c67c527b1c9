/*
 * Adding files to a zip archive (see zip_write.h). The file is opened
 * before the archive is touched, so a file that cannot be read leaves no
 * empty entry behind and creates no archive. A path or name that does not
 * fit its buffer is refused, never cut.
 */
#include "archive/zip_write.h"
#include "support/text.h"

#include <stdlib.h>
#include <string.h>

/* The archive path with ".zip" appended when it holds no dot at all;
   false when it does not fit. */
bool archive_name(ZipName name, const char *archive)
{
    if (!copy_text(name, sizeof(ZipName), archive))
        return false;
    if (!strchr(name, '.'))
        return append_text(name, sizeof(ZipName), ".zip");
    return true;
}

/* The last-write time of path as local DOS date (high half) and time (low
   half); 0 when the file cannot be looked up. */
uLong dos_time_of(const char *path)
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

/* Opens path for new entries at its end, creating it when it does not
   exist; 0, or ZIP_ARCHIVE_CLOSE with the system's error as last error. */
int open_for_adding(AddingArchive *archive, const char *path)
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
int close_for_adding(AddingArchive *archive, int code)
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
int add_stream(AddingArchive *archive, FILE *source, const char *file, const char *name, char *buffer)
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
bool stored_name(ZipName name, const char *file, const char *entry_name)
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
