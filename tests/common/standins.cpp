/*
 * Stand-in helpers for the tests (see standins.h). A started stand-in
 * counts as done only once its process has ended: until then its record
 * may be incomplete, and Wine keeps its image mapped, so the file can be
 * neither replaced nor deleted.
 */
#include "standins.h"
#include "test_support.h"

#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <string.h>

static std::string base_name(const std::string &path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

/* A process runs from the program file path (by its full name where the
   system tells it, otherwise by its file name). */
typedef BOOL(WINAPI *QueryImageNameFn)(HANDLE, DWORD, LPSTR, PDWORD);

static bool runs_from(const std::string &path)
{
    QueryImageNameFn query_image_name = (QueryImageNameFn)(void *)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameA");
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    bool found = false;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry)) {
        if (_stricmp(base_name(entry.szExeFile).c_str(), base_name(path).c_str()) != 0)
            continue;
        found = true;
        HANDLE process = query_image_name ? OpenProcess(0x1000 /* PROCESS_QUERY_LIMITED_INFORMATION */, FALSE,
                                                        entry.th32ProcessID)
                                          : NULL;
        if (process) {
            char image[MAX_PATH * 2];
            DWORD size = sizeof image;
            if (query_image_name(process, 0, image, &size))
                found = _stricmp(image, path.c_str()) == 0;
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
    return found;
}

bool wait_standin_ended(const std::string &path, int timeout_ms)
{
    DWORD start = GetTickCount();
    while (runs_from(path)) {
        if ((int)(GetTickCount() - start) >= timeout_ms) {
            fprintf(stderr, "standins: %s still runs after %d ms\n", path.c_str(), timeout_ms);
            return false;
        }
        Sleep(20);
    }
    return true;
}

bool install_standin(const char *kind, const std::string &path)
{
    std::string source = test_exe_dir() + "..\\standins\\standin_" + kind + ".exe";
    /* One started from the same file a moment ago may still be ending. */
    wait_standin_ended(path);
    if (!CopyFileA(source.c_str(), path.c_str(), FALSE)) {
        fprintf(stderr, "standins: could not copy %s to %s (error %lu)\n", source.c_str(), path.c_str(),
                GetLastError());
        return false;
    }
    std::string dir = path.substr(0, path.rfind('\\') + 1);
    DeleteFileA((path + ".cmdline").c_str());
    return write_file(dir + "standin.quiet", "");
}

std::string recorded(const std::string &path)
{
    return read_file(path + ".cmdline");
}

std::string wait_recorded(const std::string &path, int timeout_ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        std::string lines = recorded(path);
        if (!lines.empty() && lines.back() == '\n') {
            /* The line is written just before the stand-in ends. */
            wait_standin_ended(path, timeout_ms);
            return recorded(path);
        }
        if ((int)(GetTickCount() - start) > timeout_ms) {
            fprintf(stderr, "standins: %s recorded no command line within %d ms\n", path.c_str(), timeout_ms);
            return lines;
        }
        Sleep(50);
    }
}
