/*
 * Menu settings and start-up: the command line, the configuration keys,
 * the title and footer lines, the fonts, the version-string lookup, and the
 * start-up sequence that ends in the message loop.
 */
#include "shell/settings.h"
#include "shell/main_window.h"
#include "shell/cleanup.h"
#include "shell/shortcut.h"
#include "support/file_probe.h"
#include "support/message_box.h"
#include "support/text.h"
#include "diagnostics/trace.h"

#include <commctrl.h>
#include <shellapi.h>
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

MenuSettings g_settings;

const char *const KEY_SECTION_GLOBAL = "global";
const char *const KEY_SCHEDULE_LOCKED = "skemalåst";

void trim_blanks(char *text)
{
    size_t n = strlen(text);
    while (n > 0 && (unsigned char)text[n - 1] >= 1 && (unsigned char)text[n - 1] <= 32)
        text[--n] = '\0';
    size_t start = 0;
    while (text[start] && (unsigned char)text[start] <= 32)
        start++;
    if (start)
        memmove(text, text + start, n - start + 1);
}

void strip_to_directory(char *path)
{
    size_t n = strlen(path);
    while (n > 0 && path[n - 1] != '\\')
        path[--n] = '\0';
}

void end_with_backslash(char *directory, size_t size)
{
    size_t n = strlen(directory);
    if (n > 1 && directory[n - 1] != '\\')
        append_text(directory, size, "\\");
}

/* One argument in the ANSI code page, without best-fit mapping. False when
   the conversion is empty, fails or would be longer than 519 bytes. */
static bool argument_to_ansi(const wchar_t *argument, char *out)
{
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, argument, -1, out,
                                KIRO_PATH_SIZE, NULL, NULL);
    return n > 1;
}

static void apply_switches(wchar_t **argv, int argc, int first, char *program_dir, char *data_dir)
{
    for (int i = first; i < argc; i++) {
        char argument[KIRO_PATH_SIZE];
        if (!argument_to_ansi(argv[i], argument) || argument[0] != '-')
            continue;
        if (argument[1] == 'p' || argument[1] == 'P')
            copy_text(program_dir, KIRO_PATH_SIZE, argument + 2);
        else if (argument[1] == 'd' || argument[1] == 'D')
            copy_text(data_dir, KIRO_PATH_SIZE, argument + 2);
    }
}

static void finish_directories(const char *own_path, char *program_dir, char *data_dir)
{
    if (program_dir[0] == '\0') {
        copy_text(program_dir, KIRO_PATH_SIZE, own_path);
        strip_to_directory(program_dir);
    }
    trim_blanks(program_dir);
    end_with_backslash(program_dir, KIRO_PATH_SIZE);
    if (data_dir[0] == '\0')
        copy_text(data_dir, KIRO_PATH_SIZE, program_dir);
    trim_blanks(data_dir);
    end_with_backslash(data_dir, KIRO_PATH_SIZE);
}

void parse_command_line_text(const wchar_t *command_line, char *program_dir, char *data_dir)
{
    program_dir[0] = data_dir[0] = '\0';
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(command_line, &argc);
    char own_path[KIRO_PATH_SIZE] = "";
    if (argv) {
        if (argc > 0 && !argument_to_ansi(argv[0], own_path))
            own_path[0] = '\0';
        apply_switches(argv, argc, 1, program_dir, data_dir);
        LocalFree(argv);
    }
    finish_directories(own_path, program_dir, data_dir);
}

void parse_command_line(char *program_dir, char *data_dir)
{
    parse_command_line_text(GetCommandLineW(), program_dir, data_dir);
}

