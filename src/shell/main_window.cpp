/*
 * The main window and the shared drawing and placement helpers
 * (see main_window.h).
 */
#include "shell/main_window.h"
#include "shell/main_menu.h"
#include "shell/settings.h"
#include "support/drives.h"
#include "resource.h"

const char *const MAIN_WINDOW_CLASS = "MenuWndClass";

static HBRUSH g_background_brush = NULL;

MainWindowLayout main_window_layout(int client_height)
{
    MainWindowLayout layout;
    int h = client_height;
    layout.show_names = h > 480;
    layout.name_top = h / 10;
    layout.heading_top = h / 10 + h / 8;
    layout.footer_x = 10;
    layout.footer_y = h - 20;
    return layout;
}

static void paint_main_window(HWND window)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT r;
    GetClientRect(window, &r);
    MainWindowLayout layout = main_window_layout(r.bottom - r.top);

    r.top += (r.bottom - r.top) / 10;
    HGDIOBJ previous = SelectObject(dc, g_settings.title_font);
    SetTextColor(dc, RGB(255, 255, 0));
    SetBkMode(dc, TRANSPARENT);
    if (layout.show_names)
        DrawTextA(dc, "KIRO-skema", -1, &r, DT_CENTER | DT_TOP | DT_SINGLELINE);

    RECT client;
    GetClientRect(window, &client);
    r.top += (client.bottom - client.top) / 8;
    SelectObject(dc, g_settings.heading_font);
    if (layout.show_names)
        DrawTextA(dc, "HOVEDMENU", -1, &r, DT_CENTER | DT_TOP | DT_SINGLELINE);

    SelectObject(dc, previous);
    previous = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    TextOutA(dc, layout.footer_x, layout.footer_y, g_settings.footer, (int)strlen(g_settings.footer));
    SelectObject(dc, previous);
    EndPaint(window, &ps);
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE:
        PostMessageA(window, WM_OPEN_MAIN_MENU, 0, 0);
        break;
    case WM_OPEN_MAIN_MENU:
        run_main_menu(window);
        DestroyWindow(window);
        break;
    case WM_PAINT:
        paint_main_window(window);
        break;
    case WM_DESTROY:
        release_drive_list(&g_drive_list);
        PostQuitMessage(0);
        break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

