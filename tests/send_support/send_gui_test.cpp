/*
 * "&Send data til support" through the real kiromenu.exe, against
 * pyftpdlib on 127.0.0.1: the archive on the server with its final name
 * and contents, the directory listing inside it, the earlier archives gone
 * and nothing left behind; and with the server down, the login refused,
 * a completion reply without end or a full program drive, the failure
 * message and again nothing left behind. Over TLS: the snapshot whole
 * through a server that requires TLS on both connections, also one that
 * offers TLS only by its older name "AUTH SSL"; a server whose certificate
 * cannot be verified, and a plain server when "kryptering" is "krav", get
 * nothing but the first commands, and the message says why. An upload that
 * is not proven is not called sent: a server that keeps part of the file,
 * resets the data connection and still confirms it (with TLS and without),
 * or names another size than the archive's; a server that names no size
 * is taken at its confirmation.
 */
#include <winsock2.h>
#include <gtest/gtest.h>

#include "driver.h"
#include "drive_fixture.h"
#include "ftp_server.h"
#include "ftps_server.h"
#include "scripted_server.h"
#include "support_site.h"
#include "support/error_text.h"
#include "resource.h"

#include <algorithm>
#include <string.h>

namespace {

class SendSupportGui : public testing::Test {
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
    }
    void TearDown() override
    {
        if (program.process)
            kill_program(program);
        server.stop();
        WSACleanup();
    }
    /* Starts the menu, opens Avanceret and presses OK with the first
       choice ("&Send data til support") checked; then waits for the
       outcome's message box. */
    bool send(const Installation &inst, MessageBoxSeen &box, const char *shot = NULL)
    {
        program = start_program(inst.program_dir + "kiromenu.exe", inst.args());
        if (!program.process)
            return false;
        menu = wait_main_menu(program.pid);
        if (!menu)
            return false;
        click(menu, IDC_ADVANCED);
        HWND advanced = wait_window(program.pid, "#32770", "Avanceret");
        if (!advanced || !is_checked(advanced, IDC_SEND_SUPPORT))
            return false;
        click(advanced, IDC_ADV_OK);
        if (!wait_message_box(program.pid, box, 120000))   /* past the upload's own 30-second limits */
            return false;
        if (shot)
            screenshot(make_scratch_dir((std::string("shots_") + shot).c_str()) + "\\" + shot);
        return true;
    }
    /* Answers the box and leaves the menu with "&Luk". */
    void close(const MessageBoxSeen &box)
    {
        answer(box, IDOK);
        HWND again = wait_main_menu(program.pid);
        ASSERT_TRUE(again);
        click(again, IDC_CLOSE);
        EXPECT_EQ(0, wait_exit(program));
    }
    Program program = {};
    HWND menu = NULL;
    FtpServer server;
};

