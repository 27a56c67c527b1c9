/*
 * Move the schedule data back to the hard disk (see move_to_hard_disk.h).
 *
 * The archive names its entries by the source PC's full paths. Here every
 * entry is placed by its last folder ("data" or "ini") and file name under
 * this PC's data directory instead, and nothing is written before the
 * joined archive has been read whole with every CRC checked and every
 * entry has been found a place.
 */
#include "transfer/move_to_hard_disk.h"
#include "transfer/transfer_set.h"
#include "shell/settings.h"
#include "support/disk_utils.h"
#include "support/file_probe.h"
#include "support/message_box.h"
#include "support/progress.h"
#include "support/text.h"
#include "support/zip_utils.h"
#include "resource.h"

#include "unzip.h"

#include <string.h>

static bool g_hard_disk_start_pending = false;

static const char *const INFORMATION = "Information";

bool archive_entries_placeable(const char *archive, const char *data_dir, char *refused,
                               size_t refused_size)
{
    copy_text(refused, refused_size, "");
    unzFile zip = unzOpen(archive);
    if (!zip)
        return false;
    bool placeable = true;
    int status = unzGoToFirstFile(zip);
    while (status == UNZ_OK) {
        char name[KIRO_PATH_SIZE];
        unz_file_info info;
        if (unzGetCurrentFileInfo(zip, &info, name, sizeof name, NULL, 0, NULL, 0) != UNZ_OK
            || info.size_filename >= sizeof name) {
            placeable = false;
            break;
        }
        char target[KIRO_PATH_SIZE];
        if (!place_transfer_entry(name, target, sizeof target, (void *)data_dir)) {
            copy_text(refused, refused_size, name);
            placeable = false;
            break;
        }
        status = unzGoToNextFile(zip);
    }
    if (status != UNZ_OK && status != UNZ_END_OF_LIST_OF_FILE)
        placeable = false;
    unzClose(zip);
    return placeable;
}

static void unpack_failed(const char *name)
{
    char text[KIRO_PATH_SIZE + 64];
    format_text(text, sizeof text, "Kan ikke udpakke filen: %s", name);
    error_box(text, MB_ICONWARNING);
}

static unsigned char disk_number_in_drive(void)
{
    return (unsigned char)GetPrivateProfileIntA("global", "disknr", 0, g_transfer_file);
}

