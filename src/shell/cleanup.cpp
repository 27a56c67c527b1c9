/*
 * Old-version clean-up (see cleanup.h).
 *
 * The fixed list names the files of versions 10324 to 10327. Files of the
 * configured version or a later one are never taken from it: with version
 * 10327 configured, 10327.exe is the schedule program itself.
 */
#include "shell/cleanup.h"
#include "support/settings.h"
#include "schedule_files/start_log.h"
#include "support/file_probe.h"
#include "support/text.h"

#include <windows.h>

struct OldFile {
    int version;
    const char *name;
};

static const OldFile OLD_FILES[] = {
    { 10324, "10324.exe" }, { 10324, "10324.hlp" }, { 10324, "10324.cnt" }, { 10324, "10324.gid" },
    { 10324, "10324.fts" }, { 10324, "ep10324.exe" }, { 10324, "opd10324.exe" },
    { 10324, "opd10324.zip" }, { 10324, "ini10324.zip" }, { 10324, "prg10324.zip" },

    { 10325, "10325.exe" }, { 10325, "10325.hlp" }, { 10325, "10325.cnt" }, { 10325, "10325.gid" },
    { 10325, "10325.fts" }, { 10325, "ep10325.exe" }, { 10325, "opd10325.exe" },
    { 10325, "opd10325.zip" }, { 10325, "ini10325.zip" }, { 10325, "prg10325.zip" },

    { 10326, "10326.exe" }, { 10326, "10326.hlp" }, { 10326, "10326.cnt" }, { 10326, "10326.chm" },
    { 10326, "10326.hhc" }, { 10326, "10326.gid" }, { 10326, "10326.fts" }, { 10326, "ep10326.exe" },
    { 10326, "opd10326.exe" }, { 10326, "opd10326.zip" }, { 10326, "ini10326.zip" },
    { 10326, "prg10326.zip" },

    { 10327, "10327.exe" }, { 10327, "10327.chm" }, { 10327, "10327.hhc" }, { 10327, "ep10327.exe" },
    { 10327, "opd10327.exe" }, { 10327, "opd10327.zip" }, { 10327, "ini10327.zip" },
    { 10327, "prg10327.zip" },
};

static void delete_in(const char *program_dir, const char *name)
{
    char path[KIRO_PATH_SIZE];
    if (format_text(path, sizeof path, "%s%s", program_dir, name))
        DeleteFileA(path);
}

bool cleanup_due(const char *program_dir, unsigned short version)
{
    char marker[KIRO_PATH_SIZE];
    if (!format_text(marker, sizeof marker, "%sOpd%i.exe", program_dir, (int)version))
        return false;
    if (file_access(marker) != 0)
        return false;
    return lowest_version_in_use(program_dir) >= version;
}

void clean_old_versions(const char *program_dir, unsigned short version)
{
    UINT mode = quiet_drive_begin();
    for (const OldFile &file : OLD_FILES)
        if (file.version < (int)version)
            delete_in(program_dir, file.name);
    char name[32];
    format_text(name, sizeof name, "Opd%i.exe", (int)version);
    delete_in(program_dir, name);
    format_text(name, sizeof name, "Opd%i.zip", (int)version);
    delete_in(program_dir, name);
    format_text(name, sizeof name, "Prg%i.zip", (int)version);
    delete_in(program_dir, name);
    quiet_drive_end(mode);
}

void run_cleanup_if_due(const char *program_dir, unsigned short version)
{
    if (cleanup_due(program_dir, version))
        clean_old_versions(program_dir, version);
}
