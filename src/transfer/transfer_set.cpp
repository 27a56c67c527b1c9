/*
 * The transfer set (see transfer_set.h): names and places of a move, the
 * keys of flyt.ini, the disk count and volume arithmetic, recognition of a
 * disk, acceptance of a set, and the placement of archive entries under
 * this PC's data directory.
 */
#include "transfer/transfer_set.h"
#include "transfer/acceptable_set.h"
#include "archive/survey.h"
#include "support/disk_utils.h"
#include "support/file_probe.h"
#include "support/message_box.h"
#include "support/text.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <stdio.h>

char g_transfer_dir[KIRO_PATH_SIZE];
char g_transfer_file[KIRO_PATH_SIZE];

static const char *const SECTION = "global";
/* Windows-1252 like every text of the menu: "å" is the byte 0xE5. */
static const char *const KEY_LOCKED = "skemalåst";
static const char *const KEY_SET_ID = "flytid";
static const char *const KEY_WITHDRAWN = "trukket";
static const char *const KEY_FINISHED_SET = "afsluttetflyt";
static const char *const KEY_PACKED = "pakket";
static const char *const KEY_UNPACKED = "udpakket";
static const char *const KEY_FILES = "antalfiler";
static const DWORD MINIMUM_RESERVE = 3000;

bool set_transfer_paths(const char *move_drive, int installation)
{
    if (format_text(g_transfer_dir, sizeof g_transfer_dir, "%s\\%s%i", move_drive, "KIRO-Flyt",
                    installation)
        && format_text(g_transfer_file, sizeof g_transfer_file, "%s\\flyt.ini", g_transfer_dir))
        return true;
    g_transfer_dir[0] = '\0';
    g_transfer_file[0] = '\0';
    return false;
}

bool move_archive_path(char *out, size_t size, const char *data_dir)
{
    return format_text(out, size, "%s%s.zip", data_dir, "Data");
}

bool packing_archive_path(char *out, size_t size, const char *data_dir)
{
    return format_text(out, size, "%s%s.tvk", data_dir, "Data");
}

bool volume_path(char *out, size_t size, const char *transfer_dir, unsigned disk)
{
    return format_text(out, size, "%s\\Data.z%02u", transfer_dir, disk);
}

bool write_test_path(char *out, size_t size, const char *transfer_dir)
{
    return format_text(out, size, "%s\\%s", transfer_dir, "Flyttest.txt");
}

/* A key of decimal digits only, as a 64-bit number; false when it is
   missing or is anything else. */
static bool read_big_number(const char *transfer_file, const char *key, unsigned long long *value)
{
    char text[32];
    GetPrivateProfileStringA(SECTION, key, "", text, sizeof text, transfer_file);
    size_t n = strlen(text);
    if (n == 0 || n > 20 || strspn(text, "0123456789") != n)
        return false;
    errno = 0;
    *value = _strtoui64(text, NULL, 10);
    return errno == 0;
}

static void read_totals(const char *transfer_file, TransferInfo *info)
{
    unsigned long long files = 0;
    info->has_totals = read_big_number(transfer_file, KEY_PACKED, &info->totals.packed)
                       && read_big_number(transfer_file, KEY_UNPACKED, &info->totals.unpacked)
                       && read_big_number(transfer_file, KEY_FILES, &files) && files <= 0xFFFFFFFFULL;
    info->totals.files = info->has_totals ? (unsigned long)files : 0;
}

void read_transfer_info(const char *transfer_file, TransferInfo *info)
{
    forget_cached_profile(transfer_file);   /* another disk may be in the drive now */
    info->installation = (int)GetPrivateProfileIntA(SECTION, "Insnr", 0, transfer_file);
    info->version = (int)GetPrivateProfileIntA(SECTION, "version", 0, transfer_file);
    info->disk_number = (int)GetPrivateProfileIntA(SECTION, "disknr", 0, transfer_file);
    info->disk_count = (int)GetPrivateProfileIntA(SECTION, "antaldiske", 0, transfer_file);
    GetPrivateProfileStringA(SECTION, KEY_LOCKED, "", info->locked, sizeof info->locked,
                             transfer_file);
    GetPrivateProfileStringA(SECTION, KEY_SET_ID, "", info->set_id, sizeof info->set_id, transfer_file);
    char withdrawn[10];
    GetPrivateProfileStringA(SECTION, KEY_WITHDRAWN, "", withdrawn, sizeof withdrawn, transfer_file);
    info->withdrawn = strcmp(withdrawn, "ja") == 0;
    read_totals(transfer_file, info);
}

