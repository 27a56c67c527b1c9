/*
 * The main menu dialog (see main_menu.h).
 *
 * Controls: 1001 start choice, 1009 view choice, 1002 move choice (radio
 * buttons, labels set at run time), 1003 "A&vanceret", 1004 "&OK",
 * 1005 "&Luk", 1018 the group box the focus ring takes its width from.
 *
 * OK holds the installation's move lock while it acts, and reads the
 * schedule's locked state from the configuration file once it holds it:
 * another menu of the installation may have moved the data out or back
 * since this one painted its labels. Then the labels are refreshed and the
 * user told, instead of acting on what they showed.
 */
#include "shell/main_menu.h"
#include "advanced/advanced_dialog.h"
#include "shell/launcher.h"
#include "transfer/move_to_device.h"
#include "transfer/move_to_hard_disk.h"
#include "transfer/transfer_set.h"
#include "schedule_files/move_lock.h"
#include "support/drawing.h"
#include "support/drives.h"
#include "support/file_probe.h"
#include "support/message_box.h"
#include "support/settings.h"
#include "support/text.h"
#include "resource.h"

#include <string.h>

static HWND g_ring_control = NULL;   /* the control the ring was last drawn around */
/* OK's action is under way (its boxes run message loops of their own). */
static bool g_ok_running = false;

MainMenuLabels main_menu_labels(bool schedule_locked, const char *super_setting, UINT move_drive_type)
{
    bool normal = strcmp(super_setting, "nej") == 0;
    MainMenuLabels labels;
    labels.view = "Start KI&RO-skema [VIS]";
    if (schedule_locked)
        labels.move = "&Flyt data til harddisk";
    else
        labels.move = move_drive_type == DRIVE_REMOVABLE ? "&Flyt data til enhed" : "&Flyt data til harddisk";
    if (!normal)
        labels.start = "&Start Super KIRO";
    else
        labels.start = schedule_locked ? "&Start KIRO-skema [LÅST]" : "&Start KIRO-skema";
    return labels;
}

void version_banner(char *out, size_t size, int installation, unsigned version)
{
    format_text(out, size, "Kiro: %i   Version: %i.%02i.%02i", installation,
                (int)(version / 10000), (int)(version % 10000 / 100), (int)(version % 100));
}

static void set_label(HWND dialog, int id, const char *text)
{
    char now[64];
    GetDlgItemTextA(dialog, id, now, sizeof now);
    if (strcmp(now, text) != 0)
        SetDlgItemTextA(dialog, id, text);
}

static void refresh_labels(HWND dialog)
{
    MainMenuLabels labels = main_menu_labels(g_settings.schedule_locked, g_settings.super_setting,
                                             drive_type(g_settings.move_drive));
    set_label(dialog, IDC_START, labels.start);
    set_label(dialog, IDC_VIEW, labels.view);
    set_label(dialog, IDC_MOVE, labels.move);
}

static void paint_ring(HWND dialog, HWND control, int colour)
{
    RECT row;
    GetWindowRect(control, &row);
    MapWindowPoints(NULL, dialog, (POINT *)&row, 2);
    paint_focus_ring(dialog, GetDlgItem(dialog, IDC_MENU_GROUP), &row, colour);
}

static void paint_main_menu(HWND dialog)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(dialog, &ps);
    RECT d, g;
    GetClientRect(dialog, &d);
    GetClientRect(GetDlgItem(dialog, IDC_MENU_GROUP), &g);
    int m = (d.right - g.right) / 2;
    RECT banner = { m, m, d.right - m, 60 };
    draw_bevel(dc, banner.left, banner.top, banner.right, banner.bottom);

    char text[80];
    version_banner(text, sizeof text, g_settings.installation, g_settings.version);
    HGDIOBJ previous = SelectObject(dc, g_settings.banner_font);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    SetBkMode(dc, TRANSPARENT);
    DrawTextA(dc, text, -1, &banner, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, previous);
    EndPaint(dialog, &ps);

    HWND focus = GetFocus();
    if (focus && GetParent(focus) != dialog)
        focus = NULL;
    if (g_ring_control && g_ring_control != focus)
        paint_ring(dialog, g_ring_control, COLOR_BTNFACE);
    g_ring_control = focus;
    if (focus)
        paint_ring(dialog, focus, COLOR_ACTIVECAPTION);

    refresh_labels(dialog);
}

static void repaint(HWND dialog)
{
    InvalidateRect(dialog, NULL, TRUE);
}

static void on_init(HWND dialog)
{
    g_ring_control = NULL;
    SetWindowTextA(dialog, "KIRO-skema");
    CheckDlgButton(dialog, IDC_START, BST_CHECKED);
    CheckDlgButton(dialog, IDC_MOVE, BST_UNCHECKED);
    center_over(GetWindow(dialog, GW_OWNER), dialog);
    SetFocus(GetDlgItem(dialog, IDC_START));
}

