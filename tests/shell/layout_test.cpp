/*
 * Geometry of the main window and the shared placement and drawing helpers,
 * the main window passing its paint message on, the main menu's labels and
 * version banner, title and footer lines, fonts.
 */
#include <gtest/gtest.h>
#include "shell/main_menu.h"
#include "shell/main_window.h"
#include "shell/startup.h"
#include "support/drawing.h"
#include "support/settings.h"
#include "test_support.h"
#include "resource.h"

#include <string.h>

#include <vector>

/* The test program's import slot of DefWindowProcA, through which the
   main window procedure calls it. */
static void **default_proc_slot(void)
{
    void *real = (void *)GetProcAddress(GetModuleHandleA("user32.dll"), "DefWindowProcA");
    BYTE *base = (BYTE *)GetModuleHandleA(NULL);
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (IMAGE_IMPORT_DESCRIPTOR *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + imports.VirtualAddress); d->Name; d++)
        for (void **slot = (void **)(base + d->FirstThunk); *slot; slot++)
            if (*slot == real)
                return slot;
    return NULL;
}

static WNDPROC g_real_default_proc;
static std::vector<UINT> g_passed_on;

static LRESULT CALLBACK recording_default_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    g_passed_on.push_back(message);
    return g_real_default_proc(window, message, wparam, lparam);
}

TEST(MainWindowProc, PaintIsPassedOnToTheDefaultProcedureToo)
{
    void **slot = default_proc_slot();
    ASSERT_TRUE(slot);
    HWND window = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 200, 200, NULL, NULL, NULL, NULL);
    ASSERT_TRUE(window);
    DWORD protection;
    ASSERT_TRUE(VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection));
    g_real_default_proc = (WNDPROC)*slot;
    *slot = (void *)recording_default_proc;
    main_window_proc(window, WM_PAINT, 0, 0);
    *slot = (void *)g_real_default_proc;
    VirtualProtect(slot, sizeof *slot, protection, &protection);
    DestroyWindow(window);
    EXPECT_EQ(std::vector<UINT>{ WM_PAINT }, g_passed_on);
}

TEST(MainWindowLayout, TextsFollowTheClientHeight)
{
    MainWindowLayout l = main_window_layout(1000);
    EXPECT_TRUE(l.show_names);
    EXPECT_EQ(100, l.name_top);
    EXPECT_EQ(225, l.heading_top);
    EXPECT_EQ(10, l.footer_x);
    EXPECT_EQ(980, l.footer_y);
    EXPECT_FALSE(main_window_layout(480).show_names);
    EXPECT_TRUE(main_window_layout(481).show_names);
}

TEST(CenterOver, ClearsTheLowBitsOfX)
{
    RECT ref = { 0, 0, 1024, 768 };
    POINT p = center_position(&ref, 300, 200);
    EXPECT_EQ(360, p.x);   /* (362 + 4) cleared to a multiple of 8 */
    EXPECT_EQ(284, p.y);
    RECT off = { 100, 50, 400, 250 };
    p = center_position(&off, 500, 300);   /* wider than the reference */
    EXPECT_EQ((100 + (300 - 500) / 2 + 4) & ~7, p.x);
    EXPECT_EQ(50 + (200 - 300) / 2, p.y);
}

TEST(FitToParent, NeverMovesRightAndAddsNineteenPixels)
{
    RECT parent = { 0, 0, 300, 200 };
    RECT wide_window = { 100, 40, 520, 200 }, wide_client = { 0, 0, 410, 130 };
    RECT r = fit_rectangle(&parent, &wide_window, &wide_client);
    EXPECT_EQ(100 - 55, r.left);
    EXPECT_EQ(40, r.top);
    EXPECT_EQ(410, r.right - r.left);
    EXPECT_EQ(149, r.bottom - r.top);

    RECT narrow_window = { 100, 40, 300, 160 }, narrow_client = { 0, 0, 190, 100 };
    r = fit_rectangle(&parent, &narrow_window, &narrow_client);
    EXPECT_EQ(100, r.left) << "a narrower window only changes size";
    EXPECT_EQ(190, r.right - r.left);
    EXPECT_EQ(119, r.bottom - r.top);
}

TEST(FillFrame, BandsOfTheRing)
{
    RECT bands[4];
    EXPECT_EQ(4, frame_bands(0, 0, 4, 4, 96, 16, 100, 20, bands));
    EXPECT_EQ(0, bands[0].left); EXPECT_EQ(100, bands[0].right); EXPECT_EQ(4, bands[0].bottom);
    EXPECT_EQ(16, bands[1].top); EXPECT_EQ(20, bands[1].bottom);
    EXPECT_EQ(4, bands[2].right); EXPECT_EQ(96, bands[3].left);
    /* An inner rectangle as wide as the outer one leaves only top and bottom. */
    EXPECT_EQ(2, frame_bands(0, 0, 0, 4, 100, 16, 100, 20, bands));
    EXPECT_EQ(0, bands[0].top);
    EXPECT_EQ(16, bands[1].top);
}