int read_transfer_number(const char *transfer_file, const char *key)
{
    forget_cached_profile(transfer_file);
    return (int)GetPrivateProfileIntA(SECTION, key, 0, transfer_file);
}

/* The keys of one disk as one replacement of its transfer file, which is
   then on the device (the disk may be taken out after the next question)
   and read back; mark NULL leaves "skemalåst" out, and the identity goes
   before it, so a disk marked later holds the same file as one written
   marked. */
static bool write_disk_keys(const char *transfer_file, int installation, int version, unsigned disk_number,
                            unsigned disk_count, const char *set_id, const SetTotals *totals, const char *mark)
{
    char numbers[7][24];
    snprintf(numbers[0], sizeof numbers[0], "%i", installation);
    snprintf(numbers[1], sizeof numbers[1], "%i", version);
    snprintf(numbers[2], sizeof numbers[2], "%u", disk_number);
    snprintf(numbers[3], sizeof numbers[3], "%u", disk_count);
    if (totals) {
        snprintf(numbers[4], sizeof numbers[4], "%llu", totals->packed);
        snprintf(numbers[5], sizeof numbers[5], "%llu", totals->unpacked);
        snprintf(numbers[6], sizeof numbers[6], "%lu", totals->files);
    }
    ProfileValue keys[] = {
        { "insnr", numbers[0] },
        { "version", numbers[1] },
        { "disknr", numbers[2] },
        { "antaldiske", numbers[3] },
        { KEY_SET_ID, set_id && set_id[0] ? set_id : NULL },
        { KEY_PACKED, totals ? numbers[4] : NULL },
        { KEY_UNPACKED, totals ? numbers[5] : NULL },
        { KEY_FILES, totals ? numbers[6] : NULL },
        { KEY_LOCKED, mark },
    };
    return replace_profile_values(transfer_file, SECTION, keys, sizeof keys / sizeof keys[0]);
}

bool write_transfer_info(const char *transfer_file, int installation, int version, unsigned disk_number,
                         unsigned disk_count, const char *set_id, const SetTotals *totals)
{
    return write_disk_keys(transfer_file, installation, version, disk_number, disk_count, set_id, totals, "nej");
}

bool write_transfer_info_unmarked(const char *transfer_file, int installation, int version, unsigned disk_number,
                                  unsigned disk_count, const char *set_id, const SetTotals *totals)
{
    return write_disk_keys(transfer_file, installation, version, disk_number, disk_count, set_id, totals, NULL);
}

bool write_transfer_locked(const char *transfer_file, const char *value)
{
    return write_profile_checked(transfer_file, SECTION, KEY_LOCKED, value);
}

bool write_transfer_withdrawn(const char *transfer_file)
{
    /* One replacement: a disk never holds "trukket" without the mark that
       an older menu asks about before installing a set. */
    ProfileValue keys[] = {
        { KEY_WITHDRAWN, "ja" },
        { KEY_LOCKED, "ja" },
    };
    return replace_profile_values(transfer_file, SECTION, keys, sizeof keys / sizeof keys[0]);
}

void new_set_id(char *out, size_t size)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    snprintf(out, size, "%08lX%08lX-%lX-%lX", (unsigned long)now.dwHighDateTime,
             (unsigned long)now.dwLowDateTime, (unsigned long)GetCurrentProcessId(),
             (unsigned long)(counter.LowPart ^ GetTickCount()));
}

bool other_set(const char *first_id, const TransferInfo *info)
{
    return first_id[0] && info->set_id[0] && strcmp(first_id, info->set_id) != 0;
}

bool set_known_finished(const TransferInfo *info, const char *finished_id)
{
    return info->set_id[0] && strcmp(info->set_id, finished_id) == 0;
}

void read_finished_set(char *out, size_t size)
{
    forget_cached_profile(g_settings.config_path);
    GetPrivateProfileStringA(SECTION, KEY_FINISHED_SET, "", out, (DWORD)size, g_settings.config_path);
}

bool remember_finished_set(const char *set_id)
{
    return write_profile_checked(g_settings.config_path, SECTION, KEY_FINISHED_SET, set_id);
}

DWORD disk_reserve(DWORD cluster)
{
    ULONGLONG units = 3ULL * cluster;
    if (units <= MINIMUM_RESERVE)
        return MINIMUM_RESERVE;
    return units > 0xFFFFFFFFULL ? 0xFFFFFFFFUL : (DWORD)units;
}

