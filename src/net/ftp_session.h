/*
 * What the two halves of the FTP client share (net/ftp.cpp: the control
 * connection, its commands, replies and login; net/ftp_upload.cpp: the
 * data connection and the proof that a file arrived). Not for callers
 * outside the client: they use net/ftp.h.
 */
#ifndef KIRO_FTP_SESSION_H
#define KIRO_FTP_SESSION_H

#include <winsock2.h>
#include <windows.h>

#include "net/ftp.h"

/* The time-out of every step, in milliseconds. */
extern int g_timeout_ms;
/* The control connection's host without its port: the name its TLS
   certificate is checked for, also on the data connection. */
extern char g_server_name[256];
/* "PBSZ 0" and "PROT P" accepted on the current control connection. */
extern bool g_data_protected;

bool is_2xx(int code);
bool is_1xx(int code);
/* Connects s to address within the time-out; 0, or the socket error. */
int connect_within_timeout(SOCKET s, const struct sockaddr_in *address);
/* Lets the next receive on s wait only for what is left of the time-out
   counted from began; false when nothing is left. */
bool bound_next_receive(ftp_socket s, DWORD began);
/* Traces a failed handshake or certificate check with the system's text. */
void trace_tls_failure(DWORD error);
/* Closes a connection and forgets its TLS state. */
int close_connection(SOCKET s);

#endif
