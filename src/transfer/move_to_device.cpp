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
 *
 * A disk stays the same disk from its identification to its last write:
 * its volume serial and the volume's length are compared after the volume
 * and after the transfer file are written, and both are flushed to the
 * device before the next question. A disk changed in between is asked for
 * again. Once both are on the device the volume is read back whole, past
 * the system's cache, and its CRC-32 compared with the one summed while it
 * was written: a disk that gives back other bytes is faulty and ends the
 * run before anything is locked. When every disk is written the set is
 * made live as move_out_ending.h describes: this PC locked first, the user
 * told afterwards; a lock that cannot be written takes the set's claim
 * back.
 *
 * Before locking, the data directory is compared with what was packed
 * (every file's name, length and last-write time, and which files there
 * were): a station that started and ended the schedule program while the
 * disks were swapped has changed the data after they were packed, and its
 * work would be lost. Then nothing is locked and the set is withdrawn.
 * Every set carries an identity on all its disks, so a set this PC took
 * back or withdrew is recognised on any of them.
 */
#include "transfer/move_to_device.h"
#include "transfer/move_packing.h"
#include "transfer/move_out_ending.h"
#include "transfer/transfer_set.h"
#include "support/settings.h"
#include "support/disk_utils.h"
#include "support/drives.h"
#include "support/error_text.h"
#include "support/file_probe.h"
#include "support/message_box.h"
#include "support/progress.h"
#include "support/text.h"
#include "resource.h"

#include <stdio.h>
#include <string.h>

static bool g_device_start_pending = false;
static const ProgressLook DEVICE_LOOK = { NULL, NULL, PHASE_PACKING, MSG_PACK_STAGE };

static const char *const INFORMATION = "Information";

/* ------------------------------------------------------------------ */
/* Disk stage                                                          */

/* The steps of one disk, in the order the move has always numbered them. */
enum DiskStep {
    STEP_IDENTIFY = 1,         /* disk i asked for (after the first) and read */
    STEP_CHECK_NUMBER = 2,     /* not an earlier disk of this set; no other PC's live set */
    STEP_CHECK_EMPTY = 3,      /* empty and big enough for its volume (several disks) */
    STEP_MAKE_DIRECTORY = 4,   /* the transfer directory */
    STEP_WRITE_TEST = 5,       /* the disk takes a file */
    STEP_WRITE_VOLUME = 6      /* the volume and the transfer file, proven */
};

struct DeviceRun {
    HWND dialog;
    bool abort;
    bool keep_disk;          /* the disk in the drive holds a set the user chose to keep */
    bool restart;            /* disk 1 is identified anew ... */
    bool restart_ask;        /* ... after asking for it */
    const char *ask_reason;  /* first line of the next question for a disk, or NULL */
    bool removable;
    unsigned n;              /* disks of the move */
    unsigned i;              /* disk being written */
    DiskStep step;
    ULONGLONG offset;        /* archive bytes on earlier disks */
    ULONGLONG archive_size;
    DWORD room;              /* length of every volume but the last (a FAT32 stick takes 4 GB - 1) */
    SetTotals totals;        /* written on every disk for the taking PC's room check */
    ULARGE_INTEGER free;
    ULARGE_INTEGER total;
    int previous_version;
    bool has_serial;         /* the disk being written, as identified */
    DWORD serial;
    char data_dir[KIRO_PATH_SIZE];
    char archive[KIRO_PATH_SIZE];
    char set_id[40];         /* written on every disk of this set */
    char finished_id[40];    /* the set this PC last took back or withdrew */
};

static const char *const UNREADABLE_DRIVE = "Kan ikke læse fra disk enheden!";
static const char *const DISK_CHANGED = "Disk enheden blev skiftet, mens der blev skrevet på den.";
static int ask(DeviceRun *run, const char *text, UINT style)
{
    return message_box(run->dialog, text, INFORMATION, style);
}

/* The transfer file of the disk in the drive, read into info; false
   when there is none, and in a super installation, which never marks a
   set stale and so has no live set to guard. */
static bool guarded_set_in_drive(TransferInfo *info)
{
    if (strcmp(g_settings.super_setting, "nej") != 0 || (file_access(g_transfer_file) & ACCESS_MISSING))
        return false;
    read_transfer_info(g_transfer_file, info);
    return true;
}

