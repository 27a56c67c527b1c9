/*
 * Zip packing and unpacking over minizip and zlib: add one file to an
 * archive (creating it or appending), add every file matching a pattern,
 * extract every entry of an archive. Results are small integer codes: 0 is
 * success, anything else a failure.
 */
#ifndef KIRO_ZIP_UTILS_H
#define KIRO_ZIP_UTILS_H

#include <windows.h>
#include <stddef.h>

/* Result codes beyond 0 (success). Callers mostly tell only zero from
   non-zero; the move back tells the user why an entry failed. */
enum {
    ZIP_NO_MEMORY      = -4,
    ZIP_ENTRY_OPEN     = -5,
    ZIP_FILE_OPEN      = -6,
    ZIP_FILE_READ      = -7,
    ZIP_ENTRY_WRITE    = -8,
    ZIP_ENTRY_CLOSE    = -9,
    ZIP_ARCHIVE_CLOSE  = -10,

    UNZIP_TARGET_DIR   = -1,    /* the target directory cannot be made current */
    UNZIP_DAMAGED      = -2,
    UNZIP_NO_ARCHIVE   = -3,
    UNZIP_WRITE        = -9,    /* writing an entry's file failed (last error set) */
    UNZIP_NOT_WRITTEN  = -11,   /* an entry's file cannot be created (last error set) */
    UNZIP_REFUSED      = -12    /* the entry's name is refused */
};

/* Adds file as a new entry named entry_name (NULL: the file path, less
   leading slashes) at the end of archive. On a failure the last error is
   the system's error of the read, write or close that failed. */
int zip_add_file(const char *archive, const char *file, const char *entry_name);
/* zip_add_file with the file path as entry name; reports a failure with
   "Fejl ved pakning af filen '%s'\n" while the dialog is hidden. */
int pack_file(HWND dialog, const char *file, const char *archive);
/* The rule when many files go into one archive: a file that cannot be
   opened (gone meanwhile, or held exclusively by another program) is left
   out, and the packing goes on; any other failure has left the archive
   damaged and ends the packing. The code of zip_add_file to go on with: 0
   when the file was only left out, else the failure. */
int packing_failure(int code);
/* Adds every file of base_dir + pattern, status line and overall bar.
   Stops at the first failure that packing_failure() does not pass over and
   answers its code (the last error as zip_add_file left it); 0 when every
   file went in or was left out. */
int pack_matching_files(HWND dialog, const char *base_dir, const char *pattern, const char *archive);

/* Where an entry goes: fills target with the path to write entry_name to,
   or answers false to refuse the entry (it then counts as failed). */
typedef bool (*EntryPlacer)(const char *entry_name, char *target, size_t size, void *context);

/* Extracts every entry into target_dir (made current). Non-zero when the
   archive cannot be opened or any entry failed; what can be extracted is. */
int unzip_archive(const char *archive, const char *target_dir);
/* The same with a caller's placement of each entry. */
int unzip_archive_placed(const char *archive, const char *target_dir, EntryPlacer placer,
                         void *context);
/* Reads every entry to its end and checks its CRC; 0 when all are whole. */
int test_archive(const char *archive);

/* Creates every missing directory of path; 1 on success. */
int make_path(const char *path);

#endif
