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
 * and confirmed the stored file; anything short of that is reported as an
 * error naming the server. An archive that could not be written whole (a
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
#include "shell/settings.h"
#include "support/disk_utils.h"
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

/* Room for a program directory (519) plus database (99), server (199),
   installation number and the date part: nothing formed here is cut. */
enum { ARCHIVE_NAME_SIZE = 1024 };

static bool g_send_start_pending = false;

/* The packing failed (the program drive full, a read or write error): the
   user is told, with the system's reason when there is one. */
static void report_packing_failure(const char *working, DWORD error)
{
    char reason[512] = "";
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        system_error_text(reason, sizeof reason);
    }
    size_t length = strlen(reason);
    char text[ARCHIVE_NAME_SIZE + 700];
    format_text(text, sizeof text,
                "Data'ene kunne ikke pakkes i arkivet '%s'!\n%s%sData'ene er ikke sendt til KIRO-support.",
                working, reason, length > 0 && reason[length - 1] != '\n' ? "\n" : "");
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
    char reason[512];
    SetLastError(code);
    system_error_text(reason, sizeof reason);
    size_t length = strlen(reason);
    while (length > 0 && (reason[length - 1] == '\r' || reason[length - 1] == '\n' ||
                          reason[length - 1] == ' '))
        reason[--length] = '\0';
    format_text(out, size, "%s (fejlkode 0x%08lX)", length > 0 ? reason : certificate_reason(code),
                (unsigned long)code);
}

/* Connects, logs in, uploads archive as remote_name and logs out; the
   outcome, reported to the user here. */
static int upload_archive(HWND dialog, const char *host, const char *archive,
                          const char *remote_name)
{
    char text[1200];
    ftp_socket control = ftp_connect(host, SUPPORT_USER, SUPPORT_PASSWORD);
    if (control >= 0 && !ftp_login_accepted() && ftp_login_status() == 0) {
        /* Connected, but the server never greeted (it hung up or stayed
           silent): no connection to speak of. */
        ftp_quit(control);
        control = -1;
    }
    if (control < 0 && ftp_security() == FTP_SECURITY_NOT_OFFERED) {
        format_text(text, sizeof text,
                    "Server: %s tilbyder ikke kryptering!\nData'ene sendes kun krypteret "
                    "(kryptering=krav i kiro.ini).\nData'ene er ikke sendt til KIRO-support.",
                    host);
        error_box(text, MB_OK | MB_ICONWARNING);
        return SEND_NOT_ENCRYPTED;
    }
    if (control < 0 && ftp_security() == FTP_SECURITY_FAILED) {
        char reason[700];
        secure_connection_reason(reason, sizeof reason, ftp_security_error());
        format_text(text, sizeof text,
                    "Der kunne ikke oprettes en sikker forbindelse til server: %s!\nData'ene er "
                    "ikke sendt til KIRO-support.\n%s",
                    host, reason);
        error_box(text, MB_OK | MB_ICONWARNING);
        return SEND_NOT_SECURE;
    }
    if (control < 0) {
        format_text(text, sizeof text, "Kunne ikke etablere forbindelse til server: %s!", host);
        error_box(text, MB_OK | MB_ICONWARNING);
        return SEND_NO_CONNECTION;
    }
    int outcome = SEND_LOGIN_REFUSED;
    if (ftp_login_accepted()) {
        outcome = SEND_UPLOAD_FAILED;
        if (is_2xx(ftp_type(control, 0)) &&
            ftp_put(GetDlgItem(dialog, IDC_OVERALL_BAR), control, archive, remote_name) == 0)
            outcome = SEND_DONE;
    }
    ftp_quit(control);
    switch (outcome) {
    case SEND_DONE:
        message_box(dialog, "Data'ene er nu sendt til KIRO-support!", "Information",
                    MB_OK | MB_ICONINFORMATION);
        break;
    case SEND_LOGIN_REFUSED:
        format_text(text, sizeof text,
                    "Log ind på server: %s blev afvist!\nData'ene er ikke sendt til KIRO-support.",
                    host);
        error_box(text, MB_OK | MB_ICONWARNING);
        break;
    default:
        format_text(text, sizeof text,
                    "Overførslen til server: %s mislykkedes!\nData'ene er ikke sendt til KIRO-support.",
                    host);
        error_box(text, MB_OK | MB_ICONWARNING);
        break;
    }
    return outcome;
}

