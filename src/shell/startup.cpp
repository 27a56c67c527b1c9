/*
 * Start-up (see startup.h): the title and footer lines, the fonts, and
 * the start-up sequence that fills the menu settings, tidies the
 * installation, refuses a configuration file it cannot use, and runs the
 * main window's message loop.
 */
#include "shell/startup.h"
#include "shell/cleanup.h"
#include "shell/command_line.h"
#include "shell/main_window.h"
#include "shell/shortcut.h"
#include "support/file_probe.h"
#include "support/message_box.h"
#include "support/settings.h"
#include "support/text.h"
#include "diagnostics/trace.h"

#include <commctrl.h>
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

void build_title_line(char *out, size_t size, int installation, const char *super_setting,
                      const char *program_dir, const char *data_dir)
{
    const char *format = strcmp(super_setting, "nej") == 0
        ? "%2i KIRO-skema     Prog. sti: %s   Data sti: %s"
        : "%2i SUPER KIRO-skema     Prog. sti: %s   Data sti: %s";
    format_text(out, size, format, installation, program_dir, data_dir);
}

/* "... 1998" becomes "... 1998-2026" when the first year lies before now. */
static void copyright_range(char *copyright, size_t size, int current_year)
{
    size_t n = strlen(copyright);
    if (n < 4)
        return;
    const char *year = copyright + n - 4;
    for (int i = 0; i < 4; i++)
        if (!isdigit((unsigned char)year[i]))
            return;
    if (n > 4 && isdigit((unsigned char)year[-1]))
        return;
    int first = atoi(year);
    if (first < current_year) {
        char range[16];
        format_text(range, sizeof range, "-%d", current_year);
        append_text(copyright, size, range);
    }
}

void build_footer_line(char *out, size_t size, const char *program_dir, int current_year)
{
    char file[KIRO_PATH_SIZE];
    format_text(file, sizeof file, "%skiromenu.exe", program_dir);
    char product[128], version[64], build[64], copyright[200];
    version_string(file, "ProductName", product, sizeof product);
    version_string(file, "FileVersion", version, sizeof version);
    version_string(file, "SpecialBuild", build, sizeof build);
    version_string(file, "LegalCopyright", copyright, sizeof copyright);
    copyright_range(copyright, sizeof copyright, current_year);

    out[0] = '\0';
    if (product[0])
        append_text(out, size, product);
    if (version[0]) {
        append_text(out, size, out[0] ? "   Version " : "Version ");
        append_text(out, size, version);
    }
    if (build[0]) {
        append_text(out, size, out[0] ? "   Build " : "Build ");
        append_text(out, size, build);
    }
    if (copyright[0]) {
        append_text(out, size, out[0] ? "   " : "");
        append_text(out, size, copyright);
    }
}

void font_sizes_for_screen(int screen_height, int *title_height, int *title_width,
                           int *heading_height, int *heading_width)
{
    *title_height = *title_width = *heading_height = *heading_width = 0;
    if (screen_height >= 600 && screen_height <= 864) {
        *title_height = -48; *title_width = 30; *heading_height = -24; *heading_width = 15;
    } else if (screen_height == 1024) {
        *title_height = -80; *title_width = 50; *heading_height = -40; *heading_width = 25;
    } else if (screen_height == 1200) {
        *title_height = -96; *title_width = 50; *heading_height = -48; *heading_width = 25;
    }
}

static HFONT arial_bold(int height, int width)
{
    return CreateFontA(height, width, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       0, 0, 0, 0, "Arial");
}

void create_fonts(void)
{
    int th, tw, hh, hw;
    g_settings.screen_height = GetSystemMetrics(SM_CYSCREEN);
    font_sizes_for_screen(g_settings.screen_height, &th, &tw, &hh, &hw);
    g_settings.banner_font = arial_bold(-25, g_settings.banner_font_width);
    g_settings.title_font = arial_bold(th, tw);
    g_settings.heading_font = arial_bold(hh, hw);
}

void release_fonts(void)
{
    HFONT *fonts[] = { &g_settings.banner_font, &g_settings.title_font, &g_settings.heading_font };
    for (HFONT *font : fonts) {
        if (*font)
            DeleteObject(*font);
        *font = NULL;
    }
}

static int windows_95_family(void)
{
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

static void refuse_configuration(unsigned char access)
{
    const char *format = (access & ACCESS_MISSING) ? "Filen '%s' - blev ikke fundet!"
                       : (access & ACCESS_NOT_WRITABLE) ? "Filen '%s' - har du ikke skrive rettigheder til!"
                       : "Filen '%s' - har du ikke læse rettigheder til!";
    char text[KIRO_PATH_SIZE + 200];
    format_text(text, sizeof text, format, g_settings.config_path);
    append_text(text, sizeof text, "\nKontakt din systemadministrator!");
    message_box(NULL, text, "Fejl", MB_OK | MB_ICONERROR | MB_SYSTEMMODAL);
}

int run_menu(HINSTANCE instance)
{
    g_settings.instance = instance;
    InitCommonControls();

    parse_command_line(g_settings.program_dir, g_settings.data_dir);
    trace_open_from_command_line();
    if (g_settings.program_dir[0])
        SetCurrentDirectoryA(g_settings.program_dir);
    format_text(g_settings.config_path, sizeof g_settings.config_path, "%sini\\kiro.ini",
                g_settings.data_dir);

    SYSTEMTIME now;
    GetLocalTime(&now);
    build_footer_line(g_settings.footer, sizeof g_settings.footer, g_settings.program_dir, now.wYear);
    g_settings.banner_font_width = windows_95_family() ? 9 : 10;
    check_desktop_shortcut();

    create_fonts();

    reset_attributes(g_settings.program_dir);
    if (strcmp(g_settings.data_dir, g_settings.program_dir) != 0)
        reset_attributes(g_settings.data_dir);

    unsigned char access = file_access(g_settings.config_path);
    if (access != 0) {
        refuse_configuration(access);
    } else {
        /* A copy of kiro.ini left beside it by a power cut during a
           replacement: kiro.ini itself is its old or new version, whole. */
        remove_replacement_leftovers(g_settings.config_path);
        read_configuration();
        build_title_line(g_settings.title, sizeof g_settings.title, g_settings.installation,
                         g_settings.super_setting, g_settings.program_dir, g_settings.data_dir);
        run_cleanup_if_due(g_settings.program_dir, g_settings.version);
        if (create_main_window()) {
            /* The loop lives as long as the menu: it ends when the main
               window is destroyed, which the main menu's end always
               brings about (Close, Escape, or a started program). */
            MSG msg;
            while (GetMessageA(&msg, NULL, 0, 0) > 0) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
    }

    trace_close();
    unregister_main_window_class();
    release_fonts();
    return 0;
}
