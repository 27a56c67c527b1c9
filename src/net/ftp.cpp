/*
 * The FTP client (see ftp.h): the control connection, its commands and
 * replies, the login and TLS on it; the upload over the data connection is
 * in ftp_upload.cpp. Blocking Windows Sockets underneath, with every wait
 * bounded: a host name is resolved within the time-out (net/resolve.h),
 * connecting waits on a non-blocking connect with select, and every
 * receive and send is bounded by the receive and send time-outs set on the
 * connected socket. When the time-out passes, the socket is shut down, so
 * that every later step on it fails at once, as on a lost connection.
 *
 * Under Wine every socket call is a round trip to the wine server, and the
 * number of calls, not the bytes, decides how long an upload takes: a reply
 * line is taken in two receives (a look at what has arrived, then exactly
 * the line), and the file goes out in large sends with no select between
 * them.
 *
 * A reply is bounded as a whole, not only receive by receive: its lines
 * must all have arrived within the time-out counted from the start of its
 * reading, and it may have at most FTP_REPLY_MAX_LINES lines. Each receive
 * of a reply waits only for what is left of that time.
 *
 * The passive data connection always goes to the host the control
 * connection is connected to; the address named in the 227 reply is parsed
 * and traced but never connected to, so a server cannot direct the upload
 * to another machine.
 *
 * Encryption (explicit FTPS, RFC 4217): after the greeting the client asks
 * for "AUTH TLS", and for "AUTH SSL" when that is refused. On 234 (or 334
 * to AUTH SSL) the control connection runs over TLS (net/tls.h) before the
 * account is sent, and the upload asks for "PBSZ 0" and "PROT P" and runs
 * its data connection over TLS as well; a server that refuses both gets
 * plain FTP unless TLS is required. A failed handshake or a
 * server certificate that cannot be verified ends the connection: nothing
 * more is sent, in the clear or otherwise. The sends and receives below go
 * through the TLS layer for a protected socket and straight to the socket
 * otherwise, so every command and reply is the same either way.
 */
#include <winsock2.h>
#include <windows.h>

#include "net/ftp.h"
#include "net/ftp_session.h"
#include "net/resolve.h"
#include "net/tls.h"
#include "support/error_text.h"
#include "support/text.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

char g_ftp_line[FTP_LINE_CAPACITY + 1];

int g_timeout_ms = FTP_DEFAULT_TIMEOUT_MS;
static int g_login_status = 0;
static bool g_login_accepted = false;
static int g_encryption = FTP_ENCRYPT_WHEN_OFFERED;
static int g_security = FTP_SECURITY_NONE;
static DWORD g_security_error = 0;
/* The control connection's host without its port: the name its TLS
   certificate is checked for, also on the data connection. */
char g_server_name[256];
/* "PBSZ 0" and "PROT P" accepted on the current control connection. */
bool g_data_protected = false;

void ftp_set_timeout(int milliseconds)
{
    g_timeout_ms = milliseconds > 0 ? milliseconds : FTP_DEFAULT_TIMEOUT_MS;
}

int ftp_timeout(void)
{
    return g_timeout_ms;
}

int ftp_login_status(void)
{
    return g_login_status;
}

bool ftp_login_accepted(void)
{
    return g_login_accepted;
}

void ftp_set_encryption(int mode)
{
    g_encryption = mode == FTP_ENCRYPT_REQUIRED ? FTP_ENCRYPT_REQUIRED : FTP_ENCRYPT_WHEN_OFFERED;
}

int ftp_security(void)
{
    return g_security;
}

DWORD ftp_security_error(void)
{
    return g_security_error;
}

bool is_2xx(int code)
{
    return code >= 200 && code <= 299;
}

bool is_1xx(int code)
{
    return code >= 100 && code <= 199;
}

static void trace(const char *mark, const char *text)
{
    fprintf(stderr, "%s %s\n", mark, text);
    fflush(stderr);
}

/* Bounds every blocking receive and send on the socket. */
static void set_socket_timeouts(SOCKET s)
{
    DWORD ms = (DWORD)g_timeout_ms;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&ms, sizeof ms);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, (const char *)&ms, sizeof ms);
    /* A command goes out as its text and then its line end, two small
       sends: without this the line end waits for the server's delayed
       acknowledgement, some 40 ms on every command. */
    BOOL no_delay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, (const char *)&no_delay, sizeof no_delay);
}

