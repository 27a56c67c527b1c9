/*
 * TLS over Schannel (see tls.h). Each protected socket has a session in a
 * small table: its security context, the encrypted bytes received and not
 * yet decrypted, the decrypted bytes not yet handed out, and a buffer in
 * which a batch of records is encrypted before it goes out in one send
 * (under Wine every socket call is a round trip to the wine server).
 *
 * What a server sends is bounded before it is used: a record longer than
 * TLS allows ends the connection, and a handshake has the caller's time-out
 * and a limited number of rounds.
 *
 * The server's certificate: Schannel on Windows checks it during the
 * handshake (automatic validation, the default for a client), and it is
 * checked once more after the handshake and before anything else is sent
 * (net/certificate.h): Wine's Schannel leaves that check to its caller,
 * and a client that trusted it would talk to any server.
 *
 * The close: a TLS close (close_notify) is made with ApplyControlToken and
 * InitializeSecurityContext, as Windows does it; should the system not
 * make one, the connection closes without it.
 *
 * Schannel (secur32.dll) and the certificate functions (crypt32.dll) are
 * loaded by the first handshake, not when the menu starts: loading them
 * starts the system's authentication packages, which under Wine was a
 * tenth of the menu's start.
 */
#define SECURITY_WIN32
#include <winsock2.h>
#include <windows.h>
#include <security.h>
#include <schannel.h>
#include <wincrypt.h>

#include "net/certificate.h"
#include "net/tls.h"
#include "support/text.h"

#include <stdlib.h>
#include <string.h>

enum {
    TLS_SESSIONS = 4,
    TLS_HEADER = 5,                           /* type, version, length */
    TLS_LONGEST_RECORD = 16384 + 2048,        /* the longest record body TLS allows */
    /* Room for the longest record and a long certificate chain around it. */
    TLS_INCOMING = 65536 + TLS_HEADER + TLS_LONGEST_RECORD,
    TLS_BATCH_RECORDS = 16,                   /* records encrypted for one send (256 KiB, see ftp.cpp) */
    TLS_HANDSHAKE_ROUNDS = 256,
    TLS_ALERT = 21                            /* record type of an alert */
};

static const ULONG CONTEXT_FLAGS = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                   ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                   ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR;

struct TlsSession {
    bool used;
    SOCKET socket;
    bool have_context;
    CtxtHandle context;
    SecPkgContext_StreamSizes sizes;
    char server_name[256];
    int timeout_ms;
    char *incoming;          /* TLS_INCOMING bytes */
    int incoming_used;
    char *plain;             /* TLS_LONGEST_RECORD bytes */
    int plain_start;
    int plain_end;
    char *outgoing;
    int outgoing_size;
    bool closed;             /* the server's close has been received */
    /* One call of tls_receive waits no longer than the socket's receive
       time-out in all, however many receives a record takes. */
    DWORD wait_began;
    DWORD wait_limit;        /* 0: no receive of tls_receive under way */
    bool waited;             /* a receive of this call has been made */
    bool limit_changed;      /* the socket's time-out was cut to what was left */
};

/* SSPI's function table and the certificate functions, once loaded. */
static PSecurityFunctionTableA g_sspi = NULL;
/* Loads Schannel's interface and the certificate functions (once); 0, or
   the reason they are not to be had. */
static DWORD load_security(void)
{
    if (g_sspi)
        return 0;
    HMODULE secur32 = LoadLibraryA("secur32.dll");
    FARPROC entry = secur32 ? GetProcAddress(secur32, SECURITY_ENTRYPOINT_ANSIA) : NULL;
    DWORD error = GetLastError();
    if (!entry)
        return error ? error : (DWORD)SEC_E_SECPKG_NOT_FOUND;
    error = load_certificate_checks();
    if (error != 0)
        return error;
    INIT_SECURITY_INTERFACE_A interface_of =
        reinterpret_cast<INIT_SECURITY_INTERFACE_A>(reinterpret_cast<void (*)(void)>(entry));
    g_sspi = interface_of();
    return g_sspi ? 0 : (DWORD)SEC_E_SECPKG_NOT_FOUND;
}

static TlsSession g_sessions[TLS_SESSIONS];
static CredHandle g_credentials;
static bool g_have_credentials = false;

/* The server certificate last verified, as the server sent it, and the
   name it was verified for; kept while any session lives. */
static unsigned char *g_verified = NULL;
static DWORD g_verified_length = 0;
static char g_verified_name[256];

