/*
 * The platform's own limit for an upload over explicit FTPS under the same
 * Wine: a client as small as it can be, with Windows' Schannel through
 * SSPI and nothing of the menu's own code. It greets, asks for "AUTH TLS",
 * runs the handshake, logs in, asks for "PBSZ 0", "PROT P" and "TYPE I",
 * stores one file through a passive data connection with a handshake of
 * its own, sends the TLS close and reads the completion, then QUIT. The
 * server's certificate is not checked (the benchmark's server is its own),
 * and records are encrypted into large sends, as a fast client makes them.
 * Prints "<milliseconds> <peak working set in KiB>" from the connect to
 * the reply to QUIT, as bench.exe does for the menu's upload.
 *   schannel_upload <host> <port> <user> <password> <file> <remote name>
 */
#define SECURITY_WIN32
#include <winsock2.h>
#include <windows.h>
#include <security.h>
#include <schannel.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static PSecurityFunctionTableA sspi;
static CredHandle credentials;
static char last_line[600];   /* the final line of the last reply */

struct Tls {
    SOCKET s;
    CtxtHandle context;
    SecPkgContext_StreamSizes sizes;
    char in[65536 + 32768];
    int in_used;
    char plain[32768];
    int plain_used;
};

static bool send_all(SOCKET s, const char *bytes, int count)
{
    while (count > 0) {
        int n = send(s, bytes, count, 0);
        if (n <= 0)
            return false;
        bytes += n;
        count -= n;
    }
    return true;
}

static bool receive_some(Tls *t)
{
    int n = recv(t->s, t->in + t->in_used, (int)sizeof t->in - t->in_used, 0);
    if (n <= 0)
        return false;
    t->in_used += n;
    return true;
}

static bool handshake(Tls *t, const char *host)
{
    const ULONG flags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                        ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
    SecBuffer out = { 0, SECBUFFER_TOKEN, NULL };
    SecBufferDesc out_desc = { SECBUFFER_VERSION, 1, &out };
    ULONG attributes;
    SECURITY_STATUS status = sspi->InitializeSecurityContextA(&credentials, NULL, (SEC_CHAR *)host, flags, 0, 0,
                                                              NULL, 0, &t->context, &out_desc, &attributes, NULL);
    t->in_used = 0;
    while (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE) {
        if (out.pvBuffer) {
            if (!send_all(t->s, (const char *)out.pvBuffer, (int)out.cbBuffer))
                return false;
            sspi->FreeContextBuffer(out.pvBuffer);
            out.pvBuffer = NULL;
        }
        if ((status == SEC_E_INCOMPLETE_MESSAGE || t->in_used == 0) && !receive_some(t))
            return false;
        SecBuffer in[2] = { { (ULONG)t->in_used, SECBUFFER_TOKEN, t->in }, { 0, SECBUFFER_EMPTY, NULL } };
        SecBufferDesc in_desc = { SECBUFFER_VERSION, 2, in };
        out.cbBuffer = 0;
        status = sspi->InitializeSecurityContextA(&credentials, &t->context, (SEC_CHAR *)host, flags, 0, 0,
                                                  &in_desc, 0, NULL, &out_desc, &attributes, NULL);
        if (status == SEC_E_INCOMPLETE_MESSAGE)
            continue;
        int extra = in[1].BufferType == SECBUFFER_EXTRA ? (int)in[1].cbBuffer : 0;
        memmove(t->in, t->in + t->in_used - extra, (size_t)extra);
        t->in_used = extra;
    }
    if (out.pvBuffer) {
        send_all(t->s, (const char *)out.pvBuffer, (int)out.cbBuffer);
        sspi->FreeContextBuffer(out.pvBuffer);
    }
    return status == SEC_E_OK &&
           sspi->QueryContextAttributesA(&t->context, SECPKG_ATTR_STREAM_SIZES, &t->sizes) == SEC_E_OK;
}

