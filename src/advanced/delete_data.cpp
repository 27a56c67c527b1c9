/*
 * Deleting the schedule data (see delete_data.h). The questions come first,
 * all owned by the Advanced dialog; the deletion itself runs in the progress
 * dialog, synchronously inside its start message, one bar step per table.
 * A table file that still exists after its deletion (held open by a running
 * schedule program, or read-only) is named in a warning at the end instead
 * of the message that all is deleted. The questions and the deletion run
 * under the installation's move lock, so no move takes the data meanwhile.
 */
#include "advanced/delete_data.h"
#include "schedule_files/move_lock.h"
#include "schedule_files/table_list.h"
#include "support/settings.h"
#include "support/file_probe.h"
#include "support/message_box.h"
#include "support/progress.h"
#include "support/text.h"
#include "resource.h"

#include <stdio.h>
#include <string.h>

static const UINT WARNING_STYLE = MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2;

/* Work files of the schedule program, deleted after the tables. */
static const char *const WORK_FILES[] = {
    "skemabeg.dat", "timoak.dat", "udplatim.dat", "hontim.dat", "CntLokaleBeg.dat"
};

int read_undelivered_counts(const char *path, unsigned long *events, unsigned long *postings)
{
    *events = 0;
    *postings = 0;
    FILE *file = fopen(path, "r");
    if (!file)
        return -1;
    int read = fscanf(file, "%lu, %lu", events, postings);
    fclose(file);
    return read == 2 ? 0 : -1;
}

void delete_warning_text(char *text, size_t size, int installation, unsigned long events,
                         unsigned long postings)
{
    format_text(text, size, "Dette vil slette ALLE skemadata på KIRO-installation nr. %i !!!\n\n", installation);
    if (events != 0 || postings != 0) {
        char easy[200];
        format_text(easy, sizeof easy,
                    "Men der ligger %lu skemabegivenheder og %lu posteringer, som ikke er afleveret til EASY. "
                    "Disse vil gå tabt!\n",
                    events, postings);
        append_text(text, size, easy);
    }
    append_text(text, size, "\nEr du sikker på du vil fortsætte?");
}

static bool asks_yes(HWND owner, const char *text)
{
    return message_box(owner, text, "Advarsel!", WARNING_STYLE) == IDYES;
}

bool confirm_delete_data(HWND owner)
{
    char path[KIRO_PATH_SIZE];
    char text[600];
    bool confirmed = false;

    format_text(path, sizeof path, "%sini\\kiro.lck", g_settings.data_dir);
    if (file_access(path) == 0) {
        format_text(text, sizeof text,
                    "Bemærk at data'ene tilhørende installation nr. %i er i brug !!!\n\n"
                    "Er du sikker på du vil slette data?",
                    g_settings.installation);
        if (!asks_yes(owner, text))
            return false;
        confirmed = true;
    }

    format_text(path, sizeof path, "%sdata\\exp.dat.gz", g_settings.data_dir);
    if (file_access(path) == 0) {
        confirmed = asks_yes(owner, "Bemærk at der er lavet og SENDT en eksportfil !!!\n\n"
                                    "Er du sikker på du vil slette data?");
    } else {
        unsigned long events, postings;
        format_text(path, sizeof path, "%sdata/CntLokaleBeg.dat", g_settings.data_dir);
        read_undelivered_counts(path, &events, &postings);
        delete_warning_text(text, sizeof text, g_settings.installation, events, postings);
        if (!confirmed)
            confirmed = asks_yes(owner, text);
    }

    return confirmed && asks_yes(owner, "Er du HELT sikker du vil slette skemadata?");
}

/* Deletes one file; a file that was not there is no failure. */
static void delete_one(const char *data_dir, const char *name, DeleteOutcome *outcome)
{
    char path[KIRO_PATH_SIZE];
    format_text(path, sizeof path, "%sdata/%s", data_dir, name);
    if (DeleteFileA(path)) {
        outcome->deleted++;
        return;
    }
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return;
    if (outcome->left < DELETE_LEFT_NAMED)
        copy_text(outcome->left_names[outcome->left], sizeof outcome->left_names[0], name);
    outcome->left++;
}

