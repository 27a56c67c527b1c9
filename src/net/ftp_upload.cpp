/*
 * The FTP client's upload (see ftp.h): the passive data connection, always
 * to the control connection's own peer, protected by TLS whenever the
 * control connection is, and the proof that the file arrived whole. A
 * file counts as stored only when every send of it was accepted in full,
 * the data connection ended in order (its TLS close, then this side shut
 * down and the server's last bytes read until it closed, without a reset),
 * the server confirmed the transfer, and the size it names for the file,
 * where it names one (SIZE), is the size sent. Every wait is bounded by
 * the client's time-out.
 */
#include <winsock2.h>
#include <windows.h>

#include "net/ftp.h"
#include "net/ftp_session.h"
#include "net/tls.h"
#include "support/progress.h"
#include "support/text.h"

#include <stdio.h>
#include <string.h>

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

/* The file is read, counted on the bar and sent in batches of 256 KiB:
   under Wine every send is a round trip to the server process, and one
   send per 512 bytes made the upload a hundred times slower than the
   network allows; reading it in blocks of 512 bytes cost a third of the
   time the sends take. A blocking send returns once its batch has left,
   within the send time-out: 256 KiB in 30 seconds needs some 70 kbit/s of
   the school's line, where batches of 1 MiB (no faster here) needed 280
   kbit/s. */
static char g_upload_batch[256 * 1024];

/* Sends the whole file on the data connection, *sent counting the bytes
   every send accepted; false when a send failed or the file could not be
   read to its end. */
static bool send_file(HWND progress_bar, SOCKET data, FILE *file, unsigned long long *sent)
{
    for (;;) {
        size_t n = fread(g_upload_batch, 1, sizeof g_upload_batch, file);
        if (n == 0)
            return !ferror(file);
        advance_bar(progress_bar, (int)n);
        if (sock_send((ftp_socket)data, g_upload_batch, (int)n) != (int)n)
            return false;
        *sent += (unsigned long long)n;
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
    struct sockaddr_in target;
    int result = -1;
    if (protect_data_connections(s) && data_target(s, &target) == 0)
        result = put_through(progress_bar, s, &target, file, remote_name);
    fclose(file);
    return result;
}

