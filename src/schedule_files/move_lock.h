/*
 * The installation's move lock: one station at a time changes the
 * installation. Every action that does (both moves, the lock toggle,
 * deleting the data, deleting the lock file) and the start of the schedule
 * program first open ini\flyt.lck in the data directory without sharing and
 * keep it open for their whole run, the time a move waits for a disk
 * included. The lock is the open handle, not the file: the file is opened
 * to be deleted when it is closed, and the system closes it when the
 * process ends, however it ends; a file a power cut left behind is held by
 * nobody and is opened again at once. Another station's open fails with a
 * sharing violation, and that station is told that a move is in progress
 * elsewhere. A lock file that cannot be opened for any other reason (a
 * read-only or full data drive) refuses a changing action too: nothing is
 * changed that another station could change at the same time. Only the
 * start of the schedule program, which changes nothing of the menu's, goes
 * ahead without the lock then.
 *
 * The lock file is never packed into a set, never put in place by a
 * take-back and never deleted by "Slet data" (it lies in ini\).
 */
#ifndef KIRO_MOVE_LOCK_H
#define KIRO_MOVE_LOCK_H

#include <windows.h>
#include <stddef.h>

/* The lock file's name in the data directory's ini\ folder. */
constexpr const char *MOVE_LOCK_NAME = "flyt.lck";

/* The move lock while it is held; released when the record goes. */
struct MoveLock {
    HANDLE file;
    MoveLock() : file(INVALID_HANDLE_VALUE) {}
    ~MoveLock();
    MoveLock(const MoveLock &) = delete;
    MoveLock &operator=(const MoveLock &) = delete;
};

enum MoveLockResult {
    MOVE_LOCK_TAKEN = 0,
    MOVE_LOCK_HELD_ELSEWHERE,   /* another station (or menu) holds it */
    MOVE_LOCK_UNAVAILABLE       /* the file cannot be opened: the last error says why */
};

/* data_dir + "ini\flyt.lck"; false when it does not fit. */
bool move_lock_path(char *out, size_t size, const char *data_dir);

/* Takes the lock of the installation in data_dir, saying nothing. */
MoveLockResult try_move_lock(const char *data_dir, MoveLock *lock);

/* Tells the user why the lock could not be had (owner may be NULL): a
   move in progress on another PC, or the system's reason. */
void report_move_lock_refused(HWND owner, MoveLockResult result);

/* Takes the lock of the menu's installation; when it cannot be had the
   user is told why and the answer is false. */
bool take_move_lock(HWND owner, MoveLock *lock);

/* Gives the lock back (nothing when it is not held). */
void release_move_lock(MoveLock *lock);

/* Tells the user that another station locked or opened the schedule since
   the menu last looked (reread_lock_state of the settings found it, under
   the lock, just before acting): nothing was done. owner may be NULL. */
void report_state_changed(HWND owner);

#endif