/* Connects s to address within the time-out; 0, or the socket error. */
int connect_within_timeout(SOCKET s, const struct sockaddr_in *address)
{
    u_long non_blocking = 1;
    ioctlsocket(s, FIONBIO, &non_blocking);
    int error = 0;
    if (connect(s, (const struct sockaddr *)address, sizeof *address) == SOCKET_ERROR) {
        error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK || error == WSAEINPROGRESS) {
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            struct timeval limit;
            limit.tv_sec = g_timeout_ms / 1000;
            limit.tv_usec = (g_timeout_ms % 1000) * 1000;
            int ready = select(0, NULL, &writable, &failed, &limit);
            if (ready == 0) {
                error = WSAETIMEDOUT;
            } else if (ready == SOCKET_ERROR) {
                error = WSAGetLastError();
            } else {
                int pending = 0;
                int size = sizeof pending;
                getsockopt(s, SOL_SOCKET, SO_ERROR, (char *)&pending, &size);
                error = pending;
                if (error == 0 && FD_ISSET(s, &failed))
                    error = WSAECONNREFUSED;
            }
        }
    }
    non_blocking = 0;
    ioctlsocket(s, FIONBIO, &non_blocking);
    if (error == 0)
        set_socket_timeouts(s);
    WSASetLastError(error);
    return error;
}

int sock_send(ftp_socket s, const char *bytes, int count)
{
    if (tls_protected((SOCKET)s))
        return tls_send((SOCKET)s, bytes, count);
    int sent = 0;
    while (sent < count) {
        /* No select first: the send time-out bounds the send, and a select
           before each batch of the upload took almost as long as the sends
           themselves. */
        int n = send((SOCKET)s, bytes + sent, count - sent, 0);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEINTR)
                continue;
            shutdown((SOCKET)s, SD_BOTH);
            return -1;
        }
        if (n == 0)
            break;
        sent += n;
    }
    return sent;
}

int sock_send_str(ftp_socket s, const char *text)
{
    return sock_send(s, text, (int)strlen(text));
}

/* One receive; repeated when interrupted. On a time-out the connection is
   given up. The byte count, 0 when the peer closed, -1 on failure. */
static int receive(ftp_socket s, char *bytes, int count, int flags)
{
    if (tls_protected((SOCKET)s))
        return tls_receive((SOCKET)s, bytes, count, (flags & MSG_PEEK) != 0);
    return socket_receive((SOCKET)s, bytes, count, flags);
}

/* The reply being read by ftp_get_reply, if any, and when its reading
   began: every line of it counts against the same time-out. */
static bool g_reading_reply = false;
static DWORD g_reply_began = 0;

/* Milliseconds left of the time-out counted from began; 0 when it is up. */
static DWORD time_left(DWORD began)
{
    DWORD spent = GetTickCount() - began;
    return spent < (DWORD)g_timeout_ms ? (DWORD)g_timeout_ms - spent : 0;
}

/* Lets the next receive on s wait only for the time left (never 0, which
   the socket would take as no limit at all); false when none is left. */
bool bound_next_receive(ftp_socket s, DWORD began)
{
    DWORD left = time_left(began);
    if (left == 0)
        return false;
    setsockopt((SOCKET)s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&left, sizeof left);
    return true;
}

int sock_recv_line(ftp_socket s, char *buffer, int n)
{
    /* A look at what has arrived (bounded by the time left), then a receive
       of exactly the bytes up to and including the line feed, so the next
       reply stays in the socket. A line that has not fully arrived is taken
       in pieces. Reading one byte per receive cost a round trip to the wine
       server for every byte. */
    DWORD began = g_reading_reply ? g_reply_began : GetTickCount();
    int stored = 0;
    bool ended = false, failed = false;
    while (!ended) {
        if (!bound_next_receive(s, began)) {
            /* The time is up: a server that trickles a line byte by byte
               holds the connection no longer than one that says nothing. */
            shutdown((SOCKET)s, SD_BOTH);
            failed = true;
            break;
        }
        char chunk[FTP_LINE_CAPACITY];
        int seen = receive(s, chunk, (int)sizeof chunk, MSG_PEEK);
        if (seen <= 0) {
            failed = seen < 0;
            break;
        }
        const char *line_feed = (const char *)memchr(chunk, '\n', (size_t)seen);
        int wanted = line_feed ? (int)(line_feed - chunk) + 1 : seen;
        int got = receive(s, chunk, wanted, 0);
        if (got <= 0) {
            failed = got < 0;
            break;
        }
        for (int i = 0; i < got && !ended; i++) {
            if (chunk[i] == '\n')
                ended = true;
            else if (chunk[i] != '\r' && stored < n)
                buffer[stored++] = chunk[i];
        }
    }
    DWORD full = (DWORD)g_timeout_ms;
    setsockopt((SOCKET)s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&full, sizeof full);
    /* A line cut off by a failed receive or by the time-out is no line: its
       first characters could read as a whole reply ("220 Rea"). */
    if (failed)
        stored = 0;
    buffer[stored] = '\0';
    return stored;
}

