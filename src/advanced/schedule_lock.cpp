/*
 * Schedule lock and lock file (see schedule_lock.h). Both hold the
 * installation's move lock from before they look at the state they change
 * until they have changed it.
 */
#include "advanced/schedule_lock.h"
#include "schedule_files/move_lock.h"
#include "support/settings.h"
#include "support/file_probe.h"
#include "support/message_box.h"
#include "support/text.h"

void toggle_schedule_lock(void)
{
    MoveLock lock;
    if (!take_move_lock(NULL, &lock))
        return;
    if (reread_lock_state()) {
        report_state_changed(NULL);
        return;
    }
    bool locked = g_settings.schedule_locked;
    const char *question = locked
        ? "Er du sikker på at du vil 'åbne' skemaet?\n Dette bør normalt gøres ved at Flytte skemaet til harddisk!"
        : "Er du sikker på at du vil 'låse' skemaet?\n Dette bør normalt gøres ved at Flytte skemaet til enhed!";
    if (message_box(NULL, question, "Information", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON1) != IDYES)
        return;
    if (!set_schedule_locked(!locked)) {
        char text[KIRO_PATH_SIZE + 200];
        format_text(text, sizeof text,
                    "Skemaet kunne ikke %s, fordi filen '%s' ikke kunne skrives!\n"
                    "Skemaet er stadig %s.",
                    locked ? "åbnes" : "låses", g_settings.config_path,
                    g_settings.schedule_locked ? "låst" : "åbent");
        error_box(text, MB_OK | MB_ICONERROR);
    }
}

void lock_file_path(char *path, size_t size)
{
    format_text(path, size, "%sini\\kiro.lck", g_settings.data_dir);
}

void lock_file_warning(char *text, size_t size, int installation)
{
    format_text(text, size, "Bemærk at data'ene tilhørende installation nr. %i er i brug !!!\n", installation);
    append_text(text, size, "Hvis du sletter Kiro.lck filen kan det medføre tab af data\nfor ovenstående installation.\n");
    append_text(text, size, "Du skal være sikker på konsekvensen af dette.\n\nEr du sikker på du vil slette Kiro.lck filen?");
}

bool confirm_delete_lock_file(HWND owner)
{
    char path[KIRO_PATH_SIZE];
    lock_file_path(path, sizeof path);
    char text[512];
    lock_file_warning(text, sizeof text, g_settings.installation);
    if (file_access(path) != 0)
        return true;
    return message_box(owner, text, "Advarsel!", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

void delete_lock_file_guarded(HWND owner)
{
    MoveLock lock;
    if (take_move_lock(owner, &lock) && confirm_delete_lock_file(owner))
        delete_lock_file();
}

bool delete_lock_file(void)
{
    char path[KIRO_PATH_SIZE];
    lock_file_path(path, sizeof path);
    if (file_access(path) != 0)
        return false;
    return DeleteFileA(path) != 0;
}
