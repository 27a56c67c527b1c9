/*
 * The single message-box function of the program (see message_box.h).
 *
 * A box runs its own message loop inside the handler that asked, so the
 * windows beneath it must not take input meanwhile: a second press of a
 * button there would run the same action again, nested inside the first.
 * A box with an owner disables its owner; a box without one is made
 * task-modal, which disables every window of the thread while it is up.
 */
#include "support/message_box.h"
#include "support/error_text.h"
#include "support/text.h"

static MessageBoxHook g_message_box_hook = NULL;

int message_box(HWND owner, const char *text, const char *caption, UINT style)
{
    if (g_message_box_hook)
        return g_message_box_hook(owner, text ? text : "", caption ? caption : "", style);
    /* A system-modal box keeps its mode (a box cannot be both): the
       program shows one without owner only at start-up, before it has any
       window. */
    bool task_modal = !owner && (style & MB_MODEMASK) == MB_APPLMODAL;
    if (!task_modal)
        return MessageBoxA(owner, text, caption, style);
    /* The windows are enabled again only after the box has gone, when
       nothing of the thread could take the activation: it is given back to
       the window that had it (a dialog then puts its focus back itself). */
    HWND active = GetActiveWindow();
    int answer = MessageBoxA(NULL, text, caption, style | MB_TASKMODAL);
    if (active && IsWindow(active) && GetActiveWindow() != active)
        SetForegroundWindow(active);
    return answer;
}

int error_box(const char *text, UINT style)
{
    char shown[1024];
    /* A given text is shown exactly as it is, never run through the
       message formatter: a file name holding "%0" would cut the text there,
       and "%n" would break the line. */
    if (text)
        copy_text(shown, sizeof shown, text);
    else
        system_error_text(shown, sizeof shown);
    return message_box(NULL, shown, "Fejl", style);
}

void set_message_box_hook(MessageBoxHook hook)
{
    g_message_box_hook = hook;
}
