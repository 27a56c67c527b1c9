/*
 * The start log START.LOG in the program directory. The schedule program
 * writes one line per station ("key,version,..."); the menu only reads it,
 * to learn the lowest program version still in use, which decides when the
 * files of older versions may be removed. The log is opened exclusively for
 * the short time it is read, so no station writes it meanwhile.
 */
#ifndef KIRO_START_LOG_H
#define KIRO_START_LOG_H

#include <windows.h>

/* The lowest version when the start log holds no record. */
enum { NO_VERSION_IN_USE = 59999 };

/* Opens directory + "START.LOG" for reading and writing without sharing,
   creating it empty when missing. When it cannot be opened the user is
   warned: OK tries again, Cancel gives up. INVALID_HANDLE_VALUE when the
   file stays unopened. */
HANDLE open_start_log(const char *directory);

/* Reads the whole file into lines (CR LF separated, line ends removed; a
   final CR LF opens no empty line). Answers the number of lines and stores
   the list in *lines (NULL for 0 lines); release it with free_lines. */
int read_lines(HANDLE file, char ***lines);
void free_lines(char **lines, int count);

/* The smallest version recorded in directory's start log, compared as
   unsigned numbers; NO_VERSION_IN_USE for an empty log, 0 when the log
   cannot be opened. */
unsigned lowest_version_in_use(const char *directory);

#endif
