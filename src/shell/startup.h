/*
 * Start-up: turns the command line and ini\kiro.ini into the menu settings,
 * builds the title and footer lines and the fonts the main window and the
 * main menu paint, runs the housekeeping (desktop shortcut check, attribute
 * reset, old-version clean-up), refuses to go on without a usable
 * configuration file, and runs the message loop until the menu ends.
 */
#ifndef KIRO_STARTUP_H
#define KIRO_STARTUP_H

#include <windows.h>
#include <stddef.h>

void build_title_line(char *out, size_t size, int installation, const char *super_setting,
                      const char *program_dir, const char *data_dir);
void build_footer_line(char *out, size_t size, const char *program_dir, int current_year);

/* Title and heading font sizes for a screen height (0, 0 = system default). */
void font_sizes_for_screen(int screen_height, int *title_height, int *title_width,
                           int *heading_height, int *heading_width);
void create_fonts(void);
void release_fonts(void);

/* The whole start-up sequence, message loop and ending; the exit code. */
int run_menu(HINSTANCE instance);

#endif