int ftp_get_reply(ftp_socket s)
{
    g_reading_reply = true;
    g_reply_began = GetTickCount();
    int code = 0;
    for (int lines = 0; code == 0; lines++) {
        if (lines == FTP_REPLY_MAX_LINES) {
            /* Continuation lines without end: the rest of the reply is never
               read, so the connection cannot be used any more. */
            shutdown((SOCKET)s, SD_BOTH);
            break;
        }
        int length = sock_recv_line(s, g_ftp_line, FTP_LINE_CAPACITY);
        if (length == 0)
            break;
        trace("<", g_ftp_line);
        if (length > 3 && g_ftp_line[3] == ' ')
            code = atoi(g_ftp_line);
    }
    g_reading_reply = false;
    return code;
}

/* Sends a command and reads its reply, tracing it as shown. The command
   goes out with its line end in one send: under Wine every send is a round
   trip to the server process. */
static int command_traced_as(ftp_socket s, const char *command, const char *shown)
{
    trace(">", shown);
    char line[FTP_LINE_CAPACITY + 3];
    if (!format_text(line, sizeof line, "%s\r\n", command))
        return -1;
    int sent = sock_send_str(s, line);
    SecureZeroMemory(line, sizeof line);
    return sent > 0 ? ftp_get_reply(s) : -1;
}

int ftp_command(ftp_socket s, const char *command)
{
    return command_traced_as(s, command, command);
}

/* Splits "name" or "name:port" into the host name and the port (0 when
   none is given). False when the text is too long or the port is not a
   number from 1 to 65535. */
static bool split_host(const char *host, char *name, size_t size, unsigned short *port)
{
    *port = 0;
    if (!copy_text(name, size, host))
        return false;
    char *colon = strrchr(name, ':');
    if (!colon)
        return true;
    *colon = '\0';
    const char *digits = colon + 1;
    if (*digits == '\0' || strlen(digits) > 5)
        return false;
    long value = 0;
    for (const char *d = digits; *d; d++) {
        if (*d < '0' || *d > '9')
            return false;
        value = value * 10 + (*d - '0');
    }
    if (value < 1 || value > 65535)
        return false;
    *port = (unsigned short)value;
    return true;
}

/* The server's address and port from host ("name" or "name:port";
   without a port the "ftp" service, else 21). 0, or the Windows Sockets
   error. */
static int server_address(const char *host, struct sockaddr_in *address)
{
    unsigned short port = 0;
    if (!split_host(host, g_server_name, sizeof g_server_name, &port))
        return WSAHOST_NOT_FOUND;
    memset(address, 0, sizeof *address);
    address->sin_family = AF_INET;
    int error = resolve_host(g_server_name, g_timeout_ms, &address->sin_addr);
    if (error != 0)
        return error;
    if (port != 0) {
        address->sin_port = htons(port);
    } else {
        /* The services file of this machine; no name server is asked. */
        struct servent *service = getservbyname("ftp", "tcp");
        address->sin_port = service ? (u_short)service->s_port : htons(21);
    }
    return 0;
}

/* The system's text for error, without its line end. */
static void error_text(char *text, size_t size, DWORD error, const char *fallback)
{
    if (!system_message(error, text, size))
        copy_text(text, size, fallback);
}

static void trace_connect_failure(int error)
{
    char text[256];
    error_text(text, sizeof text, (DWORD)error, "socket error");
    fprintf(stderr, "connect: %s (%d)\n", text, error);
    fflush(stderr);
}

void trace_tls_failure(DWORD error)
{
    char text[256];
    error_text(text, sizeof text, error, "TLS error");
    fprintf(stderr, "tls: %s (0x%08lx)\n", text, (unsigned long)error);
    fflush(stderr);
}

/* Closes a connection and forgets its TLS state. */
int close_connection(SOCKET s)
{
    tls_forget(s);
    return closesocket(s);
}

/* Asks for TLS on the control connection, by its name and then by its
   older name (RFC 4217 notes "AUTH SSL", which many servers still offer
   alone), and runs it when the server agrees. The answer to the last
   request: 234 (or 334 to AUTH SSL) when TLS is to start, else the
   refusal, 0 or -1 when the connection is gone. */
static int ask_for_tls(SOCKET s)
{
    int reply = ftp_command((ftp_socket)s, "AUTH TLS");
    if (reply == 234 || reply <= 0)
        return reply;
    reply = ftp_command((ftp_socket)s, "AUTH SSL");
    return reply == 334 ? 234 : reply;
}

