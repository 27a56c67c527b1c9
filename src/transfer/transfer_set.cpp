/*
 * The transfer set (see transfer_set.h): names and places of a move, the
 * keys of flyt.ini, the disk count and volume arithmetic, recognition of a
 * disk, acceptance of a set, and the placement of archive entries under
 * this PC's data directory.
 */
#include "transfer/transfer_set.h"
#include "support/disk_utils.h"
#include "support/file_probe.h"
#include "support/message_box.h"
#include "support/text.h"

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
                            unsigned disk_count, const char *set_id, const char *mark)
{
    char numbers[4][16];
    snprintf(numbers[0], sizeof numbers[0], "%i", installation);
    snprintf(numbers[1], sizeof numbers[1], "%i", version);
    snprintf(numbers[2], sizeof numbers[2], "%u", disk_number);
    snprintf(numbers[3], sizeof numbers[3], "%u", disk_count);
    ProfileValue keys[] = {
        { "insnr", numbers[0] },
        { "version", numbers[1] },
        { "disknr", numbers[2] },
        { "antaldiske", numbers[3] },
        { KEY_SET_ID, set_id && set_id[0] ? set_id : NULL },
        { KEY_LOCKED, mark },
    };
    return replace_profile_values(transfer_file, SECTION, keys, sizeof keys / sizeof keys[0]);
}

bool write_transfer_info(const char *transfer_file, int installation, int version,
                         unsigned disk_number, unsigned disk_count, const char *set_id)
{
    return write_disk_keys(transfer_file, installation, version, disk_number, disk_count, set_id, "nej");
}

bool write_transfer_info_unmarked(const char *transfer_file, int installation, int version,
                                  unsigned disk_number, unsigned disk_count, const char *set_id)
{
    return write_disk_keys(transfer_file, installation, version, disk_number, disk_count, set_id, NULL);
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

unsigned disk_count(DWORD archive_size, DWORD room)
{
    if (room == 0)
        return 0;
    if (archive_size == 0)
        return 1;
    return (unsigned)(((ULONGLONG)archive_size + room - 1) / room);
}

DWORD planned_volume_size(DWORD archive_size, DWORD room, unsigned disk_count, unsigned disk)
{
    if (disk == 0 || disk > disk_count)
        return 0;
    if (disk_count == 1)
        return archive_size;
    ULONGLONG before = (ULONGLONG)room * (disk - 1);
    if (before >= archive_size)
        return 0;
    ULONGLONG rest = archive_size - before;
    return rest < room ? (DWORD)rest : room;
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

static bool is_separator(char c)
{
    return c == '\\' || c == '/';
}

static const char *const DEVICE_NAMES[] = { "CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$" };

/* A name Windows takes as a device wherever it appears, with or without
   an extension: "NUL", "con.dat", "LPT1.txt". */
static bool device_name(const char *name, size_t length)
{
    size_t base = 0;
    while (base < length && name[base] != '.')
        base++;
    while (base > 0 && name[base - 1] == ' ')
        base--;
    for (const char *device : DEVICE_NAMES)
        if (strlen(device) == base && _strnicmp(name, device, base) == 0)
            return true;
    return base == 4 && (_strnicmp(name, "COM", 3) == 0 || _strnicmp(name, "LPT", 3) == 0) &&
           name[3] >= '1' && name[3] <= '9';
}

/* A file name the file system takes as one plain file in the folder, under
   exactly that name: no device, no separators or wildcards, no trailing
   dot or blank (which Windows would silently drop). */
static bool safe_file_name(const char *name, size_t length)
{
    if (length == 0 || length >= MAX_PATH)
        return false;
    if (name[length - 1] == '.' || name[length - 1] == ' ')
        return false;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)name[i];
        if (c < 32 || strchr(":*?\"<>|", c))
            return false;
    }
    return !device_name(name, length);
}

bool place_transfer_entry(const char *entry_name, char *target, size_t size, void *data_dir)
{
    if (!entry_name || !data_dir)
        return false;
    size_t n = strlen(entry_name);
    /* file name: after the last separator */
    size_t name_start = n;
    while (name_start > 0 && !is_separator(entry_name[name_start - 1]))
        name_start--;
    if (name_start == 0)
        return false;   /* no folder at all */
    if (!safe_file_name(entry_name + name_start, n - name_start))
        return false;
    /* last folder: between the separator before it and the one after it */
    size_t folder_end = name_start - 1;
    size_t folder_start = folder_end;
    while (folder_start > 0 && !is_separator(entry_name[folder_start - 1]))
        folder_start--;
    size_t folder_length = folder_end - folder_start;
    const char *folder = NULL;
    if (folder_length == 4 && _strnicmp(entry_name + folder_start, "data", 4) == 0)
        folder = "data";
    else if (folder_length == 3 && _strnicmp(entry_name + folder_start, "ini", 3) == 0)
        folder = "ini";
    if (!folder)
        return false;
    /* The whole path must be one the system can open as it stands. */
    return format_text(target, size, "%s%s\\%s", (const char *)data_dir, folder,
                       entry_name + name_start)
           && strlen(target) < MAX_PATH;
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
    return format_text(out, size, "%s%s\\", data_dir, "Flyt.tmp");
}