/* Encrypts count bytes into records, one send per megabyte of them. */
static bool tls_write(Tls *t, const char *bytes, int count)
{
    static char batch[1100 * 1024];
    int header = (int)t->sizes.cbHeader, trailer = (int)t->sizes.cbTrailer;
    int longest = (int)t->sizes.cbMaximumMessage;
    while (count > 0) {
        int used = 0;
        while (count > 0 && used + header + longest + trailer <= (int)sizeof batch && used < 1024 * 1024) {
            int n = count < longest ? count : longest;
            char *at = batch + used;
            memcpy(at + header, bytes, (size_t)n);
            SecBuffer parts[4] = { { (ULONG)header, SECBUFFER_STREAM_HEADER, at },
                                   { (ULONG)n, SECBUFFER_DATA, at + header },
                                   { (ULONG)trailer, SECBUFFER_STREAM_TRAILER, at + header + n },
                                   { 0, SECBUFFER_EMPTY, NULL } };
            SecBufferDesc message = { SECBUFFER_VERSION, 4, parts };
            if (sspi->EncryptMessage(&t->context, 0, &message, 0) != SEC_E_OK)
                return false;
            used += (int)(parts[0].cbBuffer + parts[1].cbBuffer + parts[2].cbBuffer);
            bytes += n;
            count -= n;
        }
        if (!send_all(t->s, batch, used))
            return false;
    }
    return true;
}

/* One reply line over TLS (the final line of a reply; continuation lines
   are skipped); its code, or 0. */
static int tls_reply(Tls *t)
{
    for (;;) {
        char *end = (char *)memchr(t->plain, '\n', (size_t)t->plain_used);
        if (end) {
            int length = (int)(end - t->plain) + 1;
            bool final = length > 4 && t->plain[3] == ' ';
            int code = atoi(t->plain);
            if (final)
                snprintf(last_line, sizeof last_line, "%.*s", length - 1, t->plain);
            memmove(t->plain, t->plain + length, (size_t)(t->plain_used - length));
            t->plain_used -= length;
            if (final)
                return code;
            continue;
        }
        SecBuffer parts[4] = { { (ULONG)t->in_used, SECBUFFER_DATA, t->in },
                               { 0, SECBUFFER_EMPTY, NULL },
                               { 0, SECBUFFER_EMPTY, NULL },
                               { 0, SECBUFFER_EMPTY, NULL } };
        SecBufferDesc message = { SECBUFFER_VERSION, 4, parts };
        SECURITY_STATUS status = t->in_used ? sspi->DecryptMessage(&t->context, &message, 0, NULL)
                                            : SEC_E_INCOMPLETE_MESSAGE;
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            if (!receive_some(t))
                return 0;
            continue;
        }
        if (status != SEC_E_OK)
            return 0;
        int extra = 0;
        for (int i = 0; i < 4; i++) {
            if (parts[i].BufferType == SECBUFFER_DATA &&
                t->plain_used + (int)parts[i].cbBuffer <= (int)sizeof t->plain) {
                memcpy(t->plain + t->plain_used, parts[i].pvBuffer, parts[i].cbBuffer);
                t->plain_used += (int)parts[i].cbBuffer;
            }
            if (parts[i].BufferType == SECBUFFER_EXTRA)
                extra = (int)parts[i].cbBuffer;
        }
        memmove(t->in, t->in + t->in_used - extra, (size_t)extra);
        t->in_used = extra;
    }
}

static int tls_command(Tls *t, const char *command)
{
    char line[600];
    int n = snprintf(line, sizeof line, "%s\r\n", command);
    return tls_write(t, line, n) ? tls_reply(t) : -1;
}

static int plain_reply(SOCKET s)
{
    char line[600];
    for (;;) {
        int n = 0;
        char c = 0;
        while (c != '\n' && recv(s, &c, 1, 0) == 1)
            if (n < (int)sizeof line - 1)
                line[n++] = c;
        line[n] = '\0';
        if (c != '\n')
            return 0;
        if (n > 4 && line[3] == ' ')
            return atoi(line);
    }
}

static void tls_close(Tls *t)
{
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control = { sizeof type, SECBUFFER_TOKEN, &type };
    SecBufferDesc control_desc = { SECBUFFER_VERSION, 1, &control };
    sspi->ApplyControlToken(&t->context, &control_desc);
    SecBuffer out = { 0, SECBUFFER_TOKEN, NULL };
    SecBufferDesc out_desc = { SECBUFFER_VERSION, 1, &out };
    ULONG attributes;
    sspi->InitializeSecurityContextA(&credentials, &t->context, NULL,
                                     ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM, 0, 0, NULL, 0, NULL, &out_desc,
                                     &attributes, NULL);
    if (out.pvBuffer) {
        send_all(t->s, (const char *)out.pvBuffer, (int)out.cbBuffer);
        sspi->FreeContextBuffer(out.pvBuffer);
    }
    sspi->DeleteSecurityContext(&t->context);
}

