/*
 * Benchmark driver. Each command does one operation of the program on the
 * given files, timed in-process, and prints "<milliseconds> <peak working
 * set in KiB>" so tools/bench.sh can put it beside the Linux tools doing
 * the same work.
 *   bench pack <base folder> <archive>        data\*.*, ini\*.*, log\*.*
 *   bench unpack <archive> <folder>
 *   bench copy <source> <target>
 *   bench upload <host[:port]> <file>         as the support upload does
 *   bench start <exe> <caption> [arguments]   ms until a window with caption shows
 */
#include "driver.h"
#include "net/ftp.h"
#include "support/disk_utils.h"
#include "support/zip_utils.h"

#include <psapi.h>
#include <stdio.h>
#include <string.h>
#include <string>

static double now_ms(void)
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

static unsigned long peak_kib(void)
{
    PROCESS_MEMORY_COUNTERS counters;
    ZeroMemory(&counters, sizeof counters);
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return (unsigned long)(counters.PeakWorkingSetSize / 1024);
}

static int report(double start, int status)
{
    printf("%.1f %lu\n", now_ms() - start, peak_kib());
    return status;
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: bench pack|unpack|copy|upload|start ...\n");
        return 2;
    }
    std::string command = argv[1];
    if (command == "pack" && argc == 4) {
        std::string base = argv[2];
        if (base.back() != '\\')
            base += "\\";
        DeleteFileA(argv[3]);
        double t = now_ms();
        pack_matching_files(NULL, base.c_str(), "data\\*.*", argv[3]);
        pack_matching_files(NULL, base.c_str(), "ini\\*.*", argv[3]);
        pack_matching_files(NULL, base.c_str(), "log\\*.*", argv[3]);
        return report(t, 0);
    }
    if (command == "unpack" && argc == 4) {
        double t = now_ms();
        int code = unzip_archive(argv[2], argv[3]);
        return report(t, code ? 1 : 0);
    }
    if (command == "copy" && argc == 4) {
        double t = now_ms();
        DWORD written = copy_with_progress(NULL, argv[2], argv[3], 0, 0, "wb");
        return report(t, written ? 0 : 1);
    }
    if (command == "upload" && argc == 4) {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        const char *name = strrchr(argv[3], '\\');
        name = name ? name + 1 : argv[3];
        double t = now_ms();
        ftp_socket s = ftp_connect(argv[2], "kirodata", "4monbek");
        int status = 1;
        if (s >= 0) {
            ftp_type(s, 0);
            status = ftp_put(NULL, s, argv[3], name) == 0 ? 0 : 1;
            ftp_quit(s);
        }
        WSACleanup();
        return report(t, status);
    }
    if (command == "start" && argc >= 4) {
        std::string args;
        for (int i = 4; i < argc; i++)
            args += std::string(i > 4 ? " " : "") + "\"" + argv[i] + "\"";
        double t = now_ms();
        Program p = start_program(argv[2], args);
        HWND w = p.process ? wait_window(p.pid, NULL, argv[3], 30000) : NULL;
        double elapsed = now_ms() - t;
        if (w)
            PostMessageA(w, WM_COMMAND, IDCANCEL, 0);
        int code = wait_exit(p, 10000);
        printf("%.1f %lu\n", elapsed, peak_kib());
        return w && code == 0 ? 0 : 1;
    }
    fprintf(stderr, "bench: unknown command or arguments\n");
    return 2;
}
