/*
 * "&Send data til support" through the real kiromenu.exe, against
 * pyftpdlib on 127.0.0.1: the archive on the server with its final name
 * and contents, the directory listing inside it, the earlier archives gone
 * and nothing left behind; and with the server down or the login refused,
 * the failure message and again nothing left behind.
 */
#include <winsock2.h>
#include <gtest/gtest.h>

#include "driver.h"
#include "ftp_server.h"
#include "support_site.h"
#include "resource.h"

#include <algorithm>

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