static bool deleted_with_data(const TableEntry *entry, const TableDescriptor **descriptor, TableBuffer **buffer)
{
    return table_lookup(entry->key, descriptor, buffer) == 0 && (*descriptor)->keep == 0;
}

void delete_schedule_files(HWND dialog, const char *data_dir, DeleteOutcome *outcome)
{
    memset(outcome, 0, sizeof *outcome);
    const TableDescriptor *descriptor;
    TableBuffer *buffer;

    int tables = 0;
    for (const TableEntry *entry = g_table_list; entry->name[0]; entry++)
        if (deleted_with_data(entry, &descriptor, &buffer))
            tables++;
    if (dialog)
        progress_set_range(dialog, IDC_OVERALL_BAR, (unsigned long)tables + 4);

    UINT previous_mode = quiet_drive_begin();
    for (const TableEntry *entry = g_table_list; entry->name[0]; entry++) {
        if (!deleted_with_data(entry, &descriptor, &buffer))
            continue;
        char file[64];
        format_text(file, sizeof file, "%s.DAT", descriptor->name);
        if (dialog) {
            char status[80];
            format_text(status, sizeof status, "Sletter filen: %s", descriptor->name);
            progress_status(dialog, status);
        }
        delete_one(data_dir, file, outcome);
        table_release(buffer);
        if (dialog)
            progress_step(dialog, IDC_OVERALL_BAR);
    }

    for (const char *name : WORK_FILES)
        delete_one(data_dir, name, outcome);
    quiet_drive_end(previous_mode);

    if (dialog)
        progress_fill(dialog, IDC_OVERALL_BAR);
}

void files_left_text(char *text, size_t size, const DeleteOutcome *outcome)
{
    if (outcome->left == 1)
        copy_text(text, size, "Skemadata er IKKE helt slettet!\n\nDenne fil kunne ikke slettes:\n");
    else
        format_text(text, size, "Skemadata er IKKE helt slettet!\n\nDisse %d filer kunne ikke slettes:\n",
                    outcome->left);
    int named = outcome->left < DELETE_LEFT_NAMED ? outcome->left : DELETE_LEFT_NAMED;
    for (int i = 0; i < named; i++) {
        append_text(text, size, "   ");
        append_text(text, size, outcome->left_names[i]);
        append_text(text, size, "\n");
    }
    if (outcome->left > named) {
        char more[64];
        format_text(more, sizeof more, "   og %d flere\n", outcome->left - named);
        append_text(text, size, more);
    }
    append_text(text, size, "\nFilerne er måske i brug af KIRO-skema eller skrivebeskyttede.\n"
                            "Luk KIRO-skema på alle maskiner og slet data igen.");
}

static bool g_delete_pending = false;
static const ProgressLook DELETE_LOOK = { "Sletter filer...", "SLETTER DATA FILER    ET ØJEBLIK...", -1,
                                          MSG_DELETE_DATA };

static void run_deletion(HWND dialog)
{
    ShowWindow(dialog, SW_SHOWDEFAULT);
    progress_hide_file_bar(dialog);
    DeleteOutcome outcome;
    delete_schedule_files(dialog, g_settings.data_dir, &outcome);
    if (outcome.left == 0) {
        message_box(dialog, "Så er skemadata slettet!", "Information", MB_OK | MB_ICONINFORMATION);
    } else {
        char text[800];
        files_left_text(text, sizeof text, &outcome);
        message_box(dialog, text, "Advarsel!", MB_OK | MB_ICONWARNING);
    }
    EndDialog(dialog, 2);
}

INT_PTR CALLBACK delete_data_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == MSG_DELETE_DATA)
        run_deletion(dialog);
    else
        progress_dialog_message(dialog, message, &DELETE_LOOK, &g_delete_pending);
    return 0;
}

INT_PTR run_delete_data(HWND owner)
{
    return run_progress_dialog(owner, delete_data_proc);
}

void delete_data_guarded(HWND owner)
{
    MoveLock lock;
    if (take_move_lock(owner, &lock) && confirm_delete_data(owner))
        run_delete_data(owner);
}
