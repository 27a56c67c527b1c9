/*
 * The progress dialog (resource 103) and the pattern every long operation
 * follows over it: at initialisation the dialog fits itself to its owner and
 * arms a start-pending flag; every paint draws the caption and the heading,
 * and the first one posts the operation's start message, which the
 * operation's own dialog procedure handles by doing all its work at once.
 * Also the small operations on the status line and the two progress bars,
 * whose moves are gathered (see progress.h).
 */
#include "support/progress.h"
#include "support/drawing.h"
#include "resource.h"

#include <commctrl.h>

unsigned char g_progress_phase = PHASE_PACKING;

const char *phase_caption(int phase)
{
    switch (phase) {
    case PHASE_COPYING:   return "Kopier filer...";
    case PHASE_UNPACKING: return "Udpakker filer...";
    default:              return "Pakker filer...";
    }
}

const char *phase_heading(int phase)
{
    switch (phase) {
    case PHASE_COPYING:   return "KOPIER FILER    ET ØJEBLIK...";
    case PHASE_UNPACKING: return "UDPAKKER FILER    ET ØJEBLIK...";
    default:              return "PAKKER FILER    ET ØJEBLIK...";
    }
}

INT_PTR run_progress_dialog(HWND owner, DLGPROC proc)
{
    /* The bars need the common controls' classes; registering them again
       costs nothing. */
    INITCOMMONCONTROLSEX classes;
    classes.dwSize = sizeof classes;
    classes.dwICC = ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&classes);
    return DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_PROGRESS), owner, proc, 0);
}

void progress_bar_backgrounds(HWND dialog)
{
    const int bars[2] = { IDC_OVERALL_BAR, IDC_FILE_BAR };
    for (int i = 0; i < 2; i++) {
        HWND bar = GetDlgItem(dialog, bars[i]);
        if (bar)
            SetClassLongPtrA(bar, GCLP_HBRBACKGROUND, (LONG_PTR)(COLOR_WINDOW + 1));
    }
}

void progress_init(HWND dialog, bool *start_pending)
{
    fit_to_parent(dialog);
    progress_bar_backgrounds(dialog);
    if (start_pending)
        *start_pending = true;
}

void progress_paint(HWND dialog, const char *caption, const char *heading, bool filled,
                    bool *start_pending, UINT start_message)
{
    HWND heading_control = GetDlgItem(dialog, IDC_HEADING);
    if (heading_control) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(heading_control, &ps);
        SetWindowTextA(dialog, caption ? caption : "");
        RECT area;
        GetClientRect(heading_control, &area);
        SetBkMode(dc, TRANSPARENT);
        if (filled)
            FillRect(dc, &area, (HBRUSH)(COLOR_BTNFACE + 1));
        DrawTextA(dc, heading ? heading : "", -1, &area, DT_CENTER | DT_VCENTER);
        EndPaint(heading_control, &ps);
    } else {
        SetWindowTextA(dialog, caption ? caption : "");
    }
    /* Only the first paint starts the work: repaints while it runs, and
       the paint the work asks for itself, must not start it again. */
    if (start_pending && *start_pending) {
        *start_pending = false;
        PostMessageA(dialog, start_message, 0, 0);
    }
}

void progress_dialog_message(HWND dialog, UINT message, const ProgressLook *look, bool *start_pending)
{
    if (message == WM_INITDIALOG) {
        if (look->phase >= 0)
            g_progress_phase = (unsigned char)look->phase;
        progress_init(dialog, start_pending);
    } else if (message == WM_PAINT) {
        bool by_phase = look->caption == NULL;
        progress_paint(dialog, by_phase ? phase_caption(g_progress_phase) : look->caption,
                       by_phase ? phase_heading(g_progress_phase) : look->heading, by_phase, start_pending,
                       look->start_message);
    }
}

void progress_set_phase(HWND dialog, int phase)
{
    g_progress_phase = (unsigned char)phase;
    InvalidateRect(GetDlgItem(dialog, IDC_HEADING), NULL, TRUE);
    SendMessageA(dialog, WM_PAINT, 0, 0);
}

/* What the module knows of a bar: where the work has brought it (the
   steps and byte counts summed) and what it shows. */
struct TrackedBar {
    HWND bar;
    HWND dialog;        /* with id: how the operations name it */
    int id;
    unsigned long upper;
    unsigned long position;
    unsigned long shown;
    DWORD moved_at;
    unsigned long used; /* the most recently used entry is kept longest */
};

enum {
    TRACKED_BARS = 8,
    SMALL_BAR = 200,          /* every step of a bar this short is visible */
    MOVE_INTERVAL_MS = 50     /* a person sees no finer movement */
};

static TrackedBar g_bars[TRACKED_BARS];
static unsigned long g_bar_uses;

