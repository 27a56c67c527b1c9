/*
 * TLS for the FTP client's connections (explicit FTPS, RFC 4217), with
 * Windows' own TLS: Schannel through SSPI, no TLS library of our own. It is
 * a transport below the client's commands and replies: once a socket has
 * been protected with tls_connect, the client's sends and receives on it go
 * through tls_send and tls_receive, and a socket that was never protected
 * is used as it is.
 *
 * tls_connect answers only when the server's certificate has been checked
 * against Windows' trusted roots and the host name, so nothing but the
 * handshake ever goes to a server that was not verified. All connections
 * share one set of credentials and ask for the same target name, which is
 * how Schannel is asked to resume the control connection's TLS session on
 * a data connection.
 */
#ifndef KIRO_TLS_H
#define KIRO_TLS_H

#include <winsock2.h>
#include <windows.h>

/* Runs the TLS handshake as the client on the connected socket s and
   verifies the server's certificate for server_name (a host name or
   address without port). 1 when the connection is protected. 0 when it is
   not, with *error set to the system's code for the reason (a security
   status, a certificate error or a Windows Sockets error); the socket is
   then unusable for anything but closing. timeout_ms bounds the whole
   handshake. */
int tls_connect(SOCKET s, const char *server_name, int timeout_ms, DWORD *error);
/* True while s is protected by tls_connect. */
bool tls_protected(SOCKET s);
/* One receive of the bytes on the wire, as they come, repeated when
   interrupted; a time-out gives the connection up (shut down both ways).
   The byte count, 0 when the peer closed, -1 on failure. */
int socket_receive(SOCKET s, char *bytes, int count, int flags);
/* Encrypts and sends all count bytes; count, or -1 on failure. */
int tls_send(SOCKET s, const char *bytes, int count);
/* Up to count decrypted bytes into bytes, left to be received again when
   peek is set. 0 once the server has closed the connection (its TLS close,
   or the connection itself), -1 on failure. Waits as a receive on s does,
   bounded by the socket's receive time-out. */
int tls_receive(SOCKET s, char *bytes, int count, bool peek);
/* Sends the TLS close (close_notify) where the system can make one, then
   forgets the TLS state of s; the socket itself stays open. False when the
   close could not be sent (the connection failed or was reset). */
bool tls_close(SOCKET s);
/* Forgets the TLS state of s without sending anything. */
void tls_forget(SOCKET s);

#endif