static void forget_verified(void)
{
    free(g_verified);
    g_verified = NULL;
    g_verified_length = 0;
    g_verified_name[0] = '\0';
}

static TlsSession *session_of(SOCKET s)
{
    for (int i = 0; i < TLS_SESSIONS; i++)
        if (g_sessions[i].used && g_sessions[i].socket == s)
            return &g_sessions[i];
    return NULL;
}

bool tls_protected(SOCKET s)
{
    return session_of(s) != NULL;
}

/* Frees a session; the credentials go with the last one. */
static void release(TlsSession *t)
{
    if (t->have_context)
        g_sspi->DeleteSecurityContext(&t->context);
    free(t->incoming);
    free(t->plain);
    free(t->outgoing);
    memset(t, 0, sizeof *t);
    for (int i = 0; i < TLS_SESSIONS; i++)
        if (g_sessions[i].used)
            return;
    if (g_have_credentials) {
        g_sspi->FreeCredentialHandle(&g_credentials);
        g_have_credentials = false;
    }
    forget_verified();
}

void tls_forget(SOCKET s)
{
    TlsSession *t = session_of(s);
    if (t)
        release(t);
}

static SECURITY_STATUS acquire_credentials(void)
{
    if (g_have_credentials)
        return SEC_E_OK;
    SCHANNEL_CRED wanted;
    memset(&wanted, 0, sizeof wanted);
    wanted.dwVersion = SCHANNEL_CRED_VERSION;
    /* No client certificate; the server's checked; the system's protocol
       versions, without the ciphers Windows counts as weak. */
    wanted.dwFlags = SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_AUTO_CRED_VALIDATION | SCH_USE_STRONG_CRYPTO;
    TimeStamp expiry;
    SECURITY_STATUS status =
        g_sspi->AcquireCredentialsHandleA(NULL, (SEC_CHAR *)UNISP_NAME_A, SECPKG_CRED_OUTBOUND, NULL,
                                          &wanted, NULL, NULL, &g_credentials, &expiry);
    g_have_credentials = status == SEC_E_OK;
    return status;
}

/* The socket error of the last failed call, or fallback when there is
   none. */
static DWORD socket_error(DWORD fallback)
{
    int error = WSAGetLastError();
    return error != 0 ? (DWORD)error : fallback;
}

static int raw_send(SOCKET s, const char *bytes, int count)
{
    int sent = 0;
    while (sent < count) {
        int n = send(s, bytes + sent, count - sent, 0);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEINTR)
                continue;
            shutdown(s, SD_BOTH);
            return -1;
        }
        if (n == 0)
            return -1;
        sent += n;
    }
    return sent;
}

int socket_receive(SOCKET s, char *bytes, int count, int flags)
{
    for (;;) {
        int got = recv(s, bytes, count, flags);
        if (got != SOCKET_ERROR)
            return got;
        int error = WSAGetLastError();
        if (error == WSAEINTR)
            continue;
        if (error == WSAETIMEDOUT)
            shutdown(s, SD_BOTH);
        return -1;
    }
}

/* One receive into the free room of the session's incoming buffer: the
   count, 0 when the server closed the connection, -1 on failure (also when
   the buffer is full, which no honest server causes). */
static int receive_more(TlsSession *t)
{
    int room = TLS_INCOMING - t->incoming_used;
    if (room <= 0) {
        WSASetLastError(WSAEMSGSIZE);
        return -1;
    }
    if (t->wait_limit) {
        /* A record trickled in over many receives counts against one
           time-out, as a line of a reply does. */
        DWORD spent = GetTickCount() - t->wait_began;
        if (spent >= t->wait_limit) {
            shutdown(t->socket, SD_BOTH);
            WSASetLastError(WSAETIMEDOUT);
            return -1;
        }
        if (t->waited) {
            DWORD left = t->wait_limit - spent;
            setsockopt(t->socket, SOL_SOCKET, SO_RCVTIMEO, (const char *)&left, sizeof left);
            t->limit_changed = true;
        }
        t->waited = true;
    }
    int got = socket_receive(t->socket, t->incoming + t->incoming_used, room, 0);
    if (got > 0)
        t->incoming_used += got;
    return got;
}

