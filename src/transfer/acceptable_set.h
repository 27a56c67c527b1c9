/*
 * What a transfer set may hold: the one definition that both moves apply,
 * with the same numbers. The move out applies it to the data directory's
 * listing before anything is packed, for a taking PC whose data directory
 * is up to SET_TAKER_DIR_BUDGET characters long (or as long as this PC's,
 * when that is longer, so the set also comes back here); the take-back
 * applies it to the archive it joined, entry by entry through the survey,
 * for its own data directory. So a set that leaves a PC is one the other
 * PC takes back whole, and a refusal names the file and the reason.
 *
 * The rules: at most SURVEY_MAX_ENTRIES files; each file in "data" or
 * "ini" under a name Windows takes as one plain file (no device name such
 * as "NUL", no trailing dot or blank, no character it forbids); its entry
 * name (the file's full path where it was packed) at most SURVEY_NAME_MAX
 * characters; its path in the taking PC's staging folder shorter than
 * MAX_PATH; and no two names alike but for case (compare_file_names). Sizes
 * have no limit of their own: a file of 4 GB or more travels with zip64
 * fields, and the room on the taking PC is checked before anything is
 * copied there.
 */
#ifndef KIRO_ACCEPTABLE_SET_H
#define KIRO_ACCEPTABLE_SET_H

#include <stddef.h>

#include <vector>

/* The take-back unpacks into "<data dir>Flyt.tmp\" before placing, each
   file into one of 256 bucket folders ("<data dir>Flyt.tmp\3f\data\elev.dat")
   chosen by its name without regard to case: a folder of thousands of new
   files is slow to add to where names are looked up without regard to
   case, and names alike but for case still meet in one folder. */
#define STAGING_FOLDER "Flyt.tmp"
enum { STAGING_BUCKET_LENGTH = 3 };   /* "3f\" */

enum {
    /* The longest data directory (trailing backslash included) a taking
       PC may have for every set to fit there. */
    SET_TAKER_DIR_BUDGET = 150
};

enum SetFault {
    SET_FITS = 0,
    SET_TOO_MANY_FILES,    /* more than SURVEY_MAX_ENTRIES */
    SET_NAME_UNUSABLE,     /* not one plain file of that name on Windows */
    SET_PATH_TOO_LONG,     /* too long to pack here, or to stage on the taking PC */
    SET_NAME_TWICE,        /* alike but for case with another file of the set */
    SET_OUTSIDE_FOLDERS    /* an entry in no "data" or "ini" folder (only an archive has such) */
};

/* One file of the data directory that a move takes: its folder ("data"
   or "ini") and its name there. */
struct SetFile {
    const char *folder;
    const char *name;
};

/* The move out's check, over the files it is about to pack from data_dir
   (a full path, ending with a backslash). SET_FITS, or the first fault;
   *at is the index of the file it is about (the clashing file's in *other
   for SET_NAME_TWICE). */
SetFault check_set_files(const char *data_dir, const std::vector<SetFile> &files, size_t *at, size_t *other);

/* The take-back's check of one archive entry: its last folder ("data" or
   "ini", any case) and file name placed under staging (the staging folder,
   ending with a backslash) into target. SET_FITS or the fault. */
SetFault judge_set_entry(const char *entry_name, const char *staging, char *target, size_t size);
/* judge_set_entry as the survey's placer (context: the staging folder). */
bool place_transfer_entry(const char *entry_name, char *target, size_t size, void *staging);
/* A staged file's name below the data directory ("data\elev.dat"), from
   its target under staging. */
const char *staged_relative_name(const char *target, const char *staging);
/* The longest file name in folder that fits on a taking PC whose data
   directory has taker_length characters. */
size_t longest_set_name(size_t taker_length, const char *folder);

/* The move out's refusal, naming the file (or for too many files the data
   directory) and the reason, into text. */
void describe_move_refusal(char *text, size_t size, SetFault fault, const char *file, const char *other,
                           size_t count);
/* The reason of a take-back's refusal of entry (other: the clashing one),
   one line for "Kan ikke udpakke filen: %s\n<reason>". */
const char *take_back_reason(SetFault fault, char *buffer, size_t size, const char *other);

#endif
