/*
 * The program's private window messages. Nothing outside the process
 * sends them. They are numbered from WM_APP, the range Windows leaves to
 * an application, so none can meet a message that a window class defines
 * for itself from WM_USER on (the dialog manager's DM_GETDEFID,
 * DM_SETDEFID and DM_REPOSITION are WM_USER + 0 to 2).
 */
#ifndef KIRO_MESSAGES_H
#define KIRO_MESSAGES_H

#include <windows.h>

enum PrivateMessage {
    MSG_OPEN_MAIN_MENU = WM_APP + 1,   /* the main window opens the main menu */
    /* The start messages of the progress dialog, each posted once by its
       first paint: the operation runs inside their handling. */
    MSG_PACK_STAGE,                    /* move out: packing, then the disk stage */
    MSG_DISK_STAGE,                    /* move out: the disks; take-back: the whole run */
    MSG_SEND_SUPPORT,                  /* send data to support */
    MSG_DELETE_DATA                    /* delete the schedule data */
};

#endif
