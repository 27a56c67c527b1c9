/*
 * The Advanced dialog (see advanced_dialog.h).
 *
 * Controls: 1024 the group box the focus ring takes its width from; the
 * radio group 1007 send data to support, 1020 delete data, 1010 open or lock
 * the schedule, 1015 delete the lock file, 1022 move drive; 1023 the drive
 * list (subclassed, so that using it checks the move-drive choice);
 * 1011 OK and 1012 "&Fortryd".
 */
#include "advanced/advanced_dialog.h"
#include "advanced/delete_data.h"
#include "advanced/schedule_lock.h"
#include "advanced/send_support.h"
#include "diagnostics/trace.h"
#include "support/drawing.h"
#include "support/drives.h"
#include "support/message_box.h"
#include "support/settings.h"
#include "support/text.h"
#include "resource.h"

#include <string.h>

static WNDPROC g_saved_combo_proc = NULL;   /* the drive list's own procedure */
static HWND g_framed_control = NULL;        /* the window the ring was last drawn around */
/* OK's action is under way (its questions run message loops of their own). */
static bool g_ok_running = false;

static const int CHOICES[] = { IDC_SEND_SUPPORT, IDC_DELETE_DATA, IDC_LOCK, IDC_DELETE_LOCKFILE,
                               IDC_MOVE_DRIVE };

void drive_entry_text(char *text, size_t size, const char *designation, const char *description)
{
    format_text(text, size, "(%s) %s", designation, description);
}

const char *lock_choice_label(bool schedule_locked)
{
    return schedule_locked ? "&Åbn KIRO-skema" : "L&ås KIRO-skema";
}

static void check_choice(HWND dialog, int id)
{
    for (int choice : CHOICES)
        CheckDlgButton(dialog, choice, choice == id ? BST_CHECKED : BST_UNCHECKED);
}

void fill_drive_combo(HWND combo)
{
    if (!g_drive_list.built)
        build_drive_list(&g_drive_list);
    CharUpperA(g_settings.move_drive);
    for (int i = 0; i < g_drive_list.count; i++) {
        DriveEntry *entry = &g_drive_list.entries[i];
        char text[sizeof entry->designation + sizeof entry->description + 4];
        drive_entry_text(text, sizeof text, entry->designation, entry->description);
        SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)text);
        CharUpperA(entry->designation);
        if (strcmp(entry->designation, g_settings.move_drive) == 0) {
            g_drive_list.selected_index = (signed char)i;
            copy_text(g_drive_list.selected_drive, sizeof g_drive_list.selected_drive, g_settings.move_drive);
        }
    }
    SendMessageA(combo, CB_SETCURSEL, (WPARAM)g_drive_list.selected_index, 0);
}

bool validate_move_drive(HWND dialog)
{
    HWND combo = GetDlgItem(dialog, IDC_DRIVE_LIST);
    LRESULT selection = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    bool valid = selection != CB_ERR && selection >= 0 && selection < g_drive_list.count;
    const char *designation = valid ? g_drive_list.entries[selection].designation : "";
    if (!valid || drive_type(designation) < DRIVE_REMOVABLE) {
        message_box(NULL, "Flytdrevet er ikke et gyldigt drev bogstav!", "Flytdrev", MB_OK | MB_ICONWARNING);
        SetFocus(combo);
        return false;
    }
    if (strncmp(g_settings.move_drive, designation, 2) == 0)
        return false;
    g_drive_list.selected_index = (signed char)selection;
    char drive[3] = { designation[0], designation[1], '\0' };
    copy_text(g_drive_list.selected_drive, sizeof g_drive_list.selected_drive, drive);
    copy_text(g_settings.move_drive, sizeof g_settings.move_drive, drive);
    return true;
}

/* The row the focus ring is drawn around for window: its own rectangle,
   or that of the move-drive choice for the drive list and its edit field. */
static void ring_row(HWND dialog, HWND window, RECT *row)
{
    HWND combo = GetDlgItem(dialog, IDC_DRIVE_LIST);
    if (window == combo || GetParent(window) == combo)
        window = GetDlgItem(dialog, IDC_MOVE_DRIVE);
    GetWindowRect(window, row);
    MapWindowPoints(NULL, dialog, (POINT *)row, 2);
}

static void paint_ring(HWND dialog, HWND window, int colour)
{
    RECT row;
    ring_row(dialog, window, &row);
    paint_focus_ring(dialog, GetDlgItem(dialog, IDC_ADV_GROUP), &row, colour);
}

