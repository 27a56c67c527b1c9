/*
 * Small text helpers over the fixed buffers the program keeps its paths and
 * settings in. Copies and appends never write past the buffer; whether a
 * text had to be cut is the caller's to ask (they answer false then).
 */
#ifndef KIRO_TEXT_H
#define KIRO_TEXT_H

#include <stddef.h>
#include <stdarg.h>

/* Copies src into dst (size bytes), always terminated. False if cut. */
bool copy_text(char *dst, size_t size, const char *src);

/* Appends src to the text in dst. False if cut. */
bool append_text(char *dst, size_t size, const char *src);

/* snprintf that answers false when the result had to be cut. */
bool format_text(char *dst, size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

/* Appends "\" to a directory of two or more characters that lacks one. */
void end_with_backslash(char *directory, size_t size);

/* "." or ".." */
bool is_dot_entry(const char *name);

#endif
