/*
 * Message trace: writes the window messages a window procedure receives
 * into a text file, one line per message, while the trace is open. Nothing
 * is written until trace_open has been called; the menu opens it when it is
 * started with the switch -t<file> (see trace_open_from_command_line).
 */
#ifndef KIRO_TRACE_H
#define KIRO_TRACE_H

#include <stddef.h>
#include <wchar.h>

/* Creates or truncates path and writes the head; no trace when the file
   cannot be created. */
void trace_open(const char *path);
/* One line for message unless the trace is closed or the message is one of
   the four mouse-movement messages left out. */
void trace_record(const char *prefix, unsigned int message, long wparam, long lparam);
void trace_close(void);
/* The symbolic name of a window message, or its decimal number. The text
   of an unnamed number lives until the next call. */
const char *message_name(unsigned int message);

/* The file named by the last -t or -T switch of an argument list (the
   value directly behind the switch); false when there is none. */
bool trace_switch(const wchar_t *command_line, char *path, size_t size);
/* Opens the trace when the process's command line has a -t switch. */
void trace_open_from_command_line(void);

#endif
