/*
 * Zip packing and unpacking over minizip and zlib: add one file to an
 * archive (creating it or appending), add every file matching a pattern,
 * extract every entry of an archive. An archive to be unpacked may come
 * from anywhere, so it is surveyed whole first: one pass over its central
 * directory checks every name, where each entry goes, that no two entries
 * share their bytes, and what they add up to, before anything is written.
 * Each extracted entry must then come out with exactly its declared length
 * and CRC. Packing, extracting and reading back use every processor
 * (zip_threads), with the same outcome as on one thread. Results are small
 * integer codes: 0 is success, anything else a failure.
 */
#ifndef KIRO_ZIP_UTILS_H
#define KIRO_ZIP_UTILS_H

#include <windows.h>
#include <stddef.h>

#include <vector>

/* Result codes beyond 0 (success). Callers mostly tell only zero from
   non-zero; the move back tells the user why an entry failed. */
enum {
    ZIP_NO_MEMORY      = -4,
    ZIP_ENTRY_OPEN     = -5,
    ZIP_FILE_OPEN      = -6,
    ZIP_FILE_READ      = -7,
    ZIP_ENTRY_WRITE    = -8,
    ZIP_ENTRY_CLOSE    = -9,
    ZIP_ARCHIVE_CLOSE  = -10,

    UNZIP_TARGET_DIR   = -1,    /* the target directory cannot be made current */
    UNZIP_DAMAGED      = -2,
    UNZIP_NO_ARCHIVE   = -3,
    UNZIP_WRITE        = -9,    /* writing an entry's file failed (last error set) */
    UNZIP_NOT_WRITTEN  = -11,   /* an entry's file cannot be created (last error set) */
    UNZIP_REFUSED      = -12,   /* the entry's name is refused */
    UNZIP_OVERLAP      = -13,   /* two entries share local header or data */
    UNZIP_SHORT        = -14    /* an entry came out shorter than it says */
};

/* Adds file as a new entry named entry_name (NULL: the file path, less
   leading slashes) at the end of archive. On a failure the last error is
   the system's error of the read, write or close that failed. */
int zip_add_file(const char *archive, const char *file, const char *entry_name);
/* zip_add_file with the file path as entry name; reports a failure with
   show_packing_error. */
int pack_file(HWND dialog, const char *file, const char *archive);
/* "Fejl ved pakning af filen '%s'\n" with the system's error, while the
   dialog is hidden. */
void show_packing_error(HWND dialog, const char *file);
/* The files (not folders) that pattern finds, in the order the search
   returns them; none when it finds nothing. */
void list_files(const char *pattern, std::vector<WIN32_FIND_DATAA> *files);
/* The rule when many files go into one archive: a file that cannot be
   opened (gone meanwhile, or held exclusively by another program) is left
   out, and the packing goes on; any other failure has left the archive
   damaged and ends the packing. The code of zip_add_file to go on with: 0
   when the file was only left out, else the failure. */
int packing_failure(int code);
/* Threads that deflate and inflate: one per processor this process may
   run on, at most ZIP_MAX_THREADS; set_zip_threads(n) fixes n (1: every
   file on the calling thread, entry by entry, as the library deflates it),
   0 goes back to one per processor. */
enum { ZIP_MAX_THREADS = 8 };
void set_zip_threads(unsigned threads);
unsigned zip_threads(void);

/* Deflated data held in memory at most, waiting to be written. */
enum { ZIP_MEMORY_IN_FLIGHT = 64 << 20 };

/* One file of a packing run: the file, its entry name (empty: the file
   path, as zip_add_file takes NULL), and its length as listed. */
struct PackFile {
    char file[1040];
    char entry[256];
    unsigned long long size;
};

/* Packing a list of files into one archive, written in their order on the
   calling thread. With more than one thread, workers read and deflate the
   files ahead into memory (never more than ZIP_MEMORY_IN_FLIGHT; a file
   larger than that is deflated as it is written), and each is written as a
   raw entry: the archive is byte for byte the one zip_add_file gives file
   by file. Workers never touch a window; the caller shows every message. */