bool parse_switches(const wchar_t *arguments, char *program_dir, char *data_dir)
{
    /* The splitting rules treat the first word as a program path; put a
       stand-in first so every word of the arguments is read as an argument. */
    size_t n = wcslen(arguments);
    wchar_t *line = (wchar_t *)malloc((n + 3) * sizeof(wchar_t));
    if (!line)
        return false;
    line[0] = L'x';
    line[1] = L' ';
    memcpy(line + 2, arguments, (n + 1) * sizeof(wchar_t));
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(line, &argc);
    free(line);
    if (!argv)
        return false;
    apply_switches(argv, argc, 1, program_dir, data_dir);
    LocalFree(argv);
    return true;
}

void version_string(const char *file, const char *name, char *out, size_t size)
{
    if (size)
        out[0] = '\0';
    DWORD handle = 0;
    DWORD length = GetFileVersionInfoSizeA(file, &handle);
    if (length == 0)
        return;
    void *block = malloc(length);
    if (!block)
        return;
    if (GetFileVersionInfoA(file, 0, length, block)) {
        struct Translation { WORD language; WORD code_page; } *translation = NULL;
        UINT bytes = 0;
        if (VerQueryValueA(block, "\\VarFileInfo\\Translation", (void **)&translation, &bytes) &&
            translation && bytes >= sizeof *translation) {
            char query[128];
            char *value = NULL;
            UINT value_length = 0;
            if (format_text(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s",
                            translation->language, translation->code_page, name) &&
                VerQueryValueA(block, query, (void **)&value, &value_length) && value)
                copy_text(out, size, value);
        }
    }
    free(block);
}

bool derive_schedule_locked(const char *locked_text, const char *super_setting)
{
    return strcmp(locked_text, "ja") == 0 && strcmp(super_setting, "nej") == 0;
}

void read_configuration(void)
{
    const char *ini = g_settings.config_path;
    g_settings.installation = (int)GetPrivateProfileIntA(KEY_SECTION_GLOBAL, "insnr", 0, ini);
    g_settings.version = (unsigned short)GetPrivateProfileIntA(KEY_SECTION_GLOBAL, "version", 0, ini);
    char locked[10];
    GetPrivateProfileStringA(KEY_SECTION_GLOBAL, KEY_SCHEDULE_LOCKED, "nej", locked, sizeof locked, ini);
    GetPrivateProfileStringA(KEY_SECTION_GLOBAL, "superkiro", "nej", g_settings.super_setting,
                             sizeof g_settings.super_setting, ini);
    GetPrivateProfileStringA(KEY_SECTION_GLOBAL, "flytdrev", "a:", g_settings.move_drive,
                             sizeof g_settings.move_drive, ini);
    g_settings.schedule_locked = derive_schedule_locked(locked, g_settings.super_setting);
}

bool write_profile_checked(const char *file, const char *section, const char *key, const char *value)
{
    ProfileValue change = { key, value };
    return replace_profile_values(file, section, &change, 1);
}

/* Writes value under "skemalåst" (true when the file then says so) and
   reads into now what the file says; now is left empty when the key
   cannot be read at all. */
static bool write_locked_text(const char *value, char *now, DWORD size)
{
    bool written = write_profile_checked(g_settings.config_path, KEY_SECTION_GLOBAL, KEY_SCHEDULE_LOCKED, value);
    forget_cached_profile(g_settings.config_path);
    GetPrivateProfileStringA(KEY_SECTION_GLOBAL, KEY_SCHEDULE_LOCKED, "", now, size, g_settings.config_path);
    return written;
}

bool write_schedule_locked(bool locked)
{
    const char *value = locked ? "ja" : "nej";
    char now[10];
    bool written = write_locked_text(value, now, sizeof now);
    /* The flag says what the file says, as far as it can be read. */
    if (now[0])
        g_settings.schedule_locked = derive_schedule_locked(now, g_settings.super_setting);
    return written;
}

bool set_schedule_locked(bool locked)
{
    const char *value = locked ? "ja" : "nej";
    char now[10];
    if (!write_locked_text(value, now, sizeof now))
        return false;   /* the flag keeps the state the menu shows */
    g_settings.schedule_locked = locked;
    return true;
}

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
