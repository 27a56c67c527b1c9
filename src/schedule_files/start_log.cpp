/*
 * Reading the start log (see start_log.h): the exclusive opening with its
 * warning, the splitting into lines, and the search for the lowest version
 * any station still runs.
 */
#include "schedule_files/start_log.h"
#include "support/settings.h"
#include "support/message_box.h"
#include "support/text.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

HANDLE open_start_log(const char *directory)
{
    char path[KIRO_PATH_SIZE];
    if (!format_text(path, sizeof path, "%sSTART.LOG", directory))
        return INVALID_HANDLE_VALUE;
    bool last_try = false;
    for (;;) {
        HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE || last_try)
            return file;
        int answer = message_box(NULL,
                                 " KIRO-skema kunne ikke få tilgang til start.log, prøv igen om 5-10 sekunder !",
                                 " Start.log ", MB_OKCANCEL | MB_ICONWARNING);
        if (answer == 0)
            last_try = true;        /* no box could be shown: one more attempt */
        else if (answer != IDOK)
            return INVALID_HANDLE_VALUE;
    }
}

void free_lines(char **lines, int count)
{
    if (!lines)
        return;
    for (int i = 0; i < count; i++)
        free(lines[i]);
    free(lines);
}

/* Appends a new empty line to the list; false when out of memory. */
static bool add_line(char ***lines, int *count, int *capacity)
{
    if (*count == *capacity) {
        int grown = *capacity ? *capacity * 2 : 16;
        char **bigger = (char **)realloc(*lines, (size_t)grown * sizeof(char *));
        if (!bigger)
            return false;
        *lines = bigger;
        *capacity = grown;
    }
    (*lines)[*count] = NULL;
    (*count)++;
    return true;
}

int read_lines(HANDLE file, char ***lines)
{
    *lines = NULL;
    DWORD size = GetFileSize(file, NULL);
    if (size == INVALID_FILE_SIZE || size == 0)
        return 0;
    unsigned char *buffer = (unsigned char *)calloc(size, 1);
    if (!buffer)
        return 0;
    DWORD got = 0;
    SetFilePointer(file, 0, NULL, FILE_BEGIN);
    if (!ReadFile(file, buffer, size, &got, NULL) || got == 0) {
        free(buffer);
        return 0;
    }

    /* The bytes of each line are moved together in place (a line only ever
       loses bytes, so the write position never passes the read position),
       then each finished line is copied out. */
    char **list = NULL;
    int count = 0, capacity = 0;
    DWORD line_start = 0, write = 0;
    bool ok = add_line(&list, &count, &capacity);
    for (DWORD i = 0; ok && i <= got; i++) {
        bool line_ends = i == got;
        if (!line_ends && buffer[i] == '\r') {
            /* A CR takes the byte behind it along; a CR LF with more text
               behind it ends the line. */
            line_ends = i + 1 < got && buffer[i + 1] == '\n' && i + 2 < got;
            if (i + 1 < got)
                i++;
            if (!line_ends)
                continue;
        } else if (!line_ends) {
            buffer[write++] = buffer[i];
            continue;
        }
        DWORD length = write - line_start;
        char *line = (char *)malloc(length + 1);
        if (!line) {
            ok = false;
            break;
        }
        memcpy(line, buffer + line_start, length);
        line[length] = '\0';
        list[count - 1] = line;
        line_start = write;
        if (i < got)
            ok = add_line(&list, &count, &capacity);
    }
    free(buffer);
    if (!ok) {
        free_lines(list, count);
        return 0;
    }
    *lines = list;
    return count;
}

/* One decimal number as the runtime's "%d" reads it (leading blanks and a
   sign allowed), wrapped to 32 bits. False when there are no digits. */
static bool read_number(const char **cursor, int *value)
{
    const char *p = *cursor;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        p++;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (*p < '0' || *p > '9')
        return false;
    unsigned number = 0;
    while (*p >= '0' && *p <= '9')
        number = number * 10u + (unsigned)(*p++ - '0');
    *value = (int)(negative ? 0u - number : number);
    *cursor = p;
    return true;
}

unsigned lowest_version_in_use(const char *directory)
{
    HANDLE file = open_start_log(directory);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    unsigned minimum = NO_VERSION_IN_USE;
    int version = 0;
    char **lines = NULL;
    int count = read_lines(file, &lines);
    for (int i = 0; i < count; i++) {
        /* "key,version": a line without a second number keeps the value of
           the line before it. */
        const char *p = lines[i];
        int key, second;
        if (read_number(&p, &key)) {
            if (*p == ',') {
                p++;
                if (read_number(&p, &second))
                    version = second;
            }
        }
        if ((unsigned)version < minimum)
            minimum = (unsigned)version;
    }
    CloseHandle(file);
    free_lines(lines, count);
    return minimum;
}
