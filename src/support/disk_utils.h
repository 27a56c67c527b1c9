/*
 * File and disk utilities: counting files, copying a file or a slice of it
 * while driving the progress dialog's file bar, volume labels, file sizes,
 * free space, creating one directory and removing a directory tree. Every
 * function that touches a drive runs with critical-error boxes switched off.
 */
#ifndef KIRO_DISK_UTILS_H
#define KIRO_DISK_UTILS_H

#include <windows.h>

/* Entries matching pattern that are not directories (0 when none). */
int count_files(const char *pattern);

/* Copies source from offset, at most limit bytes (0: to the end), to target
   opened with mode "wb" or "ab"; drives the file bar and status line of the
   progress dialog (may be NULL). Bytes written, 0 on failure (also on a
   read error of the source). With crc, the CRC-32 of the bytes written is
   computed on the way, from the same blocks (the source is read once). */
ULONGLONG copy_with_progress(HWND dialog, const char *source, const char *target, ULONGLONG offset,
                             ULONGLONG limit, const char *mode, unsigned long *crc = NULL);

/* Reads path back whole from its device, past the system's file cache
   where the system allows it (unbuffered reads in large sector-aligned
   blocks), and gives its length and CRC-32; the status line names it and
   the file bar steps per block (dialog may be NULL). READ_BACK_MISSING
   when it cannot be opened, READ_BACK_FAILED when a read fails: a disk
   that does not give back its bytes. */
enum ReadBack { READ_BACK_DONE = 0, READ_BACK_MISSING, READ_BACK_FAILED };
ReadBack read_back_crc32(HWND dialog, const char *path, unsigned long long *size, unsigned long *crc);

/* Label of the drive named by path's first two characters into buffer
   (260 characters); 1 when a readable medium is present, else 0. */
int read_volume_label(char *buffer, const char *path);

/* The file's length (of any size), 0 when it cannot be examined. */
ULONGLONG file_size(const char *path);

/* Free space for the caller and capacity of drive (e.g. "a:" or any path
   on it); 1 on success, 0 on failure (values untouched). */
int free_space(const char *drive, ULARGE_INTEGER *available, ULARGE_INTEGER *total);
/* Bytes per allocation unit of drive, 0 when unknown. */
DWORD cluster_size(const char *drive);

/* Creates the last component of path; 1 when it exists afterwards. */
int make_directory(const char *path);
/* Removes directory and everything below it, as far as possible; 1. A
   directory link (symbolic link or junction) below it, or the directory
   itself being one, is removed as a link where the system allows it and
   is never followed: nothing outside the tree is ever deleted. */
int delete_tree(const char *directory);
/* True when path is a directory link (a reparse point). */
bool is_directory_link(const char *path);

/* Writes what the system still holds of file in its caches to the device,
   so that a disk can be taken out; true when it is there. */
bool flush_file(const char *path);
/* The folder's entries (names made, renamed or deleted in it) on the
   device, where the system lets a folder be flushed; true when flushed. */
bool flush_directory(const char *directory);
/* flush_directory of the folder that holds path (its name's entry). */
bool flush_parent_directory(const char *path);

/* The serial number of the volume of the drive named by path's first two
   characters; false when no medium can be read. */
bool read_volume_serial(const char *path, DWORD *serial);

/* A removable disk counts as empty when its root holds nothing but what
   the file system and Windows keep there themselves ("System Volume
   Information", the recycle bins, the files in which Wine keeps a drive's
   label and serial). The file system's own structures take room of their
   own, so free space never equals capacity on a modern stick. */
bool disk_is_empty(const char *drive);

#endif
