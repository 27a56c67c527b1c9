/*
 * Drawing and placement helpers the dialogs share: centring a window over
 * another, fitting a progress dialog to its owner, the raised bevel around
 * the main menu's version banner, and the focus ring the main menu and
 * "Avanceret" draw around the focused row. Each is split into the pure
 * geometry (which the tests check) and the drawing on a device context.
 */
#ifndef KIRO_DRAWING_H
#define KIRO_DRAWING_H

#include <windows.h>

/* The position center_over moves a window of size w x h to. */
POINT center_position(const RECT *reference, int w, int h);
void center_over(HWND reference, HWND window);

/* The outer rectangle fit_to_parent gives a window. */
RECT fit_rectangle(const RECT *parent_client, const RECT *window_rect, const RECT *client);
void fit_to_parent(HWND window);

/* One line of draw_bevel: the system colour and its three points. */
struct BevelLine {
    int colour;
    POINT points[3];
};
void bevel_lines(int left, int top, int right, int bottom, BevelLine lines[8]);
void draw_bevel(HDC dc, int left, int top, int right, int bottom);

/* The up to four bands fill_frame fills; answers how many are not empty. */
int frame_bands(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4, RECT bands[4]);
void fill_frame(HDC dc, HBRUSH brush, int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);

/* The focus ring of a control row: outer and inner rectangle, spanning
   the group box's width at the height of the row. */
void focus_ring_rects(int group_left, int group_width, int control_top, int control_height,
                      RECT *outer, RECT *inner);
/* Paints the ring around row (dialog client coordinates) in the system
   colour, as wide as the group box group of dialog. */
void paint_focus_ring(HWND dialog, HWND group, const RECT *row, int colour);

#endif
