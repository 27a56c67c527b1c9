/*
 * The end of a move to a device (see move_out_ending.h).
 */
#include "transfer/move_out_ending.h"
#include "transfer/move_packing.h"
#include "transfer/transfer_set.h"
#include "support/settings.h"
#include "support/disk_utils.h"
#include "support/error_text.h"
#include "support/file_probe.h"
#include "support/message_box.h"
#include "support/text.h"

#include <string.h>

const char *const g_not_withdrawn_text =
    "Dataene på disk enheden kunne ikke markeres som forældede.\n"
    "Brug ikke disk enheden til at flytte data til en anden PC: dataene på denne PC er de gældende.";

void report_transfer_file_failed(void)
{
    char error[256], text[2 * KIRO_PATH_SIZE];
    system_error_text(error, sizeof error);
    format_text(text, sizeof text, "Kan ikke skrive filen: %s\n%s", g_transfer_file, error);
    error_box(text, MB_ICONWARNING);
}

/* The set just written must not stay live beside this PC's live data: it
   is marked as withdrawn, or removed when even that cannot be written.
   False when the disk may still hold it as live. */
bool withdraw_written_set(void)
{
    if (write_transfer_withdrawn(g_transfer_file))
        return true;
    delete_tree(g_transfer_dir);
    return (file_access(g_transfer_file) & ACCESS_MISSING) != 0;
}

/* Every volume is on its disk: this PC is locked (written and read back),
   and only then is the set on the last disk marked live, so that a cut in
   between leaves the data live nowhere rather than in two places (the
   take-back on either PC completes it). The user is told afterwards. It is
   not locked while the schedule program runs on some station, nor when
   the data have changed since they were packed. */
bool make_written_set_live(HWND dialog, const char *data_dir, const char *set_id)
{
    char text[3 * KIRO_PATH_SIZE];
    if (schedule_in_use()) {
        bool withdrawn = withdraw_written_set();
        report_schedule_in_use(dialog);
        if (!withdrawn)
            error_box(g_not_withdrawn_text, MB_ICONERROR);
        return false;
    }
    if (data_changed_since_packing(data_dir)) {
        bool withdrawn = withdraw_written_set();
        /* This PC's data stay the live ones: the set it just wrote is
           finished here, and a move out may later overwrite its disks
           without asking. */
        if (withdrawn)
            remember_finished_set(set_id);
        format_text(text, sizeof text,
                    "Dataene er blevet ændret på en anden station, mens de blev flyttet.\n"
                    "KIRO-skema er ikke blevet låst på denne PC, og dataene på den er stadig de gældende.\n"
                    "%s\n\nFlyt dataene til disk enheden igen.",
                    withdrawn ? "Dataene på disk enheden er trukket tilbage." : g_not_withdrawn_text);
        error_box(text, MB_ICONERROR);
        return false;
    }
    if (strcmp(g_settings.super_setting, "nej") == 0 && !write_schedule_locked(true)) {
        bool withdrawn = withdraw_written_set();
        format_text(text, sizeof text,
                    "Kan ikke skrive til filen: %s\nKIRO-skema er ikke blevet låst på denne PC!\n%s",
                    g_settings.config_path,
                    withdrawn ? "Dataene på disk enheden er markeret som forældede, og dataene på denne PC er "
                                "stadig de gældende."
                              : g_not_withdrawn_text);
        error_box(text, MB_ICONERROR);
        return false;
    }
    if (!write_transfer_locked(g_transfer_file, "nej")) {
        /* The set did not become live: this PC takes its claim back (or,
           when even that fails, stays locked with the set to take back). */
        DWORD error = GetLastError();
        bool reopened = strcmp(g_settings.super_setting, "nej") != 0 || write_schedule_locked(false);
        bool withdrawn = reopened && withdraw_written_set();
        SetLastError(error);
        report_transfer_file_failed();
        if (reopened && !withdrawn)
            error_box(g_not_withdrawn_text, MB_ICONERROR);
        return false;
    }
    return true;
}

void show_move_out_completion(int previous_version)
{
    char text[512];
    copy_text(text, sizeof text, "Så er filerne kopieret til disk enheden!");
    if (previous_version != 0 && previous_version < (int)g_settings.version) {
        append_text(text, sizeof text, "\n\nOBS!  Den KIRO-version der er på din anden PC er ældre");
        append_text(text, sizeof text, "\nend den du kopierer dataene fra.");
        append_text(text, sizeof text, "\nDu skal oprette en ny installationsenhed og opgradere den anden PC!");
    }
    message_box(NULL, text, "Information", MB_OK | MB_ICONINFORMATION);
}
