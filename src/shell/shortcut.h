/*
 * Desktop shortcut check. A shortcut on the user's desktop may point at
 * the menu of this installation; its icon follows the super setting: icon 0
 * of the target file for a normal installation, icon 1 for a super one.
 * Start-up looks for the first shortcut of this installation and sets its
 * icon; every failure is silent.
 */
#ifndef KIRO_SHORTCUT_H
#define KIRO_SHORTCUT_H

#include <stddef.h>

/* Checks the desktop for the installation of the menu settings (program
   and data directory; the super setting is read from the configuration
   file). Changes at most one shortcut. */
void check_desktop_shortcut(void);

/* The icon index a shortcut of this installation gets: "ja" turns 0 into
   1, "nej" turns 1 into 0, anything else leaves the index. */
int shortcut_icon_index(const char *super_setting, int index);

/* True when a shortcut with this target path and argument text belongs to
   the installation of program_dir and data_dir (ignoring case). */
bool shortcut_belongs(const char *target_path, const char *arguments, const char *program_dir,
                      const char *data_dir);

/* The desktop folder of the current user, from the registry. */
bool desktop_folder(char *out, size_t size);

#endif