/* Before the transfer directory of a disk is removed: a set of this
   installation that still holds live data ("skemalåst"="nej") is the only
   copy of another PC's schedule, so it is removed only when the user says
   so. */
static bool may_clear_disk(DeviceRun *run)
{
    TransferInfo info;
    if (!guarded_set_in_drive(&info))
        return true;
    /* An unmarked set of this run is one this run has not finished; any
       other may be the only copy of some PC's data. */
    bool unmarked = set_is_unmarked(&info, g_settings.installation) && strcmp(info.set_id, run->set_id) != 0;
    if ((!set_is_live(&info, g_settings.installation) && !unmarked) || set_known_finished(&info, run->finished_id))
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
static bool live_set_in_drive(const DeviceRun *run)
{
    TransferInfo info;
    return guarded_set_in_drive(&info) && set_is_live(&info, g_settings.installation) &&
           !set_known_finished(&info, run->finished_id);
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
    while (!run->abort && !free_space(g_settings.move_drive, &run->free, &run->total)) {
        char text[KIRO_PATH_SIZE];
        if (run->removable) {
            format_text(text, sizeof text, "%s\nIndsæt flyt-enhed nr. %i. ", UNREADABLE_DRIVE, 1);
            if (ask(run, text, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK) {
                run->abort = true;
            } else {
                clear_disk_in_drive(run);
            }
        } else {
            format_text(text, sizeof text, "%s  '%s'\nKopiering af dataene stopper!", UNREADABLE_DRIVE,
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
            if (!disk_is_empty(g_settings.move_drive)) {
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
        if (run->free.QuadPart < run->archive_size + reserve) {
            ask(run,
                "Der er ikke lager plads nok til dataene.\n"
                "Skab noget mere plads eller reducere perioden i KIRO",
                MB_OK | MB_ICONINFORMATION);
            run->abort = true;
        }
    }
}

/* Disk 1, as it is now in the drive: its previous set, its free space and
   with it the number of disks. Run at the start and whenever disk 1 has to
   be inserted again, so nothing is taken over from a disk taken out. */
static void identify_first_disk(DeviceRun *run)
{
    run->n = 1;
    run->i = 1;
    run->step = STEP_IDENTIFY;
    run->offset = 0;
    run->ask_reason = NULL;
    clear_disk_in_drive(run);
    wait_for_readable_drive(run);
    progress_set_phase(run->dialog, PHASE_COPYING);
    if (!run->abort)
        check_space(run);
    progress_set_range(run->dialog, IDC_OVERALL_BAR, 2 * run->n + 2);
    progress_set_pos(run->dialog, IDC_OVERALL_BAR, 0);
    progress_step(run->dialog, IDC_OVERALL_BAR);
}

/* The disk being written has to be inserted again (asked for, with a
   first line saying why when reason is given): disk 1 is identified anew
   from the top, a later disk from its step 1, where it is asked for. */
static DiskStep insert_again(DeviceRun *run, bool ask, const char *reason)
{
    run->ask_reason = reason;
    if (run->i == 1) {
        run->restart = true;
        run->restart_ask = ask;
    }
    return STEP_IDENTIFY;
}

/* Bytes of volume i. */
static ULONGLONG volume_length(const DeviceRun *run)
{
    return planned_volume_size(run->archive_size, run->room, run->n, run->i);
}

/* Asks for disk i, with the first line of the reason when there is one;
   false when the user cancels. */
static bool ask_for_disk(DeviceRun *run)
{
    char text[KIRO_PATH_SIZE];
    if (run->ask_reason)
        format_text(text, sizeof text, "%s\nIndsæt flyt-enhed nr. %u. ", run->ask_reason, run->i);
    else
        format_text(text, sizeof text, "Indsæt flyt-enhed nr. %u. ", run->i);
    run->ask_reason = NULL;
    if (ask(run, text, MB_OKCANCEL | MB_ICONINFORMATION) == IDOK)
        return true;
    run->abort = true;
    return false;
}

static DiskStep step_identify(DeviceRun *run)
{
    if (!run->removable) {
        run->has_serial = read_volume_serial(g_settings.move_drive, &run->serial);
        return STEP_MAKE_DIRECTORY;
    }
    if (run->i > 1 && !ask_for_disk(run))
        return STEP_IDENTIFY;
    char label[260];
    if (!read_volume_label(label, g_settings.move_drive))
        return insert_again(run, true, NULL);   /* a way out for disk 1 too */
    run->has_serial = read_volume_serial(g_settings.move_drive, &run->serial);
    return STEP_CHECK_NUMBER;
}

static DiskStep step_check_number(DeviceRun *run)
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
            return STEP_CHECK_NUMBER;
        }
    }
    if (!may_clear_disk(run))
        return STEP_CHECK_NUMBER;
    return STEP_CHECK_EMPTY;
}

static DiskStep step_check_empty(DeviceRun *run)
{
    if (run->n <= 1)
        return STEP_MAKE_DIRECTORY;
    progress_status(run->dialog, "Undersøger enheds plads!");
    delete_tree(g_transfer_dir);
    if (!free_space(g_settings.move_drive, &run->free, &run->total)) {
        error_box(NULL, MB_ICONINFORMATION);
        run->abort = true;
        return STEP_CHECK_EMPTY;
    }
    if (!disk_is_empty(g_settings.move_drive)) {
        if (ask(run,
                "Disk enheden er ikke en tom."
                "\nSlet indholdet på disk enheden eller benyt en anden tom enhed.",
                MB_RETRYCANCEL | MB_ICONINFORMATION) != IDRETRY)
            run->abort = true;
        return STEP_CHECK_NUMBER;   /* the disk now in the drive is checked from its number on */
    }
    DWORD room = volume_room(run->free.QuadPart, disk_reserve(cluster_size(g_settings.move_drive)));
    if (room < volume_length(run)) {
        if (ask(run,
                "Disk enheden er for lille til sin del af dataene."
                "\nBenyt en anden tom disk enhed, der er mindst lige så stor som den første.",
                MB_RETRYCANCEL | MB_ICONINFORMATION) != IDRETRY)
            run->abort = true;
        return STEP_CHECK_NUMBER;
    }
    return STEP_MAKE_DIRECTORY;
}

/* The disk cannot be written: OK identifies the disk now in the drive
   again, Cancel ends the run. */
static DiskStep write_protected(DeviceRun *run)
{
    char error[256], text[KIRO_PATH_SIZE];
    system_error_text(error, sizeof error);
    format_text(text, sizeof text,
                "Der kan ikke skrives til disk enheden, fjern evt. skrivebeskyttelsen!\n%s", error);
    if (error_box(text, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK) {
        run->abort = true;
        return STEP_IDENTIFY;
    }
    return insert_again(run, false, NULL);   /* OK was the answer for the disk now in */
}

static DiskStep step_make_directory(DeviceRun *run)
{
    bool made = make_directory(g_transfer_dir) != 0;
    if (made && is_directory_link(g_transfer_dir)) {
        /* A link that could not be removed: the set would land wherever it
           points, not on the disk. */
        SetLastError(ERROR_ALREADY_EXISTS);
        made = false;
    } else if (!made && run->removable) {
        /* The disk can be read but takes nothing: write-protected, as far
           as the user can do anything about it. Another disk may be put in. */
        return write_protected(run);
    }
    if (!made) {
        char error[256], text[2 * KIRO_PATH_SIZE];
        system_error_text(error, sizeof error);
        format_text(text, sizeof text, "Kan ikke oprette kataloget: %s\n%s", g_transfer_dir, error);
        ask(run, text, MB_OK | MB_ICONINFORMATION);
        run->abort = true;
        return STEP_MAKE_DIRECTORY;
    }
    /* The transfer directory's own name lives in the folder above it (the
       disk's root): without this, a power cut after the set was written
       and the PC locked could take the whole set with it. */
    flush_parent_directory(g_transfer_dir);
    return STEP_WRITE_TEST;
}

static DiskStep step_write_test(DeviceRun *run)
{
    char test_file[KIRO_PATH_SIZE];
    write_test_path(test_file, sizeof test_file, g_transfer_dir);
    if (run->removable) {
        FILE *f = fopen(test_file, "w");
        if (!f)
            return write_protected(run);
        fclose(f);
    }
    DeleteFileA(test_file);
    return STEP_WRITE_VOLUME;
}

/* The disk in the drive shows another volume serial than the one
   identified for disk i (when the system tells serials at all). */
static bool serial_changed(const DeviceRun *run)
{
    DWORD serial;
    return run->has_serial && (!read_volume_serial(g_settings.move_drive, &serial) || serial != run->serial);
}

/* What the disk in the drive gives back of volume i, read whole past the
   system's cache and compared with the length and CRC-32 summed as it was
   written. */
enum VolumeCheck {
    VOLUME_AS_WRITTEN,
    VOLUME_GONE,          /* missing or of another length: another disk is in */
    VOLUME_OTHER_BYTES    /* the same disk gives back other bytes: it is faulty */
};

static VolumeCheck check_volume(const DeviceRun *run, const char *volume, ULONGLONG length, unsigned long crc)
{
    unsigned long long size = 0;
    unsigned long sum = 0;
    ReadBack read = read_back_crc32(run->dialog, volume, &size, &sum);
    if (read == READ_BACK_MISSING || (read == READ_BACK_DONE && size != length))
        return VOLUME_GONE;
    return read == READ_BACK_DONE && sum == crc ? VOLUME_AS_WRITTEN : VOLUME_OTHER_BYTES;
}

static void copy_failed(DeviceRun *run)
{
    char error[256], text[2 * KIRO_PATH_SIZE];
    system_error_text(error, sizeof error);
    format_text(text, sizeof text, "Der opstod en fejl under kopiering af filen: %s\n%s", run->archive, error);
    error_box(text, MB_ICONWARNING);
    run->abort = true;
}

static void transfer_file_failed(DeviceRun *run)
{
    report_transfer_file_failed();
    run->abort = true;
}

/* Disk i gave back other bytes than were written to it (a failing stick,
   or a counterfeit one that reports more room than it has): the run ends,
   nothing is locked, and what it holds is removed (or, where that fails,
   marked withdrawn) so that no PC takes it for data. */
static DiskStep disk_faulty(DeviceRun *run)
{
    delete_tree(g_transfer_dir);
    bool gone = (file_access(g_transfer_file) & ACCESS_MISSING) != 0 || write_transfer_withdrawn(g_transfer_file);
    char text[3 * KIRO_PATH_SIZE];
    format_text(text, sizeof text,
                "Disk enhed nr. %u er defekt: de data, der blev læst tilbage fra den, er ikke de samme, "
                "som der blev skrevet.\n"
                "KIRO-skema er ikke blevet låst på denne PC, og dataene på den er stadig de gældende.\n%s\n\n"
                "Flyt dataene igen med en anden disk enhed.",
                run->i, gone ? "Dataene på disk enheden er fjernet." : g_not_withdrawn_text);
    error_box(text, MB_ICONERROR);
    run->abort = true;
    run->keep_disk = true;   /* nothing more is removed from it */
    return STEP_IDENTIFY;
}

/* Volume i and its transfer file, each on the device before the next
   question; then the volume is read back whole from the disk. A disk that
   was changed while it was written is not taken: what landed on the disk
   now in the drive is removed and disk i is asked for again. A disk that
   gives back other bytes ends the run. */
static DiskStep step_write_volume(DeviceRun *run)
{
    progress_step(run->dialog, IDC_OVERALL_BAR);
    char volume[KIRO_PATH_SIZE];
    volume_path(volume, sizeof volume, g_transfer_dir, run->i);
    ULONGLONG offset = run->n > 1 ? run->offset : 0;
    ULONGLONG wanted = run->n > 1 ? volume_length(run) : run->archive_size;
    unsigned long crc = 0;
    ULONGLONG written =
        copy_with_progress(run->dialog, run->archive, volume, offset, run->n > 1 ? wanted : 0, "wb", &crc);
    if (serial_changed(run))
        return insert_again(run, true, DISK_CHANGED);
    if (written != wanted) {
        copy_failed(run);
        return STEP_IDENTIFY;
    }
    if (file_size(volume) != wanted)
        return insert_again(run, true, DISK_CHANGED);
    if (!flush_file(volume)) {
        copy_failed(run);
        return STEP_IDENTIFY;
    }
    /* The last disk's set becomes live only once this PC is locked. */
    bool transfer_file_written =
        run->i < run->n
            ? write_transfer_info(g_transfer_file, g_settings.installation, g_settings.version, run->i, run->n,
                                  run->set_id, &run->totals)
            : write_transfer_info_unmarked(g_transfer_file, g_settings.installation, g_settings.version, run->i,
                                           run->n, run->set_id, &run->totals);
    VolumeCheck check = serial_changed(run) ? VOLUME_GONE : check_volume(run, volume, wanted, crc);
    if (check == VOLUME_GONE) {
        DeleteFileA(g_transfer_file);   /* it went onto the disk now in the drive */
        return insert_again(run, true, DISK_CHANGED);
    }
    if (check == VOLUME_OTHER_BYTES)
        return disk_faulty(run);
    if (!transfer_file_written) {
        transfer_file_failed(run);
        return STEP_IDENTIFY;
    }
    progress_step(run->dialog, IDC_OVERALL_BAR);
    run->offset += written;
    run->i++;
    return STEP_IDENTIFY;
}

static void run_disk_step(DeviceRun *run)
{
    switch (run->step) {
    case STEP_IDENTIFY:       run->step = step_identify(run); break;
    case STEP_CHECK_NUMBER:   run->step = step_check_number(run); break;
    case STEP_CHECK_EMPTY:    run->step = step_check_empty(run); break;
    case STEP_MAKE_DIRECTORY: run->step = step_make_directory(run); break;
    case STEP_WRITE_TEST:     run->step = step_write_test(run); break;
    case STEP_WRITE_VOLUME:   run->step = step_write_volume(run); break;
    }
}

/* Disk 1 once more, from its identification on. */
static void start_again_with_first_disk(DeviceRun *run)
{
    run->restart = false;
    if (run->restart_ask && !ask_for_disk(run))
        return;
    identify_first_disk(run);
}

bool write_transfer_disks(HWND dialog)
{
    UINT mode = quiet_drive_begin();
    DeviceRun run;
    memset(&run, 0, sizeof run);
    run.dialog = dialog;
    run.removable = drive_type(g_settings.move_drive) == DRIVE_REMOVABLE;
    if (!full_data_dir(run.data_dir, sizeof run.data_dir))
        copy_text(run.data_dir, sizeof run.data_dir, g_settings.data_dir);
    move_archive_path(run.archive, sizeof run.archive, run.data_dir);
    packed_totals(&run.totals);
    run.totals.packed = file_size(run.archive);
    new_set_id(run.set_id, sizeof run.set_id);
    read_finished_set(run.finished_id, sizeof run.finished_id);
    progress_status(dialog, "Undersøger disk plads!");

    /* The schedule program may have been started while the data were packed. */
    if (schedule_in_use()) {
        report_schedule_in_use(dialog);
        DeleteFileA(run.archive);
        quiet_drive_end(mode);
        return false;
    }

    identify_first_disk(&run);
    while (!run.abort) {
        while (run.i <= run.n && !run.abort && !run.restart)
            run_disk_step(&run);
        if (!run.restart)
            break;
        start_again_with_first_disk(&run);
    }

    bool completed = !run.abort;
    if (!completed) {
        if (!run.keep_disk && !live_set_in_drive(&run))
            delete_tree(g_transfer_dir);
    } else {
        completed = make_written_set_live(dialog, run.data_dir, run.set_id);
    }
    DeleteFileA(run.archive);
    if (completed) {
        progress_fill(dialog, IDC_OVERALL_BAR);
        show_move_out_completion(run.previous_version);
    }
    quiet_drive_end(mode);
    return completed;
}

/* ------------------------------------------------------------------ */

INT_PTR CALLBACK move_to_device_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case MSG_PACK_STAGE:
        if (pack_move_archive(dialog))
            SendMessageA(dialog, MSG_DISK_STAGE, 0, 0);
        else
            EndDialog(dialog, 2);
        break;
    case MSG_DISK_STAGE:
        write_transfer_disks(dialog);
        EndDialog(dialog, 2);
        break;
    default:
        progress_dialog_message(dialog, message, &DEVICE_LOOK, &g_device_start_pending);
        break;
    }
    return 0;
}

void run_move_to_device(HWND owner)
{
    run_progress_dialog(owner, move_to_device_proc);
}