int send_support_operation(HWND dialog)
{
    const char *config = g_settings.config_path;
    const char *program_dir = g_settings.program_dir;
    const char *data_dir = g_settings.data_dir;

    int version = (int)GetPrivateProfileIntA(KEY_SECTION_GLOBAL, "version", 0, config);
    progress_hide_file_bar(dialog);
    progress_bar_backgrounds(dialog);

    char database[100];
    char server[200];
    char host[200];
    GetPrivateProfileStringA(SECTION_CONTACT, "database", "", database, sizeof database, config);
    GetPrivateProfileStringA(SECTION_CONTACT, "server", "", server, sizeof server, config);
    GetPrivateProfileStringA(SECTION_CONTACT, "supportserver", "", host, sizeof host, config);
    cut_at_first_dot(server);
    if (host[0] == '\0')
        copy_text(host, sizeof host, SUPPORT_DEFAULT_HOST);

    static const char *const folders[5] = { "data", "ini", "log", "datakopi", "inikopi" };
    char patterns[6][ARCHIVE_NAME_SIZE];
    format_text(patterns[0], sizeof patterns[0], "%s*.*", program_dir);
    for (int i = 0; i < 5; i++)
        format_text(patterns[i + 1], sizeof patterns[i + 1], "%s%s\\*.*", data_dir, folders[i]);

    int packing_range = count_files(patterns[1]) + count_files(patterns[2]) +
                        count_files(patterns[3]) + 2;

    char listing[ARCHIVE_NAME_SIZE];
    char executable[ARCHIVE_NAME_SIZE];
    format_text(listing, sizeof listing, "%slog\\dirlst.txt", data_dir);
    format_text(executable, sizeof executable, "%s%i.exe", program_dir, version);
    const char *listed[4] = { patterns[0], patterns[1], patterns[2], patterns[3] };
    write_directory_listing(listing, executable, listed, 4);

    progress_set_range(dialog, IDC_OVERALL_BAR, (unsigned long)packing_range);

    char base[ARCHIVE_NAME_SIZE];
    char working[ARCHIVE_NAME_SIZE];
    char earlier[ARCHIVE_NAME_SIZE];
    if (!support_archive_base(base, sizeof base, program_dir, database, server,
                              g_settings.installation) ||
        !format_text(working, sizeof working, "%s.tvk", base) ||
        !format_text(earlier, sizeof earlier, "%s*.zip", base)) {
        DeleteFileA(listing);
        error_box("Navnet på arkivet til support er for langt.\nData'ene er ikke sendt til KIRO-support.",
                  MB_OK | MB_ICONWARNING);
        return SEND_NO_ARCHIVE;
    }
    DeleteFileA(working);

    /* Whatever went wrong while packing, nothing is sent: the archive would
       be damaged or lack files. */
    DWORD error = 0;
    if (!pack_snapshot(dialog, program_dir, data_dir, folders, working, &error)) {
        report_packing_failure(working, error);
        DeleteFileA(working);
        DeleteFileA(listing);
        return SEND_PACKING_FAILED;
    }

    delete_earlier_archives(earlier);

    /* From here on the archive has its final name; should the rename fail,
       the working archive is sent under the final name all the same. */
    SYSTEMTIME now;
    GetLocalTime(&now);
    char final_path[ARCHIVE_NAME_SIZE];
    const char *archive = working;
    if (final_archive_name(final_path, sizeof final_path, base, &now) &&
        MoveFileA(working, final_path))
        archive = final_path;
    const char *remote_name = strrchr(final_path, '\\');
    remote_name = remote_name ? remote_name + 1 : final_path;

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
    ftp_set_encryption(support_encryption_required(config) ? FTP_ENCRYPT_REQUIRED
                                                            : FTP_ENCRYPT_WHEN_OFFERED);
    int outcome = upload_archive(dialog, host, archive, remote_name);
    if (started)
        WSACleanup();

    DeleteFileA(archive);
    DeleteFileA(working);
    DeleteFileA(listing);
    return outcome;
}

INT_PTR CALLBACK send_support_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        progress_init(dialog, &g_send_start_pending);
        break;
    case WM_PAINT:
        progress_paint(dialog, "Send data til support...", "SENDER DATA TIL SUPPORT", false,
                       &g_send_start_pending, WM_START_SEND);
        break;
    case WM_START_SEND:
        send_support_operation(dialog);
        EndDialog(dialog, 2);
        break;
    }
    return 0;
}

void run_send_support(HWND owner)
{
    run_progress_dialog(owner, send_support_proc);
}
