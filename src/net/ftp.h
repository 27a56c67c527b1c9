/*
 * A small FTP client for one upload over Windows Sockets: log in, choose
 * binary type, store one file through a passive data connection, log out.
 * Everything is synchronous on the calling thread, but no step waits for
 * the network longer than the client's time-out (30 seconds), after which
 * the connection counts as lost. That holds for finding the server's
 * address (a name server that never answers), for a TLS handshake, for the
 * end of the data connection, and for a whole reply, so a server that
 * sends continuation lines without end, or a line one byte at a time,
 * cannot hold the menu. The dialogue with the server is traced on the
 * standard error stream ("> command", "< reply"), the password as "****".
 * The module keeps one line buffer, so it serves one control connection
 * at a time.
 *
 * The client asks every server for TLS ("AUTH TLS", explicit FTPS, and
 * by its older name "AUTH SSL" when that is refused) before it logs in,
 * and protects the control and the data connection with it when the
 * server agrees, after checking the server's certificate. A server that
 * refuses both gets plain FTP, unless TLS is required.
 *
 * A socket is passed around as a signed integer; a negative value means
 * that there is no connection. The caller brackets a session with
 * WSAStartup (version 2.2) and WSACleanup.
 */
#ifndef KIRO_FTP_H
#define KIRO_FTP_H

#include <windows.h>

struct sockaddr_in;

typedef INT_PTR ftp_socket;

enum {
    FTP_LINE_CAPACITY = 512,          /* characters of one reply line kept */
    FTP_DEFAULT_TIMEOUT_MS = 30000,
    FTP_REPLY_MAX_LINES = 1000        /* lines of one reply, continuation lines included */
};

/* The module's line buffer: commands, reply lines and file blocks. */
extern char g_ftp_line[FTP_LINE_CAPACITY + 1];

/* Sends all count bytes; count, the bytes sent before a send accepted
   nothing, or -1 on failure (also when the time-out passes). */
int sock_send(ftp_socket s, const char *bytes, int count);
int sock_send_str(ftp_socket s, const char *text);
/* Reads one line up to and including its line feed and nothing beyond it;
   stores at most n characters (CR and LF never), drops the rest of an
   over-long line, terminates with a zero (buffer of n + 1 bytes). Answers
   the number of characters stored. The line must have arrived within the
   time-out; inside ftp_get_reply the time-out counts for the whole reply. */
int sock_recv_line(ftp_socket s, char *buffer, int n);

/* Reads a whole reply (continuation lines included); its code, or 0 when
   the reply ended before a final line came. A reply must be complete within
   the time-out and FTP_REPLY_MAX_LINES lines: past either bound the
   connection is given up as on a time-out, and the answer is 0. */
int ftp_get_reply(ftp_socket s);
/* Sends a command (without line end) and reads its reply; -1 when sending
   failed. */
int ftp_command(ftp_socket s, const char *command);

/* Connects to host ("name" or "name:port"; without a port the "ftp"
   service or 21), asks for TLS and logs in. The control socket, or -1 when
   the host is not found, no connection could be made, or the connection
   could not be secured as required (see ftp_security()). A refused login
   still answers the socket: ask ftp_login_accepted(). */
ftp_socket ftp_connect(const char *host, const char *user, const char *password);
/* The status of the last login: the greeting's code, or the reply to PASS
   when one was sent. */
int ftp_login_status(void);
/* True when the server accepted the last login: a 2xx reply to USER, or
   331 to USER and a 2xx reply to PASS. */
bool ftp_login_accepted(void);

/* Type 0 = binary ("TYPE I"), 1 = text ("TYPE A"); the reply code, or -1
   for any other type (nothing is sent). */
int ftp_type(ftp_socket s, int type);
/* Sends PASV and parses the one-line 227 reply into address (cleared
   first; family, address and port in network byte order); 0 or -1. */
int ftp_pasv(ftp_socket s, struct sockaddr_in *address);
/* Parses a 227 reply line; 0 or -1. Used by ftp_pasv. */
int ftp_parse_pasv_reply(const char *line, struct sockaddr_in *address);
/* Stores local_path as remote_name in the account's current directory.
   The data connection goes to the control connection's peer at the port
   the server names. Advances progress_bar (may be NULL) by 512 first and
   then by every block read. 0 only when the stored file is proven: a
   preliminary 1xx reply, every send of the file accepted in full, the
   data connection ended in order (no reset, no error), a 2xx completion,
   and, where the server answers "SIZE" afterwards (RFC 3659), the size
   sent; else -1.
   Over a protected control connection the data connection is protected
   too ("PBSZ 0", "PROT P"); a server that refuses gets nothing. */
int ftp_put(HWND progress_bar, ftp_socket s, const char *local_path, const char *remote_name);
/* Sends QUIT, closes the control socket (after its TLS close); the result
   of the close. */
int ftp_quit(ftp_socket s);

/* Whether a server without TLS is used. */
enum FtpEncryption {
    FTP_ENCRYPT_WHEN_OFFERED = 0,  /* TLS when the server offers it, else plain FTP */
    FTP_ENCRYPT_REQUIRED = 1       /* TLS, or no upload */
};
void ftp_set_encryption(int mode);

/* How the last ftp_connect's control connection turned out. */
enum FtpSecurity {
    FTP_SECURITY_NONE = 0,          /* no connection (or lost before it was settled) */
    FTP_SECURITY_PLAIN = 1,         /* the server refused AUTH TLS and AUTH SSL: plain FTP */
    FTP_SECURITY_TLS = 2,           /* protected by TLS, the server's certificate verified */
    FTP_SECURITY_NOT_OFFERED = 3,   /* refused while TLS was required: no login sent */
    FTP_SECURITY_FAILED = 4         /* handshake or certificate failed: nothing sent */
};
int ftp_security(void);
/* The system's code for the reason of FTP_SECURITY_FAILED (a security
   status, a certificate error or a Windows Sockets error). */
DWORD ftp_security_error(void);

/* The time-out for resolving, connect, send and receive (milliseconds).
   For tests. */
void ftp_set_timeout(int milliseconds);
int ftp_timeout(void);

#endif
