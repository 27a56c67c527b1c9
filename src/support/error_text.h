/*
 * Error texts: what the program tells the user about a system error. The
 * system's own text for the code, in Danish where the system has one (else
 * in its default language), always followed by the code itself, as
 * "(fejlkode 5)", so that a report read out over the telephone names the
 * error whatever language its text came in. Where the system has no text
 * for a code, a Danish text of the program's own stands in its place; the
 * text is never empty.
 */
#ifndef KIRO_ERROR_TEXT_H
#define KIRO_ERROR_TEXT_H

#include <windows.h>
#include <stddef.h>

/* The system's text for code without its line end, Danish first; false
   (out empty) when the system has none. */
bool system_message(DWORD code, char *out, size_t size);

/* "fejlkode 5": the code as the program writes it everywhere. Decimal, or
   0x and eight hexadecimal digits for the system's 32-bit status codes
   (security statuses, certificate errors: the high word set), which are
   looked up in that form. */
void error_code_text(DWORD code, char *out, size_t size);

/* The text for code: the system's text, or fallback (NULL: a general text
   of our own) where the system has none, then " (fejlkode N)". Code 0
   means that no reason was given, and says so. Answers out. */
char *describe_error(DWORD code, const char *fallback, char *out, size_t size);

/* describe_error of the calling thread's last error, which it keeps. */
char *system_error_text(char *buffer, size_t size);

#endif
