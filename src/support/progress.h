/*
 * The progress dialog (resource 103) shared by every long operation: a
 * painted heading, a status line and two bars. Each operation brings its own
 * dialog procedure over the resource; the procedures share one pattern: the
 * dialog paints its heading once, posts itself a private start message, and
 * does the whole operation synchronously while handling that message,
 * ending itself with 2 on every path. These helpers are that pattern.
 *
 * The bars move as often as a person can see them, not as often as the
 * work reports: every step and byte count is summed here, and a bar is
 * moved at once only while its range has at most 200 units (each step is
 * then a visible part of it), otherwise at most once every 50 ms; it
 * always moves at once to its upper limit, and back. Under Wine each move
 * repaints the bar at once (some 2 ms), and an upload that moved it per
 * 512 bytes spent a hundred times longer on the bar than on the network.
 * A bar's range and position are therefore set through these functions
 * only; the module keeps its own count of them.
 */
#ifndef KIRO_PROGRESS_H
#define KIRO_PROGRESS_H

#include <windows.h>

#include "support/messages.h"

/* Caption and heading of the move dialogs. */
enum { PHASE_PACKING = 0, PHASE_COPYING = 1, PHASE_UNPACKING = 2 };
extern unsigned char g_progress_phase;
const char *phase_caption(int phase);
const char *phase_heading(int phase);

/* Runs dialog 103 modally over owner with procedure proc. */
INT_PTR run_progress_dialog(HWND owner, DLGPROC proc);

/* WM_INITDIALOG: fit_to_parent, bar backgrounds, start_pending = true. */
void progress_init(HWND dialog, bool *start_pending);
/* WM_PAINT: caption and heading (filled with the button face when filled),
   then posts start_message once while *start_pending is set. */
void progress_paint(HWND dialog, const char *caption, const char *heading, bool filled,
                    bool *start_pending, UINT start_message);
/* How an operation looks in the dialog: caption and heading (NULL: by the
   progress phase, on a filled heading, as the moves show them), the phase
   set when the dialog opens (-1: none) and the start message. */
struct ProgressLook {
    const char *caption;
    const char *heading;
    int phase;
    UINT start_message;
};
/* WM_INITDIALOG and WM_PAINT of an operation's dialog procedure, by the
   pattern above; every other message is the operation's own. */
void progress_dialog_message(HWND dialog, UINT message, const ProgressLook *look, bool *start_pending);

/* Sets the progress phase and repaints caption and heading at once. */
void progress_set_phase(HWND dialog, int phase);
/* Gives both bars the window colour as class background. */
void progress_bar_backgrounds(HWND dialog);

/* Bar operations (bar = IDC_OVERALL_BAR or IDC_FILE_BAR). Stepping and
   advancing are gathered as described above; setting the range shows what
   was gathered first. */
void progress_set_range(HWND dialog, int bar, unsigned long upper);  /* then step 1 */
void progress_step(HWND dialog, int bar);
void progress_set_pos(HWND dialog, int bar, unsigned long position);
void progress_advance(HWND dialog, int bar, long delta);            /* PBM_DELTAPOS */
void progress_fill(HWND dialog, int bar);
void progress_status(HWND dialog, const char *text);
void progress_hide_file_bar(HWND dialog);
/* progress_advance for a bar known only by its window (the FTP client's). */
void progress_bar_advance(HWND bar, long delta);

#endif
