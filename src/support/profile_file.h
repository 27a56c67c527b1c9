/*
 * Profile files that hold state (ini\kiro.ini, the transfer file flyt.ini)
 * are replaced whole, never rewritten in place. The new version is made
 * beside the file by the system's own profile functions on a copy, so its
 * format is what writing in place would give byte for byte; it is checked,
 * flushed to the device and then put in place by one replacing move that is
 * written through. At every moment the file is there, its old version or
 * its new one whole, also for another station that reads it meanwhile and
 * after a power cut at any point. A copy left beside the file by a cut is
 * removed by the next replacement and at start-up.
 */
#ifndef KIRO_PROFILE_FILE_H
#define KIRO_PROFILE_FILE_H

#include <stddef.h>

/* One key of a section and the value it is to have; a NULL value removes
   the key. */
struct ProfileValue {
    const char *key;
    const char *value;
};

/* Replaces file whole by a version in which the keys of section have these
   values, as one replacement however many keys are written. True only when
   the file, read back from itself, says exactly that; false (the file then
   old or new whole, nothing left beside it) otherwise. A file held by
   another station is waited for briefly. A missing file is created. */
bool replace_profile_values(const char *file, const char *section, const ProfileValue *values, size_t count);

/* Removes the copies an interrupted replacement of file left beside it. */
void remove_replacement_leftovers(const char *file);

/* The system may keep the profile file it read last in memory and tell a
   changed file by its time stamp alone: the flyt.ini of two sticks, of the
   same size and written within the same two seconds, look the same to it.
   Called before a file that may lie on another disk by now is read or
   written, and before a write is read back. */
void forget_cached_profile(const char *file);

#endif
