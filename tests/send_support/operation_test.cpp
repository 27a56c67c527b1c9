/*
 * The send-to-support operation run in-process in its progress dialog,
 * against pyftpdlib on 127.0.0.1: the upload bar's range and end, the
 * update marker set, read-only or missing, the names when the "kontakt"
 * settings and the installation number are missing, and the built-in
 * host when "supportserver" is empty.
 */
#include <winsock2.h>
#include <gtest/gtest.h>

#include "advanced/send_support.h"
#include "ftp_server.h"
#include "support/settings.h"
#include "support/message_box.h"
#include "support/text.h"
#include "support_site.h"
#include "resource.h"

#include <commctrl.h>

namespace {

struct BoxSeen {
    std::string text;
    std::string caption;
    UINT style;
    bool owned_by_progress;
    int bar_position;
    int bar_upper;
};
std::vector<BoxSeen> g_boxes;

int record_box(HWND owner, const char *text, const char *caption, UINT style)
{
    BoxSeen box = { text, caption, style, false, -1, -1 };
    /* The bar as it stands when the outcome is shown. */
    HWND dialog = owner;
    if (!dialog)
        dialog = FindWindowA("#32770", "Send data til support...");
    HWND bar = dialog ? GetDlgItem(dialog, IDC_OVERALL_BAR) : NULL;
    if (bar) {
        box.owned_by_progress = owner == dialog;
        box.bar_position = (int)SendMessageA(bar, PBM_GETPOS, 0, 0);
        box.bar_upper = (int)SendMessageA(bar, PBM_GETRANGE, FALSE, 0);
    }
    g_boxes.push_back(box);
    return IDOK;
}

void use_installation(const Installation &inst)
{
    copy_text(g_settings.program_dir, sizeof g_settings.program_dir, inst.program_dir.c_str());
    copy_text(g_settings.data_dir, sizeof g_settings.data_dir, inst.data_dir.c_str());
    copy_text(g_settings.config_path, sizeof g_settings.config_path, inst.ini().c_str());
    g_settings.installation = (int)GetPrivateProfileIntA("global", "insnr", 0, inst.ini().c_str());
}

class SendSupport : public testing::Test {
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
        g_boxes.clear();
        set_message_box_hook(record_box);
    }
    void TearDown() override
    {
        set_message_box_hook(NULL);
        server.stop();
        WSACleanup();
    }
    /* Runs the operation as the Advanced dialog does, in dialog 103. */
    void run(const Installation &inst)
    {
        use_installation(inst);
        run_send_support(NULL);
    }
    FtpServer server;
};

}  // namespace

TEST_F(SendSupport, UploadBarEndsFullAndOnlyTheMarkerThatIsSetGoesIn)
{
    std::string root = make_scratch_dir("support_root_bar");
    ASSERT_TRUE(server.start(root));
    Installation inst = make_support_site("support_bar", server.address().c_str());
    ASSERT_TRUE(write_file(inst.program_dir + "opdat.lck", "opdatering"));
    run(inst);

    ASSERT_EQ(1u, g_boxes.size());
    EXPECT_EQ("Data'ene er nu sendt til KIRO-support!", g_boxes[0].text);
    EXPECT_EQ("Information", g_boxes[0].caption);
    EXPECT_EQ((UINT)(MB_OK | MB_ICONINFORMATION), g_boxes[0].style);
    EXPECT_TRUE(g_boxes[0].owned_by_progress);

    std::vector<std::string> uploaded = files_in(root);
    ASSERT_EQ(1u, uploaded.size());
    std::string archive = root + "\\" + uploaded[0];
    int size = (int)read_file(archive).size();
    EXPECT_GT(size, 65535);
    EXPECT_EQ(size + 1024, g_boxes[0].bar_upper);
    EXPECT_EQ(size + 1024, g_boxes[0].bar_position);

    int markers = 0;
    for (const std::string &entry : zip_entries(archive))
        if (entry.size() >= 9 && entry.compare(entry.size() - 9, 9, "opdat.lck") == 0) {
            markers++;
            EXPECT_EQ("opdatering", zip_entry(archive, entry));
        }
    EXPECT_EQ(1, markers);
    EXPECT_EQ("", leftovers(inst));
    EXPECT_TRUE(file_exists(inst.program_dir + "opdat.lck"));
}

