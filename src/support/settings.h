/*
 * Menu settings: the process-wide record that start-up fills from the
 * command line and ini\kiro.ini and every part of the menu reads, the
 * helpers that read and write its configuration keys, and the lookup of a
 * version-resource string. Start-up itself (shell/startup.h) fills it; this
 * file knows nothing of windows or dialogs beyond the handles it keeps.
 */
#ifndef KIRO_SETTINGS_H
#define KIRO_SETTINGS_H

#include <windows.h>
#include <stddef.h>

#include "support/profile_file.h"

enum { KIRO_PATH_SIZE = 520 };

struct MenuSettings {
    char program_dir[KIRO_PATH_SIZE];  /* ends with a backslash */
    char data_dir[KIRO_PATH_SIZE];     /* ends with a backslash */
    char config_path[KIRO_PATH_SIZE];  /* data_dir + "ini\kiro.ini" */
    int installation;                  /* "insnr" */
    unsigned short version;            /* "version", low 16 bits */
    char super_setting[10];            /* "superkiro" */
    char move_drive[4];                /* "flytdrev" */
    bool schedule_locked;
    char locked_text[10];              /* "skemalåst" as last read or written */
    char title[3 * KIRO_PATH_SIZE];
    char footer[512];
    int screen_height;
    HFONT banner_font;
    HFONT title_font;
    HFONT heading_font;
    int banner_font_width;
    HWND main_window;
    HINSTANCE instance;
};

extern MenuSettings g_settings;

/* The configuration section and the lock key, spelled as the schedule
   program spells them (the key is Windows-1252: "skemal" + 0xE5 + "st"). */
extern const char *const KEY_SECTION_GLOBAL;
extern const char *const KEY_SCHEDULE_LOCKED;

/* The named string of a file's version resource, or an empty text. */
void version_string(const char *file, const char *name, char *out, size_t size);

/* Reads the five keys of section "global" into g_settings and derives the
   schedule-locked flag. */
void read_configuration(void);
/* True when "skemalåst" is "ja" and the super setting is "nej". */
bool derive_schedule_locked(const char *locked_text, const char *super_setting);
/* Writes key = value into section of file, replacing the file whole
   (see support/profile_file.h), and reads it back from the file itself;
   true when it arrived. */
bool write_profile_checked(const char *file, const char *section, const char *key, const char *value);

/* Reads "skemalåst" and "superkiro" from the configuration file again.
   Where either differs from what the menu last read or wrote, the record
   takes the file's values (the flag derived from them as at start-up) and
   the answer tells whether the state the menu shows changed with them (the
   flag, or whether the installation is a super one). A file that cannot
   be opened changes nothing: the writers check what they write. */
bool reread_lock_state(void);

/* Writes "skemalåst" and keeps the flag equal to what the file says (so a
   super installation never counts as locked). Answers false (and leaves
   the flag as the file has it) on failure. Used by the moves. */
bool write_schedule_locked(bool locked);
/* The lock set by hand: writes "skemalåst" and sets the flag to locked, also
   in a super installation. Answers false, the flag unchanged, when the file
   could not be written. */
bool set_schedule_locked(bool locked);

#endif
