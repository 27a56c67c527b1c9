/*
 * Packing a list of files into one archive, written in their order on the
 * calling thread. With more than one thread (zip_threads), workers read
 * and deflate the files ahead into memory (never more than
 * ZIP_MEMORY_IN_FLIGHT; a file larger than that is deflated as it is
 * written), and each is written as a raw entry: the archive is byte for
 * byte the one zip_add_file gives file by file. On one thread each file is
 * deflated as it is written, into the archive opened once for the run.
 * Workers never touch a window; the caller shows every message, once
 * pack_end has returned.
 */
#ifndef KIRO_ARCHIVE_DEFLATE_WORKERS_H
#define KIRO_ARCHIVE_DEFLATE_WORKERS_H

#include "archive/codes.h"

#include <stddef.h>

/* Deflated data held in memory at most, waiting to be written. */
enum { ZIP_MEMORY_IN_FLIGHT = 64 << 20 };

/* One file of a packing run: the file, its entry name (empty: the file
   path, as zip_add_file takes NULL), and its length as listed. */
struct PackFile {
    char file[1040];
    char entry[256];
    unsigned long long size;
};

struct PackWorkers;
struct PackRun {
    const char *archive;
    const PackFile *files;
    size_t count;
    size_t next;                /* the file pack_next writes */
    PackWorkers *workers;       /* NULL (no memory to be had): zip_add_file file by file */
};
/* Starts the run (files must outlive it); nothing is written yet. */
void pack_begin(PackRun *run, const char *archive, const PackFile *files, size_t count);
/* Writes the next file's entry: zip_add_file's code for that file (a file
   that cannot be opened, ZIP_FILE_OPEN, leaves the archive as it was; any
   other failure leaves it damaged, to be deleted), its system error as the
   last error. */
int pack_next(PackRun *run);
/* Ends the run, given the code it ended with: every worker has ended, and
   the archive is closed, without its directory when code is not 0.
   Answers code, or the failure of closing the archive. */
int pack_end(PackRun *run, int code);

#endif
