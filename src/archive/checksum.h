/*
 * Checksums: the length and CRC-32 of a file or of a list of files (read
 * on zip_threads() threads), and the test of a whole archive. The move
 * back compares every file it placed with the set's directory this way;
 * the support snapshot reads its archive back before it is sent.
 */
#ifndef KIRO_ARCHIVE_CHECKSUM_H
#define KIRO_ARCHIVE_CHECKSUM_H

#include "archive/codes.h"

#include <stddef.h>

/* Length and CRC-32 of a file, read once in large blocks; false when it
   cannot be read. */
bool file_crc32(const char *path, unsigned long long *size, unsigned long *crc);

/* One file of a list to sum; read is false for a file that cannot be read. */
struct FileSum {
    const char *path;
    unsigned long long size;
    unsigned long crc;
    bool read;
};
void files_crc32(FileSum *files, size_t count);

/* Reads every entry to its end and checks its CRC; 0 when all are whole. */
int test_archive(const char *archive);

#endif
