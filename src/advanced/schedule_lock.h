/*
 * Schedule lock and lock file: the manual override of the schedule's
 * locked state ("skemalåst" in ini\kiro.ini and the flag that mirrors it),
 * and the guarded deletion of the lock file ini\kiro.lck that a running
 * schedule program leaves in the data directory.
 */
#ifndef KIRO_SCHEDULE_LOCK_H
#define KIRO_SCHEDULE_LOCK_H

#include <windows.h>
#include <stddef.h>

/* Asks whether to open (locked) or lock (open) the schedule and, on Yes,
   writes the other state and sets the flag to it (a super installation is
   locked this way too). A failed write is reported, and the flag stays as
   it was. It holds the move lock throughout and acts on the state the
   configuration file has once the lock is held: when another station
   holds the lock, or has changed the state since the menu looked, the
   user is told and nothing is written. */
void toggle_schedule_lock(void);

/* The data directory's lock file path. */
void lock_file_path(char *path, size_t size);

/* The three-piece warning shown before the lock file is deleted. */
void lock_file_warning(char *text, size_t size, int installation);

/* Whether the caller may delete the lock file: yes without asking when the
   file is not present and writable, else the warning (No the default). */
bool confirm_delete_lock_file(HWND owner);

/* "Sl&et låsefil": under the move lock, the confirmation and, on yes,
   the deletion. */
void delete_lock_file_guarded(HWND owner);

/* Deletes the lock file when it is present and writable; true if deleted. */
bool delete_lock_file(void);

#endif
