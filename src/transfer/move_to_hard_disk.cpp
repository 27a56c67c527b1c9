/*
 * Move the schedule data back to the hard disk (see move_to_hard_disk.h).
 *
 * The archive names its entries by the source PC's full paths. Here every
 * entry is placed by its last folder ("data" or "ini") and file name under
 * this PC's data directory instead.
 *
 * Nothing of the data directory is touched until the whole set is here:
 * the volumes are joined, every entry is unpacked into a staging folder on
 * the same drive with its CRC checked, and the staged files are flushed to
 * the device. Only then is each put in place by a replacing rename, the
 * configuration last, so at every moment each file is its old version
 * whole or its new one whole, and the PC stays locked until the set on the
 * disk has been marked as taken back. Whatever fails on the way leaves the
 * PC locked and the set on the disk live, and doing the move again
 * completes it; a staging folder left by an interrupted run is removed at
 * the start of the next.
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

#include <string.h>

static bool g_hard_disk_start_pending = false;
/* The user has agreed to take back a set already taken back once. */
static bool g_stale_set_accepted = false;

static const char *const INFORMATION = "Information";

/* Asked for every disk of the set as it is joined, before anything is
   replaced: a disk marked "ja" belongs to a set that has already been
   taken back somewhere, and its data may be out of date. */
