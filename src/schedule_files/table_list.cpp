/*
 * The table list of the schedule database (see table_list.h): the 82
 * tables in the schedule program's order, their descriptors and buffers,
 * and the lookup by key letter and the buffer release the menu uses when it
 * deletes the schedule data.
 */
#include "schedule_files/table_list.h"

#include <stdlib.h>
#include <string.h>

/* Every table but the first (`anom`, written out in full below):
   X(index, key letter, name, table number, keep flag). Key letters above
   127 are Windows-1252 bytes. The last eight tables hold data the school
   keeps when the schedule is started afresh. */
#define OTHER_TABLES(X) \
    X( 1, 'b', "hontity", 67, 0) \
    X( 2, 'c', "lektregl", 68, 0) \
    X( 3, 'd', "nojt", 69, 0) \
    X( 4, 'e', "eakt", 70, 0) \
    X( 5, 'f', "loty", 71, 0) \
    X( 6, 'g', "aldtil", 72, 0) \
    X( 7, 'h', "afsp", 73, 0) \
    X( 8, 'i', "beltil", 74, 0) \
    X( 9, 'j', "omsdag", 75, 0) \
    X(10, 'k', "opgkal", 76, 0) \
    X(11, 'l', "opgper", 77, 0) \
    X(12, 'm', "araf", 78, 0) \
    X(13, 'n', "aftalop", 79, 0) \
    X(14, 'o', "afme", 80, 0) \
    X(15, 'p', "meda", 81, 0) \
    X(16, 'q', "anfo", 82, 0) \
    X(17, 'r', "ansc", 83, 0) \
    X(18, 's', "ansk", 84, 0) \
    X(19, 't', "acsa", 85, 0) \
    X(20, 'u', "udgr", 86, 0) \
    X(21, 'v', "loka", 87, 0) \
    X(22, 'w', "risy", 88, 0) \
    X(23, 'x', "skka", 89, 0) \
    X(24, 'y', "akgr", 90, 0) \
    X(25, 'z', "kdagrel", 91, 0) \
    X(26, 'G', "kaldag", 66, 0) \
    X(27, 'K', "akti", 130, 0) \
    X(28, 'A', "skfa", 92, 0) \
    X(29, 'B', "skph", 93, 0) \
    X(30, 'C', "sphp", 94, 0) \
    X(31, 'D', "lokrotyp", 95, 0) \
    X(32, 'E', "lokrolle", 96, 0) \
    X(33, 'F', "skemrtyp", 97, 0) \
    X(34, 'H', "skemarol", 98, 0) \
    X(35, 'I', "bem", 99, 0) \
    X(36, 'J', "aakrel", 100, 0) \
    X(37, 'L', "miak", 101, 0) \
    X(38, 'M', "minutfau", 102, 0) \
    X(39, 'N', "minutud", 103, 0) \
    X(40, 'O', "planakt", 104, 0) \
    X(41, 'P', "mipl", 105, 0) \
    X(42, 'Q', "fagfordl", 106, 0) \
    X(43, 'R', "udlplan", 107, 0) \
    X(44, 'S', "budt", 108, 0) \
    X(45, 'T', "buftim", 109, 0) \
    X(46, 'U', "normjust", 110, 0) \
    X(47, 'V', "elvrel", 111, 0) \
    X(48, 'W', "elvrel2", 112, 0) \
    X(49, 'X', "fagelv", 113, 0) \
    X(50, 'Y', "ret", 114, 0) \
    X(51, 'Z', "pom", 115, 0) \
    X(52, '0', "bygn", 116, 0) \
    X(53, '1', "amm", 117, 0) \
    X(54, '2', "ins", 118, 0) \
    X(55, '3', "pers", 119, 0) \
    X(56, '\xA7', "epsh", 183, 0)  /* § */ \
    X(57, '\xA4', "akpl", 120, 0)  /* ¤ */ \
    X(58, '\xA3', "frit", 121, 0)  /* £ */ \
    X(59, '\xD8', "uvfo", 122, 0)  /* Ø */ \
    X(60, '\xE6', "unko", 123, 0)  /* æ */ \
    X(61, '\xBD', "alrel", 124, 0)  /* ½ */ \
    X(62, '\xC6', "skfalokarel", 125, 0)  /* Æ */ \
    X(63, '\xF8', "tif", 126, 0)  /* ø */ \
    X(64, '!', "hjpakt", 127, 0) \
    X(65, '#', "frty", 128, 0) \
    X(66, '$', "ffpg", 129, 0) \
    X(67, '%', "ffpp", 131, 0) \
    X(68, '&', "ffgrund", 132, 0) \
    X(69, '(', "ffpertab", 133, 0) \
    X(70, ')', "fftaltab", 134, 0) \
    X(71, '*', "fffagfordl", 135, 0) \
    X(72, '+', "ffpgrel", 137, 0) \
    X(73, '\xE5', "medaskeprior", 254, 0)  /* å */ \
    X(74, '7', "tg", 240, 1) \
    X(75, '8', "pp", 241, 1) \
    X(76, '9', "la", 242, 1) \
    X(77, '>', "lap", 243, 1) \
    X(78, '5', "elev", 244, 1) \
    X(79, '<', "elti", 247, 1) \
    X(80, '6', "ev", 245, 1) \
    X(81, '4', "eb", 246, 1)

