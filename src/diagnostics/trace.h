/*
 * Message trace: writes the window messages a window procedure receives
 * into a text file, one line per message, while the trace is open.
 */
#ifndef KIRO_TRACE_H
#define KIRO_TRACE_H

void trace_open(const char *path);
void trace_record(const char *prefix, unsigned int message, long wparam, long lparam);
void trace_close(void);
const char *message_name(unsigned int message);

#endif
