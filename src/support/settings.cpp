/*
 * Menu settings (see settings.h): the record itself, the configuration
 * keys read at start-up and written by the moves and the lock, and the
 * version-string lookup.
 */
#include "support/settings.h"
#include "support/text.h"

#include <stdlib.h>
#include <string.h>

MenuSettings g_settings;

const char *const KEY_SECTION_GLOBAL = "global";
const char *const KEY_SCHEDULE_LOCKED = "skemalåst";

void version_string(const char *file, const char *name, char *out, size_t size)
{
    if (size)
        out[0] = '\0';
    DWORD handle = 0;
    DWORD length = GetFileVersionInfoSizeA(file, &handle);
    if (length == 0)
        return;
    void *block = malloc(length);
    if (!block)
        return;
    if (GetFileVersionInfoA(file, 0, length, block)) {
        struct Translation { WORD language; WORD code_page; } *translation = NULL;
        UINT bytes = 0;
        if (VerQueryValueA(block, "\\VarFileInfo\\Translation", (void **)&translation, &bytes) &&
            translation && bytes >= sizeof *translation) {
            char query[128];
            char *value = NULL;
            UINT value_length = 0;
            if (format_text(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s",
                            translation->language, translation->code_page, name) &&
                VerQueryValueA(block, query, (void **)&value, &value_length) && value)
                copy_text(out, size, value);
        }
    }
    free(block);
}

bool derive_schedule_locked(const char *locked_text, const char *super_setting)
{
    return strcmp(locked_text, "ja") == 0 && strcmp(super_setting, "nej") == 0;
}

void read_configuration(void)
{
    const char *ini = g_settings.config_path;
    g_settings.installation = (int)GetPrivateProfileIntA(KEY_SECTION_GLOBAL, "insnr", 0, ini);
    g_settings.version = (unsigned short)GetPrivateProfileIntA(KEY_SECTION_GLOBAL, "version", 0, ini);
    char locked[10];
    GetPrivateProfileStringA(KEY_SECTION_GLOBAL, KEY_SCHEDULE_LOCKED, "nej", locked, sizeof locked, ini);
    GetPrivateProfileStringA(KEY_SECTION_GLOBAL, "superkiro", "nej", g_settings.super_setting,
                             sizeof g_settings.super_setting, ini);
    GetPrivateProfileStringA(KEY_SECTION_GLOBAL, "flytdrev", "a:", g_settings.move_drive,
                             sizeof g_settings.move_drive, ini);
    g_settings.schedule_locked = derive_schedule_locked(locked, g_settings.super_setting);
    copy_text(g_settings.locked_text, sizeof g_settings.locked_text, locked);
}

bool reread_lock_state(void)
{
    const char *ini = g_settings.config_path;
    HANDLE probe = CreateFileA(ini, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (probe == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(probe);
    forget_cached_profile(ini);
    char locked[10], super[10];
    GetPrivateProfileStringA(KEY_SECTION_GLOBAL, KEY_SCHEDULE_LOCKED, "nej", locked, sizeof locked, ini);
    GetPrivateProfileStringA(KEY_SECTION_GLOBAL, "superkiro", "nej", super, sizeof super, ini);
    if (strcmp(locked, g_settings.locked_text) == 0 && strcmp(super, g_settings.super_setting) == 0)
        return false;   /* the flag stays, also where it was set by hand */
    bool was_locked = g_settings.schedule_locked;
    bool was_normal = strcmp(g_settings.super_setting, "nej") == 0;
    copy_text(g_settings.locked_text, sizeof g_settings.locked_text, locked);
    copy_text(g_settings.super_setting, sizeof g_settings.super_setting, super);
    g_settings.schedule_locked = derive_schedule_locked(locked, super);
    return g_settings.schedule_locked != was_locked || (strcmp(super, "nej") == 0) != was_normal;
}

bool write_profile_checked(const char *file, const char *section, const char *key, const char *value)
{
    ProfileValue change = { key, value };
    return replace_profile_values(file, section, &change, 1);
}

/* Writes value under "skemalåst" (true when the file then says so) and
   reads into now what the file says; now is left empty when the key
   cannot be read at all. */
static bool write_locked_text(const char *value, char *now, DWORD size)
{
    bool written = write_profile_checked(g_settings.config_path, KEY_SECTION_GLOBAL, KEY_SCHEDULE_LOCKED, value);
    forget_cached_profile(g_settings.config_path);
    GetPrivateProfileStringA(KEY_SECTION_GLOBAL, KEY_SCHEDULE_LOCKED, "", now, size, g_settings.config_path);
    if (now[0])
        copy_text(g_settings.locked_text, sizeof g_settings.locked_text, now);
    return written;
}

bool write_schedule_locked(bool locked)
{
    const char *value = locked ? "ja" : "nej";
    char now[10];
    bool written = write_locked_text(value, now, sizeof now);
    /* The flag says what the file says, as far as it can be read. */
    if (now[0])
        g_settings.schedule_locked = derive_schedule_locked(now, g_settings.super_setting);
    return written;
}

bool set_schedule_locked(bool locked)
{
    const char *value = locked ? "ja" : "nej";
    char now[10];
    if (!write_locked_text(value, now, sizeof now))
        return false;   /* the flag keeps the state the menu shows */
    g_settings.schedule_locked = locked;
    return true;
}