/* Sends a token Schannel made and frees it; false when sending failed. */
static bool send_token(SOCKET s, SecBuffer *token)
{
    bool sent = true;
    if (token->pvBuffer) {
        if (token->cbBuffer > 0)
            sent = raw_send(s, (const char *)token->pvBuffer, (int)token->cbBuffer) ==
                   (int)token->cbBuffer;
        g_sspi->FreeContextBuffer(token->pvBuffer);
        token->pvBuffer = NULL;
    }
    return sent;
}

/* Keeps the bytes an input buffer left unused (SECBUFFER_EXTRA, at the end
   of what was given) at the start of the incoming buffer. */
static void keep_extra(TlsSession *t, int given, const SecBuffer *extra)
{
    int left = 0;
    if (extra && extra->BufferType == SECBUFFER_EXTRA && (int)extra->cbBuffer <= given)
        left = (int)extra->cbBuffer;
    memmove(t->incoming, t->incoming + given - left, (size_t)(t->incoming_used - given + left));
    t->incoming_used = t->incoming_used - given + left;
}

/* The first handshake message: a new context and its token sent to the
   server. 0, or the reason. */
static DWORD start_handshake(TlsSession *t)
{
    SecBuffer out = { 0, SECBUFFER_TOKEN, NULL };
    SecBufferDesc out_desc = { SECBUFFER_VERSION, 1, &out };
    ULONG attributes = 0;
    SECURITY_STATUS status =
        g_sspi->InitializeSecurityContextA(&g_credentials, NULL, t->server_name, CONTEXT_FLAGS, 0, 0,
                                           NULL, 0, &t->context, &out_desc, &attributes, NULL);
    if (status != SEC_I_CONTINUE_NEEDED) {
        if (out.pvBuffer)
            g_sspi->FreeContextBuffer(out.pvBuffer);
        if (status == SEC_E_OK)
            g_sspi->DeleteSecurityContext(&t->context);
        return (DWORD)(status == SEC_E_OK ? SEC_E_INTERNAL_ERROR : status);
    }
    t->have_context = true;
    return send_token(t->socket, &out) ? 0 : socket_error(WSAECONNRESET);
}

/* One round: what has arrived goes to Schannel and its answer to the
   server. SEC_E_OK when the handshake is complete, SEC_I_CONTINUE_NEEDED
   or SEC_E_INCOMPLETE_MESSAGE when it goes on, or the reason it failed. */
static SECURITY_STATUS handshake_round(TlsSession *t)
{
    int given = t->incoming_used;
    SecBuffer in[2] = { { (ULONG)given, SECBUFFER_TOKEN, t->incoming }, { 0, SECBUFFER_EMPTY, NULL } };
    SecBufferDesc in_desc = { SECBUFFER_VERSION, 2, in };
    SecBuffer out = { 0, SECBUFFER_TOKEN, NULL };
    SecBufferDesc out_desc = { SECBUFFER_VERSION, 1, &out };
    ULONG attributes = 0;
    SECURITY_STATUS status =
        g_sspi->InitializeSecurityContextA(&g_credentials, &t->context, t->server_name, CONTEXT_FLAGS, 0,
                                           0, &in_desc, 0, NULL, &out_desc, &attributes, NULL);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
        if (out.pvBuffer)
            g_sspi->FreeContextBuffer(out.pvBuffer);
        return status;
    }
    /* Also on failure: with extended errors the token is the alert that
       tells the server why. */
    bool sent = send_token(t->socket, &out);
    if (FAILED(status))
        return status;
    if (!sent)
        return (SECURITY_STATUS)socket_error(WSAECONNRESET);
    keep_extra(t, given, &in[1]);
    return status;
}

/* Runs handshake messages until the context is complete: from the first
   message when the session has no context yet, otherwise (the server sent
   a handshake message after the handshake) from what has arrived, even
   nothing: Schannel is then given an empty input first. 0, or the
   reason. */
static DWORD handshake(TlsSession *t, DWORD started, int timeout_ms)
{
    bool need_more = false;
    if (!t->have_context) {
        DWORD reason = start_handshake(t);
        if (reason != 0)
            return reason;
        need_more = true;
    }
    for (int round = 0; round < TLS_HANDSHAKE_ROUNDS; round++) {
        if (need_more) {
            DWORD spent = GetTickCount() - started;
            if (spent >= (DWORD)timeout_ms)
                return WSAETIMEDOUT;
            if (!t->wait_limit) {
                /* No receive of the handshake waits past its time-out;
                   tls_connect gives the socket its whole time-out back. */
                DWORD left = (DWORD)timeout_ms - spent;
                setsockopt(t->socket, SOL_SOCKET, SO_RCVTIMEO, (const char *)&left, sizeof left);
            }
            int got = receive_more(t);
            if (got == 0)
                return WSAECONNRESET;
            if (got < 0)
                return socket_error(WSAECONNABORTED);
        }
        SECURITY_STATUS status = handshake_round(t);
        if (status == SEC_E_OK)
            return 0;
        if (status == SEC_E_INCOMPLETE_MESSAGE)
            need_more = true;
        else if (status == SEC_I_CONTINUE_NEEDED)
            need_more = t->incoming_used == 0;
        else
            return (DWORD)status;   /* also a client certificate asked for: there is none */
    }
    return (DWORD)SEC_E_INTERNAL_ERROR;
}