/* Takes the move lock and looks at the locked state under it; false when
   OK must not act (told; the labels then show the state as it is). The
   start of the schedule program changes nothing of the menu's: it waits
   only for a lock another station holds, and goes ahead without one where
   the lock file cannot be made at all (a full or read-only data drive). */
static bool ready_to_act(HWND dialog, MoveLock *lock, bool starting)
{
    MoveLockResult result = try_move_lock(g_settings.data_dir, lock);
    if (result == MOVE_LOCK_HELD_ELSEWHERE || (result == MOVE_LOCK_UNAVAILABLE && !starting)) {
        report_move_lock_refused(dialog, result);
        return false;
    }
    if (!reread_lock_state())
        return true;
    release_move_lock(lock);
    refresh_labels(dialog);
    repaint(dialog);
    report_state_changed(dialog);
    return false;
}

/* OK with the move choice checked. */
static void on_ok_move(HWND dialog)
{
    MoveLock lock;
    if (!ready_to_act(dialog, &lock, false))
        return;
    if (schedule_in_use()) {
        report_schedule_in_use(dialog);
        return;
    }
    if (!set_transfer_paths(g_settings.move_drive, g_settings.installation))
        return;
    unsigned char result;
    bool same_version = false;
    if (g_settings.schedule_locked) {
        /* The move drive may hold no medium: read quietly. */
        UINT mode = quiet_drive_begin();
        same_version = read_transfer_number(g_transfer_file, "version") == (int)g_settings.version;
        quiet_drive_end(mode);
    }
    if (same_version)
        result = UPDATE_PROCEED;
    else
        result = update_check();
    if (result == UPDATE_STARTED) {
        EndDialog(dialog, 2);
        return;
    }
    if (result == UPDATE_PROCEED) {
        if (g_settings.schedule_locked)
            run_move_to_hard_disk(dialog);
        else
            run_move_to_device(dialog);
        refresh_labels(dialog);
    }
    CheckDlgButton(dialog, IDC_START, BST_CHECKED);
    CheckDlgButton(dialog, IDC_VIEW, BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_MOVE, BST_UNCHECKED);
    SetFocus(GetDlgItem(dialog, IDC_START));
    repaint(dialog);
}

/* OK with the start or the view choice checked: after the update check,
   start the schedule program (or let the started update run) and end. */
static void on_ok_start(HWND dialog)
{
    bool view = IsDlgButtonChecked(dialog, IDC_VIEW) == BST_CHECKED;
    MoveLock lock;
    if (!ready_to_act(dialog, &lock, true))
        return;
    switch (update_check()) {
    case UPDATE_PROCEED:
        if (start_schedule_program(view)) {
            release_move_lock(&lock);
            EndDialog(dialog, 2);
            /* The menu stays on screen a fixed while, as the schedule
               program comes up; the program is never waited for. */
            Sleep(3000);
        }
        break;
    case UPDATE_STARTED:
        EndDialog(dialog, 2);
        break;
    default:
        break;
    }
}

static void on_ok(HWND dialog)
{
    /* The choice is read once, when OK is pressed: a box shown on the way
       (a failed start) runs a message loop of its own, and the choice is
       not read again afterwards. An OK that reaches the dialog while the
       action of the first still runs is ignored. */
    if (g_ok_running)
        return;
    g_ok_running = true;
    bool start = IsDlgButtonChecked(dialog, IDC_START) == BST_CHECKED ||
                 IsDlgButtonChecked(dialog, IDC_VIEW) == BST_CHECKED;
    bool move = IsDlgButtonChecked(dialog, IDC_MOVE) == BST_CHECKED;
    if (start)
        on_ok_start(dialog);
    else if (move)
        on_ok_move(dialog);
    g_ok_running = false;
}

INT_PTR CALLBACK main_menu_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        on_init(dialog);
        return FALSE;   /* the focus stays on the start choice */
    case WM_PAINT:
        paint_main_menu(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDC_START:
        case IDC_VIEW:
        case IDC_MOVE:
            repaint(dialog);
            return TRUE;
        case IDC_ADVANCED:
            run_advanced_dialog(dialog);
            SetFocus(GetDlgItem(dialog, IDC_START));
            SendDlgItemMessageA(dialog, IDC_ADVANCED, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
            SendDlgItemMessageA(dialog, IDC_OK, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
            repaint(dialog);
            return TRUE;
        case IDC_OK:
            on_ok(dialog);
            return TRUE;
        case IDC_CLOSE:
        case IDCANCEL:
            EndDialog(dialog, 2);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

INT_PTR run_main_menu(HWND owner)
{
    return DialogBoxParamA(g_settings.instance, MAKEINTRESOURCEA(IDD_MAIN_MENU), owner,
                           main_menu_proc, 0);
}
