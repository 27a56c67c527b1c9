/*
 * Send data to support: packs a snapshot of the installation (the program
 * directory's top level, data\, ini\, log\, datakopi\, inikopi\, a
 * directory listing with the schedule program's version, and the update
 * marker when it is set) into one zip archive, uploads it to the support
 * FTP server (over TLS whenever the server offers it, and only so when
 * "kryptering" says "krav"), tells the user the outcome and leaves nothing
 * behind. Runs in the progress dialog, opened from the Advanced dialog.
 */
#ifndef KIRO_SEND_SUPPORT_H
#define KIRO_SEND_SUPPORT_H

#include <windows.h>
#include <stddef.h>

/* The support server when the setting "supportserver" is empty. */
extern const char *const SUPPORT_DEFAULT_HOST;
/* The account the archive is uploaded with. */
extern const char *const SUPPORT_USER;

/* How a run ended. */
enum SendOutcome {
    SEND_DONE = 0,            /* the server confirmed the stored archive */
    SEND_NO_CONNECTION = 1,   /* host not found or no connection */
    SEND_LOGIN_REFUSED = 2,
    SEND_UPLOAD_FAILED = 3,
    SEND_NO_ARCHIVE = 4,      /* the archive's names could not be formed */
    SEND_NOT_ENCRYPTED = 5,   /* no TLS at the server while "kryptering" is "krav" */
    SEND_NOT_SECURE = 6,      /* the handshake or the server's certificate failed */
    SEND_PACKING_FAILED = 7   /* the archive could not be written whole */
};

/* Opens the progress dialog over owner and runs the whole operation. */
void run_send_support(HWND owner);
/* The dialog procedure (start message MSG_SEND_SUPPORT). */
INT_PTR CALLBACK send_support_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
/* The operation itself, inside the progress dialog; shows its outcome to
   the user and answers it. */
int send_support_operation(HWND dialog);

/* The upload of a named archive, as the operation makes it after the
   packing: the overall bar counts its bytes up to its upper limit, the
   archive goes to host as remote_name (over TLS when the server offers it,
   and only so when tls_required), and the user is told the outcome, which
   is answered. */
int upload_support_archive(HWND dialog, const char *host, const char *archive, const char *remote_name,
                           bool tls_required);

/* Packs the whole snapshot into the working archive and reads it back
   (every entry to its end, its CRC checked): true only for an archive that
   is whole. Otherwise *error is the system's error code of the failure, 0
   when there is none to tell. The update marker goes in when it is set;
   pack_file reports a failure to pack it on its own. */
bool pack_snapshot(HWND dialog, const char *program_dir, const char *data_dir, const char *const folders[5],
                   const char *working, DWORD *error);

/* True when the configuration's "kryptering" (section "kontakt") is
   "krav" (in any case): no upload without TLS. */
bool support_encryption_required(const char *config);
/* Why a secure connection failed: the system's text for code, or Danish
   words of our own where it has none, with the code itself. */
void secure_connection_reason(char *out, size_t size, DWORD code);

/* Cuts text at its first "." (the dot and all behind it go). */
void cut_at_first_dot(char *text);
/* program_dir + database + server + installation: the common start of the
   working archive, the final archive and the earlier archives' pattern. */
bool support_archive_base(char *out, size_t size, const char *program_dir, const char *database,
                          const char *server, int installation);
/* base + "-yyyy.mm.dd-hh.mm.zip" for the local time given. */
bool final_archive_name(char *out, size_t size, const char *base, const SYSTEMTIME *local);
/* Deletes every file matching pattern, one search at a time, until none is
   left or one cannot be deleted; the number deleted. */
int delete_earlier_archives(const char *pattern);

/* One line of a listing for a found entry (with its line end). */
bool format_listing_line(char *out, size_t size, const WIN32_FIND_DATAA *entry);
/* Writes the directory listing: deletes listing, writes the version
   section from the executable's version resource, then appends one
   listing per search pattern. */
void write_directory_listing(const char *listing, const char *executable,
                             const char *const *patterns, int pattern_count);

#endif