bool create_main_window(void)
{
    if (!g_background_brush)
        g_background_brush = CreateSolidBrush(RGB(70, 50, 180));

    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = main_window_proc;
    wc.hInstance = g_settings.instance;
    wc.hIcon = LoadIconA(g_settings.instance, MAKEINTRESOURCEA(IDI_KIRO));
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = g_background_brush;
    wc.lpszClassName = MAIN_WINDOW_CLASS;
    RegisterClassA(&wc);

    HWND window = CreateWindowExA(0, MAIN_WINDOW_CLASS, g_settings.title,
                                  WS_CAPTION | WS_SYSMENU | WS_MAXIMIZEBOX,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  NULL, NULL, g_settings.instance, NULL);
    if (!window)
        return false;
    g_settings.main_window = window;
    ShowWindow(window, SW_SHOWMAXIMIZED);
    UpdateWindow(window);
    int icon = strcmp(g_settings.super_setting, "ja") == 0 ? IDI_SUPERKIRO : IDI_KIRO;
    SetClassLongPtrA(window, GCLP_HICON,
                     (LONG_PTR)LoadIconA(g_settings.instance, MAKEINTRESOURCEA(icon)));
    EnableMenuItem(GetSystemMenu(window, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
    return true;
}

void unregister_main_window_class(void)
{
    UnregisterClassA(MAIN_WINDOW_CLASS, g_settings.instance);
    if (g_background_brush) {
        DeleteObject(g_background_brush);
        g_background_brush = NULL;
    }
}

POINT center_position(const RECT *reference, int w, int h)
{
    POINT p;
    p.x = (reference->left + (reference->right - reference->left - w) / 2 + 4) & ~7;
    p.y = reference->top + (reference->bottom - reference->top - h) / 2;
    return p;
}

void center_over(HWND reference, HWND window)
{
    RECT a, own;
    if (reference)
        GetWindowRect(reference, &a);
    else
        SetRect(&a, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    GetWindowRect(window, &own);
    POINT p = center_position(&a, own.right - own.left, own.bottom - own.top);
    SetWindowPos(window, NULL, p.x, p.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
}

RECT fit_rectangle(const RECT *parent_client, const RECT *window_rect, const RECT *client)
{
    int d = (client->right - parent_client->right) / 2;
    RECT r;
    r.left = d > 0 ? window_rect->left - d : window_rect->left;
    r.top = window_rect->top;
    r.right = r.left + client->right;
    r.bottom = r.top + client->bottom + 19;
    return r;
}

void fit_to_parent(HWND window)
{
    HWND parent = GetParent(window);
    RECT p = {0, 0, 0, 0}, wr, c;
    if (parent)
        GetClientRect(parent, &p);
    GetWindowRect(window, &wr);
    GetClientRect(window, &c);
    RECT r = fit_rectangle(&p, &wr, &c);
    MoveWindow(window, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
}

void bevel_lines(int L, int T, int R, int B, BevelLine lines[8])
{
    const int outer[4] = { COLOR_BTNHIGHLIGHT, COLOR_3DDKSHADOW, COLOR_BTNFACE, COLOR_BTNSHADOW };
    const int inner[4] = { COLOR_BTNSHADOW, COLOR_BTNFACE, COLOR_3DDKSHADOW, COLOR_BTNHIGHLIGHT };
    for (int ring = 0; ring < 2; ring++) {
        int l = L + 2 * ring, t = T + 2 * ring, r = R - 2 * ring, b = B - 2 * ring;
        const int *colours = ring == 0 ? outer : inner;
        BevelLine *line = lines + 4 * ring;
        line[0] = { colours[0], { { l, b - 1 }, { l, t }, { r, t } } };
        line[1] = { colours[1], { { l, b }, { r, b }, { r, t - 1 } } };
        line[2] = { colours[2], { { l + 1, b - 2 }, { l + 1, t + 1 }, { r - 1, t + 1 } } };
        line[3] = { colours[3], { { l + 1, b - 1 }, { r - 1, b - 1 }, { r - 1, t } } };
    }
}

void draw_bevel(HDC dc, int left, int top, int right, int bottom)
{
    BevelLine lines[8];
    bevel_lines(left, top, right, bottom, lines);
    HGDIOBJ previous = NULL;
    for (int i = 0; i < 8; i++) {
        HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(lines[i].colour));
        HGDIOBJ old = SelectObject(dc, pen);
        if (i == 0)
            previous = old;
        else
            DeleteObject(old);
        MoveToEx(dc, lines[i].points[0].x, lines[i].points[0].y, NULL);
        LineTo(dc, lines[i].points[1].x, lines[i].points[1].y);
        LineTo(dc, lines[i].points[2].x, lines[i].points[2].y);
    }
    DeleteObject(SelectObject(dc, previous));
}

int frame_bands(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4, RECT bands[4])
{
    const RECT all[4] = {
        { x1, y1, x4, y2 },   /* top */
        { x1, y3, x4, y4 },   /* bottom */
        { x1, y2, x2, y3 },   /* left */
        { x3, y2, x4, y3 },   /* right */
    };
    int n = 0;
    for (const RECT &r : all)
        if (r.left < r.right && r.top < r.bottom)
            bands[n++] = r;
    return n;
}

void fill_frame(HDC dc, HBRUSH brush, int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4)
{
    RECT bands[4];
    int n = frame_bands(x1, y1, x2, y2, x3, y3, x4, y4, bands);
    for (int i = 0; i < n; i++)
        FillRect(dc, &bands[i], brush);
}
