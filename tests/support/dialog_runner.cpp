/*
 * A progress dialog that runs a test's work in its start message (see
 * dialog_runner.h). Both bars are subclassed to count their steps.
 */
#include "dialog_runner.h"
#include "support/progress.h"
#include "resource.h"

#include <commctrl.h>

static const std::function<void(HWND)> *g_work;
static BarRecord g_record;
static bool g_pending;
static WNDPROC g_file_bar_proc, g_overall_bar_proc, g_status_proc;

static LRESULT CALLBACK counting_file_bar(HWND bar, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == PBM_STEPIT) {
        g_record.file_steps++;
        g_record.trace += "f";
    }
    if (message == PBM_SETPOS)
        g_record.trace += "F";
    return CallWindowProcA(g_file_bar_proc, bar, message, wparam, lparam);
}

static LRESULT CALLBACK counting_overall_bar(HWND bar, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == PBM_STEPIT) {
        g_record.overall_steps++;
        g_record.trace += "o";
    }
    if (message == PBM_SETPOS)
        g_record.trace += "O";
    return CallWindowProcA(g_overall_bar_proc, bar, message, wparam, lparam);
}

static LRESULT CALLBACK tracing_status(HWND status, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_SETTEXT && g_work)
        g_record.trace += std::string("[") + (lparam ? (const char *)lparam : "") + "]";
    return CallWindowProcA(g_status_proc, status, message, wparam, lparam);
}

static INT_PTR CALLBACK work_dialog(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        progress_init(dialog, &g_pending);
        g_file_bar_proc = (WNDPROC)SetWindowLongPtrA(GetDlgItem(dialog, IDC_FILE_BAR), GWLP_WNDPROC,
                                                     (LONG_PTR)counting_file_bar);
        g_overall_bar_proc = (WNDPROC)SetWindowLongPtrA(GetDlgItem(dialog, IDC_OVERALL_BAR), GWLP_WNDPROC,
                                                        (LONG_PTR)counting_overall_bar);
        g_status_proc = (WNDPROC)SetWindowLongPtrA(GetDlgItem(dialog, IDC_STATUS), GWLP_WNDPROC,
                                                   (LONG_PTR)tracing_status);
        break;
    case WM_PAINT:
        progress_paint(dialog, "Test", "TEST", false, &g_pending, MSG_DISK_STAGE);
        break;
    case MSG_DISK_STAGE: {
        (*g_work)(dialog);
        g_record.high = SendDlgItemMessageA(dialog, IDC_FILE_BAR, PBM_GETRANGE, FALSE, 0);
        g_record.pos = SendDlgItemMessageA(dialog, IDC_FILE_BAR, PBM_GETPOS, 0, 0);
        char text[600];
        GetDlgItemTextA(dialog, IDC_STATUS, text, sizeof text);
        g_record.status = text;
        EndDialog(dialog, 2);
        break;
    }
    }
    return 0;
}

BarRecord run_in_dialog(const std::function<void(HWND)> &work)
{
    g_work = &work;
    g_record = BarRecord();
    run_progress_dialog(NULL, work_dialog);
    g_work = NULL;
    return g_record;
}