static TableBuffer g_table_buffers[TABLE_COUNT];

/* anom: areas of responsibility, with their periods. */
#define ANOM_DESCRIPTOR {                                                       \
    "anom",                                                                     \
    {                                                                           \
        { 7, 4, 1, 0, 6, 0, 0, 0, {}, 0.0f, 0, "id" },                          \
        { 12, 11, 1, 0, 10, 0, 4, 0, {}, 0.0f, 0, "Ansvarsområde" },            \
        { 2, 1, 1, 17, 3, 0, 15, 0, {}, 0.0f, 0, "Status" },                    \
        { 7, 4, 1, 0, 8, 0, 16, 0, {}, 0.0f, 0, "Fradato" },                    \
        { 7, 4, 1, 0, 8, 0, 20, 0, {}, 0.0f, 0, "Tildato" },                    \
        { 12, 16, 1, 0, 15, 0, 24, 0, {}, 0.0f, 0, "Betegnelse" },              \
    },                                                                          \
    { 1, 2, 4, 5, 6 },                                                          \
    2,              /* status field */                                          \
    {},             /* extra field numbers */                                   \
    0, 0,                                                                       \
    40,             /* record length */                                         \
    6,              /* field count */                                           \
    0, 0,                                                                       \
    'E',                                                                        \
    "anom",                                                                     \
    'a',                                                                        \
    0,                                                                          \
    100,                                                                        \
    0,                                                                          \
    0,              /* keep */                                                  \
    0 }

/* The other tables: name, name copy, key letter copy and keep flag. */
#define DESCRIPTOR_ROW(index, key, name, number, keep) \
    { name, {}, {}, 0, {}, 0, 0, 0, 0, 0, 0, 0, name, (unsigned char)(key), 0, 0, 0, keep, 0 },

static const TableDescriptor g_descriptors[TABLE_COUNT] = {
    ANOM_DESCRIPTOR,
    OTHER_TABLES(DESCRIPTOR_ROW)
};

#define ENTRY_ROW(index, key, name, number, keep) \
    { (unsigned char)(key), name, &g_descriptors[index], &g_table_buffers[index], number },

const TableEntry g_table_list[TABLE_COUNT + 1] = {
    { 'a', "anom", &g_descriptors[0], &g_table_buffers[0], 136 },
    OTHER_TABLES(ENTRY_ROW)
    { 0, "", NULL, NULL, 0 }
};

int table_lookup(unsigned char key, const TableDescriptor **descriptor, TableBuffer **buffer)
{
    for (const TableEntry *entry = g_table_list; entry->name[0]; entry++) {
        if (entry->key == key) {
            if (descriptor)
                *descriptor = entry->descriptor;
            if (buffer)
                *buffer = entry->buffer;
            return 0;
        }
    }
    if (descriptor)
        *descriptor = NULL;
    if (buffer)
        *buffer = NULL;
    return -1;
}

/* The fields of a table buffer that hold memory of their own. */
static const int OWNED_FIELDS[] = { 9, 1, 0 };

void table_release(TableBuffer *buffer)
{
    if (!buffer)
        return;
    for (int field : OWNED_FIELDS) {
        if (buffer->field[field])
            free(buffer->field[field]);
    }
    memset(buffer, 0, sizeof *buffer);
}
