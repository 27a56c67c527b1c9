/*
 * Packing as the progress dialog shows it: the packing road of the
 * archive room (archive/pack.h) with its steps turned into steps of one of
 * the dialog's bars and each file named in the status line, and the two
 * helpers the dialogs call, pack_file (one file, a failure told to the
 * user) and pack_matching_files (every file a pattern finds, none of them
 * ending the packing for being unreadable).
 */
#ifndef KIRO_PACKING_H
#define KIRO_PACKING_H

#include "archive/pack.h"

#include <windows.h>

/* What a packing shows in the progress dialog. */
struct PackingView {
    HWND dialog;
    int bar;                  /* the bar the policy steps (IDC_OVERALL_BAR or IDC_FILE_BAR) */
    const char *status;       /* the status line while a file is packed; one %s, its name */
    void (*packing)(void *context, const WIN32_FIND_DATAA *found);   /* told too; may be NULL */
    void *context;
};

/* pack_folder (archive/pack.h) shown through view. */
int pack_folder_shown(const PackingView *view, const char *archive, const char *base_dir, const char *pattern,
                      const PackPolicy *policy, PackOutcome *outcome);

/* Every file of base_dir + pattern, named below base_dir, the status line
   "Pakker filen: " + its name and one step of the overall bar per file. A
   file that cannot be opened, or whose name does not fit, is left out
   without a message. Stops at any other failure and answers its code (its
   system error as the last error); 0 when every file went in or was left
   out. */
int pack_matching_files(HWND dialog, const char *base_dir, const char *pattern, const char *archive);

/* zip_add_file with the file path as entry name; reports a failure with
   show_packing_error. */
int pack_file(HWND dialog, const char *file, const char *archive);
/* "Fejl ved pakning af filen '%s'\n" with the system's error, while the
   dialog is hidden. */
void show_packing_error(HWND dialog, const char *file);

#endif
