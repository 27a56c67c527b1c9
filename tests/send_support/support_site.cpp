/*
 * The send-to-support test installation and archive readers (see
 * support_site.h).
 */
#include "support_site.h"

#include "unzip.h"

#include <stdio.h>
#include <string.h>

void set_contact(const Installation &inst, const char *key, const char *value)
{
    WritePrivateProfileStringA("kontakt", key, value, inst.ini().c_str());
}

Installation make_support_site(const char *name, const char *supportserver)
{
    Installation inst = make_installation(name, 1);
    const std::string &p = inst.program_dir;
    const std::string &d = inst.data_dir;
    write_file(p + "START.LOG", "startet\r\n");
    /* Incompressible data, so that the archive passes 64 KB. */
    std::string noise;
    unsigned int value = 99;
    for (int i = 0; i < 90000; i++) {
        value = value * 1103515245u + 12345u;
        noise += (char)(value >> 16);
    }
    write_file(d + "data\\KIRO.DAT", noise);
    make_dirs(d + "data\\sub");
    write_file(d + "data\\sub\\deep.dat", "deeper");
    make_dirs(d + "log");
    write_file(d + "log\\kiro.log", "log line\r\n");
    make_dirs(d + "datakopi");
    write_file(d + "datakopi\\KIRO.DAT", "copy");
    make_dirs(d + "inikopi");
    write_file(d + "inikopi\\kiro.ini", "[global]\r\n");
    write_file(p + "skolesql011-2020.01.01-10.00.zip", "old one");
    write_file(p + "skolesql0112-2020.01.01-10.00.zip", "old twelve");
    write_file(p + "skolesql012-2020.01.01-10.00.zip", "installation two");
    set_contact(inst, "database", "skole");
    set_contact(inst, "server", "sql01.skole.local");
    if (supportserver)
        set_contact(inst, "supportserver", supportserver);
    return inst;
}

std::vector<std::string> zip_entries(const std::string &archive)
{
    std::vector<std::string> names;
    unzFile zip = unzOpen(archive.c_str());
    if (!zip)
        return names;
    for (int more = unzGoToFirstFile(zip); more == UNZ_OK; more = unzGoToNextFile(zip)) {
        char name[300];
        unz_file_info info;
        if (unzGetCurrentFileInfo(zip, &info, name, sizeof name, NULL, 0, NULL, 0) != UNZ_OK)
            break;
        names.push_back(name);
    }
    unzClose(zip);
    return names;
}

std::string zip_entry(const std::string &archive, const std::string &entry)
{
    std::string content;
    unzFile zip = unzOpen(archive.c_str());
    if (!zip)
        return content;
    if (unzLocateFile(zip, entry.c_str(), 1) == UNZ_OK && unzOpenCurrentFile(zip) == UNZ_OK) {
        char buffer[8192];
        int n;
        while ((n = unzReadCurrentFile(zip, buffer, sizeof buffer)) > 0)
            content.append(buffer, (size_t)n);
        unzCloseCurrentFile(zip);
    }
    unzClose(zip);
    return content;
}

std::vector<std::string> files_in(const std::string &dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return names;
}

static bool ends_with(const std::string &text, const char *end)
{
    size_t n = strlen(end);
    return text.size() >= n && _stricmp(text.c_str() + text.size() - n, end) == 0;
}

std::string leftovers(const Installation &inst)
{
    std::string found;
    for (const std::string &name : files_in(inst.program_dir.substr(0, inst.program_dir.size() - 1)))
        if (ends_with(name, ".tvk") ||
            (ends_with(name, ".zip") && name != "skolesql012-2020.01.01-10.00.zip"))
            found += name + " ";
    if (file_exists(inst.data_dir + "log\\dirlst.txt"))
        found += "log\\dirlst.txt";
    return found;
}

static int minutes(const SYSTEMTIME &t)
{
    return ((t.wDay * 24) + t.wHour) * 60 + t.wMinute;
}

bool is_final_name(const std::string &name, const std::string &base, const SYSTEMTIME &before,
                   const SYSTEMTIME &after)
{
    int year, month, day, hour, minute;
    char tail[8] = "";
    if (name.compare(0, base.size() + 1, base + "-") != 0)
        return false;
    const std::string rest = name.substr(base.size() + 1);
    if (rest.size() != 20 ||
        sscanf(rest.c_str(), "%4d.%2d.%2d-%2d.%2d%4s", &year, &month, &day, &hour, &minute, tail) != 6 ||
        strcmp(tail, ".zip") != 0)
        return false;
    SYSTEMTIME t = before;
    t.wYear = (WORD)year;
    t.wMonth = (WORD)month;
    t.wDay = (WORD)day;
    t.wHour = (WORD)hour;
    t.wMinute = (WORD)minute;
    return year == before.wYear && month == before.wMonth && minutes(t) >= minutes(before) &&
           minutes(t) <= minutes(after);
}