/* True when certificate is, byte for byte, the one last verified for
   server_name. */
static bool verified_before(PCCERT_CONTEXT certificate, const char *server_name)
{
    return g_verified && certificate->cbCertEncoded == g_verified_length &&
           memcmp(certificate->pbCertEncoded, g_verified, g_verified_length) == 0 &&
           strcmp(server_name, g_verified_name) == 0;
}

/* The server's certificate checked against the trusted roots and the
   host name; 0, or the reason (a certificate error such as
   CERT_E_CHAINING or CERT_E_CN_NO_MATCH). A data connection whose server
   shows the very certificate the control connection's showed moments
   before is not checked again: its handshake has proven that the server
   holds that certificate's key, and the chain and the name are the ones
   just checked (under Wine a check takes some 40 ms). */
static DWORD verify_server(TlsSession *t)
{
    PCCERT_CONTEXT certificate = NULL;
    SECURITY_STATUS status =
        g_sspi->QueryContextAttributesA(&t->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate);
    if (status != SEC_E_OK || !certificate)
        return (DWORD)(status != SEC_E_OK ? status : SEC_E_CERT_UNKNOWN);

    DWORD result = 0;
    if (!verified_before(certificate, t->server_name)) {
        result = verify_certificate(certificate, t->server_name, t->timeout_ms);
        if (result == 0) {
            forget_verified();
            g_verified = (unsigned char *)malloc(certificate->cbCertEncoded);
            if (g_verified) {
                memcpy(g_verified, certificate->pbCertEncoded, certificate->cbCertEncoded);
                g_verified_length = certificate->cbCertEncoded;
                copy_text(g_verified_name, sizeof g_verified_name, t->server_name);
            }
        }
    }
    release_certificate(certificate);
    return result;
}

int tls_connect(SOCKET s, const char *server_name, int timeout_ms, DWORD *error)
{
    *error = 0;
    tls_forget(s);
    TlsSession *t = NULL;
    for (int i = 0; i < TLS_SESSIONS && !t; i++)
        if (!g_sessions[i].used)
            t = &g_sessions[i];
    if (!t) {
        *error = (DWORD)SEC_E_INSUFFICIENT_MEMORY;
        return 0;
    }
    memset(t, 0, sizeof *t);
    t->used = true;
    t->socket = s;
    t->timeout_ms = timeout_ms;
    DWORD started = GetTickCount();
    DWORD reason = 0;
    t->incoming = (char *)malloc(TLS_INCOMING);
    t->plain = (char *)malloc(TLS_LONGEST_RECORD);
    if (!t->incoming || !t->plain)
        reason = (DWORD)SEC_E_INSUFFICIENT_MEMORY;
    else if (!copy_text(t->server_name, sizeof t->server_name, server_name))
        reason = (DWORD)SEC_E_WRONG_PRINCIPAL;
    if (reason == 0)
        reason = load_security();
    if (reason == 0)
        reason = (DWORD)acquire_credentials();
    if (reason == 0) {
        DWORD limit = 0;
        int length = sizeof limit;
        bool had_limit = getsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (char *)&limit, &length) == 0;
        reason = handshake(t, started, timeout_ms);
        if (had_limit)
            setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&limit, sizeof limit);
    }
    if (reason == 0)
        reason = (DWORD)g_sspi->QueryContextAttributesA(&t->context, SECPKG_ATTR_STREAM_SIZES, &t->sizes);
    if (reason == 0 && (t->sizes.cbHeader > 64 || t->sizes.cbTrailer > 1024 ||
                        t->sizes.cbMaximumMessage == 0 || t->sizes.cbMaximumMessage > 16384))
        reason = (DWORD)SEC_E_INTERNAL_ERROR;
    if (reason == 0)
        reason = verify_server(t);
    if (reason != 0) {
        release(t);
        *error = reason;
        return 0;
    }
    return 1;
}

