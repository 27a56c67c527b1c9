/*
 * The progress dialog's shared pattern, run for real on template 103 with a
 * test operation: the operation starts once per opening, after the first
 * paint, also when the dialog is repainted while it works; the caption and
 * the painted heading follow the progress phase; the dialog ends with 2;
 * and a bar range above 65535 fills completely. The bars move as often as
 * a person sees them: a bar stepped 43,000 times by 512 (an upload of
 * 21 MB) ends exactly at its limit after a move per 50 ms at most, a slow
 * one still moves, a short one shows every step.
 */
#include "support/progress.h"
#include "resource.h"
#include "test_support.h"
#include "driver.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Observed {
    int runs = 0;
    std::vector<std::string> captions;
    std::vector<bool> headings_match;      /* painted heading == phase heading */
    bool heading_after_repaint = false;
    unsigned long range = 0;
    LRESULT bar_high = -1, bar_pos = -1, file_bar_visible = -1;
    std::string status;
};

Observed g_seen;
bool g_start_pending = false;

/* Draws what the heading of phase should look like into a bitmap of the
   heading control's size and compares it with the control's pixels. */
bool heading_shows(HWND dialog, const char *heading)
{
    HWND control = GetDlgItem(dialog, IDC_HEADING);
    RECT area;
    GetClientRect(control, &area);
    int w = area.right, h = area.bottom;
    HDC screen = GetDC(control);
    HDC expected = CreateCompatibleDC(screen);
    HDC actual = CreateCompatibleDC(screen);
    HBITMAP expected_bits = CreateCompatibleBitmap(screen, w, h);
    HBITMAP actual_bits = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old_expected = SelectObject(expected, expected_bits);
    HGDIOBJ old_actual = SelectObject(actual, actual_bits);
    FillRect(expected, &area, (HBRUSH)(COLOR_BTNFACE + 1));
    SetBkMode(expected, TRANSPARENT);
    DrawTextA(expected, heading, -1, &area, DT_CENTER | DT_VCENTER);
    BitBlt(actual, 0, 0, w, h, screen, 0, 0, SRCCOPY);
    int differing = 0, ink = 0;
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            COLORREF e = GetPixel(expected, x, y);
            if (e != face)
                ink++;
            if (e != GetPixel(actual, x, y))
                differing++;
        }
    SelectObject(expected, old_expected);
    SelectObject(actual, old_actual);
    DeleteObject(expected_bits);
    DeleteObject(actual_bits);
    DeleteDC(expected);
    DeleteDC(actual);
    ReleaseDC(control, screen);
    return ink > 0 && differing == 0;
}

/* Dispatches the thread's messages until none is waiting (every paint is
   done, a posted start message has run) and done() holds; false when that
   did not happen within 10 s. */
bool settle(const std::function<bool()> &done)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < 10000;) {
        MSG msg;
        if (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        } else if (done()) {
            return true;
        } else {
            Sleep(10);
        }
    }
    return false;
}

