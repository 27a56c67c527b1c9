/*
 * The menu's command line (see command_line.h): the switches -p/-P and
 * -d/-D with their value directly behind them, split by the shell's rules,
 * and the two text helpers that finish the directories.
 */
#include "shell/command_line.h"
#include "support/settings.h"
#include "support/text.h"

#include <windows.h>
#include <shellapi.h>
#include <stdlib.h>
#include <string.h>

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