/* Room for count bytes of records in the outgoing buffer. */
static bool make_outgoing_room(TlsSession *t, int count)
{
    if (t->outgoing_size >= count)
        return true;
    free(t->outgoing);
    t->outgoing = (char *)malloc((size_t)count);
    t->outgoing_size = t->outgoing ? count : 0;
    return t->outgoing != NULL;
}

int tls_send(SOCKET s, const char *bytes, int count)
{
    TlsSession *t = session_of(s);
    if (!t || count < 0)
        return -1;
    const int header = (int)t->sizes.cbHeader;
    const int longest = (int)t->sizes.cbMaximumMessage;
    const int trailer = (int)t->sizes.cbTrailer;
    const int record = header + longest + trailer;
    int records = (count + longest - 1) / longest;
    if (records > TLS_BATCH_RECORDS)
        records = TLS_BATCH_RECORDS;
    if (!make_outgoing_room(t, (records > 0 ? records : 1) * record))
        return -1;
    int done = 0;
    while (done < count) {
        int used = 0;
        while (done < count && used + record <= t->outgoing_size) {
            int n = count - done < longest ? count - done : longest;
            char *at = t->outgoing + used;
            memcpy(at + header, bytes + done, (size_t)n);
            SecBuffer parts[4] = { { (ULONG)header, SECBUFFER_STREAM_HEADER, at },
                                   { (ULONG)n, SECBUFFER_DATA, at + header },
                                   { (ULONG)trailer, SECBUFFER_STREAM_TRAILER, at + header + n },
                                   { 0, SECBUFFER_EMPTY, NULL } };
            SecBufferDesc message = { SECBUFFER_VERSION, 4, parts };
            if (g_sspi->EncryptMessage(&t->context, 0, &message, 0) != SEC_E_OK)
                return -1;
            int length = (int)(parts[0].cbBuffer + parts[1].cbBuffer + parts[2].cbBuffer);
            if (length > record)
                return -1;
            used += length;
            done += n;
        }
        if (raw_send(s, t->outgoing, used) != used)
            return -1;
    }
    return count;
}

/* Puts n bytes in front of the incoming bytes. */
static bool put_back(TlsSession *t, const char *bytes, int n)
{
    if (t->incoming_used + n > TLS_INCOMING)
        return false;
    memmove(t->incoming + n, t->incoming, (size_t)t->incoming_used);
    memcpy(t->incoming, bytes, (size_t)n);
    t->incoming_used += n;
    return true;
}

/* Waits until a whole record is in the incoming buffer: its length with
   its header, 0 when the server has closed, -1 on failure (also for a
   record longer than TLS allows). */
static int whole_record(TlsSession *t)
{
    for (;;) {
        if (t->incoming_used >= TLS_HEADER) {
            const unsigned char *head = (const unsigned char *)t->incoming;
            int length = (head[3] << 8) | head[4];
            if (length > TLS_LONGEST_RECORD)
                return -1;
            if (t->incoming_used >= TLS_HEADER + length)
                return TLS_HEADER + length;
        }
        int got = receive_more(t);
        if (got == 0)
            t->closed = true;
        if (got <= 0)
            return got;
    }
}

/* Copies the decrypted bytes into the plain buffer; false when there are
   more than a record can hold. */
static bool keep_plain(TlsSession *t, const SecBuffer *data)
{
    int n = data ? (int)data->cbBuffer : 0;
    if (n > TLS_LONGEST_RECORD)
        return false;
    if (n > 0)
        memcpy(t->plain, data->pvBuffer, (size_t)n);
    t->plain_start = 0;
    t->plain_end = n;
    return true;
}

/* Drops the record of whole bytes from the incoming buffer. A handshake
   message handed back (handed_back, SECBUFFER_EXTRA) lies in the record
   just decrypted: it is saved before the record is dropped and then put in
   front of what is still to come. False on failure. */
static bool drop_record(TlsSession *t, int whole, const SecBuffer *handed_back)
{
    char *saved = NULL;
    int saved_length = handed_back ? (int)handed_back->cbBuffer : 0;
    if (saved_length > TLS_LONGEST_RECORD)
        return false;
    if (saved_length > 0) {
        saved = (char *)malloc((size_t)saved_length);
        if (!saved)
            return false;
        memcpy(saved, handed_back->pvBuffer, (size_t)saved_length);
    }
    memmove(t->incoming, t->incoming + whole, (size_t)(t->incoming_used - whole));
    t->incoming_used -= whole;
    bool kept = true;
    if (saved) {
        kept = put_back(t, saved, saved_length);
        free(saved);
    }
    return kept;
}