INT_PTR CALLBACK test_operation(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        progress_init(dialog, &g_start_pending);
        g_progress_phase = PHASE_PACKING;
        break;
    case WM_PAINT:
        progress_paint(dialog, phase_caption(g_progress_phase), phase_heading(g_progress_phase), true,
                       &g_start_pending, MSG_PACK_STAGE);
        break;
    case MSG_PACK_STAGE: {
        g_seen.runs++;
        /* Let everything pending be painted before looking. */
        settle([] { return true; });
        for (int phase = PHASE_PACKING; phase <= PHASE_UNPACKING; phase++) {
            progress_set_phase(dialog, phase);
            g_seen.captions.push_back(window_text(dialog));
            g_seen.headings_match.push_back(heading_shows(dialog, phase_heading(phase)));
        }
        /* Another window over the dialog, then the messages it causes: a
           second start would run the operation again right here. */
        RedrawWindow(dialog, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        InvalidateRect(dialog, NULL, TRUE);
        g_seen.heading_after_repaint =
            settle([dialog] { return heading_shows(dialog, phase_heading(PHASE_UNPACKING)); });

        progress_set_range(dialog, IDC_OVERALL_BAR, g_seen.range);
        for (int i = 0; i < 3; i++)
            progress_step(dialog, IDC_OVERALL_BAR);
        progress_advance(dialog, IDC_OVERALL_BAR, 1000);
        progress_fill(dialog, IDC_OVERALL_BAR);
        g_seen.bar_high = SendDlgItemMessageA(dialog, IDC_OVERALL_BAR, PBM_GETRANGE, FALSE, 0);
        g_seen.bar_pos = SendDlgItemMessageA(dialog, IDC_OVERALL_BAR, PBM_GETPOS, 0, 0);
        progress_status(dialog, "Pakker filen: kiro.ini");
        g_seen.status = control_text(dialog, IDC_STATUS);
        progress_hide_file_bar(dialog);
        g_seen.file_bar_visible = IsWindowVisible(GetDlgItem(dialog, IDC_FILE_BAR));
        EndDialog(dialog, 2);
        break;
    }
    }
    return 0;
}

/* An owner like the main window: the dialog fits itself to it. */
struct Owner {
    HWND window;
    Owner()
    {
        window = CreateWindowA("STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                               GetSystemMetrics(SM_CYSCREEN), NULL, NULL, NULL, NULL);
    }
    ~Owner() { DestroyWindow(window); }
};

}  // namespace

TEST(ProgressDialog, RunsOnceAfterFirstPaintShowsPhasesAndEndsWithTwo)
{
    Owner owner;
    g_seen = Observed();
    g_seen.range = 200000 + 1024;
    INT_PTR result = run_progress_dialog(owner.window, test_operation);
    EXPECT_EQ(2, result);
    EXPECT_EQ(1, g_seen.runs);
    EXPECT_FALSE(g_start_pending);
    ASSERT_EQ(3u, g_seen.captions.size());
    EXPECT_EQ("Pakker filer...", g_seen.captions[0]);
    EXPECT_EQ("Kopier filer...", g_seen.captions[1]);
    EXPECT_EQ("Udpakker filer...", g_seen.captions[2]);
    for (int phase = 0; phase < 3; phase++)
        EXPECT_TRUE(g_seen.headings_match[phase]) << "heading of phase " << phase;
    EXPECT_TRUE(g_seen.heading_after_repaint);
    /* A 32-bit range ends full, not wrapped at 65536. */
    EXPECT_EQ(201024, g_seen.bar_high);
    EXPECT_EQ(201024, g_seen.bar_pos);
    EXPECT_EQ("Pakker filen: kiro.ini", g_seen.status);
    EXPECT_EQ(0, g_seen.file_bar_visible);
}

TEST(ProgressDialog, OpenedTwiceRunsTwiceAndSmallRangeFills)
{
    Owner owner;
    g_seen = Observed();
    g_seen.range = 7;
    EXPECT_EQ(2, run_progress_dialog(owner.window, test_operation));
    EXPECT_EQ(1, g_seen.runs);
    EXPECT_EQ(2, run_progress_dialog(owner.window, test_operation));
    EXPECT_EQ(2, g_seen.runs);
    EXPECT_EQ(7, g_seen.bar_high);
    EXPECT_EQ(7, g_seen.bar_pos);
}

TEST(ProgressDialog, PhaseTexts)
{
    EXPECT_STREQ("PAKKER FILER    ET \xD8JEBLIK...", phase_heading(PHASE_PACKING));
    EXPECT_STREQ("KOPIER FILER    ET \xD8JEBLIK...", phase_heading(PHASE_COPYING));
    EXPECT_STREQ("UDPAKKER FILER    ET \xD8JEBLIK...", phase_heading(PHASE_UNPACKING));
}

