/*
 * Starting the schedule program and its updates. Before the schedule
 * program starts, or data are moved, the menu looks for an update program
 * ("opd*.exe") newer than the configured version in the program directory
 * and offers to run it; while an update runs (opdat.lck present) both are
 * refused. Started programs are never waited for.
 */
#ifndef KIRO_LAUNCHER_H
#define KIRO_LAUNCHER_H

#include <stddef.h>

/* Update numbers above this are never offered. */
enum { UPDATE_LIMIT = 10331 };
/* Versions up to this one get their directories unquoted. */
enum { LAST_UNQUOTED_VERSION = 10412 };

/* Update check results. */
enum {
    UPDATE_RUNNING = 0,    /* message shown; do nothing */
    UPDATE_PROCEED = 1,    /* no update, declined, or none allowed */
    UPDATE_STARTED = 2     /* an update program runs; the menu ends */
};

/* The update check for the program directory and configured version of
   the menu settings: UPDATE_RUNNING, UPDATE_PROCEED or UPDATE_STARTED. */
unsigned char update_check(void);

/* The smallest update number above version among directory's "opd*.exe"
   files (the number behind "opd"), 0 when there is none. */
int find_next_update(const char *directory, int version);

/* Starts the schedule program of the menu settings, with " -l" when view
   is set. On failure the user has been told and the answer is false. */
bool start_schedule_program(bool view);

/* The path and command line start_schedule_program uses. False when they
   do not fit. */
bool schedule_command_line(const char *program_dir, const char *data_dir, int version, bool view,
                           char *program, size_t program_size, char *line, size_t line_size);
/* The path and command line of update program number. */
bool update_command_line(const char *program_dir, const char *data_dir, int number,
                         char *program, size_t program_size, char *line, size_t line_size);

#endif
