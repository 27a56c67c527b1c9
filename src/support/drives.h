/*
 * Drive enumeration: the process-wide list of the PC's drives for the
 * move-drive choice of the Advanced dialog, and the drive-type query that
 * tells a removable move drive from other kinds.
 */
#ifndef KIRO_DRIVES_H
#define KIRO_DRIVES_H

#include <windows.h>

struct DriveEntry {
    char designation[4];     /* "C:" */
    char description[516];   /* label, type name or remote name */
};

struct DriveList {
    unsigned char built;
    signed char selected_index;
    char selected_drive[3];
    signed char count;
    DriveEntry *entries;     /* capacity grows in steps of five */
};

extern DriveList g_drive_list;

/* GetDriveTypeA of the first two characters of text + ":" (e, e: and e:\
   all ask for drive E:). */
UINT drive_type(const char *text);

/* Rebuilds the list from the logical drives (release first). */
void build_drive_list(DriveList *list);
/* Frees the entries and zeroes the whole record. */
void release_drive_list(DriveList *list);

#endif