TEST_F(SendSupport, MarkerReadOnlyOrMissingStaysOutSilently)
{
    std::string root = make_scratch_dir("support_root_marker");
    ASSERT_TRUE(server.start(root));
    for (bool present : { true, false }) {
        SCOPED_TRACE(present ? "read-only marker" : "no marker");
        g_boxes.clear();
        remove_tree(root);
        make_dirs(root);
        Installation inst = make_support_site("support_marker", server.address().c_str());
        std::string marker = inst.program_dir + "opdat.lck";
        if (present) {
            ASSERT_TRUE(write_file(marker, "x"));
            SetFileAttributesA(marker.c_str(), FILE_ATTRIBUTE_READONLY);
        }
        run(inst);
        ASSERT_EQ(1u, g_boxes.size());
        EXPECT_EQ("Information", g_boxes[0].caption);
        std::vector<std::string> uploaded = files_in(root);
        ASSERT_EQ(1u, uploaded.size());
        for (const std::string &entry : zip_entries(root + "\\" + uploaded[0]))
            EXPECT_EQ(std::string::npos, entry.find("opdat.lck")) << entry;
        SetFileAttributesA(marker.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

TEST_F(SendSupport, MissingContactSettingsAndNumberGiveTheBareNames)
{
    std::string root = make_scratch_dir("support_root_bare");
    ASSERT_TRUE(server.start(root));
    Installation inst = make_installation("support_bare");
    WritePrivateProfileStringA("global", "insnr", NULL, inst.ini().c_str());
    WritePrivateProfileStringA("kontakt", "supportserver", server.address().c_str(),
                               inst.ini().c_str());
    ASSERT_TRUE(write_file(inst.program_dir + "0-2020.01.01-10.00.zip", "old"));
    ASSERT_TRUE(write_file(inst.program_dir + "07.zip", "older"));
    ASSERT_TRUE(write_file(inst.program_dir + "1-2020.01.01-10.00.zip", "kept"));
    SYSTEMTIME before, after;
    GetLocalTime(&before);
    run(inst);
    GetLocalTime(&after);

    ASSERT_EQ(1u, g_boxes.size());
    EXPECT_EQ("Information", g_boxes[0].caption);
    std::vector<std::string> uploaded = files_in(root);
    ASSERT_EQ(1u, uploaded.size());
    EXPECT_TRUE(is_final_name(uploaded[0], "0", before, after)) << uploaded[0];
    std::vector<std::string> left = files_in(inst.program_dir.substr(0, inst.program_dir.size() - 1));
    std::sort(left.begin(), left.end());
    std::vector<std::string> expected = { "1-2020.01.01-10.00.zip", "kiromenu.exe" };
    EXPECT_EQ(expected, left);
}

TEST_F(SendSupport, EmptySupportServerUsesTheBuiltInHost)
{
    Installation inst = make_support_site("support_default_host", "");
    run(inst);
    ASSERT_EQ(1u, g_boxes.size());
    EXPECT_STREQ("localhost", SUPPORT_DEFAULT_HOST);
    EXPECT_EQ("Kunne ikke etablere forbindelse til server: localhost!", g_boxes[0].text);
    EXPECT_EQ("Fejl", g_boxes[0].caption);
    EXPECT_EQ((UINT)MB_ICONWARNING, g_boxes[0].style & MB_ICONMASK);
    EXPECT_EQ("", leftovers(inst));
}

TEST_F(SendSupport, RefusedUploadIsReportedAsNotSent)
{
    std::string root = make_scratch_dir("support_root_readonly");
    ASSERT_TRUE(server.start(root, "kirodata", "4monbek", false));
    Installation inst = make_support_site("support_refused_upload", server.address().c_str());
    run(inst);
    ASSERT_EQ(1u, g_boxes.size());
    EXPECT_EQ("Overførslen til server: " + server.address() +
                  " mislykkedes!\nData'ene er ikke sendt til KIRO-support.",
              g_boxes[0].text);
    EXPECT_EQ("Fejl", g_boxes[0].caption);
    EXPECT_TRUE(files_in(root).empty());
    EXPECT_EQ("", leftovers(inst));
}
