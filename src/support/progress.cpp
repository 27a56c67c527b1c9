/*
 * The progress dialog (resource 103) and the pattern every long operation
 * follows over it: at initialisation the dialog fits itself to its owner and
 * arms a start-pending flag; every paint draws the caption and the heading,
 * and the first one posts the operation's start message, which the
 * operation's own dialog procedure handles by doing all its work at once.
 * Also the small operations on the status line and the two progress bars.
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

void progress_set_range(HWND dialog, int bar, unsigned long upper)
{
    if (upper > 65535)
        SendDlgItemMessageA(dialog, bar, PBM_SETRANGE32, 0, (LPARAM)upper);
    else
        SendDlgItemMessageA(dialog, bar, PBM_SETRANGE, 0, MAKELPARAM(0, upper));
    SendDlgItemMessageA(dialog, bar, PBM_SETSTEP, 1, 0);
}

void progress_step(HWND dialog, int bar)
{
    SendDlgItemMessageA(dialog, bar, PBM_STEPIT, 0, 0);
}

void progress_set_pos(HWND dialog, int bar, unsigned long position)
{
    SendDlgItemMessageA(dialog, bar, PBM_SETPOS, (WPARAM)position, 0);
}

void progress_advance(HWND dialog, int bar, long delta)
{
    SendDlgItemMessageA(dialog, bar, PBM_DELTAPOS, (WPARAM)delta, 0);
}

void progress_fill(HWND dialog, int bar)
{
    LRESULT high = SendDlgItemMessageA(dialog, bar, PBM_GETRANGE, FALSE, 0);
    SendDlgItemMessageA(dialog, bar, PBM_SETPOS, (WPARAM)high, 0);
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
