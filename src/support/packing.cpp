/*
 * The progress dialog's side of packing (see packing.h): the archive
 * room's progress record turned into the dialog's status line and bar
 * steps, and the one message a packing helper shows itself.
 */
#include "support/packing.h"
#include "archive/zip_write.h"
#include "support/error_text.h"
#include "support/file_probe.h"
#include "support/message_box.h"
#include "support/progress.h"
#include "support/text.h"
#include "resource.h"

static void show_file(void *context, const WIN32_FIND_DATAA *found)
{
    const PackingView *view = (const PackingView *)context;
    char status[600];
    format_text(status, sizeof status, view->status, found->cFileName);
    progress_status(view->dialog, status);
    if (view->packing)
        view->packing(view->context, found);
}

static void show_step(void *context)
{
    const PackingView *view = (const PackingView *)context;
    progress_step(view->dialog, view->bar);
}

int pack_folder_shown(const PackingView *view, const char *archive, const char *base_dir, const char *pattern,
                      const PackPolicy *policy, PackOutcome *outcome)
{
    PackProgress progress = { show_file, show_step, (void *)view };
    return pack_folder(archive, base_dir, pattern, policy, &progress, outcome);
}

/* pack_matching_files: entries named below the base, unreadable files
   left out, one step per file. */
static const PackPolicy MATCHING_FILES = { NAME_BELOW_BASE, PACK_LEAVE_OUT, STEP_PER_FILE, NULL };

int pack_matching_files(HWND dialog, const char *base_dir, const char *pattern, const char *archive)
{
    PackingView view = { dialog, IDC_OVERALL_BAR, "Pakker filen: %s", NULL, NULL };
    PackOutcome outcome;
    return pack_folder_shown(&view, archive, base_dir, pattern, &MATCHING_FILES, &outcome);
}

void show_packing_error(HWND dialog, const char *file)
{
    /* The reason is taken before the dialog is hidden, which may set
       another last error. */
    char reason[400];
    system_error_text(reason, sizeof reason);
    if (dialog)
        ShowWindow(dialog, SW_HIDE);
    char text[1024];
    format_text(text, sizeof text, "Fejl ved pakning af filen '%s'\n%s", file ? file : "", reason);
    error_box(text, MB_ICONERROR);
    if (dialog) {
        ShowWindow(dialog, SW_SHOW);
        InvalidateRect(dialog, NULL, TRUE);
        UpdateWindow(dialog);
    }
}

int pack_file(HWND dialog, const char *file, const char *archive)
{
    int code = zip_add_file(archive, file, NULL);
    if (code != 0)
        show_packing_error(dialog, file);
    return code;
}
