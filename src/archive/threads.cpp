/*
 * Worker threads of the archive room (see threads.h): how many, starting
 * them, and waiting for them to end.
 */
#include "archive/threads.h"

#include <process.h>

static unsigned g_zip_threads = 0;

void set_zip_threads(unsigned threads)
{
    g_zip_threads = threads;
}

/* Processors this process may run on (its affinity), at least 1. */
static unsigned processors(void)
{
    DWORD_PTR mine = 0, system = 0;
    unsigned count = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &mine, &system))
        for (; mine; mine &= mine - 1)
            count++;
    if (count == 0) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        count = info.dwNumberOfProcessors;
    }
    return count ? count : 1;
}

unsigned zip_threads(void)
{
    unsigned threads = g_zip_threads ? g_zip_threads : processors();
    return threads < (unsigned)ZIP_MAX_THREADS ? threads : (unsigned)ZIP_MAX_THREADS;
}

void start_threads(unsigned count, unsigned(__stdcall *proc)(void *), void *context,
                   std::vector<HANDLE> *threads)
{
    for (unsigned k = 0; k < count; k++) {
        HANDLE thread = (HANDLE)_beginthreadex(NULL, 0, proc, context, 0, NULL);
        if (!thread)
            break;
        threads->push_back(thread);
    }
}

void join_threads(std::vector<HANDLE> *threads)
{
    for (HANDLE thread : *threads) {
        /* No limit: a worker waits for nothing this thread holds, and ends
           once its list is done or its run stopped (threads.h); what it
           may wait on is a read of a file, which would hold this thread
           just the same if it read the file itself. A limit could only
           leave a thread running on memory about to be freed. */
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    threads->clear();
}
