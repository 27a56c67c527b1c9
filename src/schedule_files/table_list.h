/*
 * The table list of the schedule database: one entry per table that the
 * schedule program keeps as a file "<name>.DAT" in the data folder, with
 * the table's key letter, its descriptor and its run-time buffer. The menu
 * uses it to find every table file when it deletes the schedule data, to
 * spare the tables whose keep flag is set, and to release the tables'
 * buffers afterwards. The descriptors follow the schedule program's record
 * layout; apart from the table `anom`, which is carried in full, they hold
 * only what the menu reads (name, key letter, keep flag).
 */
#ifndef KIRO_TABLE_LIST_H
#define KIRO_TABLE_LIST_H

enum {
    TABLE_COUNT = 82,        /* entries before the terminating one */
    TABLE_FIELD_SLOTS = 60,
    TABLE_BUFFER_FIELDS = 13
};

/* One field of a table's record. */
struct FieldRecord {
    unsigned char type;          /* 2, 3, 6 to 12 */
    unsigned char size;          /* element size in bytes */
    unsigned char count;         /* elements (1 for a single value) */
    unsigned char reference;     /* table number referred to, or a special mark */
    unsigned char width;         /* display width */
    unsigned char decimals;
    unsigned short offset;       /* position in the record */
    unsigned char flag;
    unsigned char reserved[7];
    float upper_limit;           /* 0 for none */
    unsigned char flag2;
    char name[35];
};

/* The static description of one table. */
struct TableDescriptor {
    const char *name;
    FieldRecord fields[TABLE_FIELD_SLOTS];
    unsigned char field_numbers[TABLE_FIELD_SLOTS];
    unsigned char status_index;  /* 0-based position of "Status" */
    unsigned char extra_fields[7];
    unsigned char property1, property2;
    unsigned short record_length;
    unsigned char field_count;
    unsigned char property3, property4;
    char kind;                   /* 'E' or 'R' */
    char name_copy[15];
    unsigned char key_copy;
    unsigned short zero1;
    unsigned short capacity;     /* 10 to 30000 */
    unsigned char property5;
    unsigned char keep;          /* 1: survives deleting the schedule data */
    unsigned short zero2;
};

/* The run-time record of a table; fields 1, 2 and 10 own memory blocks
   (malloc) or are null. Zero at program start. */
struct TableBuffer {
    void *field[TABLE_BUFFER_FIELDS];
};

struct TableEntry {
    unsigned char key;           /* Windows-1252 byte, unique */
    const char *name;            /* "" ends the list */
    const TableDescriptor *descriptor;
    TableBuffer *buffer;
    int number;                  /* 66 to 255, unique */
};

/* TABLE_COUNT entries and the terminating one (key 0, empty name). */
extern const TableEntry g_table_list[TABLE_COUNT + 1];

/* Finds the table with key letter key (compared as unsigned bytes): 0 with
   its descriptor and buffer, or -1 with both set to null. Either out
   pointer may be null. */
int table_lookup(unsigned char key, const TableDescriptor **descriptor, TableBuffer **buffer);

/* Frees the buffer's owned blocks (fields 10, 2 and 1, null ones skipped)
   and zeroes all its fields. Releasing twice is harmless. */
void table_release(TableBuffer *buffer);

#endif
