/*
 * Host names resolved within a time-out (see resolve.h). The system's
 * resolver gives no time-out of its own and may wait for a name server
 * much longer than the menu may, so it runs on a thread of its own, which
 * the caller waits for no longer than its time-out. The request lives on
 * the heap and is freed by whichever of the two lets go of it last, so a
 * caller that has stopped waiting leaves nothing behind that the thread
 * could write into.
 */
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <process.h>

#include "net/resolve.h"
#include "support/text.h"

#include <stdlib.h>
#include <string.h>

/* The system's resolver: the first IPv4 address of name; 0 or its
   Windows Sockets error. */
static int system_resolver(const char *name, struct in_addr *address)
{
    struct addrinfo wanted, *found = NULL;
    memset(&wanted, 0, sizeof wanted);
    wanted.ai_family = AF_INET;
    wanted.ai_socktype = SOCK_STREAM;
    int error = getaddrinfo(name, NULL, &wanted, &found);
    if (error != 0)
        return error;
    error = WSAHOST_NOT_FOUND;
    for (struct addrinfo *a = found; a && error != 0; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(struct sockaddr_in)) {
            *address = ((const struct sockaddr_in *)a->ai_addr)->sin_addr;
            error = 0;
        }
    }
    freeaddrinfo(found);
    return error;
}

static HostResolver g_resolver = system_resolver;

void set_host_resolver(HostResolver resolver)
{
    g_resolver = resolver ? resolver : system_resolver;
}

/* One name being resolved, held by the caller and by the thread. */
struct Resolution {
    LONG holders;
    HostResolver resolver;
    char name[256];
    struct in_addr address;
    int error;
};

static void let_go(Resolution *r)
{
    if (InterlockedDecrement(&r->holders) == 0)
        free(r);
}

static unsigned __stdcall resolve_on_thread(void *argument)
{
    Resolution *r = (Resolution *)argument;
    /* The thread's own use of Windows Sockets: the caller's session may
       end while the resolver still works. */
    WSADATA sockets;
    bool started = WSAStartup(MAKEWORD(2, 2), &sockets) == 0;
    r->error = r->resolver(r->name, &r->address);
    if (started)
        WSACleanup();
    let_go(r);
    return 0;
}

int resolve_host(const char *name, int timeout_ms, struct in_addr *address)
{
    unsigned long numeric = inet_addr(name);
    if (numeric != INADDR_NONE) {
        address->s_addr = numeric;
        return 0;
    }
    Resolution *r = (Resolution *)calloc(1, sizeof *r);
    if (!r)
        return WSAENOBUFS;
    r->holders = 2;
    r->resolver = g_resolver;
    r->error = WSAHOST_NOT_FOUND;
    if (!copy_text(r->name, sizeof r->name, name)) {
        free(r);
        return WSAHOST_NOT_FOUND;
    }
    HANDLE thread = (HANDLE)_beginthreadex(NULL, 0, resolve_on_thread, r, 0, NULL);
    if (!thread) {
        free(r);
        return WSAENOBUFS;
    }
    int error = WSAETIMEDOUT;
    if (WaitForSingleObject(thread, (DWORD)timeout_ms) == WAIT_OBJECT_0) {
        error = r->error;
        if (error == 0)
            *address = r->address;
    }
    CloseHandle(thread);
    let_go(r);
    return error;
}
