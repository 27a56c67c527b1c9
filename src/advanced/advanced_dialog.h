/*
 * The Advanced dialog (resource 105): five administrative choices (send
 * data to support, delete the data, open or lock the schedule, delete the
 * lock file, choose the move drive), a drop-down list of the PC's drives
 * with the move drive preselected, and OK, which saves a changed move drive
 * and runs the chosen action.
 */
#ifndef KIRO_ADVANCED_DIALOG_H
#define KIRO_ADVANCED_DIALOG_H

#include <windows.h>

/* Runs the dialog modally over owner: 1011 after OK, 1012 after "&Fortryd"
   or Escape. */
INT_PTR run_advanced_dialog(HWND owner);
INT_PTR CALLBACK advanced_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

/* "(C:) Lokal disk" */
void drive_entry_text(char *text, size_t size, const char *designation, const char *description);

/* Fills the combo box from the drive list (built on first use), matching
   the move drive (both turned upper case) to preselect its entry. */
void fill_drive_combo(HWND combo);

/* The label of the lock choice for the schedule-locked flag. */
const char *lock_choice_label(bool schedule_locked);

/* Checks the selected drive of the combo box against the move drive:
   true when the move drive changed (and takes the new one); false when it
   is the same, or when the drive is not valid (after saying so). */
bool validate_move_drive(HWND dialog);

#endif