/* Decrypts the next record into the (empty) plain buffer: 1 (possibly
   with no bytes), 0 when the server has closed, -1 on failure. */
static int next_record(TlsSession *t)
{
    int whole = whole_record(t);
    if (whole <= 0)
        return whole;
    const unsigned char type = (unsigned char)t->incoming[0];
    SecBuffer parts[4] = { { (ULONG)whole, SECBUFFER_DATA, t->incoming },
                           { 0, SECBUFFER_EMPTY, NULL },
                           { 0, SECBUFFER_EMPTY, NULL },
                           { 0, SECBUFFER_EMPTY, NULL } };
    SecBufferDesc message = { SECBUFFER_VERSION, 4, parts };
    SECURITY_STATUS status = g_sspi->DecryptMessage(&t->context, &message, 0, NULL);
    if (status == SEC_I_CONTEXT_EXPIRED) {
        t->closed = true;
        return 0;
    }
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE)
        return -1;
    const SecBuffer *data = NULL;
    const SecBuffer *extra = NULL;
    for (int i = 0; i < 4; i++) {
        if (parts[i].BufferType == SECBUFFER_DATA)
            data = &parts[i];
        else if (parts[i].BufferType == SECBUFFER_EXTRA)
            extra = &parts[i];
    }
    bool renegotiate = status == SEC_I_RENEGOTIATE;
    if (!keep_plain(t, data) || !drop_record(t, whole, renegotiate ? extra : NULL))
        return -1;
    if (renegotiate)
        return handshake(t, GetTickCount(), t->timeout_ms) == 0 && verify_server(t) == 0 ? 1 : -1;
    if (type == TLS_ALERT && t->plain_end == 0) {
        /* Wine's Schannel hands the server's close_notify over as an empty
           alert record where Windows answers SEC_I_CONTEXT_EXPIRED. */
        t->closed = true;
        return 0;
    }
    return 1;
}

int tls_receive(SOCKET s, char *bytes, int count, bool peek)
{
    TlsSession *t = session_of(s);
    if (!t || count < 0) {
        WSASetLastError(WSAENOTSOCK);
        return -1;
    }
    if (t->plain_start == t->plain_end && !t->closed) {
        DWORD limit = 0;
        int length = sizeof limit;
        if (getsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (char *)&limit, &length) != 0)
            limit = 0;
        t->wait_began = GetTickCount();
        t->wait_limit = limit;
        t->waited = false;
        t->limit_changed = false;
        int got = 1;
        while (t->plain_start == t->plain_end && !t->closed && got > 0)
            got = next_record(t);
        if (t->limit_changed)
            setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&limit, sizeof limit);
        t->wait_limit = 0;
        if (got <= 0)
            return got;
    }
    if (t->plain_start == t->plain_end)
        return 0;   /* closed */
    int available = t->plain_end - t->plain_start;
    int n = count < available ? count : available;
    memcpy(bytes, t->plain + t->plain_start, (size_t)n);
    if (!peek)
        t->plain_start += n;
    return n;
}

bool tls_close(SOCKET s)
{
    TlsSession *t = session_of(s);
    if (!t)
        return true;
    bool sent = true;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control = { sizeof type, SECBUFFER_TOKEN, &type };
    SecBufferDesc control_desc = { SECBUFFER_VERSION, 1, &control };
    if (!t->closed && g_sspi->ApplyControlToken(&t->context, &control_desc) == SEC_E_OK) {
        SecBuffer out = { 0, SECBUFFER_TOKEN, NULL };
        SecBufferDesc out_desc = { SECBUFFER_VERSION, 1, &out };
        ULONG attributes = 0;
        SECURITY_STATUS status =
            g_sspi->InitializeSecurityContextA(&g_credentials, &t->context, t->server_name, CONTEXT_FLAGS, 0,
                                               0, NULL, 0, NULL, &out_desc, &attributes, NULL);
        if (status == SEC_E_OK || status == SEC_I_CONTEXT_EXPIRED)
            sent = send_token(s, &out);
        else if (out.pvBuffer)
            g_sspi->FreeContextBuffer(out.pvBuffer);
    }
    release(t);
    return sent;
}
