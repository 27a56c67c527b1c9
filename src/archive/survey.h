/*
 * What an archive may hold before any of it is unpacked: the one place
 * that says it, for every road that packs or unpacks a set. An archive
 * may come from anywhere, so it is surveyed whole first: one pass over
 * its central directory checks every entry's name, where each entry goes,
 * its method, that its local header and data lie inside the archive, that
 * no two entries share their bytes or their target, and what they add up
 * to, before anything is written. The limits are named here, once.
 */
#ifndef KIRO_ARCHIVE_SURVEY_H
#define KIRO_ARCHIVE_SURVEY_H

#include "archive/codes.h"

#include <windows.h>
#include <stddef.h>

#include <vector>

#include "unzip.h"

enum {
    /* More entries than any archive of this program holds: refused. */
    SURVEY_MAX_ENTRIES = 10000,
    /* An entry's name, in characters; a longer one is refused, never cut.
       Whatever this program packs fits (ZipName). */
    SURVEY_NAME_MAX = sizeof(ZipName) - 1,
    /* Room an unpacking leaves free beyond its files, in bytes. */
    SURVEY_ROOM_MARGIN = 1 << 20,
    /* The allocation unit assumed when a drive does not tell its own. */
    SURVEY_DEFAULT_CLUSTER = 4096
};

/* Where an entry goes: fills target with the path to write entry_name to,
   or answers false to refuse the entry (it then counts as failed). */
typedef bool (*EntryPlacer)(const char *entry_name, char *target, size_t size, void *context);

/* One entry as the archive's central directory declares it. */
struct ArchiveEntry {
    char name[SURVEY_NAME_MAX + 1];  /* as stored */
    char target[1040];              /* where it is written */
    unsigned long long size;        /* declared length, unpacked */
    unsigned long crc;              /* declared CRC-32 */
    unsigned long long header;      /* its local header ... */
    unsigned long long end;         /* ... up to the end of its data */
    unsigned long long directory_pos, number;   /* to find it again */
};

/* What the survey of an archive found. */
struct ArchiveSurvey {
    std::vector<ArchiveEntry> entries;   /* in archive order */
    unsigned long long total;            /* declared bytes of all entries */
    char refused[SURVEY_NAME_MAX + 1];   /* the entry a refusal is about */
};

/* The survey: every entry's name (refused when it does not fit or climbs
   out with ".."), its target (placer, or the name itself when placer is
   NULL), its method (stored or deflated, not encrypted), its local header
   and data inside the archive, no two targets alike, and no two entries
   whose local headers and data repeat or overlap. 0, or UNZIP_NO_ARCHIVE,
   UNZIP_DAMAGED, UNZIP_REFUSED or UNZIP_OVERLAP (survey->refused names
   the entry). */
int survey_archive(const char *archive, EntryPlacer placer, void *context, ArchiveSurvey *survey);
/* Room the surveyed entries take on a drive with allocation units of
   cluster bytes (0: unknown), every file rounded up to whole units, plus
   SURVEY_ROOM_MARGIN. */
unsigned long long room_needed(const ArchiveSurvey *survey, DWORD cluster);

/* True when a component of name is "..": such an entry would be written
   outside the directory it is extracted into. */
bool climbs_out(const char *name);
/* True for an entry name that ends with a slash: a folder. */
bool is_folder_name(const char *name);
/* Opens archive for reading, as given or with ".zip" appended; NULL when
   neither opens. */
unzFile open_archive(const char *archive);

#endif
