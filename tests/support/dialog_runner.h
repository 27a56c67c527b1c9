/*
 * Runs a piece of work inside a real progress dialog (template 103), the
 * way an operation runs inside its start message, and records what the two
 * bars and the status line saw: the steps each bar took and where each
 * ended.
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
};

/* Opens the dialog, runs work(dialog) in its start message, ends it. */
BarRecord run_in_dialog(const std::function<void(HWND)> &work);

#endif
