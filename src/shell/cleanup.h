/*
 * Old-version clean-up. Programs, help files and update packages of
 * earlier versions stay in the program directory after an update. Once the
 * start log shows that no station runs a version below the configured one,
 * and the update of the configured version left its marker
 * ("Opd<version>.exe"), start-up removes those files and the marker.
 */
#ifndef KIRO_CLEANUP_H
#define KIRO_CLEANUP_H

/* True when the marker of version exists and opens for reading and
   writing, and the lowest version in use is at least version. */
bool cleanup_due(const char *program_dir, unsigned short version);

/* Deletes the fixed list of old-version files (versions below version
   only) and then Opd<version>.exe, Opd<version>.zip and Prg<version>.zip.
   Every failure is ignored. */
void clean_old_versions(const char *program_dir, unsigned short version);

/* Start-up's step: clean_old_versions when cleanup_due. */
void run_cleanup_if_due(const char *program_dir, unsigned short version);

#endif
