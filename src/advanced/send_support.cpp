/*
 * Send data to support (see send_support.h).
 *
 * The run: read the "kontakt" settings, write log\dirlst.txt (version
 * section and four directory listings), pack the snapshot into the working
 * archive P + database + server + installation + ".tvk", add opdat.lck
 * when it is set, delete earlier archives, rename the working archive to
 * its final name with the local date and time, upload it, tell the user,
 * and delete the archive and the listing again on every path.
 *
 * The success message is shown only when the server accepted the login
 * and the stored file is proven (see ftp_put: every byte sent, the data
 * connection ended in order, the completion confirmed, and the size the
 * server names, if any, the archive's); anything short of that is
 * reported as an error naming the server. An archive that could not be written whole (a
 * full program drive, a read or write error; a file held open by another
 * program is only left out) is never sent: the run ends with a message.
 *
 * The snapshot travels encrypted whenever the server offers TLS (the FTP
 * client asks every server for it and checks its certificate). The key
 * "kryptering" of section "kontakt" set to "krav" forbids the plain road:
 * a server without TLS then gets nothing. A certificate that cannot be
 * verified or a failed handshake is never followed by a plain upload.
 */
#include <winsock2.h>
#include <windows.h>

#include "advanced/send_support.h"
#include "net/ftp.h"
#include "support/settings.h"
#include "support/disk_utils.h"
#include "support/error_text.h"
#include "support/file_probe.h"
#include "support/message_box.h"
#include "support/progress.h"
#include "support/text.h"
#include "resource.h"

#include <stdio.h>
#include <string.h>


const char *const SUPPORT_DEFAULT_HOST = "localhost";
const char *const SUPPORT_USER = "kirodata";
static const char *const SUPPORT_PASSWORD = "4monbek";

static const char *const SECTION_CONTACT = "kontakt";

/* The folders of the data directory the snapshot takes whole. */
static const char *const SNAPSHOT_FOLDERS[5] = { "data", "ini", "log", "datakopi", "inikopi" };

/* Room for a program directory (519) plus database (99), server (199),
   installation number and the date part: nothing formed here is cut. */
enum { ARCHIVE_NAME_SIZE = 1024 };

static bool g_send_start_pending = false;
static const ProgressLook SEND_LOOK = { "Send data til support...", "SENDER DATA TIL SUPPORT", -1,
                                        MSG_SEND_SUPPORT };

/* The packing failed (the program drive full, a read or write error): the
   user is told, with the system's reason when there is one. */
static void report_packing_failure(const char *working, DWORD error)
{
    char reason[512] = "";
    if (error != ERROR_SUCCESS) {
        describe_error(error, NULL, reason, sizeof reason);
        append_text(reason, sizeof reason, "\n");
    }
    char text[ARCHIVE_NAME_SIZE + 700];
    format_text(text, sizeof text,
                "Data'ene kunne ikke pakkes i arkivet '%s'!\n%sData'ene er ikke sendt til KIRO-support.",
                working, reason);
    error_box(text, MB_OK | MB_ICONWARNING);
}

static bool is_2xx(int code)
{
    return code >= 200 && code <= 299;
}

bool support_encryption_required(const char *config)
{
    char value[16];
    GetPrivateProfileStringA(SECTION_CONTACT, "kryptering", "", value, sizeof value, config);
    return lstrcmpiA(value, "krav") == 0;
}

/* Danish words for the usual reasons a server's certificate is refused,
   for a system that has no text of its own for them (Wine has none). */
static const char *certificate_reason(DWORD code)
{
    switch (code) {
    case (DWORD)CERT_E_CHAINING:
    case (DWORD)CERT_E_UNTRUSTEDROOT:
    case (DWORD)SEC_E_UNTRUSTED_ROOT:
        return "Serverens certifikat er ikke udstedt af en myndighed, som Windows har tillid til.";
    case (DWORD)CERT_E_CN_NO_MATCH:
    case (DWORD)SEC_E_WRONG_PRINCIPAL:
        return "Serverens certifikat lyder på et andet navn end serverens.";
    case (DWORD)CERT_E_EXPIRED:
    case (DWORD)SEC_E_CERT_EXPIRED:
        return "Serverens certifikat er udløbet eller endnu ikke gyldigt.";
    default:
        return "Den sikre forbindelse kunne ikke oprettes.";
    }
}

void secure_connection_reason(char *out, size_t size, DWORD code)
{
    describe_error(code, certificate_reason(code), out, size);
}

/* No control connection: the user is told why (no TLS where it is
   required, a failed handshake or certificate, or no connection at all);
   the outcome. */
