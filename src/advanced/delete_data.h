/*
 * Deleting the schedule data: the chain of warnings that guards it (lock
 * file, export file, events and postings not yet delivered to EASY) and the
 * progress dialog that removes one file per table of the schedule database,
 * sparing the kept tables, and the five work files of the schedule program.
 */
#ifndef KIRO_DELETE_DATA_H
#define KIRO_DELETE_DATA_H

#include <windows.h>
#include <stddef.h>

/* Reads the two undelivered counts ("%lu, %lu") from the count file: 0 when
   both were read, -1 otherwise. Both start at 0, so a file with one number
   gives that number and 0. */
int read_undelivered_counts(const char *path, unsigned long *events, unsigned long *postings);

/* The "ALLE skemadata" warning, with the EASY sentence when a count is not 0. */
void delete_warning_text(char *text, size_t size, int installation, unsigned long events,
                         unsigned long postings);

/* The chain of questions, every box owned by owner; true to go ahead. */
bool confirm_delete_data(HWND owner);

/* The files that exist and could not be deleted. */
enum { DELETE_LEFT_NAMED = 5 };
struct DeleteOutcome {
    int deleted;                          /* files removed */
    int left;                             /* files that exist and remain */
    char left_names[DELETE_LEFT_NAMED][64];  /* the first of them, "anom.DAT" */
};

/* Deletes the table files without keep flag and the work files of the
   schedule in data_dir, releasing each table's buffer; shows each table in
   the status line and steps the overall bar when dialog is not NULL. */
void delete_schedule_files(HWND dialog, const char *data_dir, DeleteOutcome *outcome);

/* The warning shown instead of the final message when files remain. */
void files_left_text(char *text, size_t size, const DeleteOutcome *outcome);

/* Runs the delete-data dialog (progress dialog 103) modally over owner. */
INT_PTR run_delete_data(HWND owner);
INT_PTR CALLBACK delete_data_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

/* "S&let data" as the Advanced dialog runs it: the questions and, on yes,
   the deletion, all under the installation's move lock (refused, and
   told, when another station holds it). */
void delete_data_guarded(HWND owner);

#endif
