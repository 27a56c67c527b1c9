/*
 * The FTP client over TLS: against pyftpdlib requiring TLS on both
 * connections (the upload arrives whole, every command after AUTH TLS went
 * encrypted; a data connection showing another certificate than the
 * control connection's is checked and refused), and against a scripted TLS
 * peer that splits its records across receives and closes with a TLS close.
 */
#include <winsock2.h>
#include <gtest/gtest.h>

#include "ftps_server.h"
#include "net/ftp.h"
#include "net/tls.h"
#include "driver.h"
#include "test_support.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

class Ftps : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        certificates = new TestCertificates;
        made = certificates->make("ftps_certificates", true);
    }
    static void TearDownTestSuite()
    {
        delete certificates;
        certificates = NULL;
    }
    void SetUp() override
    {
        ASSERT_TRUE(made);
        WSADATA data;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
    }
    void TearDown() override
    {
        server.stop();
        WSACleanup();
    }
    static TestCertificates *certificates;
    static bool made;
    FtpsServer server;
};

TestCertificates *Ftps::certificates = NULL;
bool Ftps::made = false;

TEST_F(Ftps, UploadOverTlsArrivesWholeAndNothingAfterAuthGoesInTheClear)
{
    std::string root = make_scratch_dir("ftps_root");
    ASSERT_TRUE(server.start(root, certificates->pem("server"), certificates->key("server")));
    std::string dir = make_scratch_dir("ftps_local");
    std::string content;
    unsigned int value = 4711;
    for (int i = 0; i < 2 * 1024 * 1024 + 77; i++) {
        value = value * 1103515245u + 12345u;
        content += (char)(value >> 16);
    }
    ASSERT_TRUE(write_file(dir + "\\big.zip", content));

    CaptureStderr();
    ftp_socket s = ftp_connect(server.address().c_str(), "kirodata", "4monbek");
    int security = ftp_security();
    int type = s >= 0 ? ftp_type(s, 0) : -1;
    int put = s >= 0 ? ftp_put(NULL, s, (dir + "\\big.zip").c_str(), "big.zip") : -1;
    if (s >= 0)
        ftp_quit(s);
    std::string trace = GetCapturedStderr();
    ASSERT_GE(s, 0) << trace << server.output();
    EXPECT_EQ(FTP_SECURITY_TLS, security);
    EXPECT_TRUE(ftp_login_accepted());
    EXPECT_EQ(200, type);
    EXPECT_EQ(0, put) << trace << server.output();
    EXPECT_TRUE(content == read_file(root + "\\big.zip"));

    std::vector<std::string> expected = { "plain AUTH TLS", "tls USER kirodata", "tls PASS",
                                          "tls TYPE I",     "tls PBSZ 0",        "tls PROT P",
                                          "tls PASV",       "tls STOR big.zip",  "tls SIZE big.zip",
                                          "tls QUIT" };
    EXPECT_EQ(expected, server.heard());
    EXPECT_NE(std::string::npos, trace.find("> AUTH TLS\n< 234 ")) << trace;
    EXPECT_NE(std::string::npos, trace.find("> PBSZ 0\n< 200 ")) << trace;
    EXPECT_NE(std::string::npos, trace.find("> PROT P\n< 200 ")) << trace;
}

TEST_F(Ftps, DataConnectionShowingAnotherCertificateGetsNothing)
{
    std::string root = make_scratch_dir("ftps_data_cert_root");
    ASSERT_TRUE(server.start(root, certificates->pem("server"), certificates->key("server"), "4monbek",
                             "--data-cert '" + unix_path(certificates->pem("stranger")) + "' --data-key '" +
                                 unix_path(certificates->key("stranger")) + "'"));
    std::string dir = make_scratch_dir("ftps_data_cert");
    ASSERT_TRUE(write_file(dir + "\\a.zip", std::string(100000, 'k')));
    CaptureStderr();
    ftp_socket s = ftp_connect(server.address().c_str(), "kirodata", "4monbek");
    int security = ftp_security();
    int put = s >= 0 ? ftp_put(NULL, s, (dir + "\\a.zip").c_str(), "a.zip") : 99;
    if (s >= 0)
        ftp_quit(s);
    std::string trace = GetCapturedStderr();
    ASSERT_GE(s, 0) << trace << server.output();
    EXPECT_EQ(FTP_SECURITY_TLS, security);
    EXPECT_EQ(-1, put) << trace;
    EXPECT_NE(std::string::npos, trace.find("< 150 ")) << "the data connection's handshake was reached";
    EXPECT_NE(std::string::npos, trace.find("tls: ")) << trace;
    EXPECT_EQ("", read_file(root + "\\a.zip")) << "nothing of the file travelled";
}

TEST_F(Ftps, RecordsSplitAcrossReceivesAndTheServersTlsClose)
{
    std::string work = make_scratch_dir("tls_peer");
    ASSERT_TRUE(server.launch(work, "'" KIRO_SOURCE_DIR "/tests/net/tls_peer.py' '" +
                                        unix_path(certificates->pem("server")) + "' '" +
                                        unix_path(certificates->key("server")) + "'"));
    ftp_set_timeout(5000);
    CaptureStderr();
    ftp_socket s = ftp_connect(server.address().c_str(), "kirodata", "4monbek");
    int security = ftp_security();
    int type = s >= 0 ? ftp_type(s, 0) : -1;
    /* After the reply, the peer's TLS close: the connection has ended, it
       did not fail, and nothing waits for the time-out. */
    char byte;
    int after_close = s >= 0 ? tls_receive((SOCKET)s, &byte, 1, false) : -1;
    if (s >= 0)
        ftp_quit(s);
    std::string trace = GetCapturedStderr();
    ftp_set_timeout(FTP_DEFAULT_TIMEOUT_MS);
    ASSERT_GE(s, 0) << trace << server.output();
    EXPECT_EQ(FTP_SECURITY_TLS, security);
    EXPECT_TRUE(ftp_login_accepted());
    EXPECT_EQ(230, ftp_login_status());
    EXPECT_EQ(200, type);
    EXPECT_EQ(0, after_close);
    EXPECT_NE(std::string::npos,
              trace.find("< 331 Password please\n> PASS ****\n< 230-Welcome\n< 230 Logged in\n"))
        << trace;
    std::vector<std::string> heard;
    for (int waited = 0; waited < 10000; waited += 100) {
        heard = server.heard();
        if (!heard.empty() && heard.back() == "closed")
            break;
        Sleep(100);
    }
    std::vector<std::string> expected = { "AUTH TLS", "USER kirodata", "PASS 4monbek", "TYPE I",
                                          "closed" };
    EXPECT_EQ(expected, heard) << server.output();
}
