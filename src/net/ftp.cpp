/*
 * The FTP client (see ftp.h). Blocking Windows Sockets underneath, with
 * every wait bounded: a host name is resolved within the time-out
 * (net/resolve.h), connecting waits on a
 * non-blocking connect with select, and every receive and send is bounded
 * by the receive and send
 * time-outs set on the connected socket. When the time-out passes, the
 * socket is shut down, so that every later step on it fails at once, as on
 * a lost connection.
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
#include <commctrl.h>

#include "net/ftp.h"
#include "net/resolve.h"
#include "net/tls.h"
#include "support/error_text.h"
#include "support/progress.h"
#include "support/text.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

char g_ftp_line[FTP_LINE_CAPACITY + 1];

static int g_timeout_ms = FTP_DEFAULT_TIMEOUT_MS;
static int g_login_status = 0;
static bool g_login_accepted = false;
static int g_encryption = FTP_ENCRYPT_WHEN_OFFERED;
static int g_security = FTP_SECURITY_NONE;
static DWORD g_security_error = 0;
/* The control connection's host without its port: the name its TLS
   certificate is checked for, also on the data connection. */
static char g_server_name[256];
/* "PBSZ 0" and "PROT P" accepted on the current control connection. */
static bool g_data_protected = false;

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

static bool is_2xx(int code)
{
    return code >= 200 && code <= 299;
}

static bool is_1xx(int code)
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
static int connect_within_timeout(SOCKET s, const struct sockaddr_in *address)
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
static bool bound_next_receive(ftp_socket s, DWORD began)
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

static void trace_tls_failure(DWORD error)
{
    char text[256];
    error_text(text, sizeof text, error, "TLS error");
    fprintf(stderr, "tls: %s (0x%08lx)\n", text, (unsigned long)error);
    fflush(stderr);
}

/* Closes a connection and forgets its TLS state. */
static int close_connection(SOCKET s)
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

static void advance_bar(HWND bar, int delta)
{
    if (bar)
        progress_bar_advance(bar, delta);
}

/* Over a protected control connection, asks for protected data
   connections ("PBSZ 0", "PROT P") once; false when the server refuses,
   so that no file ever goes out in the clear beside an encrypted control
   connection. */
static bool protect_data_connections(ftp_socket s)
{
    if (!tls_protected((SOCKET)s) || g_data_protected)
        return true;
    if (!is_2xx(ftp_command(s, "PBSZ 0")) || !is_2xx(ftp_command(s, "PROT P")))
        return false;
    g_data_protected = true;
    return true;
}

static bool secure_data_connection(SOCKET data)
{
    DWORD error = 0;
    if (tls_connect(data, g_server_name, g_timeout_ms, &error))
        return true;
    trace_tls_failure(error);
    return false;
}

/* Ends the data connection in order, which ends the file for the server:
   a protected one with its TLS close, then this side is shut down, and
   what the server still sends (its own TLS close) is read until it closes
   its side too, all within the time-out. True only when all of that went
   through: after a reset or an error the file may not have arrived whole,
   whatever the server replies on the control connection. (Closing a
   socket with unread bytes would itself reset the connection.) The socket
   is closed either way. */
static bool end_data_connection(SOCKET data)
{
    bool in_order = true;
    if (tls_protected(data))
        in_order = tls_close(data);
    if (in_order && shutdown(data, SD_SEND) == SOCKET_ERROR)
        in_order = false;
    DWORD began = GetTickCount();
    while (in_order) {
        char sink[4096];
        if (!bound_next_receive((ftp_socket)data, began)) {
            in_order = false;
            break;
        }
        int got = socket_receive(data, sink, (int)sizeof sink, 0);
        if (got == 0)
            break;
        if (got < 0)
            in_order = false;
    }
    close_connection(data);
    return in_order;
}

/* The file is read and counted on the bar 512 bytes at a time, but sent
   in batches of 256 KiB: under Wine every send is a round trip to the
   server process, and one send per 512 bytes made the upload a hundred
   times slower than the network allows. A blocking send returns once its
   batch has left, within the send time-out: 256 KiB in 30 seconds needs
   some 70 kbit/s of the school's line, where batches of 1 MiB (no faster
   here) needed 280 kbit/s. */
static char g_upload_batch[256 * 1024];

/* Sends the whole file on the data connection, *sent counting the bytes
   every send accepted; false when a send failed or the file could not be
   read to its end. */
static bool send_file(HWND progress_bar, SOCKET data, FILE *file, unsigned long long *sent)
{
    int batched = 0;
    for (;;) {
        size_t n = fread(g_ftp_line, 1, FTP_LINE_CAPACITY, file);
        if (n > 0) {
            advance_bar(progress_bar, (int)n);
            memcpy(g_upload_batch + batched, g_ftp_line, n);
            batched += (int)n;
        }
        if (batched > 0 && (n == 0 || batched + FTP_LINE_CAPACITY > (int)sizeof g_upload_batch)) {
            if (sock_send((ftp_socket)data, g_upload_batch, batched) != batched)
                return false;
            *sent += (unsigned long long)batched;
            batched = 0;
        }
        if (n == 0)
            return !ferror(file);
    }
}