/* Runs TLS on the control connection when the server agrees to it. False
   when the connection has to end here: the handshake or the server's
   certificate failed, or the server refused TLS by both names while it is
   required (then only QUIT is sent). Before TLS runs, no command but these
   goes out. */
static bool secure_control_connection(SOCKET s)
{
    int reply = ask_for_tls(s);
    if (reply == 234) {
        DWORD error = 0;
        if (tls_connect(s, g_server_name, g_timeout_ms, &error)) {
            g_security = FTP_SECURITY_TLS;
            return true;
        }
        trace_tls_failure(error);
        g_security = FTP_SECURITY_FAILED;
        g_security_error = error;
        return false;
    }
    if (g_encryption != FTP_ENCRYPT_REQUIRED) {
        g_security = FTP_SECURITY_PLAIN;
        return true;
    }
    /* A reply of 0 or -1: the connection itself is gone. */
    if (reply > 0) {
        g_security = FTP_SECURITY_NOT_OFFERED;
        ftp_command((ftp_socket)s, "QUIT");
    }
    return false;
}

/* Sends USER, and PASS when asked for; the login status (the greeting's
   code, or the reply to PASS), negative when a command could not be sent. */
static int log_in(ftp_socket s, int greeting, const char *user, const char *password)
{
    int status = greeting;
    char command[FTP_LINE_CAPACITY + 1];
    format_text(command, sizeof command, "USER %s", user);
    int reply = ftp_command(s, command);
    if (reply == 331) {
        format_text(command, sizeof command, "PASS %s", password);
        status = command_traced_as(s, command, "PASS ****");
        g_login_accepted = is_2xx(status);
        SecureZeroMemory(command, sizeof command);
    } else {
        g_login_accepted = is_2xx(reply);
    }
    return status;
}

ftp_socket ftp_connect(const char *host, const char *user, const char *password)
{
    g_login_status = 0;
    g_login_accepted = false;
    g_security = FTP_SECURITY_NONE;
    g_security_error = 0;
    g_data_protected = false;

    struct sockaddr_in address;
    int error = server_address(host, &address);
    if (error != 0) {
        errno = error;
        return -1;
    }
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return -1;
    error = connect_within_timeout(s, &address);
    if (error != 0) {
        errno = error;
        trace_connect_failure(error);
        closesocket(s);
        return -1;
    }
    int greeting = ftp_get_reply((ftp_socket)s);
    if (!secure_control_connection(s)) {
        close_connection(s);
        return -1;
    }
    int status = log_in((ftp_socket)s, greeting, user, password);
    g_login_status = status;
    if (status < 0) {
        g_login_accepted = false;
        close_connection(s);
        return -1;
    }
    return (ftp_socket)s;
}

int ftp_type(ftp_socket s, int type)
{
    if (type == 0)
        return ftp_command(s, "TYPE I");
    if (type == 1)
        return ftp_command(s, "TYPE A");
    return -1;
}

int ftp_parse_pasv_reply(const char *line, struct sockaddr_in *address)
{
    memset(address, 0, sizeof *address);
    if (atoi(line) != 227)
        return -1;
    const char *open = strchr(line, '(');
    if (!open)
        return -1;
    int h1, h2, h3, h4, p1, p2;
    if (sscanf(open + 1, "%d,%d,%d,%d,%d,%d", &h1, &h2, &h3, &h4, &p1, &p2) < 6)
        return -1;
    int numbers[6] = { h1, h2, h3, h4, p1, p2 };
    for (int i = 0; i < 6; i++)
        if (numbers[i] < 0 || numbers[i] > 255)
            return -1;
    address->sin_family = AF_INET;
    address->sin_addr.s_addr =
        htonl(((u_long)h1 << 24) | ((u_long)h2 << 16) | ((u_long)h3 << 8) | (u_long)h4);
    address->sin_port = htons((u_short)((p1 << 8) | p2));
    return 0;
}

int ftp_pasv(ftp_socket s, struct sockaddr_in *address)
{
    memset(address, 0, sizeof *address);
    trace(">", "PASV");
    if (sock_send_str(s, "PASV\r\n") != 6)
        return -1;
    if (sock_recv_line(s, g_ftp_line, FTP_LINE_CAPACITY) == 0)
        return -1;
    trace("<", g_ftp_line);
    return ftp_parse_pasv_reply(g_ftp_line, address);
}

int ftp_quit(ftp_socket s)
{
    ftp_command(s, "QUIT");
    tls_close((SOCKET)s);
    return closesocket((SOCKET)s);
}
