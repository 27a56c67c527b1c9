/*
 * The main window (see main_window.h): its class, its creation, its
 * painting, and the private message on which it runs the main menu.
 */
#include "shell/main_window.h"
#include "shell/main_menu.h"
#include "support/settings.h"
#include "support/drives.h"
#include "support/messages.h"
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
        PostMessageA(window, MSG_OPEN_MAIN_MENU, 0, 0);
        break;
    case MSG_OPEN_MAIN_MENU:
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
