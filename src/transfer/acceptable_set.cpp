/*
 * What a transfer set may hold (see acceptable_set.h). One rule decides
 * whether a file's path fits on the taking PC, the same on both sides: its
 * staging folder, the folder and the name must stay shorter than MAX_PATH.
 * The move out takes the staging folder of a data directory of the budget's
 * length (or of its own, when longer); the take-back its own.
 */
#include "transfer/acceptable_set.h"
#include "archive/survey.h"
#include "support/text.h"

#include <windows.h>
#include <string.h>

#include <algorithm>
#include <string>

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
        if (c < 32 || strchr(":*?\"<>|\\/", c))
            return false;
    }
    return !device_name(name, length);
}

/* The one path rule: a file staged under a staging folder of
   staging_length characters, in its bucket and folder, under a name of
   name_length. */
static bool fits_when_staged(size_t staging_length, const char *folder, size_t name_length)
{
    return staging_length + STAGING_BUCKET_LENGTH + strlen(folder) + 1 + name_length < MAX_PATH;
}

size_t longest_set_name(size_t taker_length, const char *folder)
{
    size_t used = taker_length + strlen(STAGING_FOLDER "\\") + STAGING_BUCKET_LENGTH + strlen(folder) + 1;
    return used < MAX_PATH - 1 ? MAX_PATH - 1 - used : 0;
}

const char *staged_relative_name(const char *target, const char *staging)
{
    return target + strlen(staging) + STAGING_BUCKET_LENGTH;
}

/* One file the move out is about to pack from data_dir, for a taking PC
   whose data directory has taker_length characters. */
static SetFault judge_moved_file(const char *data_dir, size_t taker_length, const SetFile *file)
{
    size_t length = strlen(file->name);
    if (!safe_file_name(file->name, length))
        return SET_NAME_UNUSABLE;
    /* The entry is named by the file's full path, less leading slashes. */
    char entry[1040];
    if (!format_text(entry, sizeof entry, "%s%s\\%s", data_dir, file->folder, file->name))
        return SET_PATH_TOO_LONG;
    size_t slashes = strspn(entry, "\\/");
    if (strlen(entry) - slashes > SURVEY_NAME_MAX)
        return SET_PATH_TOO_LONG;
    if (!fits_when_staged(taker_length + strlen(STAGING_FOLDER "\\"), file->folder, length))
        return SET_PATH_TOO_LONG;
    return SET_FITS;
}

SetFault check_set_files(const char *data_dir, const std::vector<SetFile> &files, size_t *at, size_t *other)
{
    *at = 0;
    *other = 0;
    if (files.size() > SURVEY_MAX_ENTRIES)
        return SET_TOO_MANY_FILES;
    size_t taker_length = std::max((size_t)SET_TAKER_DIR_BUDGET, strlen(data_dir));
    for (size_t k = 0; k < files.size(); k++) {
        SetFault fault = judge_moved_file(data_dir, taker_length, &files[k]);
        if (fault != SET_FITS) {
            *at = k;
            return fault;
        }
    }
    /* Alike but for case, as the taking PC's file system compares them. */
    std::vector<std::string> keys(files.size());
    std::vector<size_t> order(files.size());
    for (size_t k = 0; k < files.size(); k++) {
        keys[k] = std::string(files[k].folder) + "\\" + files[k].name;
        order[k] = k;
    }
    std::sort(order.begin(), order.end(),
              [&keys](size_t a, size_t b) { return compare_file_names(keys[a].c_str(), keys[b].c_str()) < 0; });
    for (size_t k = 1; k < order.size(); k++) {
        if (compare_file_names(keys[order[k]].c_str(), keys[order[k - 1]].c_str()) == 0) {
            *at = std::max(order[k], order[k - 1]);
            *other = std::min(order[k], order[k - 1]);
            return SET_NAME_TWICE;
        }
    }
    return SET_FITS;
}

SetFault judge_set_entry(const char *entry_name, const char *staging, char *target, size_t size)
{
    size_t n = strlen(entry_name);
    /* file name: after the last separator */
    size_t name_start = n;
    while (name_start > 0 && !is_separator(entry_name[name_start - 1]))
        name_start--;
    if (name_start == 0)
        return SET_OUTSIDE_FOLDERS;   /* no folder at all */
    if (!safe_file_name(entry_name + name_start, n - name_start))
        return SET_NAME_UNUSABLE;
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
        return SET_OUTSIDE_FOLDERS;
    char relative[MAX_PATH];
    if (!fits_when_staged(strlen(staging), folder, n - name_start)
        || !format_text(relative, sizeof relative, "%s\\%s", folder, entry_name + name_start)
        || !format_text(target, size, "%s%02x\\%s", staging, file_name_hash(relative) & 0xFF, relative))
        return SET_PATH_TOO_LONG;
    return SET_FITS;
}

bool place_transfer_entry(const char *entry_name, char *target, size_t size, void *staging)
{
    return entry_name && staging && judge_set_entry(entry_name, (const char *)staging, target, size) == SET_FITS;
}

static const char *const NOT_MOVED = "\n\nDataene er ikke flyttet, og KIRO-skema er ikke låst på denne PC.";
static const char *const RENAME = "\nGiv filen et andet navn, eller slet den, og flyt så dataene igen.";
static const char *const UNUSABLE = "Navnet kan ikke bruges som navn på en fil i Windows.";
static const char *const TWICE =
    "Filen '%s' har samme navn, kun med andre store og små bogstaver, og Windows kan ikke have begge "
    "filer i samme mappe.";

void describe_move_refusal(char *text, size_t size, SetFault fault, const char *file, const char *other,
                           size_t count)
{
    char reason[1200];
    switch (fault) {
    case SET_TOO_MANY_FILES:
        format_text(text, size,
                    "Datamappen %s kan ikke flyttes:\nDer er %u filer i data og ini, men der kan højst flyttes "
                    "%u filer ad gangen.\nSlet de filer, der ikke skal bruges, og flyt så dataene igen.%s",
                    file, (unsigned)count, (unsigned)SURVEY_MAX_ENTRIES, NOT_MOVED);
        return;
    case SET_NAME_TWICE:
        format_text(reason, sizeof reason, TWICE, other);
        break;
    case SET_PATH_TOO_LONG:
        format_text(reason, sizeof reason,
                    "Navnet er for langt: på en PC, hvis datamappe har op til %u tegn, bliver stien til filen "
                    "længere, end Windows tillader.",
                    (unsigned)SET_TAKER_DIR_BUDGET);
        break;
    default:
        copy_text(reason, sizeof reason, UNUSABLE);
        break;
    }
    format_text(text, size, "Filen '%s' kan ikke flyttes:\n%s%s%s", file, reason, RENAME, NOT_MOVED);
}

const char *take_back_reason(SetFault fault, char *buffer, size_t size, const char *other)
{
    switch (fault) {
    case SET_TOO_MANY_FILES:
        format_text(buffer, size, "Dataene har flere end %u filer, og så mange kan der ikke flyttes ad gangen.",
                    (unsigned)SURVEY_MAX_ENTRIES);
        break;
    case SET_NAME_TWICE:
        format_text(buffer, size, TWICE, other);
        break;
    case SET_PATH_TOO_LONG:
        copy_text(buffer, size,
                  "Navnet er for langt: i datamappen på denne PC bliver stien til filen længere, end Windows "
                  "tillader.");
        break;
    case SET_OUTSIDE_FOLDERS:
        copy_text(buffer, size, "Filen hører ikke til i mappen data eller ini.");
        break;
    default:
        copy_text(buffer, size, UNUSABLE);
        break;
    }
    return buffer;
}