struct PackWorkers;
struct PackRun {
    const char *archive;
    const PackFile *files;
    size_t count;
    size_t next;                /* the file pack_next writes */
    PackWorkers *workers;       /* NULL: zip_add_file file by file */
};
/* Starts the run (files must outlive it); nothing is written yet. */
void pack_begin(PackRun *run, const char *archive, const PackFile *files, size_t count);
/* Writes the next file's entry: zip_add_file's code for that file (a file
   that cannot be opened, ZIP_FILE_OPEN, leaves the archive as it was; any
   other failure leaves it damaged, to be deleted), its system error as the
   last error. */
int pack_next(PackRun *run);
/* Ends the run, given the code it ended with: every worker has ended, and
   the archive is closed, without its directory when code is not 0.
   Answers code, or the failure of closing the archive. */
int pack_end(PackRun *run, int code);

/* Adds every file of base_dir + pattern, status line and overall bar.
   Stops at the first failure that packing_failure() does not pass over and
   answers its code (the last error as zip_add_file left it); 0 when every
   file went in or was left out. */
int pack_matching_files(HWND dialog, const char *base_dir, const char *pattern, const char *archive);

/* Where an entry goes: fills target with the path to write entry_name to,
   or answers false to refuse the entry (it then counts as failed). */
typedef bool (*EntryPlacer)(const char *entry_name, char *target, size_t size, void *context);

/* One entry as the archive's central directory declares it. */
struct ArchiveEntry {
    char name[256];                 /* as stored */
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
    char refused[256];                   /* the entry a refusal is about */
};

/* More entries than any archive of this program holds: refused. */
enum { SURVEY_MAX_ENTRIES = 10000 };

/* One pass over the central directory, before anything is written: every
   entry's name (refused when it does not fit or climbs out with ".."), its
   target (placer, or the name itself when placer is NULL), its method
   (stored or deflated, not encrypted), its local header and data inside
   the archive, no two targets alike, and no two entries whose local headers
   and data repeat or overlap. 0, or UNZIP_NO_ARCHIVE, UNZIP_DAMAGED,
   UNZIP_REFUSED or UNZIP_OVERLAP (survey->refused names the entry). */
int survey_archive(const char *archive, EntryPlacer placer, void *context, ArchiveSurvey *survey);
/* Room the surveyed entries take on a drive with allocation units of
   cluster bytes (0: unknown), with a margin: every file rounded up to whole
   units, plus 1 MiB. */
unsigned long long room_needed(const ArchiveSurvey *survey, DWORD cluster);
/* An entry is whole only when exactly its declared bytes came out: a
   deflate stream that ends early is not caught by the library, which
   checks the CRC only once every declared byte was read. 0 or UNZIP_SHORT. */
int check_entry_written(unsigned long long written, unsigned long long declared);
/* Writes every surveyed entry to its target, on zip_threads() threads,
   each entry by one of them into its own file; answers the code of the
   first entry in archive order that failed (its index in *failed when
   failed is given), the last error set when a file could not be written.
   Every entry before it is written whole; no entry is started after a
   failure, but entries after it that were under way may be written. */
int extract_surveyed(const char *archive, const ArchiveSurvey *survey, size_t *failed);

/* Extracts every entry into target_dir (made current). Non-zero when the
   archive cannot be opened, the survey refuses it (nothing is written then)
   or an entry failed. */
int unzip_archive(const char *archive, const char *target_dir);
/* Survey and extraction with a caller's placement of each entry; the
   current directory is left alone, so targets should be full paths. */
int unzip_archive_placed(const char *archive, EntryPlacer placer, void *context);
/* Length and CRC-32 of a file, read once in large blocks; false when it
   cannot be read. */
bool file_crc32(const char *path, unsigned long long *size, unsigned long *crc);
/* The length and CRC-32 of every file of a list, read on zip_threads()
   threads; read is false for a file that cannot be read. */
struct FileSum {
    const char *path;
    unsigned long long size;
    unsigned long crc;
    bool read;
};
void files_crc32(FileSum *files, size_t count);
/* Reads every entry to its end and checks its CRC; 0 when all are whole. */
int test_archive(const char *archive);

/* Creates every missing directory of path; 1 on success. */
int make_path(const char *path);

#endif
