/*
 * Move the schedule data to a device (see move_to_device.h).
 *
 * The disk stage is a small state machine per disk: identify the disk,
 * check its number, check that it is empty and big enough, make the
 * transfer directory, prove the disk writable, write the volume and the
 * transfer file. Questions that offer OK or Retry repeat a step with the
 * disk now in the drive; everything else ends the run.
 *
 * Volumes: with n disks every volume but the last has the room the first
 * disk gave (its free space less the reserve); a later disk with less room
 * than its volume needs is refused and another asked for, a larger one
 * takes no more than its volume. So the count stays exact and every
 * transfer file states the number of volumes actually written.
 */
#include "transfer/move_to_device.h"
#include "transfer/transfer_set.h"
#include "shell/settings.h"
#include "support/disk_utils.h"
#include "support/drives.h"
#include "support/file_probe.h"
#include "support/message_box.h"
#include "support/progress.h"
#include "support/text.h"
#include "support/zip_utils.h"
#include "resource.h"

#include <stdio.h>
#include <string.h>

static bool g_device_start_pending = false;

static const char *const INFORMATION = "Information";

/* ------------------------------------------------------------------ */
/* Packing stage                                                       */

enum PassResult { PASS_OK, PASS_FAILED_REPORTED, PASS_FAILED_SILENT };

/* Packs every file of folder (under the data directory) matching pattern
   into archive. nothing_message is shown when the folder cannot be
   searched at all. */
