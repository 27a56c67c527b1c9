/*
 * Move the schedule data back to the hard disk (see move_to_hard_disk.h).
 *
 * The archive names its entries by the source PC's full paths. Here every
 * entry is placed by its last folder ("data" or "ini") and file name under
 * this PC's data directory instead, taken as a full path however the
 * command line gave it, so nothing depends on the current directory.
 *
 * Nothing of the data directory is touched until the whole set is here:
 * the volumes are joined (every disk of one set, none withdrawn), the
 * archive is surveyed whole (names, entries that share bytes, room on the
 * data drive), every entry is unpacked into a staging folder on the same
 * drive with its length and CRC checked, and the staged files are flushed
 * to the device. Then, once more, no station may have started the schedule
 * program meanwhile (it would have the tables open). Only then is each put
 * in place by a replacing rename, the
 * configuration last, so at every moment each file is its old version
 * whole or its new one whole. Then every placed file is read back and
 * compared with the set's directory; only when all are the set's is the
 * disk's set marked as taken back and the PC opened. Whatever fails on the
 * way leaves the PC locked and the set on the disk live, and doing the
 * move again completes it; a staging folder left by an interrupted run is
 * removed at the start of the next.
 */
#include "transfer/move_to_hard_disk.h"
#include "transfer/acceptable_set.h"
#include "transfer/transfer_set.h"
#include "schedule_files/move_lock.h"
#include "support/settings.h"
#include "support/disk_utils.h"
#include "support/error_text.h"
#include "support/file_probe.h"
#include "support/message_box.h"
#include "support/progress.h"
#include "support/text.h"
#include "archive/checksum.h"
#include "archive/extract.h"
#include "archive/survey.h"
#include "archive/threads.h"
#include "resource.h"

#include <string.h>

#include <atomic>
#include <string>
#include <vector>

static bool g_hard_disk_start_pending = false;
static const ProgressLook HARD_DISK_LOOK = { NULL, NULL, PHASE_COPYING, MSG_DISK_STAGE };

/* The take-back in hand. */
struct TakeBack {
    char data_dir[KIRO_PATH_SIZE];   /* full path, trailing backslash */
    char staging[KIRO_PATH_SIZE];
    char archive[KIRO_PATH_SIZE];
    char set_id[40];                 /* the identity on disk 1 ("" in older sets) */
    char finished_id[40];            /* the set this PC last took back or withdrew */
    bool stale_accepted;             /* the user agreed to install a set taken back before */
};
static TakeBack g_take_back;

static void (*g_placed_hook)(void) = NULL;

void set_placed_files_hook(void (*hook)(void))
{
    g_placed_hook = hook;
}

static const char *const INFORMATION = "Information";
/* The export and import work files, of the data they were made from. */
static const char *const EXCHANGE_FILES[] = { "exp.dat", "exp.dat.gz", "imp.dat", "imp.dat.gz" };
static const char *const STILL_LOCKED =
    "KIRO-skema er stadig låst på denne PC, og dataene på disk enheden er stadig de gældende.";

static void report_withdrawn(HWND dialog)
{
    message_box(dialog,
                "Data-filerne på disk enheden er trukket tilbage af den PC, der skrev dem, og er ikke "
                "de gældende.\nDe kan ikke installeres: flyt data fra den anden PC igen.",
                "Fejl", MB_OK | MB_ICONERROR);
}

/* Asked for every disk of the set as it is joined, before anything is
   replaced. A withdrawn set is refused; a set marked "ja", or one this PC
   knows it took back, has already been taken back somewhere, and its data
   may be out of date. */
