/*
 * The result codes of the archive room. Every operation answers 0 for
 * success and one of these otherwise; callers mostly tell only zero from
 * non-zero, the move back tells the user why an entry failed. Where a code
 * comes from a failing system call, the system's error is left as the last
 * error. Paths and names that do not fit their buffers are refused,
 * never cut.
 */
#ifndef KIRO_ARCHIVE_CODES_H
#define KIRO_ARCHIVE_CODES_H

enum {
    ZIP_NO_MEMORY      = -4,
    ZIP_ENTRY_OPEN     = -5,
    ZIP_FILE_OPEN      = -6,
    ZIP_FILE_READ      = -7,
    ZIP_ENTRY_WRITE    = -8,
    ZIP_ENTRY_CLOSE    = -9,
    ZIP_ARCHIVE_CLOSE  = -10,

    UNZIP_TARGET_DIR   = -1,    /* the target directory is not there */
    UNZIP_DAMAGED      = -2,
    UNZIP_NO_ARCHIVE   = -3,
    UNZIP_WRITE        = -9,    /* writing an entry's file failed (last error set) */
    UNZIP_NOT_WRITTEN  = -11,   /* an entry's file or folder cannot be made (last error set) */
    UNZIP_REFUSED      = -12,   /* the entry's name is refused */
    UNZIP_OVERLAP      = -13,   /* two entries share local header or data */
    UNZIP_SHORT        = -14,   /* an entry came out shorter than it says */

    PACK_NAME_TOO_LONG = -15    /* a file's path or entry name does not fit, and the packing may leave none out */
};

/* Archive paths and entry names: at most 255 characters. */
typedef char ZipName[256];

#endif
