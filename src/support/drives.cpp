/*
 * Drive enumeration and the drive-type query (see drives.h). The list holds
 * every logical drive in letter order with a description for the
 * move-drive choice: the volume label, else the kind of drive, else for a
 * network drive the share it is connected to.
 */
#include "support/drives.h"
#include "support/disk_utils.h"
#include "support/text.h"

#include <winnetwk.h>

#include <stdlib.h>
#include <string.h>

DriveList g_drive_list;

UINT drive_type(const char *text)
{
    char name[8];
    copy_text(name, sizeof name, text ? text : "");
    append_text(name, sizeof name, ":");
    name[2] = '\0';
    return GetDriveTypeA(name);
}

void release_drive_list(DriveList *list)
{
    free(list->entries);
    memset(list, 0, sizeof *list);
}

static const char *type_description(UINT type)
{
    switch (type) {
    case DRIVE_REMOVABLE: return "Flytbar";
    case DRIVE_FIXED:     return "Lokal disk";
    case DRIVE_CDROM:     return "Cd-drev";
    case DRIVE_RAMDISK:   return "Ram disk";
    default:              return "";
    }
}

/* Makes room for one more entry: the array grows five entries at a time,
   the new ones zero-filled. False when no memory is left. */
static bool make_room(DriveList *list)
{
    if (list->count % 5 != 0)
        return true;
    size_t capacity = (size_t)list->count + 5;
    DriveEntry *grown = (DriveEntry *)realloc(list->entries, capacity * sizeof(DriveEntry));
    if (!grown)
        return false;
    memset(grown + list->count, 0, 5 * sizeof(DriveEntry));
    list->entries = grown;
    return true;
}

void build_drive_list(DriveList *list)
{
    release_drive_list(list);
    char roots[260];
    DWORD length = GetLogicalDriveStringsA(sizeof roots, roots);
    if (length != 0 && length < sizeof roots) {
        for (const char *root = roots; *root && root < roots + length; root += strlen(root) + 1) {
            /* The count is a signed byte; 26 letters fit with room. */
            if (list->count >= 127 || !make_room(list))
                break;
            char designation[sizeof list->entries[0].designation];
            /* A root longer than letter, colon and backslash is not a drive
               this menu can move data to; it is left out. */
            if (!copy_text(designation, sizeof designation, root))
                continue;
            size_t n = strlen(designation);
            if (n > 0 && designation[n - 1] == '\\')
                designation[n - 1] = '\0';
            DriveEntry *entry = &list->entries[list->count];
            copy_text(entry->designation, sizeof entry->designation, designation);

            UINT type = drive_type(entry->designation);
            char label[MAX_PATH];
            if (read_volume_label(label, entry->designation))
                copy_text(entry->description, sizeof entry->description, label);
            if (!entry->description[0]) {
                if (type == DRIVE_REMOTE) {
                    char remote[260];
                    DWORD remote_length = sizeof remote;
                    if (WNetGetConnectionA(entry->designation, remote, &remote_length) == NO_ERROR)
                        copy_text(entry->description, sizeof entry->description, remote);
                } else {
                    copy_text(entry->description, sizeof entry->description, type_description(type));
                }
            }
            list->count++;
        }
    }
    list->built = 1;
}
