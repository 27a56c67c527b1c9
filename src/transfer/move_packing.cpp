/*
 * The packing stage of the move to a device (see move_packing.h). Two
 * passes of the packing road, data\*.dat then ini\*.*, into the packing
 * name Data.tvk, renamed to Data.zip once both are whole. Entries are named
 * by full paths, whatever form the data directory was given in: a name
 * such as "..\data\data\elev.dat" would be refused on the way back. No
 * file may be missing from a move: a file that cannot be packed ends it.
 * The file bar steps for every entry each search finds, folders included,
 * and the status line names each file as it goes in.
 */
#include "transfer/move_packing.h"
#include "transfer/transfer_set.h"
#include "schedule_files/move_lock.h"
#include "support/settings.h"
#include "support/disk_utils.h"
#include "support/file_probe.h"
#include "support/message_box.h"
#include "support/packing.h"
#include "support/progress.h"
#include "support/text.h"
#include "resource.h"

#include <string.h>

#include <algorithm>
#include <vector>

/* The lock files never travel: the schedule program's belongs to the
   station that runs it, the move lock to the station that moves (and is
   held, unreadable, while it does). */
static const char *const NEVER_MOVED_INI[] = { "kiro.lck", MOVE_LOCK_NAME, NULL };

/* The folders a move takes, each with its packing and the message shown
   when its search finds nothing at all. */
struct MovedFolder {
    const char *folder;
    const char *pattern;
    PackPolicy policy;
    const char *nothing_message;
};
static const MovedFolder MOVED_FOLDERS[2] = {
    { "data", "data\\*.dat", { NAME_BY_FULL_PATH, PACK_EVERY_FILE, STEP_PER_ENTRY_FOUND, NULL },
      "Fejl ved pakning af data-filerne!" },
    { "ini", "ini\\*.*", { NAME_BY_FULL_PATH, PACK_EVERY_FILE, STEP_PER_ENTRY_FOUND, NEVER_MOVED_INI },
      "Fejl ved pakning af ini-filerne!" },
};

enum PassResult { PASS_OK, PASS_FAILED_REPORTED, PASS_FAILED_SILENT };

/* A file the move takes from the data directory: its name below it
   ("data\elev.dat"), length and last-write time. */
struct MovedFile {
    char name[MAX_PATH + 8];
    unsigned long long size;
    FILETIME written;
};

/* What the packing stage put into the move archive, as the directory
   search showed each file just before it was packed. */
static std::vector<MovedFile> g_packed;

static MovedFile moved_file(const char *folder, const WIN32_FIND_DATAA *found)
{
    MovedFile file;
    format_text(file.name, sizeof file.name, "%s\\%s", folder, found->cFileName);
    file.size = ((unsigned long long)found->nFileSizeHigh << 32) | found->nFileSizeLow;
    file.written = found->ftLastWriteTime;
    return file;
}

static bool name_before(const MovedFile &a, const MovedFile &b)
{
    return lstrcmpiA(a.name, b.name) < 0;
}

/* The files of data_dir that a move takes now. */
static void list_moved_files(const char *data_dir, std::vector<MovedFile> *files)
{
    files->clear();
    for (const MovedFolder &moved : MOVED_FOLDERS) {
        char pattern[KIRO_PATH_SIZE];
        if (!format_text(pattern, sizeof pattern, "%s%s", data_dir, moved.pattern))
            continue;
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA(pattern, &found);
        if (find == INVALID_HANDLE_VALUE)
            continue;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !left_out_by(&moved.policy, found.cFileName))
                files->push_back(moved_file(moved.folder, &found));
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
}

bool data_changed_since_packing(const char *data_dir)
{
    std::vector<MovedFile> now, packed = g_packed;
    list_moved_files(data_dir, &now);
    if (now.size() != packed.size())
        return true;
    std::sort(now.begin(), now.end(), name_before);
    std::sort(packed.begin(), packed.end(), name_before);
    for (size_t k = 0; k < now.size(); k++)
        if (lstrcmpiA(now[k].name, packed[k].name) != 0 || now[k].size != packed[k].size
            || CompareFileTime(&now[k].written, &packed[k].written) != 0)
            return true;
    return false;
}

static void record_packed(void *context, const WIN32_FIND_DATAA *found)
{
    g_packed.push_back(moved_file(((const MovedFolder *)context)->folder, found));
}

/* Packs one folder into archive. A search that finds nothing at all, or a
   path too long for an entry, fails with the folder's message (for the
   caller to show); any other failure is shown here, naming the file. */
static PassResult pack_pass(HWND dialog, const char *data_dir, const MovedFolder *moved, const char *archive,
                            char *message, size_t message_size)
{
    PackingView view = { dialog, IDC_FILE_BAR, "Pakker filen: '%s'", record_packed, (void *)moved };
    PackOutcome outcome;
    int code = pack_folder_shown(&view, archive, data_dir, moved->pattern, &moved->policy, &outcome);
    if (outcome.found_nothing || code == PACK_NAME_TOO_LONG) {
        copy_text(message, message_size, moved->nothing_message);
        return PASS_FAILED_REPORTED;
    }
    /* Every worker has ended before the user is told; an archive whose
       directory cannot be written fails with the file packed last. */
    if (code != 0) {
        show_packing_error(dialog, outcome.file);
        return PASS_FAILED_SILENT;
    }
    return PASS_OK;
}

/* Both bars' ranges, from the files the two searches find now. */
static void set_packing_ranges(HWND dialog, const char *d)
{
    char pattern[KIRO_PATH_SIZE];
    progress_set_range(dialog, IDC_OVERALL_BAR, 3);
    progress_step(dialog, IDC_OVERALL_BAR);
    format_text(pattern, sizeof pattern, "%sdata\\*.dat", d);
    int data_files = count_files(pattern);
    format_text(pattern, sizeof pattern, "%sini\\*.*", d);
    int ini_files = count_files(pattern);
    progress_set_range(dialog, IDC_FILE_BAR, (unsigned long)(data_files + ini_files + 8));
    progress_step(dialog, IDC_FILE_BAR);
}

bool pack_move_archive(HWND dialog)
{
    char d[KIRO_PATH_SIZE];
    g_packed.clear();
    if (!full_data_dir(d, sizeof d)) {
        error_box("Fejl ved pakning af data-filerne!", MB_ICONERROR);
        return false;
    }
    char archive[KIRO_PATH_SIZE], packing[KIRO_PATH_SIZE];
    move_archive_path(archive, sizeof archive, d);
    packing_archive_path(packing, sizeof packing, d);
    set_packing_ranges(dialog, d);
    DeleteFileA(archive);
    DeleteFileA(packing);

    char message[KIRO_PATH_SIZE] = "";
    PassResult data = pack_pass(dialog, d, &MOVED_FOLDERS[0], packing, message, sizeof message);
    if (data != PASS_OK) {
        if (data == PASS_FAILED_REPORTED)
            error_box(message, MB_ICONERROR);
        DeleteFileA(packing);
        return false;
    }
    progress_step(dialog, IDC_OVERALL_BAR);
    progress_step(dialog, IDC_FILE_BAR);

    PassResult ini = pack_pass(dialog, d, &MOVED_FOLDERS[1], packing, message, sizeof message);
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
