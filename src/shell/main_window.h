/*
 * The main window: a maximised backdrop with "KIRO-skema", "HOVEDMENU" and
 * the footer line, which opens the main menu dialog as soon as it exists and
 * ends the program when that dialog ends. Also the drawing and placement
 * helpers the dialogs share.
 */
#ifndef KIRO_MAIN_WINDOW_H
#define KIRO_MAIN_WINDOW_H

#include <windows.h>

extern const char *const MAIN_WINDOW_CLASS;   /* "MenuWndClass" */

/* Registers the class, creates the main window with the title line, shows it
   maximised and paints it. False when the window could not be created. */
bool create_main_window(void);
void unregister_main_window_class(void);
LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

/* Where the main window paints its three texts for a client height. */
struct MainWindowLayout {
    bool show_names;        /* "KIRO-skema" and "HOVEDMENU" (height > 480) */
    int name_top;
    int heading_top;
    int footer_x, footer_y;
};
MainWindowLayout main_window_layout(int client_height);

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

#endif
