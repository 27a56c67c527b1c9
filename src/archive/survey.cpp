/*
 * The survey of an archive before it is unpacked (see survey.h): one pass
 * over the central directory, then two sorts of what it found, by local
 * header (no two entries may share bytes: a directory whose records point
 * at one local header gives any number of files out of a few bytes) and by
 * target (two entries for one file: which of them would count is anyone's
 * guess).
 */
#include "archive/survey.h"
#include "support/text.h"

#include <algorithm>
#include <string.h>

bool climbs_out(const char *name)
{
    const char *start = name;
    for (const char *p = name;; p++) {
        if (*p == '\\' || *p == '/' || *p == '\0') {
            if (p - start == 2 && start[0] == '.' && start[1] == '.')
                return true;
            if (*p == '\0')
                return false;
            start = p + 1;
        }
    }
}

unzFile open_archive(const char *archive)
{
    if (!archive || !archive[0])
        return NULL;
    ZipName path;
    if (!copy_text(path, sizeof path, archive))
        return NULL;
    unzFile zip = unzOpen(path);
    if (!zip && append_text(path, sizeof path, ".zip"))
        zip = unzOpen(path);
    return zip;
}

/* The length of the file the library opened for archive (".zip" appended
   as open_archive may have done); 0 when it cannot be read. */
static unsigned long long archive_length(const char *archive)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    ZipName path;
    if (copy_text(path, sizeof path, archive) && GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return ((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    if (append_text(path, sizeof path, ".zip") && GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return ((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    return 0;
}

bool is_folder_name(const char *name)
{
    size_t n = strlen(name);
    return n > 0 && (name[n - 1] == '/' || name[n - 1] == '\\');
}

/* Fills entry from the archive's current entry: name, target, declared
   length and CRC, and where its local header and data lie. */
static int survey_entry(unzFile zip, unsigned long long length, EntryPlacer placer, void *context,
                        ArchiveEntry *entry, char *refused)
{
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(zip, &info, entry->name, sizeof entry->name, NULL, 0, NULL, 0) != UNZ_OK)
        return UNZIP_DAMAGED;
    copy_text(refused, SURVEY_NAME_MAX + 1, entry->name);   /* whatever is refused below is this entry */
    if (info.size_filename >= sizeof entry->name)
        return UNZIP_REFUSED;
    if (placer) {
        if (!placer(entry->name, entry->target, sizeof entry->target, context))
            return UNZIP_REFUSED;
    } else if (climbs_out(entry->name) || !copy_text(entry->target, sizeof entry->target, entry->name)) {
        return UNZIP_REFUSED;
    }
    if ((info.flag & 1) || (info.compression_method != 0 && info.compression_method != Z_DEFLATED))
        return UNZIP_DAMAGED;   /* encrypted, or a method this program never writes */
    entry->size = info.uncompressed_size;
    entry->crc = info.crc;

    unz64_file_pos position;
    if (unzGetFilePos64(zip, &position) != UNZ_OK)
        return UNZIP_DAMAGED;
    entry->directory_pos = position.pos_in_zip_directory;
    entry->number = position.num_of_file;
    /* Opening reads the local header and checks it against the directory;
       the data start right after its name and extra field. */
    if (unzOpenCurrentFile(zip) != UNZ_OK) {
        unzCloseCurrentFile(zip);
        return UNZIP_DAMAGED;
    }
    unsigned long long data = unzGetCurrentFileZStreamPos64(zip);
    int extra = unzGetLocalExtrafield(zip, NULL, 0);
    unzCloseCurrentFile(zip);
    unsigned long long before = 30ULL + info.size_filename + (extra > 0 ? (unsigned)extra : 0);
    if (extra < 0 || data < before || info.compressed_size > length || data > length - info.compressed_size)
        return UNZIP_DAMAGED;
    entry->header = data - before;
    entry->end = data + info.compressed_size;
    return 0;
}

static bool header_before(const ArchiveEntry *a, const ArchiveEntry *b)
{
    return a->header < b->header;
}

static bool target_before(const ArchiveEntry *a, const ArchiveEntry *b)
{
    return lstrcmpiA(a->target, b->target) < 0;
}

/* Reads every entry of the central directory into survey, in order. */
static int survey_directory(unzFile zip, unsigned long long length, EntryPlacer placer, void *context,
                            ArchiveSurvey *survey)
{
    unz_global_info64 global;
    if (unzGetGlobalInfo64(zip, &global) != UNZ_OK || global.number_entry > SURVEY_MAX_ENTRIES)
        return UNZIP_DAMAGED;
    survey->entries.resize((size_t)global.number_entry);
    for (size_t i = 0; i < survey->entries.size(); i++) {
        if (i > 0 && unzGoToNextFile(zip) != UNZ_OK)
            return UNZIP_DAMAGED;
        ArchiveEntry *entry = &survey->entries[i];
        int code = survey_entry(zip, length, placer, context, entry, survey->refused);
        if (code != 0)
            return code;
        survey->total += entry->size;
        if (survey->total < entry->size)
            survey->total = ~0ULL;   /* more than any drive holds */
    }
    return 0;
}

/* No two entries share bytes, and no two go to one target. */
static int entries_apart(ArchiveSurvey *survey)
{
    std::vector<const ArchiveEntry *> order;
    for (const ArchiveEntry &entry : survey->entries)
        order.push_back(&entry);
    std::stable_sort(order.begin(), order.end(), header_before);
    for (size_t k = 1; k < order.size(); k++)
        if (order[k]->header < order[k - 1]->end) {
            copy_text(survey->refused, sizeof survey->refused, order[k]->name);
            return UNZIP_OVERLAP;
        }
    std::stable_sort(order.begin(), order.end(), target_before);
    for (size_t k = 1; k < order.size(); k++)
        if (lstrcmpiA(order[k]->target, order[k - 1]->target) == 0) {
            copy_text(survey->refused, sizeof survey->refused, order[k]->name);
            return UNZIP_REFUSED;
        }
    return 0;
}

int survey_archive(const char *archive, EntryPlacer placer, void *context, ArchiveSurvey *survey)
{
    survey->entries.clear();
    survey->total = 0;
    survey->refused[0] = '\0';
    unzFile zip = open_archive(archive);
    if (!zip)
        return UNZIP_NO_ARCHIVE;
    int code = survey_directory(zip, archive_length(archive), placer, context, survey);
    unzClose(zip);
    if (code == 0)
        code = entries_apart(survey);
    if (code == 0)
        survey->refused[0] = '\0';
    else
        survey->entries.clear();
    return code;
}

unsigned long long room_needed(const ArchiveSurvey *survey, DWORD cluster)
{
    const unsigned long long unit = cluster ? (unsigned long long)cluster : (unsigned long long)SURVEY_DEFAULT_CLUSTER;
    const unsigned long long margin = SURVEY_ROOM_MARGIN;
    unsigned long long needed = margin;
    for (const ArchiveEntry &entry : survey->entries) {
        unsigned long long rounded = entry.size / unit * unit + (entry.size % unit ? unit : 0);
        if (rounded < entry.size || needed + rounded < needed)
            return ~0ULL;
        needed += rounded;
    }
    return needed;
}