TEST(DrawBevel, RaisedOuterAndSunkenInnerLines)
{
    BevelLine lines[8];
    bevel_lines(10, 20, 110, 60, lines);
    EXPECT_EQ(COLOR_BTNHIGHLIGHT, lines[0].colour);
    EXPECT_EQ(10, lines[0].points[0].x); EXPECT_EQ(59, lines[0].points[0].y);
    EXPECT_EQ(110, lines[0].points[2].x); EXPECT_EQ(20, lines[0].points[2].y);
    EXPECT_EQ(COLOR_3DDKSHADOW, lines[1].colour);
    EXPECT_EQ(19, lines[1].points[2].y);
    EXPECT_EQ(COLOR_BTNSHADOW, lines[3].colour);
    EXPECT_EQ(109, lines[3].points[1].x); EXPECT_EQ(59, lines[3].points[1].y);
    /* the inner ring: 2 pixels in, inverse shading */
    EXPECT_EQ(COLOR_BTNSHADOW, lines[4].colour);
    EXPECT_EQ(12, lines[4].points[0].x); EXPECT_EQ(57, lines[4].points[0].y);
    EXPECT_EQ(COLOR_BTNFACE, lines[5].colour);
    EXPECT_EQ(COLOR_3DDKSHADOW, lines[6].colour);
    EXPECT_EQ(13, lines[6].points[1].x); EXPECT_EQ(23, lines[6].points[1].y);
    EXPECT_EQ(COLOR_BTNHIGHLIGHT, lines[7].colour);
    EXPECT_EQ(107, lines[7].points[2].x); EXPECT_EQ(22, lines[7].points[2].y);
}

TEST(FocusRing, SpansTheGroupBoxAtTheControlsHeight)
{
    RECT outer, inner;
    focus_ring_rects(5, 200, 70, 16, &outer, &inner);
    EXPECT_EQ(10, outer.left); EXPECT_EQ(66, outer.top);
    EXPECT_EQ(200, outer.right); EXPECT_EQ(90, outer.bottom);
    EXPECT_EQ(14, inner.left); EXPECT_EQ(70, inner.top);
    EXPECT_EQ(196, inner.right); EXPECT_EQ(86, inner.bottom);
}

struct LabelCase {
    bool locked;
    const char *super;
    UINT drive;
    const char *start, *move;
};

TEST(MainMenuLabels, EveryCombination)
{
    const LabelCase cases[] = {
        { true,  "nej", DRIVE_REMOVABLE, "&Start KIRO-skema [L\xC5ST]", "&Flyt data til harddisk" },
        { true,  "ja",  DRIVE_REMOVABLE, "&Start Super KIRO", "&Flyt data til harddisk" },
        { false, "nej", DRIVE_REMOVABLE, "&Start KIRO-skema", "&Flyt data til enhed" },
        { false, "nej", DRIVE_FIXED,     "&Start KIRO-skema", "&Flyt data til harddisk" },
        { false, "nej", DRIVE_NO_ROOT_DIR, "&Start KIRO-skema", "&Flyt data til harddisk" },
        { false, "Ja",  DRIVE_REMOVABLE, "&Start Super KIRO", "&Flyt data til enhed" },
        { false, "",    DRIVE_REMOTE,    "&Start Super KIRO", "&Flyt data til harddisk" },
    };
    for (const LabelCase &c : cases) {
        MainMenuLabels l = main_menu_labels(c.locked, c.super, c.drive);
        EXPECT_STREQ(c.start, l.start) << c.super << " " << c.locked;
        EXPECT_STREQ(c.move, l.move) << c.super << " " << c.drive;
        EXPECT_STREQ("Start KI&RO-skema [VIS]", l.view);
    }
}

TEST(VersionBanner, SplitsTheVersion)
{
    char t[64];
    version_banner(t, sizeof t, 7, 10327);
    EXPECT_STREQ("Kiro: 7   Version: 1.03.27", t);
    version_banner(t, sizeof t, 7, 0);
    EXPECT_STREQ("Kiro: 7   Version: 0.00.00", t);
    version_banner(t, sizeof t, 12, 65535);
    EXPECT_STREQ("Kiro: 12   Version: 6.55.35", t);
}

