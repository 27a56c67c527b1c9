/*
 * The transfer set: what a move of the schedule data puts on a removable
 * drive and what it leaves in the data directory while it runs. One PC packs
 * data\*.dat and ini\*.* into the move archive and writes it as volumes
 * Data.z01, Data.z02, ... into the transfer directory of one disk each,
 * together with the transfer file flyt.ini; the other PC checks flyt.ini,
 * joins the volumes and unpacks them into its own data directory.
 *
 * Here are the names and places, the keys of the transfer file, the disk
 * count and volume arithmetic, how a disk is recognised and when a set is
 * accepted, and where an entry of the archive may land on the way back.
 * Everything here is a plain function over values or files, so the dialogs
 * of the two moves stay thin.
 */
#ifndef KIRO_TRANSFER_SET_H
#define KIRO_TRANSFER_SET_H

#include <windows.h>
#include <stddef.h>

#include "support/settings.h"

/* The transfer paths, set by the main menu before a move starts:
   the transfer directory (e.g. "e:\KIRO-Flyt7") and its flyt.ini. */
extern char g_transfer_dir[KIRO_PATH_SIZE];
extern char g_transfer_file[KIRO_PATH_SIZE];

/* Fills both transfer paths from the move drive and installation number.
   Answers false (paths emptied) when they do not fit. */
bool set_transfer_paths(const char *move_drive, int installation);

/* Data.zip and its packing name Data.tvk in the data directory. */
bool move_archive_path(char *out, size_t size, const char *data_dir);
bool packing_archive_path(char *out, size_t size, const char *data_dir);
/* "<transfer dir>\Data.zNN" for disk number disk (Data.z01 ... Data.z100). */
bool volume_path(char *out, size_t size, const char *transfer_dir, unsigned disk);
/* "<transfer dir>\Flyttest.txt", created and deleted to prove a disk writable. */
bool write_test_path(char *out, size_t size, const char *transfer_dir);

/* The keys of flyt.ini, section "global". */
struct TransferInfo {
    int installation;   /* "insnr" */
    int version;        /* "version" */
    int disk_number;    /* "disknr" */
    int disk_count;     /* "antaldiske" */
    char locked[10];    /* "skemalåst": "nej" live, "ja" already taken back */
    char set_id[40];    /* "flytid": the same on every disk of one set ("" in older sets) */
    bool withdrawn;     /* "trukket"="ja": the PC that wrote the set kept its data */
};

/* Reads the transfer file (integers default to 0, the lock text to ""),
   always from the disk now in the drive. */
void read_transfer_info(const char *transfer_file, TransferInfo *info);
/* One integer key of the transfer file, read likewise (default 0). */
int read_transfer_number(const char *transfer_file, const char *key);
/* Writes "insnr", "version", "disknr", "antaldiske", the set's identity
   "flytid" (left out when set_id is NULL or empty) and "skemalåst"="nej" in
   that order, as one replacement of the transfer file that is on the
   device when this answers; false when the file does not say so. */
bool write_transfer_info(const char *transfer_file, int installation, int version,
                         unsigned disk_number, unsigned disk_count, const char *set_id);
/* The same without "skemalåst" (a key left from before is removed): the
   set is not live yet. The last disk of a move out is written so and
   marked "nej" once the PC it comes from is locked, so that at no moment
   both are live. */
bool write_transfer_info_unmarked(const char *transfer_file, int installation, int version,
                                  unsigned disk_number, unsigned disk_count, const char *set_id);
/* Sets "skemalåst" of the transfer file, on the device when this answers;
   false when it did not arrive. */
bool write_transfer_locked(const char *transfer_file, const char *value);
/* Marks a set withdrawn by the PC that wrote it: "trukket"="ja" and
   "skemalåst"="ja" in one replacement, on the device when this answers;
   false when they did not arrive. */
bool write_transfer_withdrawn(const char *transfer_file);

/* A new identity for the set a move out writes: unique to this run. */
void new_set_id(char *out, size_t size);
/* The disk belongs to another set than the one whose first disk had
   first_id (only when both carry an identity). */