static bool set_may_be_installed(HWND dialog, const TransferInfo *info)
{
    if (info->withdrawn) {
        report_withdrawn(dialog);
        return false;
    }
    if (g_take_back.stale_accepted)
        return true;
    if (!set_is_stale(info) && !set_known_finished(info, g_take_back.finished_id))
        return true;
    g_take_back.stale_accepted =
        message_box(dialog,
                    "Data-filerne på disk enheden er allerede flyttet til en harddisk og "
                    "kan være forældede.\n\nEr du sikker på du vil installere dem?",
                    "Advarsel!", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
    return g_take_back.stale_accepted;
}

static void report_with_error(const char *format, const char *name)
{
    char error[256], text[2 * KIRO_PATH_SIZE];
    system_error_text(error, sizeof error);
    format_text(text, sizeof text, format, name, error);
    error_box(text, MB_ICONWARNING);
}

/* Reads the transfer file of the disk in the drive; true when it is disk p. */
static bool disk_in_drive(unsigned p, TransferInfo *info)
{
    read_transfer_info(g_transfer_file, info);
    return (unsigned char)info->disk_number == p;
}

/* "1.234,5 MB": bytes in megabytes with one decimal, rounded up or down. */
static void megabytes(char *out, size_t size, unsigned long long bytes, bool round_up)
{
    const unsigned long long tenth = 104858;   /* 0.1 MiB, rounded */
    unsigned long long tenths = bytes / tenth + (round_up && bytes % tenth ? 1 : 0);
    if (tenths > 0xFFFFFFFFULL)
        tenths = 0xFFFFFFFFULL;
    unsigned long whole = (unsigned long)(tenths / 10), decimal = (unsigned long)(tenths % 10);
    if (whole >= 1000)
        format_text(out, size, "%lu.%03lu,%lu MB", whole / 1000, whole % 1000, decimal);
    else
        format_text(out, size, "%lu,%lu MB", whole, decimal);
}

/* The data drive has needed bytes free; told otherwise (what is needed
   and what is free). A drive whose free space cannot be read is left to
   the copy or the unpacking to find out. */
static bool room_on_data_drive(unsigned long long needed)
{
    ULARGE_INTEGER available, total;
    if (!free_space(g_take_back.data_dir, &available, &total) || available.QuadPart >= needed)
        return true;
    char need[48], have[48], text[3 * KIRO_PATH_SIZE];
    megabytes(need, sizeof need, needed, true);
    megabytes(have, sizeof have, available.QuadPart, false);
    format_text(text, sizeof text,
                "Der er ikke plads nok på harddisken til dataene.\n"
                "Der skal bruges %s, men der er kun %s ledigt i %s.\n%s",
                need, have, g_take_back.data_dir, STILL_LOCKED);
    error_box(text, MB_ICONWARNING);
    return false;
}

/* Before a volume is appended to the move archive: the whole set's room
   (archive and files unpacked) when its disks tell its totals, checked
   before the first volume; and, for every volume, room for the volume
   itself, which is all a set of an older menu tells before it is joined. */
static bool room_before_volume(unsigned p, const TransferInfo *first, const char *volume)
{
    if (p == 1 && first->has_totals
        && !room_on_data_drive(room_to_take_back(&first->totals, cluster_size(g_take_back.data_dir))))
        return false;
    return room_on_data_drive(file_size(volume) + SURVEY_ROOM_MARGIN);
}

/* The surveyed set fits the data drive beside the joined archive, with a
   margin. */
static bool room_for_set(const ArchiveSurvey *survey)
{
    return room_on_data_drive(room_needed(survey, cluster_size(g_take_back.data_dir)));
}

/* Appends every volume to the move archive, asking for each disk by its
   number until the disk of that number of this same set is in; false when
   the user cancelled, the set may not be installed or a volume could not
   be read (reported). */
static bool join_volumes(HWND dialog, const char *archive)
{
    unsigned char count =
        (unsigned char)read_transfer_number(g_transfer_file, "antaldiske");
    TransferInfo first;
    memset(&first, 0, sizeof first);
    for (unsigned p = 1; p <= count; p++) {
        char volume[KIRO_PATH_SIZE];
        volume_path(volume, sizeof volume, g_transfer_dir, p);
        TransferInfo info;
        bool number_right = disk_in_drive(p, &info);
        while (!number_right || (p > 1 && other_set(g_take_back.set_id, &info))) {
            char text[160];
            format_text(text, sizeof text, "%sIndsæt disk enhed nr: %u i drevet!",
                        number_right ? "Disk enheden hører ikke til de samme data som disk 1.\n" : "", p);
            if (message_box(dialog, text, INFORMATION, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
                return false;
            number_right = disk_in_drive(p, &info);
        }
        if (p == 1) {
            copy_text(g_take_back.set_id, sizeof g_take_back.set_id, info.set_id);
            first = info;
        }
        if (!set_may_be_installed(dialog, &info) || !room_before_volume(p, &first, volume))
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

/* The set is one the rules of an acceptable set refuse: told with the
   entry (or the archive, for too many files) and the reason. */
static void report_refused_set(const ArchiveSurvey *survey, const char *archive, const char *staging)
{
    SetFault fault = SET_TOO_MANY_FILES;
    if (survey->reason == REFUSED_TWICE) {
        fault = SET_NAME_TWICE;
    } else if (survey->reason == REFUSED_NAME) {
        char target[KIRO_PATH_SIZE];
        fault = judge_set_entry(survey->refused, staging, target, sizeof target);
        if (fault == SET_FITS)
            fault = SET_PATH_TOO_LONG;   /* the entry's name itself is longer than any this program packs */
    }
    char reason[KIRO_PATH_SIZE], text[3 * KIRO_PATH_SIZE];
    format_text(text, sizeof text, "Kan ikke udpakke filen: %s\n%s\n%s",
                fault == SET_TOO_MANY_FILES ? archive : survey->refused,
                take_back_reason(fault, reason, sizeof reason, survey->other), STILL_LOCKED);
    error_box(text, MB_ICONWARNING);
}

/* Surveys the archive and unpacks it whole into the staging folder; false
   (reported) when the set is refused, does not fit, or any entry is
   damaged or cannot be written. Nothing is written before the survey and
   the room check have passed. */
static bool unpack_to_staging(const char *archive, const char *staging, ArchiveSurvey *survey)
{
    char text[3 * KIRO_PATH_SIZE];
    int code = survey_archive(archive, place_transfer_entry, (void *)staging, survey);
    if (code == UNZIP_REFUSED) {
        report_refused_set(survey, archive, staging);
        return false;
    }
    if (code != 0) {
        format_text(text, sizeof text, "Kan ikke udpakke filen: %s", archive);
        error_box(text, MB_ICONWARNING);
        return false;
    }
    if (!room_for_set(survey))
        return false;
    if (!make_directory(staging)) {
        report_with_error("Kan ikke udpakke filen: %s\n%s", archive);
        return false;
    }
    size_t failed = 0;
    code = extract_surveyed(archive, survey, &failed);
    DWORD error = GetLastError();   /* before any other call can reset it */
    if (code == 0)
        return true;
    if (code == UNZIP_WRITE || code == UNZIP_NOT_WRITTEN) {
        SetLastError(error);
        report_with_error("Kan ikke udpakke filen: %s\n%s", survey->entries[failed].name);
    } else {
        format_text(text, sizeof text, "Kan ikke udpakke filen: %s", archive);
        error_box(text, MB_ICONWARNING);
    }
    return false;
}

/* An entry's name below the data directory ("data\elev.dat"), from its
   place in the staging folder. */
static const char *relative_name(const ArchiveEntry *entry)
{
    return staged_relative_name(entry->target, g_take_back.staging);
}

static bool is_name(const char *name, const char *wanted)
{
    return lstrcmpiA(name, wanted) == 0;
}

/* The lock files of another station are never put in place: the schedule
   program's and the move lock. */
static bool is_lock_file(const ArchiveEntry *entry)
{
    char move_lock[32];
    format_text(move_lock, sizeof move_lock, "ini\\%s", MOVE_LOCK_NAME);
    return is_name(relative_name(entry), "ini\\kiro.lck") || is_name(relative_name(entry), move_lock);
}

static bool is_configuration(const ArchiveEntry *entry)
{
    return is_name(relative_name(entry), "ini\\kiro.ini");
}

static bool in_folder(const ArchiveEntry *entry, const char *folder)
{
    return _strnicmp(relative_name(entry), folder, strlen(folder)) == 0;
}

static bool final_path(char *out, size_t size, const ArchiveEntry *entry)
{
    return format_text(out, size, "%s%s", g_take_back.data_dir, relative_name(entry));
}

static void report_started_meanwhile(HWND dialog)
{
    char text[512];
    format_text(text, sizeof text,
                "KIRO-skema er blevet startet på en anden station, mens dataene blev flyttet.\n"
                "Ingen filer er erstattet. %s\n"
                "Luk KIRO-skema på alle stationer og flyt data til harddisken igen.",
                STILL_LOCKED);
    message_box(dialog, text, "OBS!", MB_OK | MB_ICONWARNING);
}

/* Puts one staged file in place of its original by a replacing rename. */
static bool put_in_place(const char *staged, const char *target)
{
    if (MoveFileExA(staged, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    char error[256], text[3 * KIRO_PATH_SIZE];
    system_error_text(error, sizeof error);
    format_text(text, sizeof text,
                "Filen %s kunne ikke erstattes.\n%s\n%s\n"
                "Luk KIRO-skema på alle stationer og flyt data til harddisken igen.",
                target, error, STILL_LOCKED);
    error_box(text, MB_ICONWARNING);
    return false;
}

/* Puts the staged entries of folder ("data\" or "ini\") in place, all but
   the configuration; false (reported) at the first failure. */
static bool put_folder_in_place(const ArchiveSurvey *survey, const char *folder)
{
    for (const ArchiveEntry &entry : survey->entries) {
        if (!in_folder(&entry, folder) || is_lock_file(&entry) || is_configuration(&entry))
            continue;
        char target[KIRO_PATH_SIZE];
        if (!final_path(target, sizeof target, &entry) || !put_in_place(entry.target, target))
            return false;
    }
    return true;
}

/* The staged files flushed by several threads, each taking the next file
   in the set's order; after a failure no flush is started. A flush waits
   for the device, and the file system writes the flushes that wait
   together at once, so many small files are flushed far sooner on several
   threads than on one, even on one processor. */
struct Flushing {
    const ArchiveSurvey *survey;
    std::vector<DWORD> errors;   /* 0: flushed (or not reached) */
    std::atomic<size_t> next;
    std::atomic<bool> stop;
};
enum { FLUSH_THREADS = 8 };

/* Ends when the files run out or a flush failed: it waits for nothing. */
static unsigned __stdcall flushing_worker(void *context)
{
    Flushing *run = (Flushing *)context;
    size_t count = run->survey->entries.size();
    for (size_t i; !run->stop && (i = run->next++) < count;) {
        if (flush_file(run->survey->entries[i].target))
            continue;
        DWORD error = GetLastError();
        run->errors[i] = error ? error : ERROR_GEN_FAILURE;
        run->stop = true;
    }
    return 0;
}

/* Every staged file on the device; false (reported, the first file in the
   set's order that could not be flushed) otherwise. */
static bool flush_staged_files(const ArchiveSurvey *survey)
{
    Flushing run;
    size_t count = survey->entries.size();
    run.survey = survey;
    run.errors.assign(count, 0);
    run.next = 0;
    run.stop = false;
    std::vector<HANDLE> workers;
    unsigned threads = count < (size_t)FLUSH_THREADS ? (unsigned)count : (unsigned)FLUSH_THREADS;
    if (threads > 1)
        start_threads(threads, flushing_worker, &run, &workers);
    if (workers.empty())
        flushing_worker(&run);
    join_threads(&workers);
    for (size_t i = 0; i < count; i++) {
        if (run.errors[i] == 0)
            continue;
        SetLastError(run.errors[i]);
        report_with_error("Kan ikke skrive filen: %s\n%s", survey->entries[i].target);
        return false;
    }
    return true;
}

/* The staged configuration as marked: what ini\kiro.ini must be once placed. */
struct MarkedConfiguration {
    const ArchiveEntry *entry;   /* NULL: the set has none */
    unsigned long long size;
    unsigned long crc;
};

/* The staged files go in place of the data directory's: first everything
   is flushed to the device, then the tables, the other ini files and the
   configuration last. The staged configuration is the other PC's: it is
   marked locked first, so putting it in place does not open the schedule
   here before the set has been checked and the disk marked. */
static bool put_staged_files_in_place(HWND dialog, const ArchiveSurvey *survey, MarkedConfiguration *marked)
{
    const char *d = g_take_back.data_dir;
    marked->entry = NULL;
    for (const ArchiveEntry &entry : survey->entries)
        if (is_configuration(&entry))
            marked->entry = &entry;
    if (marked->entry) {
        const char *staged_ini = marked->entry->target;
        if (!write_profile_checked(staged_ini, KEY_SECTION_GLOBAL, KEY_SCHEDULE_LOCKED, "ja")
            || !file_crc32(staged_ini, &marked->size, &marked->crc)) {
            report_with_error("Kan ikke skrive filen: %s\n%s", staged_ini);
            return false;
        }
    }
    if (!flush_staged_files(survey))
        return false;
    /* The last look before the first file is replaced: the schedule program
       may have been started on another station while the disks were
       asked for, and it has the tables open. */
    if (schedule_in_use()) {
        report_started_meanwhile(dialog);
        return false;
    }

    /* The export and import work files of this PC belong to its old data. */
    char path[KIRO_PATH_SIZE];
    for (const char *work_file : EXCHANGE_FILES) {
        if (format_text(path, sizeof path, "%sdata\\%s", d, work_file))
            DeleteFileA(path);
    }
    char folder[KIRO_PATH_SIZE];
    if (format_text(folder, sizeof folder, "%sdata", d))
        make_directory(folder);
    if (format_text(folder, sizeof folder, "%sini", d))
        make_directory(folder);
    if (!put_folder_in_place(survey, "data\\") || !put_folder_in_place(survey, "ini\\"))
        return false;
    if (marked->entry) {
        char target[KIRO_PATH_SIZE];
        if (!final_path(target, sizeof target, marked->entry) || !put_in_place(marked->entry->target, target))
            return false;
    }
    /* The renames are changes of the folders, not of the files: they are
       on the device before the disk is marked, and so are data\ and ini\
       themselves where they had to be made. */
    if (format_text(folder, sizeof folder, "%sdata", d))
        flush_directory(folder);
    if (format_text(folder, sizeof folder, "%sini", d))
        flush_directory(folder);
    flush_directory(d);
    return true;
}

/* The outcome itself: every file placed is read back and must have the
   length and CRC-32 the set's directory gives it (the configuration those
   of its marked version). False (reported, naming the file) otherwise. */
static bool placed_files_are_the_set(const ArchiveSurvey *survey, const MarkedConfiguration *marked)
{
    /* Every file is read on as many threads as packing uses, then each is
       compared in the set's order. */
    size_t count = survey->entries.size();
    std::vector<std::string> targets(count);
    std::vector<FileSum> sums(count);
    std::vector<bool> named(count);
    for (size_t k = 0; k < count; k++) {
        char target[KIRO_PATH_SIZE];
        named[k] = !is_lock_file(&survey->entries[k]) && final_path(target, sizeof target, &survey->entries[k]);
        targets[k] = named[k] ? target : "";
        sums[k].path = targets[k].c_str();
        sums[k].read = false;
    }
    files_crc32(sums.data(), count);
    for (size_t k = 0; k < count; k++) {
        const ArchiveEntry &entry = survey->entries[k];
        if (is_lock_file(&entry))
            continue;
        bool configuration = &entry == marked->entry;
        const char *target = targets[k].c_str();
        if (named[k] && sums[k].read && sums[k].size == (configuration ? marked->size : entry.size)
            && sums[k].crc == (configuration ? marked->crc : entry.crc))
            continue;
        char text[3 * KIRO_PATH_SIZE];
        format_text(text, sizeof text,
                    "Filen %s er ikke den samme som på disk enheden.\n%s\n"
                    "Flyt data til harddisken igen.",
                    target, STILL_LOCKED);
        error_box(text, MB_ICONERROR);
        return false;
    }
    return true;
}

/* Joins, surveys, unpacks, places and checks; true when every file of
   the set is in place as the set has it. */
static bool install_set(HWND dialog)
{
    TakeBack *run = &g_take_back;
    if (!join_volumes(dialog, run->archive))
        return false;
    progress_set_phase(dialog, PHASE_UNPACKING);
    ArchiveSurvey survey;
    MarkedConfiguration marked;
    if (!unpack_to_staging(run->archive, run->staging, &survey) || !put_staged_files_in_place(dialog, &survey, &marked))
        return false;
    if (g_placed_hook)
        g_placed_hook();
    return placed_files_are_the_set(&survey, &marked);
}

int join_and_unpack(HWND dialog)
{
    TakeBack *run = &g_take_back;
    if (!full_data_dir(run->data_dir, sizeof run->data_dir)
        || !move_archive_path(run->archive, sizeof run->archive, run->data_dir)
        || !staging_dir_path(run->staging, sizeof run->staging, run->data_dir)) {
        format_text(run->archive, sizeof run->archive, "%sData.zip", g_settings.data_dir);
        char text[2 * KIRO_PATH_SIZE];
        format_text(text, sizeof text, "Kan ikke udpakke filen: %s", run->archive);
        error_box(text, MB_ICONWARNING);
        return 0;
    }
    run->set_id[0] = '\0';
    delete_tree(run->staging);   /* left by an interrupted run */
    DeleteFileA(run->archive);

    bool done = install_set(dialog);
    delete_tree(run->staging);
    DeleteFileA(run->archive);
    /* Their removal too is a change of the data directory: on the device
       before the disk is marked, so nothing of the move is left there. */
    flush_directory(run->data_dir);
    if (!done)
        return 0;
    progress_fill(dialog, IDC_OVERALL_BAR);

    if (strcmp(g_settings.super_setting, "nej") == 0
        && !write_transfer_locked(g_transfer_file, "ja")) {
        /* The disk keeps its claim on the live data, and this PC stays
           locked (its configuration says so until it is opened). */
        report_with_error("Kan ikke skrive filen: %s\n%s", g_transfer_file);
        return 0;
    }
    return 1;
}

/* The data are in place and the disk marked: this PC is opened. When that
   cannot be written, the disk is given its claim back, so that the live
   data stay in one place. */
static bool open_this_pc(void)
{
    bool normal = strcmp(g_settings.super_setting, "nej") == 0;
    if (write_schedule_locked(false)) {
        /* Remembered only to spare the question before a later move out
           over one of this set's disks; a failure costs nothing more. */
        if (normal && g_take_back.set_id[0])
            remember_finished_set(g_take_back.set_id);
        return true;
    }
    bool given_back = !normal || write_transfer_locked(g_transfer_file, "nej");
    char text[3 * KIRO_PATH_SIZE];
    format_text(text, sizeof text, "Kan ikke skrive til filen: %s\nKIRO-skema er stadig låst på denne PC!%s",
                g_settings.config_path,
                given_back ? ""
                           : "\nDisk enheden er markeret som flyttet til harddisken, og dataene på denne PC er "
                             "de gældende: åbn KIRO-skema under \"Avanceret\".");
    error_box(text, MB_ICONERROR);
    return false;
}

bool take_back_transfer_set(HWND dialog)
{
    UINT mode = quiet_drive_begin();
    bool done = false;
    g_take_back.stale_accepted = false;
    read_finished_set(g_take_back.finished_id, sizeof g_take_back.finished_id);
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
    } else if (!set_may_be_installed(dialog, &info)) {
        /* withdrawn (told), or the user keeps the data that are here */
    } else if (join_and_unpack(dialog) == 1 && open_this_pc()) {
        done = true;
        message_box(NULL, "Så er filerne kopieret til harddisken!", INFORMATION, MB_OK | MB_ICONINFORMATION);
    }
    quiet_drive_end(mode);
    return done;
}

INT_PTR CALLBACK move_to_hard_disk_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == MSG_DISK_STAGE) {
        take_back_transfer_set(dialog);
        EndDialog(dialog, 2);
    } else {
        progress_dialog_message(dialog, message, &HARD_DISK_LOOK, &g_hard_disk_start_pending);
    }
    return 0;
}

void run_move_to_hard_disk(HWND owner)
{
    run_progress_dialog(owner, move_to_hard_disk_proc);
}
