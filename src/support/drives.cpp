/*
 * Drive enumeration and the drive-type query (see drives.h).
 */
#include "support/drives.h"
#include "support/text.h"

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
