/*
 * Text helpers over fixed buffers (see text.h).
 */
#include "support/text.h"

#include <stdio.h>
#include <string.h>

bool copy_text(char *dst, size_t size, const char *src)
{
    if (size == 0)
        return false;
    size_t n = strlen(src);
    bool fits = n < size;
    if (!fits)
        n = size - 1;
    memmove(dst, src, n);
    dst[n] = '\0';
    return fits;
}

bool append_text(char *dst, size_t size, const char *src)
{
    size_t used = strnlen(dst, size);
    if (used >= size)
        return false;
    return copy_text(dst + used, size - used, src);
}

bool format_text(char *dst, size_t size, const char *format, ...)
{
    if (size == 0)
        return false;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(dst, size, format, args);
    va_end(args);
    if (n < 0) {
        dst[0] = '\0';
        return false;
    }
    return (size_t)n < size;
}

bool is_dot_entry(const char *name)
{
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}
void end_with_backslash(char *directory, size_t size)
{
    size_t n = strlen(directory);
    if (n > 1 && directory[n - 1] != '\\')
        append_text(directory, size, "\\");
}