static int report_no_connection(const char *host)
{
    char text[1200];
    int outcome = SEND_NO_CONNECTION;
    if (ftp_security() == FTP_SECURITY_NOT_OFFERED) {
        format_text(text, sizeof text,
                    "Server: %s tilbyder ikke kryptering!\nData'ene sendes kun krypteret "
                    "(kryptering=krav i kiro.ini).\nData'ene er ikke sendt til KIRO-support.",
                    host);
        outcome = SEND_NOT_ENCRYPTED;
    } else if (ftp_security() == FTP_SECURITY_FAILED) {
        char reason[700];
        secure_connection_reason(reason, sizeof reason, ftp_security_error());
        format_text(text, sizeof text,
                    "Der kunne ikke oprettes en sikker forbindelse til server: %s!\nData'ene er "
                    "ikke sendt til KIRO-support.\n%s",
                    host, reason);
        outcome = SEND_NOT_SECURE;
    } else {
        format_text(text, sizeof text, "Kunne ikke etablere forbindelse til server: %s!", host);
    }
    error_box(text, MB_OK | MB_ICONWARNING);
    return outcome;
}

/* Tells the user how an upload over a connection ended. */
static void report_upload(HWND dialog, const char *host, int outcome)
{
    if (outcome == SEND_DONE) {
        message_box(dialog, "Data'ene er nu sendt til KIRO-support!", "Information", MB_OK | MB_ICONINFORMATION);
        return;
    }
    const char *format = outcome == SEND_LOGIN_REFUSED
        ? "Log ind på server: %s blev afvist!\nData'ene er ikke sendt til KIRO-support."
        : "Overførslen til server: %s mislykkedes!\nData'ene er ikke sendt til KIRO-support.";
    char text[1200];
    format_text(text, sizeof text, format, host);
    error_box(text, MB_OK | MB_ICONWARNING);
}

/* Connects, logs in, uploads archive as remote_name and logs out; the
   outcome, reported to the user here. */
static int upload_archive(HWND dialog, const char *host, const char *archive,
                          const char *remote_name)
{
    ftp_socket control = ftp_connect(host, SUPPORT_USER, SUPPORT_PASSWORD);
    if (control >= 0 && !ftp_login_accepted() && ftp_login_status() == 0) {
        /* Connected, but the server never greeted (it hung up or stayed
           silent): no connection to speak of. */
        ftp_quit(control);
        control = -1;
    }
    if (control < 0)
        return report_no_connection(host);
    int outcome = SEND_LOGIN_REFUSED;
    if (ftp_login_accepted()) {
        outcome = SEND_UPLOAD_FAILED;
        if (is_2xx(ftp_type(control, 0)) &&
            ftp_put(GetDlgItem(dialog, IDC_OVERALL_BAR), control, archive, remote_name) == 0)
            outcome = SEND_DONE;
    }
    ftp_quit(control);
    report_upload(dialog, host, outcome);
    return outcome;
}

/* The names one run works with, all below the program and data
   directories. */
struct SupportRun {
    char host[200];                        /* "supportserver", or the built-in host */
    char listing[ARCHIVE_NAME_SIZE];       /* log\dirlst.txt */
    char base[ARCHIVE_NAME_SIZE];          /* the archives' common start */
    char working[ARCHIVE_NAME_SIZE];       /* base + ".tvk", while packing */
    char final_path[ARCHIVE_NAME_SIZE];    /* base + date and time + ".zip" */
    const char *archive;                   /* what is sent: final_path, or working */
    const char *remote_name;               /* the final name without its folder */
};

/* Reads the "kontakt" settings and forms the archive's names; false (and
   the user told) when they do not fit. */
static bool name_archive(SupportRun *run, const char *config)
{
    char database[100], server[200];
    GetPrivateProfileStringA(SECTION_CONTACT, "database", "", database, sizeof database, config);
    GetPrivateProfileStringA(SECTION_CONTACT, "server", "", server, sizeof server, config);
    GetPrivateProfileStringA(SECTION_CONTACT, "supportserver", "", run->host, sizeof run->host, config);
    cut_at_first_dot(server);
    if (run->host[0] == '\0')
        copy_text(run->host, sizeof run->host, SUPPORT_DEFAULT_HOST);
    if (support_archive_base(run->base, sizeof run->base, g_settings.program_dir, database, server,
                             g_settings.installation) &&
        format_text(run->working, sizeof run->working, "%s.tvk", run->base))
        return true;
    error_box("Navnet på arkivet til support er for langt.\nData'ene er ikke sendt til KIRO-support.",
              MB_OK | MB_ICONWARNING);
    return false;
}

