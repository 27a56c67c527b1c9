/*
 * hold_file.exe PATH [SECONDS]: opens PATH for reading and writing without
 * sharing (creating it when missing), as a station reading the start log
 * does, and keeps it open for SECONDS (default 60) or until it is ended.
 * Once the file is open it creates "PATH.held", so a test knows when to go
 * on; it ends with 1 when the file cannot be opened.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    char held[MAX_PATH + 8];
    snprintf(held, sizeof held, "%s.held", argv[1]);
    FILE *marker = fopen(held, "wb");
    if (marker)
        fclose(marker);
    int seconds = argc > 2 ? atoi(argv[2]) : 60;
    Sleep((DWORD)(seconds > 0 ? seconds : 60) * 1000);
    CloseHandle(file);
    return 0;
}
