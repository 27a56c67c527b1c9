/*
 * Stand-in for the schedule program (standin_schedule.exe) or an update
 * program (standin_update.exe). Installed under the name the menu starts
 * (10327.exe, opd10328.exe, ...), it appends the exact command line it was
 * given, and a line end, to "<its own file name>.cmdline" beside itself.
 * When a file named "standin.quiet" lies beside it, it ends at once;
 * otherwise it shows a small window with the command line, so a person
 * trying the menu by hand sees what was started.
 */
#include <windows.h>
#include <stdio.h>
#include <string.h>

#ifdef STANDIN_KIND_update
static const char *const KIND = "opdateringsprogram";
#else
static const char *const KIND = "skemaprogram";
#endif

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR unused, int show)
{
    const char *line = GetCommandLineA();
    char own[MAX_PATH + 16];
    DWORD n = GetModuleFileNameA(NULL, own, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return 1;

    char record[MAX_PATH + 16];
    snprintf(record, sizeof record, "%s.cmdline", own);
    FILE *f = fopen(record, "ab");
    if (f) {
        fprintf(f, "%s\n", line);
        fclose(f);
    }

    char quiet[MAX_PATH + 16];
    snprintf(quiet, sizeof quiet, "%s", own);
    char *slash = strrchr(quiet, '\\');
    if (slash) {
        slash[1] = '\0';
        strncat(quiet, "standin.quiet", sizeof quiet - strlen(quiet) - 1);
        if (GetFileAttributesA(quiet) != INVALID_FILE_ATTRIBUTES)
            return 0;
    }

    char text[4096];
    snprintf(text, sizeof text, "Prøveudgave af %s: %s\n\nstartet med kommandolinjen:\n%s",
             KIND, own, line);
    MessageBoxA(NULL, text, "KIRO-skema (prøveudgave)", MB_OK | MB_ICONINFORMATION);
    return 0;
}
