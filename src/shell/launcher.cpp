/*
 * Update check and start of the schedule program (see launcher.h).
 *
 * The program path goes on the command line unquoted, as the schedule
 * program and the update programs expect it. It is also given to the
 * system as the program to run, so a path with blanks is never resolved by
 * trying its blank-cut beginnings (C:\Program.exe for C:\Program Files\...),
 * and no other file can be started in its place.
 */
#include "shell/launcher.h"
#include "support/settings.h"
#include "support/error_text.h"
#include "support/file_probe.h"
#include "support/message_box.h"
#include "support/text.h"

#include <stdlib.h>
#include <string.h>

enum { COMMAND_LINE_SIZE = 4 * KIRO_PATH_SIZE };

/* The leading decimal number of text as atoi reads it (leading blanks and
   a sign allowed, 0 without digits), kept within 32 bits. */
static int leading_number(const char *text)
{
    long value = strtol(text, NULL, 10);
    return (int)value;
}

int find_next_update(const char *directory, int version)
{
    char pattern[KIRO_PATH_SIZE];
    if (!format_text(pattern, sizeof pattern, "%sopd*.exe", directory))
        return 0;
    WIN32_FIND_DATAA found;
    UINT mode = quiet_drive_begin();
    HANDLE search = FindFirstFileA(pattern, &found);
    int best = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            char name[MAX_PATH];
            copy_text(name, sizeof name, found.cFileName);
            if (strlen(name) < 3)
                continue;
            char *rest = name + 3;
            char *dot = strrchr(rest, '.');
            if (dot)
                *dot = '\0';
            int number = leading_number(rest);
            if (number > version && (best == 0 || number < best))
                best = number;
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    quiet_drive_end(mode);
    return best;
}

bool update_command_line(const char *program_dir, const char *data_dir, int number,
                         char *program, size_t program_size, char *line, size_t line_size)
{
    return format_text(program, program_size, "%sopd%5d.exe", program_dir, number) &&
           format_text(line, line_size, "%s -p%s -d%s", program, program_dir, data_dir);
}

/* A directory with one trailing backslash removed. */
static void without_backslash(char *out, size_t size, const char *directory)
{
    copy_text(out, size, directory);
    size_t n = strlen(out);
    if (n > 0 && out[n - 1] == '\\')
        out[n - 1] = '\0';
}

bool schedule_command_line(const char *program_dir, const char *data_dir, int version, bool view,
                           char *program, size_t program_size, char *line, size_t line_size)
{
    if (!format_text(program, program_size, "%s%i.exe", program_dir, version))
        return false;
    char p[KIRO_PATH_SIZE], d[KIRO_PATH_SIZE];
    without_backslash(p, sizeof p, program_dir);
    without_backslash(d, sizeof d, data_dir);
    const char *format = version > LAST_UNQUOTED_VERSION ? "%s -p\"%s\" -d\"%s\"" : "%s -p%s -d%s";
    if (!format_text(line, line_size, format, program, p, d))
        return false;
    return !view || append_text(line, line_size, " -l");
}

/* Starts program with line, not waiting for it; handles are not kept.
   The last error tells why when the answer is false. */
static bool start_process(const char *program, char *line)
{
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(program, line, NULL, NULL, TRUE, CREATE_DEFAULT_ERROR_MODE, NULL, NULL,
                        &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

unsigned char update_check(void)
{
    char marker[KIRO_PATH_SIZE];
    format_text(marker, sizeof marker, "%sopdat.lck", g_settings.program_dir);
    if (file_access(marker) == 0) {
        message_box(GetActiveWindow(), "Opdatering er under afvikling. Prøv igen om lidt.\n",
                    "Opdatering", MB_OK | MB_ICONERROR | MB_SYSTEMMODAL);
        return UPDATE_RUNNING;
    }
    int version = g_settings.version;
    int number = find_next_update(g_settings.program_dir, version);
    if (number > UPDATE_LIMIT || number <= version)
        return UPDATE_PROCEED;
    int answer = message_box(GetActiveWindow(),
                             "Der ligger en opdatering klar til afvikling, ønsker at køre den nu?\n",
                             "Ny Version", MB_YESNO);
    if (answer != IDYES)
        return UPDATE_PROCEED;

    char program[KIRO_PATH_SIZE], line[COMMAND_LINE_SIZE];
    /* Whether the update program could be started is not reported: the
       menu ends either way, and the update tells its own story. */
    if (update_command_line(g_settings.program_dir, g_settings.data_dir, number, program,
                            sizeof program, line, sizeof line))
        start_process(program, line);
    return UPDATE_STARTED;
}

bool start_schedule_program(bool view)
{
    char program[KIRO_PATH_SIZE], line[COMMAND_LINE_SIZE];
    bool started = false;
    if (schedule_command_line(g_settings.program_dir, g_settings.data_dir, g_settings.version, view,
                              program, sizeof program, line, sizeof line))
        started = start_process(program, line);
    else
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    if (started)
        return true;
    char reason[512], text[640];
    system_error_text(reason, sizeof reason);
    format_text(text, sizeof text, "Fejl under opstart af KIRO-skema!\n%s", reason);
    message_box(NULL, text, "Fejl", MB_OK | MB_ICONWARNING);
    return false;
}
