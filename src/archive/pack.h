/*
 * The one packing road: every file that a directory search finds goes
 * into an archive, in the order the search returns them, deflated ahead
 * on every processor (deflate_workers.h). What differs between the
 * program's packings is said by a policy: which files are left out, how
 * their entries are named, whether a file that cannot be packed ends the
 * packing or is only left out, and when the caller's bar steps. The road
 * shows nothing itself; it tells the caller through a small progress
 * record, and the caller shows its own messages.
 */
#ifndef KIRO_ARCHIVE_PACK_H
#define KIRO_ARCHIVE_PACK_H

#include "archive/codes.h"

#include <windows.h>

/* How entries are named. */
enum PackNaming {
    NAME_BY_FULL_PATH,    /* the file's path as found, less leading slashes */
    NAME_BELOW_BASE       /* the pattern's folder part and the file's name ("data\elev.dat") */
};

/* What a file that cannot be packed does to the packing. */
enum PackStrictness {
    PACK_EVERY_FILE,      /* it ends the packing: nothing may be missing */
    PACK_LEAVE_OUT        /* a file that cannot be opened (gone meanwhile, held without sharing), or
                             whose name does not fit, is left out; any other failure ends the packing */
};

/* When the caller's bar steps. */
enum PackStepping {
    STEP_PER_ENTRY_FOUND, /* before each entry the search found, folders, "." and ".." included */
    STEP_PER_FILE         /* after each file that was to go in, packed or left out */
};

struct PackPolicy {
    PackNaming naming;
    PackStrictness strictness;
    PackStepping stepping;
    const char *const *left_out;   /* file names never packed (case ignored), ended by NULL; NULL for none */
};

/* What the caller sees while it packs; any member may be NULL. */
struct PackProgress {
    void (*packing)(void *context, const WIN32_FIND_DATAA *found);   /* found is about to go in */
    void (*step)(void *context);
    void *context;
};

/* How a packing ended, beyond its code. */
struct PackOutcome {
    bool found_nothing;   /* the search found no entry at all (or its pattern did not fit) */
    char file[1040];      /* the file packed last, or the one the packing failed on ("" for none) */
};

/* Packs every file of base_dir + pattern (base_dir ends with a backslash,
   pattern such as "data\*.dat") into archive under policy. 0 when every
   file went in or was left out as the policy allows; otherwise the code
   that ended the packing (PACK_NAME_TOO_LONG for a name that does not fit
   when nothing may be left out), its system error as the last error, and
   the archive left without its directory, for the caller to delete. */
int pack_folder(const char *archive, const char *base_dir, const char *pattern, const PackPolicy *policy,
                const PackProgress *progress, PackOutcome *outcome);

/* True when policy leaves out a file of this name. */
bool left_out_by(const PackPolicy *policy, const char *name);

/* The rule when many files go into one archive and a file may be left
   out: the code of zip_add_file to go on with, 0 when the file was only
   left out (it could not be opened, so the archive is as it was), else the
   failure. */
int packing_failure(int code);

#endif
