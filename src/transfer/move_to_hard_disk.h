/*
 * "Flyt data til harddisk": the PC whose schedule is locked takes its data
 * back from the move drive. It checks that the set on the drive belongs to
 * this installation and program version, joins the volumes disk by disk
 * into the move archive, unpacks it whole into a staging folder, puts the
 * files in place of the data directory's, marks the set on the disk as
 * taken back and opens the local schedule again once every placed file has
 * been read back and found to be the set's. It runs in the progress
 * dialog on its start message MSG_DISK_STAGE. Whatever fails leaves the schedule locked
 * and the set on the disk live; doing the move again completes it.
 */
#ifndef KIRO_MOVE_TO_HARD_DISK_H
#define KIRO_MOVE_TO_HARD_DISK_H

#include <windows.h>

/* Dialog procedure over the progress dialog (resource 103). */
INT_PTR CALLBACK move_to_hard_disk_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

/* Runs the whole move back modally over owner. */
void run_move_to_hard_disk(HWND owner);

/* The checks, the join, the unpacking and unlocking; true when the data
   are on the hard disk and the schedule is open again. */
bool take_back_transfer_set(HWND dialog);

/* Joins the volumes into the move archive, asking for each disk by its
   number (refusing a withdrawn set, and asking once, when any disk is
   marked as taken back, whether to go on), unpacks it into the staging
   folder, puts the files in place and checks each against the set; 1 when
   the data are in place as the set has them and the disk's set is marked
   as taken back, 0 otherwise (reported to the user by then; the PC is
   still locked). */
int join_and_unpack(HWND dialog);

/* For tests: called after the files are placed, before they are checked. */
void set_placed_files_hook(void (*hook)(void));

#endif
