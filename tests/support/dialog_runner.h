/*
 * Runs a piece of work inside a real progress dialog (template 103), the
 * way an operation runs inside its start message, and records what the two
 * bars and the status line saw: the steps each bar took, where each
 * ended, and everything in the order it happened.
 */
#ifndef KIRO_DIALOG_RUNNER_H
#define KIRO_DIALOG_RUNNER_H

#include <windows.h>
#include <functional>
#include <string>

struct BarRecord {
    int file_steps = 0, overall_steps = 0;
    LRESULT high = -1, pos = -1;   /* file bar at the end */
    std::string status;            /* status line at the end */
    /* In order: "f"/"o" a step of the file/overall bar, "F"/"O" its
       position set, "[text]" the status line set. */
    std::string trace;
};

/* Opens the dialog, runs work(dialog) in its start message, ends it. */
BarRecord run_in_dialog(const std::function<void(HWND)> &work);

#endif
