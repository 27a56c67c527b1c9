/*
 * The one packing road (see pack.h). The folder is listed whole first, so
 * that the workers can deflate files ahead while the earlier ones are
 * written; the listing is also what the progress record is told about,
 * entry by entry, in the order found. A name that does not fit an entry
 * is never packed under a cut name.
 */
#include "archive/pack.h"
#include "archive/deflate_workers.h"
#include "support/text.h"

#include <string.h>

#include <vector>

bool left_out_by(const PackPolicy *policy, const char *name)
{
    for (const char *const *skip = policy->left_out; skip && *skip; skip++)
        if (lstrcmpiA(name, *skip) == 0)
            return true;
    return false;
}

int packing_failure(int code)
{
    /* zip_add_file opens the file before it touches the archive, so a file
       that cannot be opened leaves the archive as it was. */
    return code == ZIP_FILE_OPEN ? 0 : code;
}

/* Every entry base_dir + pattern finds, folders included, in the order
   the search returns them; false when it finds none at all. */
static bool list_found(const char *base_dir, const char *pattern, std::vector<WIN32_FIND_DATAA> *listed)
{
    char search[1040];
    if (!format_text(search, sizeof search, "%s%s", base_dir, pattern))
        return false;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(search, &found);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    do
        listed->push_back(found);
    while (FindNextFileA(find, &found));
    FindClose(find);
    return true;
}

static bool goes_in(const PackPolicy *policy, const WIN32_FIND_DATAA *found)
{
    return !(found->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !left_out_by(policy, found->cFileName);
}

/* The file and its entry name as the policy names them; false when either
   does not fit. */
static bool name_file(const PackPolicy *policy, const char *base_dir, const char *folder,
                      const WIN32_FIND_DATAA *found, PackFile *file)
{
    file->size = ((unsigned long long)found->nFileSizeHigh << 32) | found->nFileSizeLow;
    if (policy->naming == NAME_BY_FULL_PATH) {
        file->entry[0] = '\0';   /* zip_add_file names it by its path */
        return format_text(file->file, sizeof file->file, "%s%s%s", base_dir, folder, found->cFileName);
    }
    return format_text(file->entry, sizeof file->entry, "%s%s", folder, found->cFileName)
           && format_text(file->file, sizeof file->file, "%s%s", base_dir, file->entry);
}

/* The pattern up to and including its last slash ("data\"), "" for none. */
static void pattern_folder(char *folder, size_t size, const char *pattern)
{
    copy_text(folder, size, pattern);
    char *last = NULL;
    for (char *p = folder; *p; p++)
        if (*p == '\\' || *p == '/')
            last = p;
    if (last)
        last[1] = '\0';
    else
        folder[0] = '\0';
}

static void tell_step(const PackProgress *progress)
{
    if (progress && progress->step)
        progress->step(progress->context);
}

/* Writes the listed files in their order; 0, or the code that ended it
   with outcome->file naming the file and *error its system error (taken
   before the caller's progress is told anything more). */
static int pack_listed(PackRun *run, const std::vector<WIN32_FIND_DATAA> &listed, const std::vector<int> &named,
                       const PackPolicy *policy, const PackProgress *progress, PackOutcome *outcome,
                       DWORD *error)
{
    int code = 0;
    *error = 0;
    for (size_t k = 0; k < listed.size() && code == 0; k++) {
        if (policy->stepping == STEP_PER_ENTRY_FOUND)
            tell_step(progress);
        if (!goes_in(policy, &listed[k]))
            continue;
        if (progress && progress->packing)
            progress->packing(progress->context, &listed[k]);
        if (named[k] < 0) {
            if (policy->strictness == PACK_EVERY_FILE)
                code = PACK_NAME_TOO_LONG;
        } else {
            copy_text(outcome->file, sizeof outcome->file, run->files[named[k]].file);
            code = pack_next(run);
            *error = GetLastError();
            if (policy->strictness == PACK_LEAVE_OUT)
                code = packing_failure(code);
        }
        if (policy->stepping == STEP_PER_FILE)
            tell_step(progress);
    }
    return code;
}

int pack_folder(const char *archive, const char *base_dir, const char *pattern, const PackPolicy *policy,
                const PackProgress *progress, PackOutcome *outcome)
{
    outcome->found_nothing = false;
    outcome->file[0] = '\0';
    if (!archive || !base_dir || !pattern)
        return ZIP_ARCHIVE_CLOSE;
    std::vector<WIN32_FIND_DATAA> listed;
    if (!list_found(base_dir, pattern, &listed)) {
        outcome->found_nothing = true;
        return 0;
    }
    char folder[520];
    pattern_folder(folder, sizeof folder, pattern);
    /* named[k]: the index of listed[k] among the files to pack, -1 when
       its name does not fit (or it does not go in). */
    std::vector<PackFile> files;
    std::vector<int> named(listed.size(), -1);
    for (size_t k = 0; k < listed.size(); k++) {
        PackFile file;
        if (goes_in(policy, &listed[k]) && name_file(policy, base_dir, folder, &listed[k], &file)) {
            named[k] = (int)files.size();
            files.push_back(file);
        }
    }
    PackRun run;
    pack_begin(&run, archive, files.data(), files.size());
    DWORD error = 0;
    int code = pack_listed(&run, listed, named, policy, progress, outcome, &error);
    int ended = pack_end(&run, code);
    if (ended != code)
        error = GetLastError();
    SetLastError(error);
    return ended;
}
