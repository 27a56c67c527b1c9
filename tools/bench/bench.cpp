/*
 * Benchmark driver. Each command does one operation of the program on the
 * given files, timed in-process, and prints "<milliseconds> <peak working
 * set in KiB>" so tools/bench.sh can put it beside the Linux tools doing
 * the same work.
 *   bench pack <base folder> <archive>        data\*.*, ini\*.*, log\*.*
 *   bench unpack <archive> <folder>
 *   bench copy <source> <target>
 *   bench send <host[:port]> <file> [authority.pem]
 *                                             the support upload as "Send data
 *                                             til support" makes it after the
 *                                             packing, in the real progress
 *                                             dialog (its bar counting the
 *                                             bytes): timed from the start of
 *                                             the upload (the bar's range set)
 *                                             to its end (logged out, the
 *                                             outcome decided, the box answered
 *                                             at once); a server with TLS needs
 *                                             its authority, trusted in the
 *                                             prefix for the run (not timed)
 *   bench start <exe> <caption> [arguments]   ms until a window with caption shows
 *   bench moveout <data folder>               the whole move out onto drive E:
 *   bench takeback <data folder>              the whole take-back from drive E:
 *   bench threads                             the threads packing and unpacking use
 * A first argument -j<n> runs the command with n threads packing and
 * unpacking (-j1: one thread, file by file). The moves run as
 * installation 7, version 10327, with every question answered Yes or OK.
 */
#include "authority.h"
#include "driver.h"
#include "archive/extract.h"
#include "archive/threads.h"
#include "advanced/send_support.h"
#include "support/settings.h"
#include "support/disk_utils.h"
#include "support/message_box.h"
#include "support/packing.h"
#include "support/progress.h"
#include "support/text.h"
#include "transfer/move_to_device.h"
#include "transfer/move_to_hard_disk.h"
#include "transfer/transfer_set.h"

#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
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

static int answer_yes(HWND, const char *, const char *, UINT style)
{
    return (style & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
}

/* The upload of "bench send", run in the progress dialog's start message. */
static const char *g_send_host, *g_send_file, *g_send_name;
static double g_send_ms;
static int g_send_outcome = -1;
static bool g_send_pending;
static const ProgressLook SEND_LOOK = { "Send data til support...", "SENDER DATA TIL SUPPORT", -1, MSG_SEND_SUPPORT };

static INT_PTR CALLBACK send_dialog(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == MSG_SEND_SUPPORT) {
        double t = now_ms();
        g_send_outcome = upload_support_archive(dialog, g_send_host, g_send_file, g_send_name, false);
        g_send_ms = now_ms() - t;
        EndDialog(dialog, 2);
    } else {
        progress_dialog_message(dialog, message, &SEND_LOOK, &g_send_pending);
    }
    return 0;
}

/* This process as the PC of installation 7 whose data lie in folder. */
static void become_installation(const char *folder, bool locked)
{
    format_text(g_settings.data_dir, sizeof g_settings.data_dir, "%s%s", folder,
                folder[strlen(folder) - 1] == '\\' ? "" : "\\");
    format_text(g_settings.config_path, sizeof g_settings.config_path, "%sini\\kiro.ini", g_settings.data_dir);
    g_settings.installation = 7;
    g_settings.version = 10327;
    copy_text(g_settings.super_setting, sizeof g_settings.super_setting, "nej");
    copy_text(g_settings.move_drive, sizeof g_settings.move_drive, "e:");
    g_settings.schedule_locked = locked;
    set_transfer_paths(g_settings.move_drive, g_settings.installation);
    set_message_box_hook(answer_yes);
}

int main(int argc, char **argv)
{
    if (argc > 1 && strncmp(argv[1], "-j", 2) == 0) {
        set_zip_threads((unsigned)atoi(argv[1] + 2));
        argc--;
        argv++;
    }
    if (argc == 2 && strcmp(argv[1], "threads") == 0) {
        printf("%u\n", zip_threads());
        return 0;
    }
    if (argc < 3) {
        fprintf(stderr, "usage: bench [-j<n>] pack|unpack|copy|send|start|moveout|takeback|threads ...\n");
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
    if (command == "send" && (argc == 4 || argc == 5)) {
        std::string trusted = argc == 5 ? trust_authority(argv[4]) : "";
        if (argc == 5 && trusted.empty()) {
            fprintf(stderr, "bench: the authority could not be trusted\n");
            return 1;
        }
        set_message_box_hook(answer_yes);
        g_send_host = argv[2];
        g_send_file = argv[3];
        const char *name = strrchr(argv[3], '\\');
        g_send_name = name ? name + 1 : argv[3];
        run_progress_dialog(NULL, send_dialog);
        if (!trusted.empty())
            distrust_authority(trusted);
        printf("%.1f %lu\n", g_send_ms, peak_kib());
        return g_send_outcome == SEND_DONE ? 0 : 1;
    }
    if (command == "moveout" && argc == 3) {
        become_installation(argv[2], false);
        double t = now_ms();
        bool moved = pack_move_archive(NULL) && write_transfer_disks(NULL);
        return report(t, moved ? 0 : 1);
    }
    if (command == "takeback" && argc == 3) {
        become_installation(argv[2], true);
        double t = now_ms();
        bool taken = take_back_transfer_set(NULL);
        return report(t, taken ? 0 : 1);
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
