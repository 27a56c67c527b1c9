/*
 * "Flyt data til enhed": the PC that holds the live schedule data packs
 * data\*.dat and ini\*.* into the move archive and writes it onto the move
 * drive as one volume per disk with a transfer file each, then locks its own
 * schedule. It runs in the progress dialog in two stages: packing (start
 * message MSG_PACK_STAGE), which continues with the disk stage
 * (MSG_DISK_STAGE). Every path
 * ends the dialog and removes the move archive; a run that does not
 * complete leaves the local data live and the configuration unchanged.
 */
#ifndef KIRO_MOVE_TO_DEVICE_H
#define KIRO_MOVE_TO_DEVICE_H

#include "transfer/move_packing.h"

#include <windows.h>

/* Dialog procedure over the progress dialog (resource 103). */
INT_PTR CALLBACK move_to_device_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

/* Runs the whole move modally over owner. */
void run_move_to_device(HWND owner);

/* Disk stage: writes the volumes and transfer files, locks the schedule
   on completion, removes the move archive. True when completed. */
bool write_transfer_disks(HWND dialog);

#endif
