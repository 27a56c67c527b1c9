/*
 * The FTP client against a real FTP server (pyftpdlib on 127.0.0.1): a
 * multi-megabyte upload arrives byte for byte, the trace shows the whole
 * dialogue (the password as "****"), and a wrong password is seen as a
 * refused login.
 */
#include <winsock2.h>
#include <gtest/gtest.h>

#include "ftp_server.h"
#include "net/ftp.h"
#include "test_support.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

class FtpRealServer : public testing::Test {
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
        root = make_scratch_dir("ftp_real_root");
        ASSERT_TRUE(server.start(root)) << read_file(server.log_file);
    }
    void TearDown() override
    {
        server.stop();
        WSACleanup();
    }
    std::string root;
    FtpServer server;
};

TEST_F(FtpRealServer, MultiMegabyteUploadArrivesWholeAndTheTraceShowsTheDialogue)
{
    std::string dir = make_scratch_dir("ftp_real_local");
    std::string content;
    unsigned int value = 12345;
    for (int i = 0; i < 3 * 1024 * 1024 + 333; i++) {
        value = value * 1103515245u + 12345u;
        content += (char)(value >> 16);
    }
    ASSERT_TRUE(write_file(dir + "\\big.zip", content));

    CaptureStderr();
    ftp_socket s = ftp_connect(server.address().c_str(), "kirodata", "4monbek");
    ASSERT_GE(s, 0);
    EXPECT_TRUE(ftp_login_accepted());
    EXPECT_EQ(230, ftp_login_status());
    EXPECT_EQ(200, ftp_type(s, 0));
    int put = ftp_put(NULL, s, (dir + "\\big.zip").c_str(), "skole0-2026.12.08-05.10.zip");
    ftp_quit(s);
    std::string trace = GetCapturedStderr();
    EXPECT_EQ(0, put);

    std::string stored = read_file(root + "\\skole0-2026.12.08-05.10.zip");
    EXPECT_EQ(content.size(), stored.size());
    EXPECT_TRUE(content == stored);

    /* pyftpdlib's plain server refuses TLS: the plain road. */
    const char *in_order[] = { "< 220 ",           "> AUTH TLS\n",     "< 500 ",
                               "> AUTH SSL\n",     "< 500 ",
                               "> USER kirodata\n", "< 331 ",            "> PASS ****\n",
                               "< 230 ",           "> TYPE I\n",        "< 200 ",
                               "> PASV\n",         "< 227 ",            "< 1",
                               "< 226 ",           "> SIZE skole0-2026.12.08-05.10.zip\n",
                               "< 213 ",           "> QUIT\n",          "< 221 " };
    size_t at = 0;
    for (const char *piece : in_order) {
        size_t found = trace.find(piece, at);
        EXPECT_NE(std::string::npos, found) << piece << " missing after " << at << " in\n"
                                            << trace;
        if (found != std::string::npos)
            at = found + 1;
    }
    EXPECT_EQ(std::string::npos, trace.find("STOR"));
    EXPECT_EQ(std::string::npos, trace.find("4monbek")) << "the password is never traced";
}

TEST_F(FtpRealServer, WrongPasswordIsARefusedLogin)
{
    CaptureStderr();
    ftp_socket s = ftp_connect(server.address().c_str(), "kirodata", "wrong");
    std::string trace = GetCapturedStderr();
    ASSERT_GE(s, 0);
    EXPECT_FALSE(ftp_login_accepted());
    EXPECT_EQ(530, ftp_login_status());
    ftp_quit(s);
}