int join_and_unpack(HWND dialog)
{
    const char *d = g_settings.data_dir;
    unsigned char count =
        (unsigned char)GetPrivateProfileIntA("global", "antaldiske", 0, g_transfer_file);
    unsigned char in_drive = disk_number_in_drive();

    static const char *const work_files[] = { "exp.dat", "exp.dat.gz", "imp.dat", "imp.dat.gz" };
    char path[KIRO_PATH_SIZE];
    for (size_t k = 0; k < sizeof work_files / sizeof work_files[0]; k++) {
        if (format_text(path, sizeof path, "%sdata\\%s", d, work_files[k]))
            DeleteFileA(path);
    }
    char archive[KIRO_PATH_SIZE];
    move_archive_path(archive, sizeof archive, d);
    DeleteFileA(archive);

    for (unsigned p = 1; p <= count; p++) {
        char volume[KIRO_PATH_SIZE];
        volume_path(volume, sizeof volume, g_transfer_dir, p);
        while (in_drive != p) {
            char text[64];
            format_text(text, sizeof text, "Indsæt disk enhed nr: %u i drevet!", p);
            if (message_box(dialog, text, INFORMATION, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
                return 0;
            in_drive = disk_number_in_drive();
        }
        SendMessageA(dialog, WM_PAINT, 0, 0);
        progress_step(dialog, IDC_OVERALL_BAR);
        if (copy_with_progress(dialog, volume, archive, 0, 0, "ab") == 0) {
            char error[256], text[2 * KIRO_PATH_SIZE];
            system_error_text(error, sizeof error);
            format_text(text, sizeof text, "Kan ikke kopiere filen: %s\n%s", volume, error);
            error_box(text, MB_ICONWARNING);
            return 0;
        }
        progress_step(dialog, IDC_OVERALL_BAR);
    }

    progress_set_phase(dialog, PHASE_UNPACKING);
    /* Nothing of the data directory is touched unless the whole archive
       reads back intact and every entry has its place here. */
    if (test_archive(archive) != 0) {
        unpack_failed(archive);
        return 0;
    }
    char refused[KIRO_PATH_SIZE];
    if (!archive_entries_placeable(archive, d, refused, sizeof refused)) {
        unpack_failed(refused[0] ? refused : archive);
        return 0;
    }
    if (unzip_archive_placed(archive, d, place_transfer_entry, (void *)d) != 0) {
        unpack_failed(archive);
        return 0;
    }
    DeleteFileA(archive);
    progress_fill(dialog, IDC_OVERALL_BAR);

    if (strcmp(g_settings.super_setting, "nej") == 0
        && !write_transfer_locked(g_transfer_file, "ja")) {
        /* The disk would keep claiming to hold the live data: stay locked
           so that the data stay live in one place only (the configuration
           just unpacked is the other PC's, which is not locked). */
        char error[256], text[2 * KIRO_PATH_SIZE];
        system_error_text(error, sizeof error);
        write_schedule_locked(true);
        format_text(text, sizeof text, "Kan ikke skrive filen: %s\n%s", g_transfer_file, error);
        error_box(text, MB_ICONWARNING);
        return 0;
    }
    return 1;
}

bool take_back_transfer_set(HWND dialog)
{
    UINT mode = quiet_drive_begin();
    bool done = false;
    progress_bar_backgrounds(dialog);
    progress_set_phase(dialog, g_progress_phase);

    unsigned char access = file_access(g_transfer_file);
    TransferInfo info;
    read_transfer_info(g_transfer_file, &info);
    SetVerdict verdict = judge_transfer_set(access, &info, g_settings.installation, g_settings.version);
    char text[2 * KIRO_PATH_SIZE];
    if (verdict == SET_UNREADABLE) {
        format_text(text, sizeof text,
                    "Kan ikke læse filen: %s fra disk enheden!\nEller enheden er ikke en KIRO enhed!",
                    g_transfer_file);
        message_box(dialog, text, INFORMATION, MB_OK | MB_ICONINFORMATION);
        quiet_drive_end(mode);
        return false;
    }
    progress_set_range(dialog, IDC_OVERALL_BAR, 2UL * (unsigned char)info.disk_count + 2);
    progress_step(dialog, IDC_OVERALL_BAR);

    if (verdict == SET_OTHER_INSTALLATION) {
        message_box(dialog, "Data-filerne på disk enheden tilhører ikke denne installation", "Fejl",
                    MB_OK | MB_ICONERROR);
    } else if (verdict == SET_OTHER_VERSION) {
        format_text(text, sizeof text,
                    "Data-filerne på disk enheden er fra en program-version %i og\n"
                    "programmet data'ene installeres til, er af en version %i.\n\n"
                    "Du kan derfor ikke installere denne version af data!",
                    info.version, (int)g_settings.version);
        message_box(dialog, text, "Fejl", MB_OK | MB_ICONERROR);
    } else if (set_is_stale(&info)
               && message_box(dialog,
                              "Data-filerne på disk enheden er allerede flyttet til en harddisk og "
                              "kan være forældede.\n\nEr du sikker på du vil installere dem?",
                              "Advarsel!", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES) {
        /* the user keeps the data that are here */
    } else if (join_and_unpack(dialog) == 1) {
        if (write_schedule_locked(false)) {
            done = true;
            message_box(NULL, "Så er filerne kopieret til harddisken!", INFORMATION,
                        MB_OK | MB_ICONINFORMATION);
        } else {
            /* The schedule stays locked here: give the disk its claim on the
               live data back, so that they stay live in one place. */
            if (strcmp(g_settings.super_setting, "nej") == 0)
                write_transfer_locked(g_transfer_file, "nej");
            format_text(text, sizeof text,
                        "Kan ikke skrive til filen: %s\nKIRO-skema er stadig låst på denne PC!",
                        g_settings.config_path);
            error_box(text, MB_ICONERROR);
        }
    }
    quiet_drive_end(mode);
    return done;
}

INT_PTR CALLBACK move_to_hard_disk_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        g_progress_phase = PHASE_COPYING;
        progress_init(dialog, &g_hard_disk_start_pending);
        break;
    case WM_PAINT:
        progress_paint(dialog, phase_caption(g_progress_phase), phase_heading(g_progress_phase), true,
                       &g_hard_disk_start_pending, WM_START_DISKS);
        break;
    case WM_START_DISKS:
        take_back_transfer_set(dialog);
        EndDialog(dialog, 2);
        break;
    }
    return 0;
}

void run_move_to_hard_disk(HWND owner)
{
    run_progress_dialog(owner, move_to_hard_disk_proc);
}
