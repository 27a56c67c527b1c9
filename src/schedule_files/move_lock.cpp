/*
 * The installation's move lock (see move_lock.h), and the look at the
 * schedule's locked state that every action takes once it holds the lock.
 */
#include "schedule_files/move_lock.h"
#include "support/error_text.h"
#include "support/file_probe.h"
#include "support/message_box.h"
#include "support/settings.h"
#include "support/text.h"

MoveLock::~MoveLock()
{
    release_move_lock(this);
}

bool move_lock_path(char *out, size_t size, const char *data_dir)
{
    return format_text(out, size, "%sini\\%s", data_dir, MOVE_LOCK_NAME);
}

MoveLockResult try_move_lock(const char *data_dir, MoveLock *lock)
{
    release_move_lock(lock);
    char path[KIRO_PATH_SIZE];
    if (!move_lock_path(path, sizeof path, data_dir)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return MOVE_LOCK_UNAVAILABLE;
    }
    UINT mode = quiet_drive_begin();
    /* No sharing at all: while this handle is open no other station opens
       the file, whatever it asks for. */
    lock->file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, NULL);
    DWORD error = GetLastError();
    quiet_drive_end(mode);
    SetLastError(error);
    if (lock->file != INVALID_HANDLE_VALUE)
        return MOVE_LOCK_TAKEN;
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? MOVE_LOCK_HELD_ELSEWHERE
                                                                             : MOVE_LOCK_UNAVAILABLE;
}

void report_move_lock_refused(HWND owner, MoveLockResult result)
{
    if (result == MOVE_LOCK_HELD_ELSEWHERE) {
        message_box(owner,
                    "Der er en flytning af KIRO-data i gang på en anden PC.\n"
                    "Intet er ændret. Vent, til flytningen er afsluttet, og prøv igen.",
                    "OBS!", MB_OK | MB_ICONWARNING);
        return;
    }
    char path[KIRO_PATH_SIZE], error[256], text[2 * KIRO_PATH_SIZE];
    system_error_text(error, sizeof error);
    if (!move_lock_path(path, sizeof path, g_settings.data_dir))
        copy_text(path, sizeof path, MOVE_LOCK_NAME);
    format_text(text, sizeof text,
                "KIRO-data kan ikke reserveres til denne PC, fordi filen %s ikke kan oprettes.\n%s\n"
                "Intet er ændret.",
                path, error);
    message_box(owner, text, "Fejl", MB_OK | MB_ICONERROR);
}

bool take_move_lock(HWND owner, MoveLock *lock)
{
    MoveLockResult result = try_move_lock(g_settings.data_dir, lock);
    if (result != MOVE_LOCK_TAKEN)
        report_move_lock_refused(owner, result);
    return result == MOVE_LOCK_TAKEN;
}

void release_move_lock(MoveLock *lock)
{
    if (lock->file == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(lock->file);
    lock->file = INVALID_HANDLE_VALUE;
}

void report_state_changed(HWND owner)
{
    message_box(owner,
                "KIRO-skema er blevet låst eller åbnet fra en anden station, siden menuen blev vist.\n"
                "Intet er ændret, og menuen er opdateret. Vælg igen.",
                "Information", MB_OK | MB_ICONINFORMATION);
}