static PassResult pack_pass(HWND dialog, const char *folder, const char *pattern,
                            const char *archive, char *message, size_t message_size,
                            const char *nothing_message)
{
    char search[KIRO_PATH_SIZE];
    if (!format_text(search, sizeof search, "%s%s\\%s", g_settings.data_dir, folder, pattern)) {
        copy_text(message, message_size, nothing_message);
        return PASS_FAILED_REPORTED;
    }
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(search, &found);
    if (find == INVALID_HANDLE_VALUE) {
        copy_text(message, message_size, nothing_message);
        return PASS_FAILED_REPORTED;
    }
    PassResult result = PASS_OK;
    do {
        progress_step(dialog, IDC_FILE_BAR);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        char status[KIRO_PATH_SIZE];
        format_text(status, sizeof status, "Pakker filen: '%s'", found.cFileName);
        progress_status(dialog, status);
        char file[KIRO_PATH_SIZE];
        if (!format_text(file, sizeof file, "%s%s\\%s", g_settings.data_dir, folder, found.cFileName)) {
            copy_text(message, message_size, nothing_message);
            result = PASS_FAILED_REPORTED;
            break;
        }
        if (pack_file(dialog, file, archive) != 0) {
            result = PASS_FAILED_SILENT;   /* pack_file has told the user */
            break;
        }
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return result;
}

bool pack_move_archive(HWND dialog)
{
    const char *d = g_settings.data_dir;
    char pattern[KIRO_PATH_SIZE], archive[KIRO_PATH_SIZE], packing[KIRO_PATH_SIZE];
    move_archive_path(archive, sizeof archive, d);
    packing_archive_path(packing, sizeof packing, d);

    progress_set_range(dialog, IDC_OVERALL_BAR, 3);
    progress_step(dialog, IDC_OVERALL_BAR);
    format_text(pattern, sizeof pattern, "%sdata\\*.dat", d);
    int data_files = count_files(pattern);
    format_text(pattern, sizeof pattern, "%sini\\*.*", d);
    int ini_files = count_files(pattern);
    progress_set_range(dialog, IDC_FILE_BAR, (unsigned long)(data_files + ini_files + 8));
    progress_step(dialog, IDC_FILE_BAR);

    DeleteFileA(archive);
    DeleteFileA(packing);

    char message[KIRO_PATH_SIZE] = "";
    PassResult data = pack_pass(dialog, "data", "*.dat", packing, message, sizeof message,
                                "Fejl ved pakning af data-filerne!");
    if (data != PASS_OK) {
        if (data == PASS_FAILED_REPORTED)
            error_box(message, MB_ICONERROR);
        DeleteFileA(packing);
        return false;
    }
    progress_step(dialog, IDC_OVERALL_BAR);
    progress_step(dialog, IDC_FILE_BAR);

    PassResult ini = pack_pass(dialog, "ini", "*.*", packing, message, sizeof message,
                               "Fejl ved pakning af ini-filerne!");
    progress_fill(dialog, IDC_OVERALL_BAR);
    progress_fill(dialog, IDC_FILE_BAR);
    bool renamed = MoveFileA(packing, archive) != 0;
    if (ini != PASS_OK) {
        if (ini == PASS_FAILED_REPORTED)
            error_box(message, MB_ICONERROR);
        DeleteFileA(renamed ? archive : packing);
        return false;
    }
    /* An old Data.zip that could not be deleted must never travel in
       place of the archive just packed. */
    if (!renamed) {
        error_box(NULL, MB_ICONERROR);
        DeleteFileA(packing);
        return false;
    }
    return true;
}

/* ------------------------------------------------------------------ */
/* Disk stage                                                          */

struct DeviceRun {
    HWND dialog;
    bool abort;
    bool keep_disk;          /* the disk in the drive holds a set the user chose to keep */
    bool ask_first_disk;     /* disk 1 could not be read: ask for it */
    bool removable;
    unsigned n;              /* disks of the move */
    unsigned i;              /* disk being written */
    int step;
    DWORD offset;            /* archive bytes on earlier disks */
    DWORD archive_size;
    DWORD room;              /* length of every volume but the last */
    ULARGE_INTEGER free;
    ULARGE_INTEGER total;
    int previous_version;
    char archive[KIRO_PATH_SIZE];
};

static int ask(DeviceRun *run, const char *text, UINT style)
{
    return message_box(run->dialog, text, INFORMATION, style);
}

/* Before the transfer directory of a disk is removed: a set of this
   installation that still holds live data ("skemalåst"="nej") is the only
   copy of another PC's schedule, so it is removed only when the user says
   so. A super installation never marks a set stale, so it is not asked. */
static bool may_clear_disk(DeviceRun *run)
{
    if (strcmp(g_settings.super_setting, "nej") != 0)
        return true;
    if (file_access(g_transfer_file) & ACCESS_MISSING)
        return true;
    TransferInfo info;
    read_transfer_info(g_transfer_file, &info);
    if (!set_is_live(&info, g_settings.installation))
        return true;
    int answer = message_box(run->dialog,
                             "Disk enheden indeholder data fra en anden PC, som endnu ikke er "
                             "flyttet til harddisken.\nHvis du fortsætter, bliver de data slettet!\n\n"
                             "Er du sikker på du vil fortsætte?",
                             "Advarsel!", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
    if (answer == IDYES)
        return true;
    run->abort = true;
    run->keep_disk = true;
    return false;
}

/* After an abort: the disk now in the drive holds a complete live set, one
   of this run's earlier disks or one the user changed to and then
   cancelled. It stays as it is, like the earlier disks out of the drive;
   only a disk whose set was not completed is cleared. */
static bool live_set_in_drive(void)
{
    if (strcmp(g_settings.super_setting, "nej") != 0)
        return false;
    if (file_access(g_transfer_file) & ACCESS_MISSING)
        return false;
    TransferInfo info;
    read_transfer_info(g_transfer_file, &info);
    return set_is_live(&info, g_settings.installation);
}

/* Previous version and removal of the old transfer directory on the disk
   now in the drive (nothing is removed when the user keeps a live set). */
static void clear_disk_in_drive(DeviceRun *run)
{
    TransferInfo info;
    read_transfer_info(g_transfer_file, &info);
    run->previous_version = info.version;
    if (may_clear_disk(run))
        delete_tree(g_transfer_dir);
}

static void wait_for_readable_drive(DeviceRun *run)
{
    static const char *const first = "Kan ikke læse fra disk enheden!";
    while (!run->abort && !free_space(g_settings.move_drive, &run->free, &run->total)) {
        char text[KIRO_PATH_SIZE];
        if (run->removable) {
            format_text(text, sizeof text, "%s\nIndsæt flyt-enhed nr. %i. ", first, 1);
            if (ask(run, text, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK) {
                run->abort = true;
            } else {
                clear_disk_in_drive(run);
            }
        } else {
            format_text(text, sizeof text, "%s  '%s'\nKopiering af dataene stopper!", first,
                        g_settings.move_drive);
            ask(run, text, MB_OK | MB_ICONINFORMATION);
            run->abort = true;
        }
    }
}

static void check_space(DeviceRun *run)
{
    run->archive_size = file_size(run->archive);
    DWORD reserve = disk_reserve(cluster_size(g_settings.move_drive));
    if (run->removable) {
        run->room = volume_room(run->free.QuadPart, reserve);
        unsigned n = disk_count(run->archive_size, run->room);
        if (n == 0 || n > 255) {
            /* No usable disk count: the disk is too small for even a piece
               of the archive beside its transfer file. */
            ask(run,
                "Der er ikke plads nok på disk enheden til at flytte dataene.\n"
                "Benyt en disk enhed med mere ledig plads.",
                MB_OK | MB_ICONINFORMATION);
            run->abort = true;
            return;
        }
        run->n = n;
        if (n > 1) {
            if (run->free.QuadPart != run->total.QuadPart) {
                ask(run,
                    "Disk enheden er ikke tom og der er ikke plads nok til data'ene."
                    "\nSlet indholdet på disk enheden eller benyt en anden tom disk enhed.",
                    MB_OK | MB_ICONINFORMATION);
                run->abort = true;
            } else {
                char text[KIRO_PATH_SIZE];
                format_text(text, sizeof text,
                            "Der skal bruges %i tomme disk enheder til at flytte dataene!\n\n"
                            "Vil du fortsætte?", (int)n);
                if (ask(run, text, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
                    run->abort = true;
            }
        }
    } else {
        run->n = 1;
        if (run->free.QuadPart < (ULONGLONG)run->archive_size + reserve) {
            ask(run,
                "Der er ikke lager plads nok til dataene.\n"
                "Skab noget mere plads eller reducere perioden i KIRO",
                MB_OK | MB_ICONINFORMATION);
            run->abort = true;
        }
    }
}

/* Bytes of volume i. */
static DWORD volume_length(const DeviceRun *run)
{
    return planned_volume_size(run->archive_size, run->room, run->n, run->i);
}

static int step_identify(DeviceRun *run)
{
    if (!run->removable)
        return 4;
    if (run->i > 1 || run->ask_first_disk) {
        char text[64];
        format_text(text, sizeof text, "Indsæt flyt-enhed nr. %u. ", run->i);
        if (ask(run, text, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK) {
            run->abort = true;
            return 1;
        }
    }
    char label[260];
    if (read_volume_label(label, g_settings.move_drive))
        return 2;
    run->ask_first_disk = true;   /* a way out for disk 1 too */
    return 1;
}

static int step_check_number(DeviceRun *run)
{
    if (file_access(g_transfer_file) == 0 && run->i > 1) {
        TransferInfo info;
        read_transfer_info(g_transfer_file, &info);
        if (disk_already_written(info.disk_number, run->i)) {
            char text[KIRO_PATH_SIZE];
            format_text(text, sizeof text,
                        "Disk enheden er ikke nr %u.\nIndsæt disk enhed nr. %u eller en ny og tryk OK",
                        run->i, run->i);
            if (message_box(run->dialog, text, INFORMATION, MB_OKCANCEL | MB_ICONWARNING) != IDOK)
                run->abort = true;
            return 2;
        }
    }
    if (!may_clear_disk(run))
        return 2;
    return 3;
}

static int step_check_empty(DeviceRun *run)
{
    if (run->n <= 1)
        return 4;
    progress_status(run->dialog, "Undersøger enheds plads!");
    delete_tree(g_transfer_dir);
    if (!free_space(g_settings.move_drive, &run->free, &run->total)) {
        error_box(NULL, MB_ICONINFORMATION);
        run->abort = true;
        return 3;
    }
    if (run->free.QuadPart != run->total.QuadPart) {
        if (ask(run,
                "Disk enheden er ikke en tom."
                "\nSlet indholdet på disk enheden eller benyt en anden tom enhed.",
                MB_RETRYCANCEL | MB_ICONINFORMATION) != IDRETRY)
            run->abort = true;
        return 2;   /* the disk now in the drive is checked from its number on */
    }
    DWORD room = volume_room(run->free.QuadPart, disk_reserve(cluster_size(g_settings.move_drive)));
    if (room < volume_length(run)) {
        if (ask(run,
                "Disk enheden er for lille til sin del af dataene."
                "\nBenyt en anden tom disk enhed, der er mindst lige så stor som den første.",
                MB_RETRYCANCEL | MB_ICONINFORMATION) != IDRETRY)
            run->abort = true;
        return 2;
    }
    return 4;
}

static int step_make_directory(DeviceRun *run)
{
    if (!make_directory(g_transfer_dir)) {
        char error[256], text[2 * KIRO_PATH_SIZE];
        system_error_text(error, sizeof error);
        format_text(text, sizeof text, "Kan ikke oprette kataloget: %s\n%s", g_transfer_dir, error);
        ask(run, text, MB_OK | MB_ICONINFORMATION);
        run->abort = true;
        return 4;
    }
    return 5;
}

static int step_write_test(DeviceRun *run)
{
    char test_file[KIRO_PATH_SIZE];
    write_test_path(test_file, sizeof test_file, g_transfer_dir);
    if (run->removable) {
        FILE *f = fopen(test_file, "w");
        if (!f) {
            char error[256], text[KIRO_PATH_SIZE];
            system_error_text(error, sizeof error);
            format_text(text, sizeof text,
                        "Der kan ikke skrives til disk enheden, fjern evt. skrivebeskyttelsen!\n%s", error);
            if (error_box(text, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
                run->abort = true;
            return 1;
        }
        fclose(f);
    }
    DeleteFileA(test_file);
    return 6;
}

static int step_write_volume(DeviceRun *run)
{
    progress_step(run->dialog, IDC_OVERALL_BAR);
    char volume[KIRO_PATH_SIZE];
    volume_path(volume, sizeof volume, g_transfer_dir, run->i);
    DWORD wanted = run->n > 1 ? volume_length(run) : run->archive_size;
    DWORD written = copy_with_progress(run->dialog, run->archive, volume,
                                       run->n > 1 ? run->offset : 0, run->n > 1 ? wanted : 0, "wb");
    if (written == 0 || written != wanted) {
        char error[256], text[2 * KIRO_PATH_SIZE];
        system_error_text(error, sizeof error);
        format_text(text, sizeof text, "Der opstod en fejl under kopiering af filen: %s\n%s",
                    run->archive, error);
        error_box(text, MB_ICONWARNING);
        run->abort = true;
    } else {
        run->offset += written;
        if (!write_transfer_info(g_transfer_file, g_settings.installation, g_settings.version,
                                 run->i, run->n)) {
            char error[256], text[2 * KIRO_PATH_SIZE];
            system_error_text(error, sizeof error);
            format_text(text, sizeof text, "Kan ikke skrive filen: %s\n%s", g_transfer_file, error);
            error_box(text, MB_ICONWARNING);
            run->abort = true;
        } else {
            progress_step(run->dialog, IDC_OVERALL_BAR);
        }
    }
    run->i++;
    return 1;
}

static void run_disk_step(DeviceRun *run)
{
    switch (run->step) {
    case 1: run->step = step_identify(run); break;
    case 2: run->step = step_check_number(run); break;
    case 3: run->step = step_check_empty(run); break;
    case 4: run->step = step_make_directory(run); break;
    case 5: run->step = step_write_test(run); break;
    default: run->step = step_write_volume(run); break;
    }
}

static void show_completion(const DeviceRun *run)
{
    char text[512];
    copy_text(text, sizeof text, "Så er filerne kopieret til disk enheden!");
    if (run->previous_version != 0 && run->previous_version < (int)g_settings.version) {
        append_text(text, sizeof text, "\n\nOBS!  Den KIRO-version der er på din anden PC er ældre");
        append_text(text, sizeof text, "\nend den du kopierer dataene fra.");
        append_text(text, sizeof text, "\nDu skal oprette en ny installationsenhed og opgradere den anden PC!");
    }
    message_box(NULL, text, INFORMATION, MB_OK | MB_ICONINFORMATION);
}

bool write_transfer_disks(HWND dialog)
{
    UINT mode = quiet_drive_begin();
    DeviceRun run;
    memset(&run, 0, sizeof run);
    run.dialog = dialog;
    run.n = 1;
    run.i = 1;
    run.step = 1;
    run.removable = drive_type(g_settings.move_drive) == DRIVE_REMOVABLE;
    move_archive_path(run.archive, sizeof run.archive, g_settings.data_dir);
    progress_status(dialog, "Undersøger disk plads!");

    clear_disk_in_drive(&run);
    wait_for_readable_drive(&run);

    progress_set_phase(dialog, PHASE_COPYING);
    if (!run.abort)
        check_space(&run);

    progress_set_range(dialog, IDC_OVERALL_BAR, 2 * run.n + 2);
    progress_set_pos(dialog, IDC_OVERALL_BAR, 0);
    progress_step(dialog, IDC_OVERALL_BAR);

    while (run.i <= run.n && !run.abort)
        run_disk_step(&run);

    bool completed = !run.abort;
    if (!completed) {
        if (!run.keep_disk && !live_set_in_drive())
            delete_tree(g_transfer_dir);
    } else {
        progress_fill(dialog, IDC_OVERALL_BAR);
        show_completion(&run);
        if (strcmp(g_settings.super_setting, "nej") == 0 && !write_schedule_locked(true)) {
            char text[2 * KIRO_PATH_SIZE];
            format_text(text, sizeof text,
                        "Kan ikke skrive til filen: %s\nKIRO-skema er ikke blevet låst på denne PC!",
                        g_settings.config_path);
            error_box(text, MB_ICONERROR);
        }
    }
    DeleteFileA(run.archive);
    quiet_drive_end(mode);
    return completed;
}

/* ------------------------------------------------------------------ */

INT_PTR CALLBACK move_to_device_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        g_progress_phase = PHASE_PACKING;
        progress_init(dialog, &g_device_start_pending);
        break;
    case WM_PAINT:
        progress_paint(dialog, phase_caption(g_progress_phase), phase_heading(g_progress_phase), true,
                       &g_device_start_pending, WM_START_PACKING);
        break;
    case WM_START_PACKING:
        if (pack_move_archive(dialog))
            SendMessageA(dialog, WM_START_DISKS, 0, 0);
        else
            EndDialog(dialog, 2);
        break;
    case WM_START_DISKS:
        write_transfer_disks(dialog);
        EndDialog(dialog, 2);
        break;
    }
    return 0;
}

void run_move_to_device(HWND owner)
{
    run_progress_dialog(owner, move_to_device_proc);
}
