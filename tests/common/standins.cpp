/*
 * Stand-in helpers for the tests (see standins.h).
 */
#include "standins.h"
#include "test_support.h"

#include <windows.h>

bool install_standin(const char *kind, const std::string &path)
{
    std::string source = test_exe_dir() + "..\\standins\\standin_" + kind + ".exe";
    if (!CopyFileA(source.c_str(), path.c_str(), FALSE))
        return false;
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
        if (!lines.empty() && lines.back() == '\n')
            return lines;
        if ((int)(GetTickCount() - start) > timeout_ms)
            return lines;
        Sleep(50);
    }
}
