/*
 * Error texts (see error_text.h).
 */
#include "support/error_text.h"
#include "support/text.h"

#include <string.h>

static const char *const NO_SYSTEM_TEXT = "Windows har ingen beskrivelse af fejlen.";
static const char *const NO_REASON = "Windows har ikke oplyst nogen årsag.";

/* Asks the message formatter in language (0: the system's choice). */
static bool formatted_message(DWORD code, DWORD language, char *out, size_t size)
{
    char *text = NULL;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                        FORMAT_MESSAGE_IGNORE_INSERTS;
    if (FormatMessageA(flags, NULL, code, language, (LPSTR)&text, 0, NULL) == 0 || !text)
        return false;
    copy_text(out, size, text);
    LocalFree(text);
    return true;
}

bool system_message(DWORD code, char *out, size_t size)
{
    if (size == 0)
        return false;
    out[0] = '\0';
    if (!formatted_message(code, MAKELANGID(LANG_DANISH, SUBLANG_DEFAULT), out, size) &&
        !formatted_message(code, 0, out, size))
        return false;
    size_t n = strlen(out);
    while (n > 0 && (out[n - 1] == '\r' || out[n - 1] == '\n' || out[n - 1] == ' '))
        out[--n] = '\0';
    return n > 0;
}

void error_code_text(DWORD code, char *out, size_t size)
{
    if (code > 0xFFFF)
        format_text(out, size, "fejlkode 0x%08lX", (unsigned long)code);
    else
        format_text(out, size, "fejlkode %lu", (unsigned long)code);
}

char *describe_error(DWORD code, const char *fallback, char *out, size_t size)
{
    if (size == 0)
        return out;
    if (code == 0) {
        copy_text(out, size, NO_REASON);
        return out;
    }
    char text[512], number[32];
    if (!system_message(code, text, sizeof text))
        copy_text(text, sizeof text, fallback ? fallback : NO_SYSTEM_TEXT);
    error_code_text(code, number, sizeof number);
    format_text(out, size, "%s (%s)", text, number);
    return out;
}

char *system_error_text(char *buffer, size_t size)
{
    DWORD code = GetLastError();
    describe_error(code, NULL, buffer, size);
    SetLastError(code);
    return buffer;
}
