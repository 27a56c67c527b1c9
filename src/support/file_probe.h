/*
 * File probes: the file-access check that tells whether a marker or
 * configuration file exists and can be read and written, and the attribute
 * reset that clears read-only and hidden marks below a directory. Every
 * drive access of the program runs with critical-error boxes switched off
 * (quiet_drive_begin), so an empty floppy or card drive never asks for a
 * disk.
 */
#ifndef KIRO_FILE_PROBE_H
#define KIRO_FILE_PROBE_H

#include <windows.h>

/* File-access result bits. 0 means the file exists and opens for reading
   and writing, which is what "present" means for every marker file. */
enum {
    ACCESS_MISSING      = 1,
    ACCESS_NOT_WRITABLE = 2,
    ACCESS_NOT_READABLE = 4
};

unsigned char file_access(const char *path);

/* Clears read-only, hidden, system and archive marks of everything below
   directory (depth first); the directory keeps its own attributes. A link
   below it (symbolic link or junction) keeps its marks and is never
   followed. An empty text means the current directory. */
void reset_attributes(const char *directory);

/* Switch critical-error boxes off for a drive access; give the result back
   to quiet_drive_end afterwards. */
UINT quiet_drive_begin(void);
void quiet_drive_end(UINT previous_mode);

#endif
