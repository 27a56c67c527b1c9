/*
 * Helpers for tests that let the menu start the stand-in schedule and
 * update programs: installing a stand-in under a given name (quietly, so
 * no window waits for a person) and reading back the command lines it
 * recorded.
 */
#ifndef KIRO_STANDINS_H
#define KIRO_STANDINS_H

#include <string>

/* kind: "schedule" or "update". Copies the stand-in to path and puts the
   quiet marker beside it. */
bool install_standin(const char *kind, const std::string &path);
/* The command lines recorded by the stand-in at path, each followed by
   "\n"; waits up to timeout_ms for the first one and then for the stand-in
   to end, empty if none came. */
std::string wait_recorded(const std::string &path, int timeout_ms = 10000);
/* What has been recorded so far, without waiting. */
std::string recorded(const std::string &path);
/* Waits until no process runs from the stand-in at path (false after
   timeout_ms). Once whatever started it has returned, nothing more can be
   recorded: a check that it was never started need not wait longer. */
bool wait_standin_ended(const std::string &path, int timeout_ms = 10000);

#endif
