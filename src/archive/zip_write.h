/*
 * Writing zip archives over minizip: add one file as one deflated entry at
 * the end of an archive, creating the archive when it is missing. Below
 * it, the pieces the packing pipeline shares with it: the archive opened
 * for new entries behind a write guard (once an entry has gone wrong no
 * further byte reaches the file, so the archive is left without its
 * directory and no reader takes a cut entry for a whole one), the stored
 * entry name and the entry's DOS time.
 */
#ifndef KIRO_ARCHIVE_ZIP_WRITE_H
#define KIRO_ARCHIVE_ZIP_WRITE_H

#include "archive/codes.h"

#include <windows.h>
#include <stdio.h>

#include "zip.h"

/* Adds file as a new entry named entry_name (NULL: the file path, less
   leading slashes) at the end of archive. On a failure the last error is
   the system's error of the read, write or close that failed. A file that
   cannot be opened (ZIP_FILE_OPEN) leaves the archive as it was. */
int zip_add_file(const char *archive, const char *file, const char *entry_name);

/* The copy buffer of adding a file as it is read. */
enum { ADD_BUFFER = 16384 };

/* The archive path with ".zip" appended when it holds no dot at all;
   false when it does not fit. */
bool archive_name(ZipName name, const char *archive);
/* The entry name stored for file: entry_name (or the file path) less any
   leading slashes; false when it does not fit. */
bool stored_name(ZipName name, const char *file, const char *entry_name);
/* The last-write time of path as local DOS date (high half) and time (low
   half); 0 when the file cannot be looked up. */
uLong dos_time_of(const char *path);

/* File access for an archive being written: the library's standard table,
   except that once poisoned every further write fails. */
struct GuardedArchive {
    zlib_filefunc_def standard;
    bool poisoned;
    DWORD error;   /* the system's error of the first write or close that failed */
};
/* An archive opened for new entries, with the guard over its writes. */
struct AddingArchive {
    zipFile zip;
    GuardedArchive guard;
    zlib_filefunc_def functions;
};

/* Opens path for new entries at its end, creating it when it does not
   exist; 0, or ZIP_ARCHIVE_CLOSE with the system's error as last error. */
int open_for_adding(AddingArchive *archive, const char *path);
/* Closes the archive, writing its directory unless code says an entry
   went wrong: then nothing more reaches the file. Answers code, or the
   failure of closing; a failure leaves the system's error as last error. */
int close_for_adding(AddingArchive *archive, int code);
/* Adds source as one entry named name, deflated by the library as it is
   read (buffer holds ADD_BUFFER bytes); 0 or the code of the step that
   failed. The entry is closed only when all went well. */
int add_stream(AddingArchive *archive, FILE *source, const char *file, const char *name, char *buffer);

#endif
