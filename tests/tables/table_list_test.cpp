/*
 * The table list of the schedule database: its size and order, distinct
 * keys and numbers, the kept tables, the `anom` descriptor, the lookup by
 * key letter and the buffer release.
 */
#include <gtest/gtest.h>
#include "schedule_files/table_list.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <set>
#include <string>

TEST(TableList, HoldsEightyTwoTablesInOrderAndEndsWithAnEmptyEntry)
{
    int count = 0;
    while (g_table_list[count].name[0])
        count++;
    EXPECT_EQ(82, count);
    EXPECT_EQ(0, g_table_list[82].key);
    EXPECT_STREQ("anom", g_table_list[0].name);
    EXPECT_STREQ("kaldag", g_table_list[26].name);
    EXPECT_STREQ("akti", g_table_list[27].name);
    EXPECT_STREQ("epsh", g_table_list[56].name);
    EXPECT_STREQ("medaskeprior", g_table_list[73].name);
    EXPECT_STREQ("eb", g_table_list[81].name);
    EXPECT_EQ(0xA7, g_table_list[56].key);   // §
    EXPECT_EQ(0xE5, g_table_list[73].key);   // å
    EXPECT_EQ(66, g_table_list[26].number);
    EXPECT_EQ(254, g_table_list[73].number);
}

TEST(TableList, KeysAndNumbersAreDistinctAndDescriptorsAgreeWithTheirEntries)
{
    std::set<int> keys, numbers;
    int high_keys = 0;
    for (int i = 0; i < TABLE_COUNT; i++) {
        const TableEntry &e = g_table_list[i];
        keys.insert(e.key);
        numbers.insert(e.number);
        if (e.key > 127)
            high_keys++;
        EXPECT_GE(e.number, 66) << e.name;
        EXPECT_LE(e.number, 255) << e.name;
        ASSERT_TRUE(e.descriptor) << e.name;
        ASSERT_TRUE(e.buffer) << e.name;
        EXPECT_STREQ(e.name, e.descriptor->name);
        EXPECT_STREQ(e.name, e.descriptor->name_copy);
        EXPECT_EQ(e.key, e.descriptor->key_copy) << e.name;
    }
    EXPECT_EQ(82u, keys.size());
    EXPECT_EQ(82u, numbers.size());
    EXPECT_EQ(9, high_keys);
    EXPECT_EQ(0u, keys.count(0));
}

TEST(TableList, ExactlyTheLastEightTablesAreKept)
{
    const char *kept[] = { "tg", "pp", "la", "lap", "elev", "elti", "ev", "eb" };
    int without_keep = 0;
    for (int i = 0; i < TABLE_COUNT; i++) {
        const TableDescriptor *d = g_table_list[i].descriptor;
        if (i < 74) {
            EXPECT_EQ(0, d->keep) << d->name;
            without_keep++;
        } else {
            EXPECT_EQ(1, d->keep) << d->name;
            EXPECT_STREQ(kept[i - 74], d->name);
        }
    }
    EXPECT_EQ(74, without_keep);
}

TEST(TableList, AnomDescriptorIsCarriedInFull)
{
    const TableDescriptor *d = NULL;
    TableBuffer *b = NULL;
    ASSERT_EQ(0, table_lookup('a', &d, &b));
    ASSERT_EQ(g_table_list[0].descriptor, d);
    EXPECT_EQ(g_table_list[0].buffer, b);
    EXPECT_EQ(40, d->record_length);
    EXPECT_EQ(6, d->field_count);
    EXPECT_EQ(2, d->status_index);
    EXPECT_EQ('E', d->kind);
    const unsigned char numbers[] = { 1, 2, 4, 5, 6, 0 };
    EXPECT_EQ(0, memcmp(numbers, d->field_numbers, sizeof numbers));
    struct { const char *name; int type, size, reference, width, offset; } fields[] = {
        { "id", 7, 4, 0, 6, 0 },          { "Ansvarsomr\xE5" "de", 12, 11, 0, 10, 4 },
        { "Status", 2, 1, 17, 3, 15 },    { "Fradato", 7, 4, 0, 8, 16 },
        { "Tildato", 7, 4, 0, 8, 20 },    { "Betegnelse", 12, 16, 0, 15, 24 },
    };
    int length = 0;
    for (int i = 0; i < 6; i++) {
        const FieldRecord &f = d->fields[i];
        EXPECT_STREQ(fields[i].name, f.name);
        EXPECT_EQ(fields[i].type, f.type) << f.name;
        EXPECT_EQ(fields[i].size, f.size) << f.name;
        EXPECT_EQ(1, f.count) << f.name;
        EXPECT_EQ(fields[i].reference, f.reference) << f.name;
        EXPECT_EQ(fields[i].width, f.width) << f.name;
        EXPECT_EQ(length, f.offset) << f.name;
        EXPECT_EQ(fields[i].offset, f.offset) << f.name;
        length += f.size * f.count;
    }
    EXPECT_EQ(d->record_length, length);
    EXPECT_EQ(0, d->fields[6].type);
    EXPECT_EQ(0, d->fields[6].name[0]);
    EXPECT_STREQ("Status", d->fields[d->status_index].name);
}

TEST(TableList, LookupFindsEveryKeyAsUnsignedByteAndMissesUnknownOnes)
{
    for (int i = 0; i < TABLE_COUNT; i++) {
        const TableDescriptor *d = NULL;
        TableBuffer *b = NULL;
        ASSERT_EQ(0, table_lookup(g_table_list[i].key, &d, &b)) << g_table_list[i].name;
        EXPECT_EQ(g_table_list[i].descriptor, d);
        EXPECT_EQ(g_table_list[i].buffer, b);
    }
    const char *high = "\xA7\xA4\xA3\xD8\xE6\xBD\xC6\xF8\xE5";   // § ¤ £ Ø æ ½ Æ ø å
    for (const char *p = high; *p; p++) {
        const TableDescriptor *d = NULL;
        EXPECT_EQ(0, table_lookup((unsigned char)*p, &d, NULL)) << (int)(unsigned char)*p;
        ASSERT_TRUE(d);
        EXPECT_EQ((unsigned char)*p, d->key_copy);
    }
    const TableDescriptor *d = (const TableDescriptor *)1;
    TableBuffer *b = (TableBuffer *)1;
    EXPECT_EQ(-1, table_lookup(0x01, &d, &b));
    EXPECT_EQ(nullptr, d);
    EXPECT_EQ(nullptr, b);
    EXPECT_EQ(-1, table_lookup(0xFF, &d, &b));
}

TEST(TableList, ReleaseFreesTheOwnedBlocksZeroesAllFieldsAndCanBeRepeated)
{
    TableBuffer buffer;
    for (int i = 0; i < TABLE_BUFFER_FIELDS; i++)
        buffer.field[i] = (void *)(intptr_t)(0x1000 + i);   // not owned: must only be zeroed
    buffer.field[0] = malloc(16);
    buffer.field[1] = NULL;
    buffer.field[9] = malloc(32);
    table_release(&buffer);
    for (int i = 0; i < TABLE_BUFFER_FIELDS; i++)
        EXPECT_EQ(nullptr, buffer.field[i]) << i;
    table_release(&buffer);
    for (int i = 0; i < TABLE_BUFFER_FIELDS; i++)
        EXPECT_EQ(nullptr, buffer.field[i]) << i;
}
