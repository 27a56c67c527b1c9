/*
 * Finding a server's address within a time-out. A numeric IPv4 address is
 * taken as it is; a host name goes to the system's resolver on a thread of
 * its own, which is waited for no longer than the time-out, so that a name
 * server out of reach costs the menu the time-out and no more. A thread
 * left waiting on the resolver ends by itself whenever the resolver gives
 * up.
 */
#ifndef KIRO_RESOLVE_H
#define KIRO_RESOLVE_H

#include <winsock2.h>

/* The IPv4 address of name within timeout_ms; 0, or the Windows Sockets
   error (WSAETIMEDOUT when the time ran out). */
int resolve_host(const char *name, int timeout_ms, struct in_addr *address);

/* A resolver: the IPv4 address of a host name; 0, or a Windows Sockets
   error. It runs on a thread of its own. */
typedef int (*HostResolver)(const char *name, struct in_addr *address);
/* Replaces the system's resolver (NULL restores it). For tests. */
void set_host_resolver(HostResolver resolver);

#endif
