/*
 * Packing the support snapshot into its working archive: the program
 * directory's top level, then the data directory's data\, ini\, log\,
 * datakopi\ and inikopi\, each file named below its base directory, the
 * status line naming it and the overall bar stepping once per file; then
 * the update marker when it is set; then the whole archive read back. A
 * file that cannot be opened (held by another program) is only left out;
 * anything that damages the archive ends the packing, and such an archive
 * is never sent.
 */
#include <windows.h>

#include "advanced/send_support.h"
#include "archive/checksum.h"
#include "support/file_probe.h"
#include "support/packing.h"
#include "support/progress.h"
#include "support/text.h"
#include "resource.h"

#include <string.h>

/* Packs the program directory's top level like pack_matching_files, but
   never the working archive itself (it is being written in that very
   directory, and a search may come across it), and not the update marker,
   which goes in on its own and only when it is set. 0, or the failure that
   ended the packing (its system error left as the last error). */
static int pack_program_directory(HWND dialog, const char *program_dir, const char *archive)
{
    const char *archive_name = strrchr(archive, '\\');
    archive_name = archive_name ? archive_name + 1 : archive;
    const char *const left_out[] = { archive_name, "opdat.lck", NULL };
    const PackPolicy program = { NAME_BELOW_BASE, PACK_LEAVE_OUT, STEP_PER_FILE, left_out };
    PackingView view = { dialog, IDC_OVERALL_BAR, "Pakker filen: %s", NULL, NULL };
    PackOutcome outcome;
    return pack_folder_shown(&view, archive, program_dir, "*.*", &program, &outcome);
}

bool pack_snapshot(HWND dialog, const char *program_dir, const char *data_dir, const char *const folders[5],
                   const char *working, DWORD *error)
{
    *error = 0;
    int code = pack_program_directory(dialog, program_dir, working);
    for (int i = 0; i < 5 && code == 0; i++) {
        char relative[32];
        format_text(relative, sizeof relative, "%s\\*.*", folders[i]);
        code = pack_matching_files(dialog, data_dir, relative, working);
    }
    if (code != 0)
        *error = GetLastError();
    progress_step(dialog, IDC_OVERALL_BAR);

    char marker[1024];   /* a program directory (519 at most) and the marker's name */
    if (code == 0 && format_text(marker, sizeof marker, "%sopdat.lck", program_dir) && file_access(marker) == 0)
        code = packing_failure(pack_file(dialog, marker, working));
    progress_fill(dialog, IDC_OVERALL_BAR);
    return code == 0 && test_archive(working) == 0;
}