static SOCKET connect_to(unsigned long address, int port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    to.sin_port = htons((u_short)port);
    BOOL no_delay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, (const char *)&no_delay, sizeof no_delay);
    if (connect(s, (struct sockaddr *)&to, sizeof to) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

static double now_ms(void)
{
    LARGE_INTEGER frequency, t;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

static Tls control, data;

/* The data connection of a 227 reply, at the control connection's host. */
static SOCKET passive_connection(unsigned long address)
{
    const char *open = strchr(last_line, '(');
    int h1, h2, h3, h4, p1, p2;
    if (!open || sscanf(open + 1, "%d,%d,%d,%d,%d,%d", &h1, &h2, &h3, &h4, &p1, &p2) != 6)
        return INVALID_SOCKET;
    return connect_to(address, p1 * 256 + p2);
}

/* Sends the file over the data connection's TLS, then its TLS close; the
   server's own close is read until it closes its side. */
static bool send_file(FILE *file)
{
    static char chunk[1024 * 1024];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0)
        if (!tls_write(&data, chunk, (int)n))
            return false;
    tls_close(&data);
    shutdown(data.s, SD_SEND);
    while (recv(data.s, chunk, sizeof chunk, 0) > 0) {
    }
    closesocket(data.s);
    return true;
}

/* The whole session; true when the server confirmed the file. */
static bool upload(const char *host, int port, const char *user, const char *password, FILE *file,
                   const char *remote)
{
    unsigned long address = inet_addr(host);
    control.s = connect_to(address, port);
    if (control.s == INVALID_SOCKET || plain_reply(control.s) != 220)
        return false;
    if (!send_all(control.s, "AUTH TLS\r\n", 10) || plain_reply(control.s) != 234 || !handshake(&control, host))
        return false;
    char command[600];
    snprintf(command, sizeof command, "USER %s", user);
    if (tls_command(&control, command) != 331)
        return false;
    snprintf(command, sizeof command, "PASS %s", password);
    if (tls_command(&control, command) / 100 != 2 || tls_command(&control, "PBSZ 0") / 100 != 2 ||
        tls_command(&control, "PROT P") / 100 != 2 || tls_command(&control, "TYPE I") / 100 != 2 ||
        tls_command(&control, "PASV") != 227)
        return false;
    data.s = passive_connection(address);
    snprintf(command, sizeof command, "STOR %s", remote);
    if (data.s == INVALID_SOCKET || tls_command(&control, command) / 100 != 1 || !handshake(&data, host) ||
        !send_file(file))
        return false;
    bool stored = tls_reply(&control) / 100 == 2;
    tls_command(&control, "QUIT");
    tls_close(&control);
    closesocket(control.s);
    return stored;
}

int main(int argc, char **argv)
{
    if (argc != 7) {
        fprintf(stderr, "usage: schannel_upload host port user password file remote\n");
        return 2;
    }
    FILE *file = fopen(argv[5], "rb");
    WSADATA sockets;
    if (!file || WSAStartup(MAKEWORD(2, 2), &sockets) != 0)
        return 1;
    sspi = InitSecurityInterfaceA();
    SCHANNEL_CRED wanted;
    memset(&wanted, 0, sizeof wanted);
    wanted.dwVersion = SCHANNEL_CRED_VERSION;
    wanted.dwFlags = SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_MANUAL_CRED_VALIDATION | SCH_USE_STRONG_CRYPTO;
    TimeStamp expiry;
    if (!sspi || sspi->AcquireCredentialsHandleA(NULL, (SEC_CHAR *)UNISP_NAME_A, SECPKG_CRED_OUTBOUND, NULL,
                                                 &wanted, NULL, NULL, &credentials, &expiry) != SEC_E_OK)
        return 1;
    double start = now_ms();
    bool stored = upload(argv[1], atoi(argv[2]), argv[3], argv[4], file, argv[6]);
    double elapsed = now_ms() - start;
    PROCESS_MEMORY_COUNTERS counters;
    memset(&counters, 0, sizeof counters);
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    printf("%.1f %lu\n", elapsed, (unsigned long)(counters.PeakWorkingSetSize / 1024));
    WSACleanup();
    return stored ? 0 : 1;
}