bool other_set(const char *first_id, const TransferInfo *info);
/* The set is one this PC knows to be finished, taken back here or
   withdrawn here (finished_id: read_finished_set). */
bool set_known_finished(const TransferInfo *info, const char *finished_id);
/* The identity of the last set this PC took back or withdrew, key
   "afsluttetflyt" of the configuration file ("" when none). */
void read_finished_set(char *out, size_t size);
/* Remembers that set as finished; false when it did not arrive. */
bool remember_finished_set(const char *set_id);

/* Bytes kept free on every disk beside its volume: 3000, or three
   allocation units when they are larger (cluster 0 = unknown). */
DWORD disk_reserve(DWORD cluster);
/* Room for a volume on a disk with free bytes, less the reserve;
   0 when the disk has no usable room. At most 4 GB - 1. */
DWORD volume_room(ULONGLONG free_bytes, DWORD reserve);
/* Disks needed for an archive of archive_size bytes when every volume but
   the last is room bytes long; 0 when room is 0. */
unsigned disk_count(DWORD archive_size, DWORD room);
/* Length of volume disk (from 1) of a move of disk_count volumes whose
   first volumes are room bytes long: the last one takes the rest. */
DWORD planned_volume_size(DWORD archive_size, DWORD room, unsigned disk_count, unsigned disk);

/* While disk current (> 1) is being written: true when a disk whose
   transfer file (of this installation, readable and writable) says
   disk_number is one already written in this move and must be refused. */
bool disk_already_written(int disk_number, unsigned current);

/* Whether the set on a disk may be taken back by this PC. */
enum SetVerdict {
    SET_ACCEPTED = 0,
    SET_UNREADABLE,           /* flyt.ini missing, read-only or unreadable */
    SET_OTHER_INSTALLATION,   /* "insnr" differs */
    SET_OTHER_VERSION,        /* "version" differs */
    SET_WITHDRAWN             /* withdrawn by the PC that wrote it */
};
SetVerdict judge_transfer_set(unsigned char file_access_result, const TransferInfo *info,
                              int installation, int version);

/* The set on a disk is the only live copy of some PC's data: flyt.ini of
   this installation says "skemalåst"="nej". */
bool set_is_live(const TransferInfo *info, int installation);
/* The set has already been taken back somewhere ("skemalåst"="ja"). */
bool set_is_stale(const TransferInfo *info);
/* The last disk of a set whose writer was cut off between locking its PC
   and marking the set: this installation's set with no "skemalåst" at
   all. It may be the only copy of the data (the take-back completes it),
   so it is never overwritten without asking. */
bool set_is_unmarked(const TransferInfo *info, int installation);

/* Where an entry of the move archive lands on this PC: its last folder
   ("data" or "ini", any case) and file name under data_dir. Entries in
   any other folder, with an unsafe file name (a device such as "NUL", a
   trailing dot) or a path too long to open are refused (false). Matches
   EntryPlacer of the zip helpers with data_dir as context. */
bool place_transfer_entry(const char *entry_name, char *target, size_t size, void *data_dir);

/* The schedule program is running on some station: the lock file
   ini\kiro.lck of the data directory is present. Checked when a move is
   chosen, again after packing and once more just before this PC is
   locked; the lock file is never packed. */
bool schedule_in_use(void);
/* The "OBS!" refusal of a move while the schedule program is in use. */
void report_schedule_in_use(HWND owner);

/* The data directory as a full path with a trailing backslash, however
   the command line gave it (".\", "..\data", or empty for the current
   directory): the moves name every file by it, so nothing depends on the
   current directory; false when it does not fit. */
bool full_data_dir(char *out, size_t size);

/* The staging folder of a move back, "<data dir>Flyt.tmp\": the archive
   is unpacked there whole before any file of the data directory is
   replaced. Ends with a backslash. */
bool staging_dir_path(char *out, size_t size, const char *data_dir);

#endif
