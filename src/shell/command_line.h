/*
 * The menu's command line: -p/-P names the program directory and -d/-D the
 * data directory, each value directly behind its switch; anything else is
 * ignored. The same rules read the arguments of a desktop shortcut.
 */
#ifndef KIRO_COMMAND_LINE_H
#define KIRO_COMMAND_LINE_H

#include <wchar.h>

/* Fills both directories (KIRO_PATH_SIZE bytes each) from the process's
   command line. */
void parse_command_line(char *program_dir, char *data_dir);
/* The same over a whole command line (program path first). */
void parse_command_line_text(const wchar_t *command_line, char *program_dir, char *data_dir);
/* The same rules over an argument list without program path (the arguments
   of a desktop shortcut): fills the directories that are given, leaves the
   others as they are. Answers false when the list cannot be split. */
bool parse_switches(const wchar_t *arguments, char *program_dir, char *data_dir);
void trim_blanks(char *text);
void strip_to_directory(char *path);

#endif