/* Writes log\dirlst.txt (the schedule program's version and the listings
   of the program directory, data\, ini\ and log\) and sets the bar's
   range for the packing. */
static void list_installation(HWND dialog, SupportRun *run, const char *config)
{
    const char *program_dir = g_settings.program_dir;
    const char *data_dir = g_settings.data_dir;
    char patterns[4][ARCHIVE_NAME_SIZE];
    format_text(patterns[0], sizeof patterns[0], "%s*.*", program_dir);
    for (int i = 1; i < 4; i++)
        format_text(patterns[i], sizeof patterns[i], "%s%s\\*.*", data_dir, SNAPSHOT_FOLDERS[i - 1]);
    int packing_range = count_files(patterns[1]) + count_files(patterns[2]) + count_files(patterns[3]) + 2;

    int version = (int)GetPrivateProfileIntA(KEY_SECTION_GLOBAL, "version", 0, config);
    char executable[ARCHIVE_NAME_SIZE];
    format_text(run->listing, sizeof run->listing, "%slog\\dirlst.txt", data_dir);
    format_text(executable, sizeof executable, "%s%i.exe", program_dir, version);
    const char *listed[4] = { patterns[0], patterns[1], patterns[2], patterns[3] };
    write_directory_listing(run->listing, executable, listed, 4);
    progress_set_range(dialog, IDC_OVERALL_BAR, (unsigned long)packing_range);
}

/* After the packing: earlier archives go, and the archive takes its final
   name with the local date and time; should the rename fail, the working
   archive is sent under the final name all the same. */
static void finish_archive(SupportRun *run)
{
    char earlier[ARCHIVE_NAME_SIZE];
    if (format_text(earlier, sizeof earlier, "%s*.zip", run->base))
        delete_earlier_archives(earlier);
    SYSTEMTIME now;
    GetLocalTime(&now);
    run->archive = run->working;
    if (final_archive_name(run->final_path, sizeof run->final_path, run->base, &now) &&
        MoveFileA(run->working, run->final_path))
        run->archive = run->final_path;
    const char *slash = strrchr(run->final_path, '\\');
    run->remote_name = slash ? slash + 1 : run->final_path;
}

int upload_support_archive(HWND dialog, const char *host, const char *archive, const char *remote_name,
                           bool tls_required)
{
    DWORD archive_size = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(archive, &found);
    if (search != INVALID_HANDLE_VALUE) {
        archive_size = found.nFileSizeLow;
        FindClose(search);
    }
    progress_set_range(dialog, IDC_OVERALL_BAR, (unsigned long)archive_size + 1024);
    progress_set_pos(dialog, IDC_OVERALL_BAR, 0);

    progress_status(dialog, "Sender data til support. Vent...");
    WSADATA sockets;
    bool started = WSAStartup(MAKEWORD(2, 2), &sockets) == 0;
    progress_advance(dialog, IDC_OVERALL_BAR, 512);
    ftp_set_encryption(tls_required ? FTP_ENCRYPT_REQUIRED : FTP_ENCRYPT_WHEN_OFFERED);
    int outcome = upload_archive(dialog, host, archive, remote_name);
    if (started)
        WSACleanup();
    return outcome;
}

int send_support_operation(HWND dialog)
{
    const char *config = g_settings.config_path;
    progress_hide_file_bar(dialog);
    progress_bar_backgrounds(dialog);

    SupportRun run;
    memset(&run, 0, sizeof run);
    list_installation(dialog, &run, config);
    if (!name_archive(&run, config)) {
        DeleteFileA(run.listing);
        return SEND_NO_ARCHIVE;
    }
    DeleteFileA(run.working);
    int outcome;
    DWORD error = 0;
    if (!pack_snapshot(dialog, g_settings.program_dir, g_settings.data_dir, SNAPSHOT_FOLDERS, run.working,
                       &error)) {
        /* Whatever went wrong while packing, nothing is sent: the archive
           would be damaged or lack files. */
        report_packing_failure(run.working, error);
        outcome = SEND_PACKING_FAILED;
    } else {
        finish_archive(&run);
        outcome = upload_support_archive(dialog, run.host, run.archive, run.remote_name,
                                         support_encryption_required(config));
        DeleteFileA(run.archive);
    }
    DeleteFileA(run.working);
    DeleteFileA(run.listing);
    return outcome;
}

INT_PTR CALLBACK send_support_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == MSG_SEND_SUPPORT) {
        send_support_operation(dialog);
        EndDialog(dialog, 2);
    } else {
        progress_dialog_message(dialog, message, &SEND_LOOK, &g_send_start_pending);
    }
    return 0;
}

void run_send_support(HWND owner)
{
    run_progress_dialog(owner, send_support_proc);
}
