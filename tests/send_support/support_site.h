/*
 * A filled installation for the send-to-support tests: files in the
 * program directory and in data\, ini\, log\, datakopi\ and inikopi\,
 * a file one level deeper that must stay out, earlier archives, and the
 * "kontakt" settings. Also reading the uploaded archive back and checking
 * that nothing was left behind.
 */
#ifndef KIRO_SUPPORT_SITE_H
#define KIRO_SUPPORT_SITE_H

#include "test_support.h"

#include <string>
#include <vector>

/* Installation 1 with database "skole" and server "sql01.skole.local"
   (archive base "skolesql011"), supportserver as given (NULL: none). */
Installation make_support_site(const char *name, const char *supportserver);
void set_contact(const Installation &inst, const char *key, const char *value);

/* Entry names of a zip archive in order; empty when it cannot be read. */
std::vector<std::string> zip_entries(const std::string &archive);
/* Content of one entry ("" when missing). */
std::string zip_entry(const std::string &archive, const std::string &entry);

/* Names of the files in a folder (no directories). */
std::vector<std::string> files_in(const std::string &dir);

/* What the run may not leave behind: *.tvk and *.zip in the program
   directory, log\dirlst.txt in the data directory. Empty when clean. */
std::string leftovers(const Installation &inst);

/* True when name is base + "-yyyy.mm.dd-hh.mm.zip" for a local time
   between before and after (minutes). */
bool is_final_name(const std::string &name, const std::string &base, const SYSTEMTIME &before,
                   const SYSTEMTIME &after);

#endif