TEST(TitleLine, NormalAndSuperForms)
{
    char t[256];
    build_title_line(t, sizeof t, 7, "nej", "C:\\P\\", "D:\\D\\");
    EXPECT_STREQ(" 7 KIRO-skema     Prog. sti: C:\\P\\   Data sti: D:\\D\\", t);
    build_title_line(t, sizeof t, 123, "Ja", "C:\\P\\", "C:\\P\\");
    EXPECT_STREQ("123 SUPER KIRO-skema     Prog. sti: C:\\P\\   Data sti: C:\\P\\", t);
}

TEST(FooterLine, VersionStringsOfKiromenuAndACopyrightRange)
{
    std::string dir = test_exe_dir() + "..\\";
    char footer[512];
    build_footer_line(footer, sizeof footer, dir.c_str(), 2026);
    EXPECT_STREQ("KIRO-skema   Version 1.1.8.0   Build 20141208   "
                 "Copyright (C) KIRO Skemadata ApS 1998-2026", footer);
    build_footer_line(footer, sizeof footer, "C:\\no such folder\\", 2026);
    EXPECT_STREQ("", footer);
}

TEST(VersionStrings, AllNineInDanish)
{
    std::string exe = kiromenu_exe();
    const char *names[] = { "CompanyName", "FileDescription", "FileVersion", "InternalName",
                            "LegalCopyright", "OriginalFilename", "ProductName", "ProductVersion",
                            "SpecialBuild" };
    for (const char *name : names) {
        char value[256];
        version_string(exe.c_str(), name, value, sizeof value);
        EXPECT_NE('\0', value[0]) << name;
    }
    char value[64];
    version_string(exe.c_str(), "FileVersion", value, sizeof value);
    EXPECT_STREQ("1.1.8.0", value);
    version_string(exe.c_str(), "SpecialBuild", value, sizeof value);
    EXPECT_STREQ("20141208", value);
}

TEST(Fonts, SizesByScreenHeight)
{
    int th, tw, hh, hw;
    for (int h : { 600, 768, 864 }) {
        font_sizes_for_screen(h, &th, &tw, &hh, &hw);
        EXPECT_EQ(-48, th); EXPECT_EQ(30, tw); EXPECT_EQ(-24, hh); EXPECT_EQ(15, hw);
    }
    font_sizes_for_screen(1024, &th, &tw, &hh, &hw);
    EXPECT_EQ(-80, th); EXPECT_EQ(50, tw); EXPECT_EQ(-40, hh); EXPECT_EQ(25, hw);
    font_sizes_for_screen(1200, &th, &tw, &hh, &hw);
    EXPECT_EQ(-96, th); EXPECT_EQ(50, tw); EXPECT_EQ(-48, hh); EXPECT_EQ(25, hw);
    for (int h : { 599, 865, 900, 1050, 1080 }) {
        font_sizes_for_screen(h, &th, &tw, &hh, &hw);
        EXPECT_EQ(0, th); EXPECT_EQ(0, tw); EXPECT_EQ(0, hh); EXPECT_EQ(0, hw);
    }
}

static INT_PTR CALLBACK plain_dialog(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

/* The layout was made for "Arial" with Arial's widths and for the dialogs'
   "MS Sans Serif": with the faces the system gives, the banner of a
   three-digit installation lies whole inside the bevel of dialog 102. */
TEST(Fonts, BannerOfAThreeDigitInstallationFitsTheMainMenu)
{
    g_settings.banner_font_width = 10;
    create_fonts();
    HWND dialog = CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_MAIN_MENU), NULL,
                                     plain_dialog, 0);
    ASSERT_TRUE(dialog);
    HDC dc = GetDC(dialog);
    char face[LF_FACESIZE] = "";
    HGDIOBJ previous = SelectObject(dc, (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0));
    GetTextFaceA(dc, sizeof face, face);
    EXPECT_STREQ("MS Sans Serif", face);
    SelectObject(dc, g_settings.banner_font);
    GetTextFaceA(dc, sizeof face, face);
    EXPECT_STREQ("Arial", face);

    char text[80];
    version_banner(text, sizeof text, 123, 10327);
    SIZE extent;
    GetTextExtentPoint32A(dc, text, (int)strlen(text), &extent);
    SelectObject(dc, previous);
    ReleaseDC(dialog, dc);
    RECT d, g;
    GetClientRect(dialog, &d);
    GetClientRect(GetDlgItem(dialog, IDC_MENU_GROUP), &g);
    int margin = (d.right - g.right) / 2;
    int inside = d.right - 2 * margin - 2 * 4;   /* within the bevel's four lines */
    EXPECT_LE(extent.cx, inside) << text;
    DestroyWindow(dialog);
    release_fonts();
}
