/*
 * desktop_keeper.exe MARKER: keeps the Wine prefix's desktop open while the
 * tests run. Wine starts the desktop's own process (explorer.exe) from the
 * first program that needs the desktop, which hands it its output streams,
 * and ends it a second after the last program using the desktop is gone.
 * Started first by tools/services.sh with its streams detached, this
 * program uses the desktop until the wine server is stopped: no test's
 * output stream is then held open by the desktop process (CTest would wait
 * for it), and the desktop is never started anew in the middle of a run.
 * It creates the file MARKER once the desktop is there.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR line, int show)
{
    if (!GetDesktopWindow())
        return 1;
    if (__argc > 1) {
        FILE *marker = fopen(__argv[1], "wb");
        if (marker)
            fclose(marker);
    }
    /* Ended with the wine server; a day at the most. */
    Sleep(24 * 60 * 60 * 1000);
    return 0;
}
