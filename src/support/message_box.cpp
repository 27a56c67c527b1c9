/*
 * The single message-box function of the program (see message_box.h).
 */
#include "support/message_box.h"

static MessageBoxHook g_message_box_hook = NULL;

int message_box(HWND owner, const char *text, const char *caption, UINT style)
{
    if (g_message_box_hook)
        return g_message_box_hook(owner, text ? text : "", caption ? caption : "", style);
    return MessageBoxA(owner, text, caption, style);
}

void set_message_box_hook(MessageBoxHook hook)
{
    g_message_box_hook = hook;
}