/* The number of a 213 reply line ("213 1048576"); false when the line
   holds no number alone. */
static bool size_in_reply(const char *line, unsigned long long *size)
{
    const char *at = line + 3;
    while (*at == ' ')
        at++;
    unsigned long long value = 0;
    int digits = 0;
    for (; *at >= '0' && *at <= '9'; at++, digits++) {
        if (digits == 19)
            return false;
        value = value * 10 + (unsigned long long)(*at - '0');
    }
    while (*at == ' ')
        at++;
    *size = value;
    return digits > 0 && *at == '\0';
}

/* Asks the server how large the stored file is ("SIZE", RFC 3659). False
   when it names another size than the bytes sent, or gives no reply at
   all; a server that does not say (any reply but 213) is taken at its
   226. */
static bool remote_size_agrees(ftp_socket s, const char *remote_name, unsigned long long sent)
{
    char command[FTP_LINE_CAPACITY + 1];
    if (!format_text(command, sizeof command, "SIZE %s", remote_name))
        return false;
    int reply = ftp_command(s, command);
    if (reply <= 0)
        return false;
    if (reply != 213)
        return true;
    unsigned long long size = 0;
    return size_in_reply(g_ftp_line, &size) && size == sent;
}

/* Where the data connection goes: the control connection's peer, at the
   port the server named in its 227 reply. 0, or -1. */
static int data_target(ftp_socket s, struct sockaddr_in *target)
{
    struct sockaddr_in passive;
    if (ftp_pasv(s, &passive) != 0)
        return -1;
    int size = sizeof *target;
    memset(target, 0, sizeof *target);
    if (getpeername((SOCKET)s, (struct sockaddr *)target, &size) == SOCKET_ERROR || target->sin_family != AF_INET)
        return -1;
    target->sin_port = passive.sin_port;
    return 0;
}

/* STOR has gone out and the data connection stands: waits for the
   preliminary reply, protects the connection when the control connection
   is, sends the file, ends the connection in order and waits for the
   completion. 0 only when the file is proven stored: every send accepted
   in full, the data connection ended in order, the completion confirmed,
   and the size the server names, if it names one, the size sent. The data
   connection is closed either way. */
static int store_file(HWND progress_bar, ftp_socket s, SOCKET data, FILE *file, const char *remote_name)
{
    if (!is_1xx(ftp_get_reply(s))) {
        /* The server refused the file: that reply was final, there is
           nothing to send and no completion to wait for. */
        closesocket(data);
        return -1;
    }
    if (tls_protected((SOCKET)s) && !secure_data_connection(data)) {
        /* Nothing of the file went out; the server ends the transfer. */
        close_connection(data);
        ftp_get_reply(s);
        return -1;
    }
    unsigned long long sent = 0;
    bool proven = send_file(progress_bar, data, file, &sent);
    if (proven)
        proven = end_data_connection(data);
    else
        close_connection(data);
    /* The completion is read in every case, so that the control connection
       stays in step for QUIT. */
    int completion = ftp_get_reply(s);
    proven = proven && is_2xx(completion) && remote_size_agrees(s, remote_name, sent);
    return proven ? 0 : -1;
}

/* Sends STOR and opens the data connection, then stores the file; -1
   when the command or the connection failed. */
static int put_through(HWND progress_bar, ftp_socket s, const struct sockaddr_in *target, FILE *file,
                       const char *remote_name)
{
    SOCKET data = socket(AF_INET, SOCK_STREAM, 0);
    if (data == INVALID_SOCKET)
        return -1;
    if (!format_text(g_ftp_line, sizeof g_ftp_line, "STOR %s\r\n", remote_name)) {
        /* A name this long cannot be sent whole; store nothing. */
        closesocket(data);
        return -1;
    }
    int length = (int)strlen(g_ftp_line);
    if (sock_send_str(s, g_ftp_line) == length && connect_within_timeout(data, target) == 0)
        return store_file(progress_bar, s, data, file, remote_name);
    closesocket(data);
    ftp_get_reply(s);
    return -1;
}

int ftp_put(HWND progress_bar, ftp_socket s, const char *local_path, const char *remote_name)
{
    advance_bar(progress_bar, 512);
    FILE *file = fopen(local_path, "rb");
    if (!file)
        return -1;
    /* Blocks of 512 bytes come out of a large file buffer, not a disk read
       each. */
    setvbuf(file, NULL, _IOFBF, 256 * 1024);
    struct sockaddr_in target;
    int result = -1;
    if (protect_data_connections(s) && data_target(s, &target) == 0)
        result = put_through(progress_bar, s, &target, file, remote_name);
    fclose(file);
    return result;
}

int ftp_quit(ftp_socket s)
{
    ftp_command(s, "QUIT");
    tls_close((SOCKET)s);
    return closesocket((SOCKET)s);
}