/* A new entry for bar, with the range and position the control has now. */
static TrackedBar *adopt(HWND bar, HWND dialog, int id)
{
    TrackedBar *entry = &g_bars[0];
    for (int i = 1; i < TRACKED_BARS; i++)
        if (g_bars[i].used < entry->used)
            entry = &g_bars[i];
    entry->bar = bar;
    entry->dialog = dialog;
    entry->id = id;
    entry->upper = (unsigned long)SendMessageA(bar, PBM_GETRANGE, FALSE, 0);
    entry->position = (unsigned long)SendMessageA(bar, PBM_GETPOS, 0, 0);
    entry->shown = entry->position;
    entry->moved_at = GetTickCount();
    return entry;
}

/* The entry of the bar by its window; NULL when there is none. */
static TrackedBar *tracked_window(HWND bar)
{
    if (!bar)
        return NULL;
    TrackedBar *entry = NULL;
    for (int i = 0; i < TRACKED_BARS && !entry; i++)
        if (g_bars[i].bar == bar)
            entry = &g_bars[i];
    if (!entry)
        entry = adopt(bar, NULL, 0);
    entry->used = ++g_bar_uses;
    return entry;
}

/* The entry of the dialog's bar id, without asking the dialog for the
   control again once it is known; NULL when there is no such bar. */
static TrackedBar *tracked(HWND dialog, int id)
{
    if (!dialog)
        return NULL;
    for (int i = 0; i < TRACKED_BARS; i++) {
        if (g_bars[i].bar && g_bars[i].dialog == dialog && g_bars[i].id == id) {
            g_bars[i].used = ++g_bar_uses;
            return &g_bars[i];
        }
    }
    TrackedBar *entry = tracked_window(GetDlgItem(dialog, id));
    if (entry) {
        entry->dialog = dialog;
        entry->id = id;
    }
    return entry;
}

/* Moves the bar to where the work has brought it: by its step when that
   is exactly one step, else to the position. */
static void show(TrackedBar *entry, bool one_step)
{
    if (one_step)
        SendMessageA(entry->bar, PBM_STEPIT, 0, 0);
    else
        SendMessageA(entry->bar, PBM_SETPOS, (WPARAM)entry->position, 0);
    entry->shown = entry->position;
    entry->moved_at = GetTickCount();
}

static void show_gathered(TrackedBar *entry)
{
    if (entry && entry->position != entry->shown)
        show(entry, false);
}

/* Adds delta to the position (kept within the range) and moves the bar
   when a person would see it. */
static void gather(TrackedBar *entry, long delta, bool step)
{
    long long position = (long long)entry->position + delta;
    if (position < 0)
        position = 0;
    if (position > (long long)entry->upper)
        position = (long long)entry->upper;
    entry->position = (unsigned long)position;
    if (entry->position == entry->shown)
        return;
    bool due = entry->position == entry->upper || entry->position < entry->shown ||
               entry->upper <= SMALL_BAR || GetTickCount() - entry->moved_at >= MOVE_INTERVAL_MS;
    if (due)
        show(entry, step && entry->position == entry->shown + 1);
}

void progress_set_range(HWND dialog, int bar, unsigned long upper)
{
    TrackedBar *entry = tracked(dialog, bar);
    show_gathered(entry);
    if (upper > 65535)
        SendDlgItemMessageA(dialog, bar, PBM_SETRANGE32, 0, (LPARAM)upper);
    else
        SendDlgItemMessageA(dialog, bar, PBM_SETRANGE, 0, MAKELPARAM(0, upper));
    SendDlgItemMessageA(dialog, bar, PBM_SETSTEP, 1, 0);
    if (entry) {
        /* The control keeps its position within the new range. */
        entry->upper = upper;
        if (entry->position > upper)
            entry->position = upper;
        entry->shown = entry->position;
    }
}

void progress_step(HWND dialog, int bar)
{
    TrackedBar *entry = tracked(dialog, bar);
    if (entry)
        gather(entry, 1, true);
}

void progress_set_pos(HWND dialog, int bar, unsigned long position)
{
    TrackedBar *entry = tracked(dialog, bar);
    if (!entry)
        return;
    entry->position = position < entry->upper ? position : entry->upper;
    show(entry, false);
}

void progress_advance(HWND dialog, int bar, long delta)
{
    TrackedBar *entry = tracked(dialog, bar);
    if (entry)
        gather(entry, delta, false);
}

void progress_bar_advance(HWND bar, long delta)
{
    TrackedBar *entry = tracked_window(bar);
    if (entry)
        gather(entry, delta, false);
}

void progress_fill(HWND dialog, int bar)
{
    TrackedBar *entry = tracked(dialog, bar);
    if (!entry)
        return;
    entry->upper = (unsigned long)SendMessageA(entry->bar, PBM_GETRANGE, FALSE, 0);
    entry->position = entry->upper;
    show(entry, false);
}

void progress_status(HWND dialog, const char *text)
{
    if (dialog)
        SetDlgItemTextA(dialog, IDC_STATUS, text ? text : "");
}

void progress_hide_file_bar(HWND dialog)
{
    HWND bar = GetDlgItem(dialog, IDC_FILE_BAR);
    if (bar)
        ShowWindow(bar, SW_HIDE);
}