static bool stale_set_accepted(HWND dialog)
{
    if (g_stale_set_accepted)
        return true;
    TransferInfo info;
    read_transfer_info(g_transfer_file, &info);
    if (!set_is_stale(&info))
        return true;
    g_stale_set_accepted =
        message_box(dialog,
                    "Data-filerne på disk enheden er allerede flyttet til en harddisk og "
                    "kan være forældede.\n\nEr du sikker på du vil installere dem?",
                    "Advarsel!", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
    return g_stale_set_accepted;
}

static void report_with_error(const char *format, const char *name)
{
    char error[256], text[2 * KIRO_PATH_SIZE];
    system_error_text(error, sizeof error);
    format_text(text, sizeof text, format, name, error);
    error_box(text, MB_ICONWARNING);
}

static unsigned char disk_number_in_drive(void)
{
    return (unsigned char)read_transfer_number(g_transfer_file, "disknr");
}

/* Appends every volume to the move archive, asking for each disk by its
   number; false when the user cancelled or a volume could not be read
   (reported). */
static bool join_volumes(HWND dialog, const char *archive)
{
    unsigned char count =
        (unsigned char)read_transfer_number(g_transfer_file, "antaldiske");
    unsigned char in_drive = disk_number_in_drive();
    for (unsigned p = 1; p <= count; p++) {
        char volume[KIRO_PATH_SIZE];
        volume_path(volume, sizeof volume, g_transfer_dir, p);
        while (in_drive != p) {
            char text[64];
            format_text(text, sizeof text, "Indsæt disk enhed nr: %u i drevet!", p);
            if (message_box(dialog, text, INFORMATION, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
                return false;
            in_drive = disk_number_in_drive();
        }
        if (!stale_set_accepted(dialog))
            return false;
        SendMessageA(dialog, WM_PAINT, 0, 0);
        progress_step(dialog, IDC_OVERALL_BAR);
        if (copy_with_progress(dialog, volume, archive, 0, 0, "ab") == 0) {
            report_with_error("Kan ikke kopiere filen: %s\n%s", volume);
            return false;
        }
        progress_step(dialog, IDC_OVERALL_BAR);
    }
    return true;
}

/* Placement of the entries in the staging folder; remembers the entry in
   hand, so a failure can name it. */
struct StagingPlace {
    const char *staging;
    char entry[KIRO_PATH_SIZE];
};

static bool place_in_staging(const char *entry_name, char *target, size_t size, void *context)
{
    StagingPlace *place = (StagingPlace *)context;
    copy_text(place->entry, sizeof place->entry, entry_name);
    return place_transfer_entry(entry_name, target, size, (void *)place->staging);
}

/* Unpacks the whole archive into the staging folder; false (reported)
   when any entry is refused, damaged or cannot be written. */
static bool unpack_to_staging(const char *archive, const char *staging)
{
    StagingPlace place;
    place.staging = staging;
    place.entry[0] = '\0';
    char current[KIRO_PATH_SIZE];
    DWORD kept = GetCurrentDirectoryA(sizeof current, current);
    int code = make_directory(staging) ? unzip_archive_placed(archive, place_in_staging, &place)
                                       : UNZIP_TARGET_DIR;
    DWORD error = GetLastError();
    /* The staging folder must not stay current, or it could not be removed. */
    if (kept > 0 && kept < sizeof current)
        SetCurrentDirectoryA(current);
    if (code == 0)
        return true;
    char text[2 * KIRO_PATH_SIZE];
    if (code == UNZIP_REFUSED) {
        format_text(text, sizeof text, "Kan ikke udpakke filen: %s", place.entry);
        error_box(text, MB_ICONWARNING);
    } else if (code == UNZIP_WRITE || code == UNZIP_NOT_WRITTEN || code == UNZIP_TARGET_DIR) {
        SetLastError(error);
        report_with_error("Kan ikke udpakke filen: %s\n%s", code == UNZIP_TARGET_DIR ? archive : place.entry);
    } else {
        format_text(text, sizeof text, "Kan ikke udpakke filen: %s", archive);
        error_box(text, MB_ICONWARNING);
    }
    return false;
}

/* What to do with each staged file of one folder. */
enum StagedAction { STAGED_FLUSH, STAGED_PUT_IN_PLACE };

static bool is_name(const char *name, const char *wanted)
{
    return lstrcmpiA(name, wanted) == 0;
}

/* Puts one staged file in place of its original by a replacing rename. */
static bool put_in_place(const char *staged, const char *target)
{
    if (MoveFileExA(staged, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    char error[256], text[3 * KIRO_PATH_SIZE];
    system_error_text(error, sizeof error);
    format_text(text, sizeof text,
                "Filen %s kunne ikke erstattes.\n%s\n"
                "KIRO-skema er stadig låst på denne PC, og dataene på disk enheden er stadig de gældende.\n"
                "Luk KIRO-skema på alle stationer og flyt data til harddisken igen.",
                target, error);
    error_box(text, MB_ICONWARNING);
    return false;
}

/* Runs action over the staged files of folder ("data" or "ini"). The lock
   file of another station is never put in place, and the configuration
   is left for last. False (reported) at the first failure. */
static bool each_staged_file(const char *staging, const char *folder, StagedAction action)
{
    char pattern[KIRO_PATH_SIZE];
    if (!format_text(pattern, sizeof pattern, "%s%s\\*.*", staging, folder))
        return false;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern, &found);
    if (find == INVALID_HANDLE_VALUE)
        return true;   /* nothing of that folder in the set */
    bool ok = true;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        bool ini = strcmp(folder, "ini") == 0;
        if (ini && is_name(found.cFileName, "kiro.lck"))
            continue;
        char staged[KIRO_PATH_SIZE], target[KIRO_PATH_SIZE];
        if (!format_text(staged, sizeof staged, "%s%s\\%s", staging, folder, found.cFileName)
            || !format_text(target, sizeof target, "%s%s\\%s", g_settings.data_dir, folder, found.cFileName)) {
            ok = false;
            break;
        }
        if (action == STAGED_FLUSH) {
            if (!flush_file(staged)) {
                report_with_error("Kan ikke skrive filen: %s\n%s", staged);
                ok = false;
            }
        } else if (!(ini && is_name(found.cFileName, "kiro.ini"))) {
            ok = put_in_place(staged, target);
        }
    } while (ok && FindNextFileA(find, &found));
    FindClose(find);
    return ok;
}

/* The staged files go in place of the data directory's: first everything
   is flushed to the device, then the tables, the other ini files and the
   configuration last. The staged configuration is the other PC's: it is
   marked locked first, so putting it in place does not open the schedule
   here before the disk's set has been marked as taken back. */
static bool put_staged_files_in_place(const char *staging)
{
    const char *d = g_settings.data_dir;
    char staged_ini[KIRO_PATH_SIZE], ini_folder[KIRO_PATH_SIZE], data_folder[KIRO_PATH_SIZE];
    if (!format_text(staged_ini, sizeof staged_ini, "%sini\\kiro.ini", staging)
        || !format_text(ini_folder, sizeof ini_folder, "%sini", d)
        || !format_text(data_folder, sizeof data_folder, "%sdata", d))
        return false;
    bool has_ini = (file_access(staged_ini) & ACCESS_MISSING) == 0;
    if (has_ini && !write_profile_checked(staged_ini, KEY_SECTION_GLOBAL, KEY_SCHEDULE_LOCKED, "ja")) {
        report_with_error("Kan ikke skrive filen: %s\n%s", staged_ini);
        return false;
    }
    if (!each_staged_file(staging, "data", STAGED_FLUSH) || !each_staged_file(staging, "ini", STAGED_FLUSH))
        return false;

    /* The export and import work files of this PC belong to its old data. */
    static const char *const work_files[] = { "exp.dat", "exp.dat.gz", "imp.dat", "imp.dat.gz" };
    char path[KIRO_PATH_SIZE];
    for (size_t k = 0; k < sizeof work_files / sizeof work_files[0]; k++) {
        if (format_text(path, sizeof path, "%sdata\\%s", d, work_files[k]))
            DeleteFileA(path);
    }
    make_directory(data_folder);
    make_directory(ini_folder);
    if (!each_staged_file(staging, "data", STAGED_PUT_IN_PLACE)
        || !each_staged_file(staging, "ini", STAGED_PUT_IN_PLACE))
        return false;
    if (has_ini) {
        char target[KIRO_PATH_SIZE];
        if (!format_text(target, sizeof target, "%sini\\kiro.ini", d) || !put_in_place(staged_ini, target))
            return false;
    }
    return true;
}

int join_and_unpack(HWND dialog)
{
    const char *d = g_settings.data_dir;
    char archive[KIRO_PATH_SIZE], staging[KIRO_PATH_SIZE];
    move_archive_path(archive, sizeof archive, d);
    staging_dir_path(staging, sizeof staging, d);
    delete_tree(staging);   /* left by an interrupted run */
    DeleteFileA(archive);

    bool done = join_volumes(dialog, archive);
    if (done) {
        progress_set_phase(dialog, PHASE_UNPACKING);
        done = unpack_to_staging(archive, staging) && put_staged_files_in_place(staging);
    }
    delete_tree(staging);
    DeleteFileA(archive);
    if (!done)
        return 0;
    progress_fill(dialog, IDC_OVERALL_BAR);

    if (strcmp(g_settings.super_setting, "nej") == 0
        && !write_transfer_locked(g_transfer_file, "ja")) {
        /* The disk keeps its claim on the live data, and this PC stays
           locked (its configuration says so until it is opened below). */
        report_with_error("Kan ikke skrive filen: %s\n%s", g_transfer_file);
        return 0;
    }
    return 1;
}

bool take_back_transfer_set(HWND dialog)
{
    UINT mode = quiet_drive_begin();
    bool done = false;
    g_stale_set_accepted = false;
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
    } else if (!stale_set_accepted(dialog)) {
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
