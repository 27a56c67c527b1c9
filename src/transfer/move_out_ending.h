/*
 * The end of a move to a device, once every volume is on its disk and
 * proven: this PC is locked first (written and read back), and only then
 * is the set on the last disk marked live, so that a cut in between
 * leaves the data live nowhere rather than in two places (the take-back
 * on either PC completes it). The user is told afterwards, so a menu that
 * ends while the last box is up leaves the data live in one place only.
 */
#ifndef KIRO_MOVE_OUT_ENDING_H
#define KIRO_MOVE_OUT_ENDING_H

#include <windows.h>

/* Told after a withdrawal that did not reach the disk. */
extern const char *const g_not_withdrawn_text;

/* "Kan ikke skrive filen: <transfer file>" with the system's reason. */
void report_transfer_file_failed(void);

/* The set just written is marked withdrawn on its disk, or removed when
   even that cannot be written. False when the disk may still hold it as
   live. */
bool withdraw_written_set(void);

/* Locks this PC and marks the set on the disk live; false (reported, the
   set withdrawn where it can be) when the schedule program runs on some
   station, the data directory has changed since it was packed, or a lock
   cannot be written. */
bool make_written_set_live(HWND dialog, const char *data_dir, const char *set_id);

/* "Så er filerne kopieret til disk enheden!", with the note on an older
   version on the other PC. */
void show_move_out_completion(int previous_version);

#endif
