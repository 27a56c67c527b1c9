/*
 * Message trace (see trace.h).
 */
#include "diagnostics/trace.h"

#include <stdio.h>

static FILE *g_trace_file = NULL;

void trace_close(void)
{
    if (g_trace_file)
        fclose(g_trace_file);
    g_trace_file = NULL;
}
