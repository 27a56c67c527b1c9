/*
 * The threads that pack, extract and read back: one per processor this
 * process may run on, at most ZIP_MAX_THREADS, or a number fixed for the
 * tests and the benchmark. A run starts its workers with start_threads and
 * ends them with join_threads before the call that started them returns;
 * a worker never touches a window.
 */
#ifndef KIRO_ARCHIVE_THREADS_H
#define KIRO_ARCHIVE_THREADS_H

#include <windows.h>

#include <vector>

/* set_zip_threads(n) fixes n (1: every file on the calling thread, entry
   by entry, as the library deflates it); 0 goes back to one per
   processor. */
enum { ZIP_MAX_THREADS = 8 };
void set_zip_threads(unsigned threads);
unsigned zip_threads(void);

/* Starts up to count threads running proc(context); the handles of those
   that started (none when no thread could be had). */
void start_threads(unsigned count, unsigned(__stdcall *proc)(void *), void *context,
                   std::vector<HANDLE> *threads);
/* Waits until every thread has ended. The caller must first have made
   sure each one ends: every worker of this room runs down a list that only
   gets shorter and checks its run's stop flag between items. */
void join_threads(std::vector<HANDLE> *threads);

#endif