bool has(const std::vector<std::string> &list, const std::string &item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

TEST_F(SendSupportGui, SendsTheSnapshotAndLeavesNothingBehind)
{
    std::string root = make_scratch_dir("support_gui_root");
    ASSERT_TRUE(server.start(root));
    Installation inst = make_support_site("support_gui", server.address().c_str());
    ASSERT_TRUE(CopyFileA((inst.program_dir + "kiromenu.exe").c_str(),
                          (inst.program_dir + "10327.exe").c_str(), FALSE));
    ASSERT_TRUE(write_file(inst.program_dir + "opdat.lck", "opdatering"));

    SYSTEMTIME before, after;
    GetLocalTime(&before);
    MessageBoxSeen box;
    ASSERT_TRUE(send(inst, box, "send_support_done.png"));
    GetLocalTime(&after);
    EXPECT_EQ("Information", box.caption);
    EXPECT_EQ("Data'ene er nu sendt til KIRO-support!", box.text);
    EXPECT_EQ((UINT)MB_ICONINFORMATION, message_box_icon(box));
    EXPECT_EQ("Send data til support...", window_text(box.owner));
    close(box);

    std::vector<std::string> uploaded = files_in(root);
    ASSERT_EQ(1u, uploaded.size());
    EXPECT_TRUE(is_final_name(uploaded[0], "skolesql011", before, after)) << uploaded[0];
    std::string archive = root + "\\" + uploaded[0];

    std::vector<std::string> entries = zip_entries(archive);
    const char *expected[] = { "kiromenu.exe",  "10327.exe",        "START.LOG",
                               "data\\KIRO.DAT", "ini\\kiro.ini",    "log\\kiro.log",
                               "log\\dirlst.txt", "datakopi\\KIRO.DAT", "inikopi\\kiro.ini" };
    for (const char *name : expected)
        EXPECT_TRUE(has(entries, name)) << name;
    int markers = 0;
    for (const std::string &entry : entries) {
        EXPECT_EQ(std::string::npos, entry.find("deep.dat")) << "only the top level is packed";
        EXPECT_EQ(std::string::npos, entry.find(".tvk")) << "the archive never packs itself";
        if (entry.find("opdat.lck") != std::string::npos)
            markers++;
    }
    EXPECT_EQ(1, markers);
    EXPECT_EQ(read_file(inst.data_dir + "data\\KIRO.DAT"), zip_entry(archive, "data\\KIRO.DAT"));

    std::string listing = zip_entry(archive, "log\\dirlst.txt");
    EXPECT_EQ(0u, listing.find("[version]\r\nFileVersion=1.1.8.0\r\nSpecialBuild=20141208\r\n"))
        << listing;
    const std::string patterns[4] = { inst.program_dir + "*.*", inst.data_dir + "data\\*.*",
                                      inst.data_dir + "ini\\*.*", inst.data_dir + "log\\*.*" };
    size_t at = 0;
    for (const std::string &pattern : patterns) {
        size_t found = listing.find("\r\nIndhold af : " + pattern + "\r\n\r\n", at);
        EXPECT_NE(std::string::npos, found) << pattern << "\n" << listing;
        if (found != std::string::npos)
            at = found + 1;
    }
    EXPECT_NE(std::string::npos, listing.find("     <DIR>          sub\r\n"));
    EXPECT_NE(std::string::npos, listing.find("            90000   KIRO.DAT\r\n"));
    EXPECT_NE(std::string::npos, listing.find(" fil(er)        "));
    EXPECT_EQ(std::string::npos, listing.find("\n\n")) << "every line ends in CR LF";

    EXPECT_EQ("", leftovers(inst));
    EXPECT_TRUE(file_exists(inst.program_dir + "skolesql012-2020.01.01-10.00.zip"));
}

TEST_F(SendSupportGui, ServerDownShowsTheConnectionErrorAndLeavesNothing)
{
    int port = free_loopback_port();
    std::string host = "127.0.0.1:" + std::to_string(port);
    Installation inst = make_support_site("support_gui_down", host.c_str());
    MessageBoxSeen box;
    ASSERT_TRUE(send(inst, box));
    EXPECT_EQ("Fejl", box.caption);
    EXPECT_EQ("Kunne ikke etablere forbindelse til server: " + host + "!", box.text);
    EXPECT_EQ((UINT)MB_ICONWARNING, message_box_icon(box));
    close(box);
    EXPECT_EQ("", leftovers(inst));
}

TEST_F(SendSupportGui, RefusedLoginIsReportedAsNotSentAndLeavesNothing)
{
    std::string root = make_scratch_dir("support_gui_refused_root");
    ASSERT_TRUE(server.start(root, "kirodata", "andet"));
    Installation inst = make_support_site("support_gui_refused", server.address().c_str());
    MessageBoxSeen box;
    ASSERT_TRUE(send(inst, box, "send_support_refused.png"));
    EXPECT_EQ("Fejl", box.caption);
    EXPECT_EQ("Log ind på server: " + server.address() +
                  " blev afvist!\nData'ene er ikke sendt til KIRO-support.",
              box.text);
    EXPECT_EQ((UINT)MB_ICONWARNING, message_box_icon(box));
    close(box);
    EXPECT_TRUE(files_in(root).empty());
    EXPECT_EQ("", leftovers(inst));
}

namespace {

class SecureSendGui : public SendSupportGui {
protected:
    static void SetUpTestSuite()
    {
        certificates = new TestCertificates;
        made = certificates->make("secure_send_certificates", true);
    }
    static void TearDownTestSuite()
    {
        delete certificates;
        certificates = NULL;
    }
    void SetUp() override
    {
        ASSERT_TRUE(made);
        SendSupportGui::SetUp();
    }
    void TearDown() override
    {
        SendSupportGui::TearDown();
        tls_server.stop();
    }
    static TestCertificates *certificates;
    static bool made;
    FtpsServer tls_server;
};

TestCertificates *SecureSendGui::certificates = NULL;
bool SecureSendGui::made = false;

}  // namespace

TEST_F(SecureSendGui, SnapshotTravelsEncryptedOnBothConnectionsAndArrivesWhole)
{
    struct Case {
        const char *name;
        const char *options;
        std::vector<std::string> asked;   /* before TLS runs */
    } cases[] = {
        { "TLS required on both connections", "", { "plain AUTH TLS" } },
        { "TLS offered only as AUTH SSL", "--auth-ssl-only", { "plain AUTH TLS", "plain AUTH SSL" } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string root = make_scratch_dir("secure_gui_root");
        ASSERT_TRUE(tls_server.start(root, certificates->pem("server"), certificates->key("server"), "4monbek",
                                     c.options));
        Installation inst = make_support_site("secure_gui", tls_server.address().c_str());
        set_contact(inst, "kryptering", "KRAV");
        MessageBoxSeen box;
        ASSERT_TRUE(send(inst, box));
        EXPECT_EQ("Data'ene er nu sendt til KIRO-support!", box.text) << tls_server.output();
        close(box);

        std::vector<std::string> uploaded = files_in(root);
        ASSERT_EQ(1u, uploaded.size());
        std::string archive = root + "\\" + uploaded[0];
        EXPECT_EQ(0, run_unix("unzip -tqq '" + unix_path(archive) + "'")) << "every entry's CRC";
        const std::string sources[][2] = {
            { "kiromenu.exe", inst.program_dir + "kiromenu.exe" },
            { "START.LOG", inst.program_dir + "START.LOG" },
            { "data\\KIRO.DAT", inst.data_dir + "data\\KIRO.DAT" },
            { "ini\\kiro.ini", inst.ini() },
            { "log\\kiro.log", inst.data_dir + "log\\kiro.log" },
            { "datakopi\\KIRO.DAT", inst.data_dir + "datakopi\\KIRO.DAT" },
            { "inikopi\\kiro.ini", inst.data_dir + "inikopi\\kiro.ini" },
        };
        for (const auto &entry : sources)
            EXPECT_TRUE(read_file(entry[1]) == zip_entry(archive, entry[0])) << entry[0];
        EXPECT_TRUE(has(zip_entries(archive), "log\\dirlst.txt"));

        std::vector<std::string> expected = c.asked;
        const std::vector<std::string> then = { "tls USER kirodata", "tls PASS",  "tls TYPE I",
                                                "tls PBSZ 0",        "tls PROT P", "tls PASV",
                                                "tls STOR " + uploaded[0], "tls SIZE " + uploaded[0],
                                                "tls QUIT" };
        expected.insert(expected.end(), then.begin(), then.end());
        EXPECT_EQ(expected, tls_server.heard());
        EXPECT_EQ("", leftovers(inst));
        tls_server.stop();
    }
}

TEST_F(SecureSendGui, UploadNotProvenIsNotCalledSent)
{
    struct Case {
        const char *name;
        bool tls;
        const char *options;
        bool sent;
    } cases[] = {
        { "cut off over TLS", true, "--cut-data-after 100000", false },
        { "cut off in the clear", false, "--cut-data-after 100000", false },
        { "another size", false, "--size wrong", false },
        { "no size at all", false, "--size none", true },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string root = make_scratch_dir("unproven_root");
        ASSERT_TRUE(tls_server.start(root, c.tls ? certificates->pem("server") : "",
                                     c.tls ? certificates->key("server") : "", "4monbek", c.options));
        Installation inst = make_support_site("unproven", tls_server.address().c_str());
        MessageBoxSeen box;
        ASSERT_TRUE(send(inst, box, c.sent ? NULL : "send_support_not_proven.png"));
        if (c.sent) {
            EXPECT_EQ("Data'ene er nu sendt til KIRO-support!", box.text);
        } else {
            EXPECT_EQ("Fejl", box.caption);
            EXPECT_EQ("Overførslen til server: " + tls_server.address() +
                          " mislykkedes!\nData'ene er ikke sendt til KIRO-support.",
                      box.text);
        }
        close(box);
        /* The server met the scenario: it kept the file, cut or whole, and
           was asked for its size where the data connection ended in order. */
        std::vector<std::string> uploaded = files_in(root);
        ASSERT_EQ(1u, uploaded.size());
        size_t kept = read_file(root + "\\" + uploaded[0]).size();
        std::vector<std::string> heard = tls_server.heard();
        bool asked_size = has(heard, std::string(c.tls ? "tls" : "plain") + " SIZE " + uploaded[0]);
        if (strstr(c.options, "--cut")) {
            EXPECT_EQ(100000u, kept);
            EXPECT_FALSE(asked_size);
        } else {
            EXPECT_GT(kept, 100000u);
            EXPECT_TRUE(asked_size);
        }
        EXPECT_EQ("", leftovers(inst));
        tls_server.stop();
    }
}

TEST_F(SecureSendGui, UnverifiedServerGetsNothingAndTheReasonIsShown)
{
    struct Case {
        const char *certificate;
        const char *code;
        const char *shot;
    } cases[] = {
        { "stranger", "(fejlkode 0x800B010A)", "send_support_unverified.png" },  /* unknown authority */
        { "other_name", "(fejlkode 0x800B010F)", NULL },                         /* another host's */
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.certificate);
        std::string root = make_scratch_dir("unverified_gui_root");
        ASSERT_TRUE(tls_server.start(root, certificates->pem(c.certificate),
                                     certificates->key(c.certificate)));
        Installation inst = make_support_site("unverified_gui", tls_server.address().c_str());
        MessageBoxSeen box;
        ASSERT_TRUE(send(inst, box, c.shot));
        EXPECT_EQ("Fejl", box.caption);
        std::string head = "Der kunne ikke oprettes en sikker forbindelse til server: " +
                           tls_server.address() + "!\nData'ene er ikke sendt til KIRO-support.\n";
        EXPECT_EQ(0u, box.text.find(head)) << box.text;
        EXPECT_NE(std::string::npos, box.text.find(c.code)) << box.text;
        EXPECT_EQ((UINT)MB_ICONWARNING, message_box_icon(box));
        close(box);
        EXPECT_TRUE(files_in(root).empty());
        EXPECT_EQ(std::vector<std::string>{ "plain AUTH TLS" }, tls_server.heard());
        EXPECT_EQ("", leftovers(inst));
        tls_server.stop();
    }
}

TEST_F(SecureSendGui, RequiredEncryptionAndAPlainServerSendNothing)
{
    std::string root = make_scratch_dir("plain_required_root");
    ASSERT_TRUE(tls_server.start(root));
    Installation inst = make_support_site("plain_required", tls_server.address().c_str());
    set_contact(inst, "kryptering", "krav");
    MessageBoxSeen box;
    ASSERT_TRUE(send(inst, box, "send_support_no_encryption.png"));
    EXPECT_EQ("Fejl", box.caption);
    EXPECT_EQ("Server: " + tls_server.address() +
                  " tilbyder ikke kryptering!\nData'ene sendes kun krypteret (kryptering=krav i "
                  "kiro.ini).\nData'ene er ikke sendt til KIRO-support.",
              box.text);
    EXPECT_EQ((UINT)MB_ICONWARNING, message_box_icon(box));
    close(box);
    EXPECT_TRUE(files_in(root).empty());
    std::vector<std::string> expected = { "plain AUTH TLS", "plain AUTH SSL", "plain QUIT" };
    EXPECT_EQ(expected, tls_server.heard());
    EXPECT_EQ("", leftovers(inst));
}

TEST_F(SendSupportGui, CompletionReplyWithoutEndIsAFailedUploadAndLeavesNothing)
{
    ScriptedServer scripted;
    scripted.run([](ServerSide &side) {
        side.say("220 Ready\r\n");
        if (side.hear() != "AUTH TLS")
            return;
        side.say("500 Unknown command\r\n");
        if (side.hear() != "AUTH SSL")
            return;
        side.say("500 Unknown command\r\n");
        if (side.hear() != "USER kirodata")
            return;
        side.say("331 Password\r\n");
        side.hear();
        side.say("230 Logged in\r\n");
        if (side.hear() != "TYPE I")
            return;
        side.say("200 Binary\r\n");
        if (side.hear() != "PASV" || !side.open_data_port())
            return;
        side.say("227 Passive (127,0,0,1," + std::to_string(side.data_port >> 8) + "," +
                 std::to_string(side.data_port & 255) + ")\r\n");
        std::string received;
        if (side.hear().compare(0, 5, "STOR ") != 0 || !side.receive_upload(received, "150 Ok\r\n"))
            return;
        /* The file is never confirmed: lines without end, until the menu
           hangs up (or a minute has passed). */
        side.reach("completion without end");
        for (DWORD start = GetTickCount(); GetTickCount() - start < 60000;)
            if (::send(side.control, "226-still storing\r\n", 19, 0) != 19)
                break;
    });
    Installation inst = make_support_site("support_gui_endless", scripted.address().c_str());
    MessageBoxSeen box;
    ASSERT_TRUE(send(inst, box, "send_support_endless_reply.png"));
    /* Read again once the box takes messages: the menu took none while it
       waited for the server, and a text asked for just then reads empty. */
    EXPECT_EQ("Fejl", window_text(box.window));
    EXPECT_EQ("Overførslen til server: " + scripted.address() +
                  " mislykkedes!\nData'ene er ikke sendt til KIRO-support.",
              window_text(GetDlgItem(box.window, 0xFFFF)));
    close(box);
    scripted.finish();
    EXPECT_EQ("completion without end", scripted.reached()) << "the failure came where the test is about";
    EXPECT_EQ("", leftovers(inst));
}

TEST_F(SendSupportGui, FullProgramDriveSendsNothingAndLeavesNothing)
{
    std::string root = make_scratch_dir("support_gui_full_root");
    ASSERT_TRUE(server.start(root));
    Installation inst = make_support_site("support_gui_full", server.address().c_str());
    /* The program folder on a drive with room for the program and little
       more: the archive, written there, cannot be finished. */
    std::string exe = read_file(inst.program_dir + "kiromenu.exe");
    ScopedTmpfs drive("support_full", (unsigned long)exe.size() + 128 * 1024);
    ASSERT_FALSE(drive.dir.empty());
    inst.program_dir = windows_path(drive.dir) + "\\";
    ASSERT_TRUE(write_file(inst.program_dir + "kiromenu.exe", exe));
    ASSERT_TRUE(write_file(inst.program_dir + "START.LOG", "startet\r\n"));

    MessageBoxSeen box;
    ASSERT_TRUE(send(inst, box, "send_support_drive_full.png"));
    char full[256] = "";
    system_message(ERROR_DISK_FULL, full, sizeof full);
    EXPECT_EQ("Fejl", box.caption);
    EXPECT_EQ("Data'ene kunne ikke pakkes i arkivet '" + inst.program_dir + "skolesql011.tvk'!\n" +
                  full + " (fejlkode 112)\nData'ene er ikke sendt til KIRO-support.",
              box.text);
    EXPECT_EQ((UINT)MB_ICONWARNING, message_box_icon(box));
    close(box);
    EXPECT_TRUE(files_in(root).empty());
    EXPECT_EQ("", leftovers(inst));
}