DWORD volume_room(ULONGLONG free_bytes, DWORD reserve)
{
    if (free_bytes <= reserve)
        return 0;
    ULONGLONG room = free_bytes - reserve;
    return room > 0xFFFFFFFFULL ? 0xFFFFFFFFUL : (DWORD)room;
}

unsigned disk_count(ULONGLONG archive_size, DWORD room)
{
    if (room == 0)
        return 0;
    if (archive_size == 0)
        return 1;
    ULONGLONG count = archive_size / room + (archive_size % room ? 1 : 0);
    return count > 0xFFFFFFFFULL ? 0xFFFFFFFFU : (unsigned)count;
}

ULONGLONG planned_volume_size(ULONGLONG archive_size, DWORD room, unsigned disk_count, unsigned disk)
{
    if (disk == 0 || disk > disk_count)
        return 0;
    if (disk_count == 1)
        return archive_size;
    ULONGLONG before = (ULONGLONG)room * (disk - 1);
    if (before >= archive_size)
        return 0;
    ULONGLONG rest = archive_size - before;
    return rest < room ? rest : room;
}

/* bytes rounded up to whole units, ~0 when that does not fit */
static ULONGLONG whole_units(ULONGLONG bytes, ULONGLONG unit)
{
    ULONGLONG rounded = bytes / unit * unit;
    if (rounded == bytes)
        return bytes;
    return rounded + unit < rounded ? ~0ULL : rounded + unit;
}

static ULONGLONG add_capped(ULONGLONG a, ULONGLONG b)
{
    return a + b < a ? ~0ULL : a + b;
}

ULONGLONG room_to_take_back(const SetTotals *totals, DWORD cluster)
{
    const ULONGLONG unit = cluster ? cluster : (ULONGLONG)SURVEY_DEFAULT_CLUSTER;
    /* Every file wastes less than one unit at its end. */
    ULONGLONG waste = (ULONGLONG)totals->files * (unit - 1);
    ULONGLONG needed = add_capped(whole_units(totals->packed, unit), totals->unpacked);
    needed = add_capped(needed, waste);
    return add_capped(needed, SURVEY_ROOM_MARGIN);
}

bool disk_already_written(int disk_number, unsigned current)
{
    return current > 1 && disk_number <= (int)current - 1;
}

SetVerdict judge_transfer_set(unsigned char file_access_result, const TransferInfo *info,
                              int installation, int version)
{
    if (file_access_result != 0)
        return SET_UNREADABLE;
    if (info->installation != installation)
        return SET_OTHER_INSTALLATION;
    if (info->version != version)
        return SET_OTHER_VERSION;
    if (info->withdrawn)
        return SET_WITHDRAWN;
    return SET_ACCEPTED;
}

bool set_is_live(const TransferInfo *info, int installation)
{
    return info->installation == installation && strcmp(info->locked, "nej") == 0;
}

bool set_is_stale(const TransferInfo *info)
{
    return strcmp(info->locked, "ja") == 0;
}

bool set_is_unmarked(const TransferInfo *info, int installation)
{
    return info->installation == installation && info->disk_count > 0 && info->locked[0] == '\0'
           && !info->withdrawn;
}

bool schedule_in_use(void)
{
    char lock_file[KIRO_PATH_SIZE];
    return format_text(lock_file, sizeof lock_file, "%sini\\kiro.lck", g_settings.data_dir)
           && file_access(lock_file) == 0;
}

void report_schedule_in_use(HWND owner)
{
    message_box(owner,
                "Du er ved at flytte data fra en KIRO, som er i brug af en anden bruger\n"
                "KIRO skal være afsluttet inden der kan flyttes data!",
                "OBS!", MB_OK | MB_ICONWARNING);
}

bool full_data_dir(char *out, size_t size)
{
    const char *given = g_settings.data_dir[0] ? g_settings.data_dir : ".";
    char full[KIRO_PATH_SIZE];
    DWORD n = GetFullPathNameA(given, sizeof full, full, NULL);
    if (n == 0 || n >= sizeof full)
        return false;
    end_with_backslash(full, sizeof full);
    size_t length = strlen(full);
    return length > 0 && full[length - 1] == '\\' && copy_text(out, size, full);
}

bool staging_dir_path(char *out, size_t size, const char *data_dir)
{
    return format_text(out, size, "%s%s\\", data_dir, STAGING_FOLDER);
}
