/*
 * Drawing and placement helpers (see drawing.h).
 */
#include "support/drawing.h"

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

void focus_ring_rects(int group_left, int group_width, int control_top, int control_height,
                      RECT *outer, RECT *inner)
{
    SetRect(outer, group_left + 5, control_top - 4, group_left + group_width - 5,
            control_top + control_height + 4);
    SetRect(inner, outer->left + 4, outer->top + 4, outer->right - 4, outer->bottom - 4);
}

void paint_focus_ring(HWND dialog, HWND group, const RECT *row, int colour)
{
    RECT g, gc;
    GetWindowRect(group, &g);
    GetClientRect(group, &gc);
    MapWindowPoints(NULL, dialog, (POINT *)&g, 2);
    RECT outer, inner;
    focus_ring_rects(g.left, gc.right, row->top, row->bottom - row->top, &outer, &inner);
    HDC dc = GetDC(dialog);
    fill_frame(dc, GetSysColorBrush(colour), outer.left, outer.top, inner.left, inner.top,
               inner.right, inner.bottom, outer.right, outer.bottom);
    ReleaseDC(dialog, dc);
}