namespace {

/* What the overall bar was told while a bar test ran. */
struct BarMoves {
    int moves = 0;
    bool counting = false;
};
BarMoves g_moves;
WNDPROC g_bar_proc;
bool g_bar_pending;
std::function<void(HWND)> g_bar_work;

LRESULT CALLBACK counting_bar(HWND bar, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (g_moves.counting && (message == PBM_SETPOS || message == PBM_DELTAPOS || message == PBM_STEPIT))
        g_moves.moves++;
    return CallWindowProcA(g_bar_proc, bar, message, wparam, lparam);
}

INT_PTR CALLBACK bar_operation(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_INITDIALOG) {
        progress_init(dialog, &g_bar_pending);
        g_bar_proc = (WNDPROC)SetWindowLongPtrA(GetDlgItem(dialog, IDC_OVERALL_BAR), GWLP_WNDPROC,
                                                (LONG_PTR)counting_bar);
    } else if (message == WM_PAINT) {
        progress_paint(dialog, "Test", "TEST", false, &g_bar_pending, MSG_PACK_STAGE);
    } else if (message == MSG_PACK_STAGE) {
        g_bar_work(dialog);
        EndDialog(dialog, 2);
    }
    return 0;
}

LRESULT bar_position(HWND dialog)
{
    return SendDlgItemMessageA(dialog, IDC_OVERALL_BAR, PBM_GETPOS, 0, 0);
}

}  // namespace

TEST(ProgressBars, MoveAsOftenAsAPersonSeesThemAndEndAtTheirLimit)
{
    const unsigned long upload = 1024 + 43000UL * 512;
    LRESULT long_end = -1, slow_shown = -1;
    int long_moves = -1;
    DWORD long_ms = 0;
    std::vector<LRESULT> short_shown;
    g_bar_work = [&](HWND dialog) {
        /* An upload's bar, counted as the support upload counts it: 512,
           then each block of the file through the bar's window, then the
           last block. */
        progress_set_range(dialog, IDC_OVERALL_BAR, upload);
        progress_set_pos(dialog, IDC_OVERALL_BAR, 0);
        g_moves = BarMoves();
        g_moves.counting = true;
        DWORD start = GetTickCount();
        progress_advance(dialog, IDC_OVERALL_BAR, 512);
        for (int i = 0; i < 43000; i++)
            progress_bar_advance(GetDlgItem(dialog, IDC_OVERALL_BAR), 512);
        progress_advance(dialog, IDC_OVERALL_BAR, 512);
        long_ms = GetTickCount() - start;
        long_moves = g_moves.moves;
        g_moves.counting = false;
        long_end = bar_position(dialog);

        /* A slow bar moves by less than 1/200 of its range, once 50 ms
           have passed. */
        progress_set_range(dialog, IDC_OVERALL_BAR, 1000000);
        progress_set_pos(dialog, IDC_OVERALL_BAR, 0);
        for (DWORD begun = GetTickCount(); bar_position(dialog) == 0 && GetTickCount() - begun < 5000;) {
            progress_advance(dialog, IDC_OVERALL_BAR, 1);
            Sleep(5);
        }
        slow_shown = bar_position(dialog);

        /* A short bar shows every step at once. */
        progress_set_range(dialog, IDC_OVERALL_BAR, 7);
        progress_set_pos(dialog, IDC_OVERALL_BAR, 0);
        for (int i = 0; i < 9; i++) {
            progress_step(dialog, IDC_OVERALL_BAR);
            short_shown.push_back(bar_position(dialog));
        }
    };
    EXPECT_EQ(2, run_progress_dialog(NULL, bar_operation));
    EXPECT_EQ((LRESULT)upload, long_end);
    EXPECT_GE(long_moves, 1);
    EXPECT_LE(long_moves, 2 + (int)(long_ms / 50)) << long_ms << " ms";
    EXPECT_GT(slow_shown, 0);
    EXPECT_LT(slow_shown, 5000);
    EXPECT_EQ((std::vector<LRESULT>{ 1, 2, 3, 4, 5, 6, 7, 7, 7 }), short_shown) << "no wrap past the end";
}
