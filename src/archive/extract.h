/*
 * Unpacking a surveyed archive: every entry written whole into its own
 * file by one of zip_threads() threads, its length and CRC checked, its
 * DOS time restored as the file's creation and last-write time; folder
 * entries made with every missing parent. The current directory is never
 * changed: every entry goes to the target the survey gave it.
 */
#ifndef KIRO_ARCHIVE_EXTRACT_H
#define KIRO_ARCHIVE_EXTRACT_H

#include "archive/codes.h"
#include "archive/survey.h"

#include <stddef.h>

/* Writes every surveyed entry to its target; answers the code of the
   first entry in archive order that failed (its index in *failed when
   failed is given), the last error set when a file or folder could not be
   made or written. Every entry before it is written whole; no entry is
   started after a failure, but entries after it that were under way may
   be written. */
int extract_surveyed(const char *archive, const ArchiveSurvey *survey, size_t *failed);

/* Extracts every entry under target_dir: a relative name below it, a name
   with drive and root as it stands, a name with a root and no drive on
   target_dir's drive. Non-zero when the archive cannot be opened
   (UNZIP_NO_ARCHIVE), target_dir is not a folder (UNZIP_TARGET_DIR), the
   survey refuses the archive (nothing is written then) or an entry
   failed. */
int unzip_archive(const char *archive, const char *target_dir);
/* Survey and extraction with a caller's placement of each entry. */
int unzip_archive_placed(const char *archive, EntryPlacer placer, void *context);

/* An entry is whole only when exactly its declared bytes came out: a
   deflate stream that ends early is not caught by the library, which
   checks the CRC only once every declared byte was read. 0 or UNZIP_SHORT. */
int check_entry_written(unsigned long long written, unsigned long long declared);
/* Creates every missing directory of path; 1 on success, 0 when path is
   empty or a component cannot be created because its parent is missing. */
int make_path(const char *path);

#endif