static void paint_advanced(HWND dialog)
{
    PAINTSTRUCT ps;
    BeginPaint(dialog, &ps);
    EndPaint(dialog, &ps);

    HWND focus = GetFocus();
    if (focus && !IsChild(dialog, focus))
        focus = NULL;
    if (g_framed_control && g_framed_control != focus && IsWindow(g_framed_control))
        paint_ring(dialog, g_framed_control, COLOR_BTNFACE);
    g_framed_control = focus;
    if (focus)
        paint_ring(dialog, focus, COLOR_ACTIVECAPTION);

    HWND move_choice = GetDlgItem(dialog, IDC_MOVE_DRIVE);
    SendDlgItemMessageA(dialog, IDC_DRIVE_LIST, CB_SHOWDROPDOWN, focus && focus == move_choice, 0);

    const char *label = lock_choice_label(g_settings.schedule_locked);
    char now[64];
    GetDlgItemTextA(dialog, IDC_LOCK, now, sizeof now);
    if (strcmp(now, label) != 0)
        SetDlgItemTextA(dialog, IDC_LOCK, label);
}

/* Every message of the drive list: traced, and using the list (focus, or
   a click into its edit field) checks the move-drive choice. */
static LRESULT CALLBACK drive_list_proc(HWND combo, UINT message, WPARAM wparam, LPARAM lparam)
{
    trace_record("COMBOBOX: ", message, (long)wparam, (long)lparam);
    bool clicked_into = message == WM_PARENTNOTIFY &&
                        (LOWORD(wparam) == WM_LBUTTONDOWN || LOWORD(wparam) == WM_RBUTTONDOWN ||
                         LOWORD(wparam) == WM_MBUTTONDOWN);
    if (message == WM_SETFOCUS || clicked_into) {
        HWND dialog = GetParent(combo);
        check_choice(dialog, IDC_MOVE_DRIVE);
        SetFocus(combo);
        SendMessageA(dialog, WM_PAINT, 0, 0);
    }
    return CallWindowProcA(g_saved_combo_proc, combo, message, wparam, lparam);
}

static void on_init(HWND dialog)
{
    g_framed_control = NULL;
    center_over(GetWindow(dialog, GW_OWNER), dialog);
    HWND combo = GetDlgItem(dialog, IDC_DRIVE_LIST);
    fill_drive_combo(combo);
    check_choice(dialog, IDC_SEND_SUPPORT);
    SetFocus(GetDlgItem(dialog, IDC_SEND_SUPPORT));
    g_saved_combo_proc = (WNDPROC)SetWindowLongPtrA(combo, GWLP_WNDPROC, (LONG_PTR)drive_list_proc);
}

static bool checked(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

/* The checked choice, 0 when none is. */
static int checked_choice(HWND dialog)
{
    for (int choice : CHOICES)
        if (checked(dialog, choice))
            return choice;
    return 0;
}

static void on_ok(HWND dialog)
{
    /* An OK that reaches the dialog while the action of the first still
       runs (its questions run message loops of their own) is ignored: the
       action never runs twice, nested. */
    if (g_ok_running)
        return;
    g_ok_running = true;
    /* The action is taken before the move drive is validated: an invalid
       drive gives the drive list the focus, and the list then checks
       "Flyt&drev" in place of the chosen action. */
    int action = checked_choice(dialog);
    if (validate_move_drive(dialog))
        write_profile_checked(g_settings.config_path, KEY_SECTION_GLOBAL, "flytdrev", g_settings.move_drive);
    switch (action) {
    case IDC_SEND_SUPPORT:
        run_send_support(dialog);
        break;
    case IDC_LOCK:
        toggle_schedule_lock();
        break;
    case IDC_DELETE_DATA:
        delete_data_guarded(dialog);
        break;
    case IDC_DELETE_LOCKFILE:
        delete_lock_file_guarded(dialog);
        break;
    }
    g_ok_running = false;
    EndDialog(dialog, IDC_ADV_OK);
}

INT_PTR CALLBACK advanced_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        on_init(dialog);
        return FALSE;   /* the focus stays on the first choice */
    case WM_PAINT:
        paint_advanced(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDC_SEND_SUPPORT:
        case IDC_DELETE_DATA:
        case IDC_LOCK:
        case IDC_DELETE_LOCKFILE:
        case IDC_MOVE_DRIVE:
            SendMessageA(dialog, WM_PAINT, 0, 0);
            return TRUE;
        case IDC_ADV_OK:
            on_ok(dialog);
            return TRUE;
        case IDC_ADV_CANCEL:
        case IDCANCEL:
            EndDialog(dialog, IDC_ADV_CANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

INT_PTR run_advanced_dialog(HWND owner)
{
    HINSTANCE instance = g_settings.instance ? g_settings.instance : GetModuleHandleA(NULL);
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ADVANCED), owner, advanced_dialog_proc, 0);
}
