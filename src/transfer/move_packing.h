/*
 * The packing stage of the move to a device (start message
 * MSG_PACK_STAGE): the data directory's data\*.dat and ini\*.* (never the
 * lock file) go into the move archive, every file by its full path, none of
 * them left out.
 * What was packed is kept, so that the disk stage can tell, before it
 * locks this PC, whether the data have changed since.
 */
#ifndef KIRO_MOVE_PACKING_H
#define KIRO_MOVE_PACKING_H

#include <windows.h>

/* Builds Data.zip in the data directory; false (reported, nothing left
   behind) when it failed. */
bool pack_move_archive(HWND dialog);

/* True when data_dir no longer holds exactly what the last packing
   packed: a file added, removed, or written since (length or last-write
   time). */
bool data_changed_since_packing(const char *data_dir);

#endif
