/*
 * The FTP client against a scripted server on 127.0.0.1 that gives exact
 * replies: multi-line and over-long replies, the login variants (the
 * password never in the trace), passive replies good and bad, the upload's
 * proof (confirmation, an orderly end of the data connection, the size the
 * server names), a server that hangs up at once, one that goes silent, one
 * that stops reading the data, replies without end, and a host name whose
 * resolver never answers. Where the client must give up by its own
 * time-out, the server waits far longer, and the bound checked leaves room
 * for a loaded machine.
 */
#include <gtest/gtest.h>

#include "scripted_server.h"
#include "net/ftp.h"
#include "net/resolve.h"
#include "test_support.h"

#include <commctrl.h>
#include <string.h>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

/* How long a server of these tests waits for a client that should have
   given up after its own time-out, and the room a loaded machine is given
   beyond that time-out: a client without its bound ends only when the
   server does, past the room. */
static const int SERVER_PATIENCE_MS = 30000;
static const DWORD LOADED_MACHINE_ROOM_MS = 10000;

class FtpScripted : public testing::Test {
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
        ftp_set_timeout(5000);
    }
    void TearDown() override
    {
        ftp_set_timeout(FTP_DEFAULT_TIMEOUT_MS);
        WSACleanup();
    }
};

/* Refuses TLS by both its names, as a server without it does. */
static void refuse_tls(ServerSide &side)
{
    if (side.hear() == "AUTH TLS")
        side.say("500 AUTH not understood\r\n");
    if (side.hear() == "AUTH SSL")
        side.say("500 AUTH not understood\r\n");
}

/* Greets, refuses TLS, takes USER and answers 230. */
static void greet_and_login(ServerSide &side)
{
    side.say("220 Ready\r\n");
    refuse_tls(side);
    if (side.hear() == "USER kirodata")
        side.say("230 Logged in\r\n");
}

/* A session that ends with QUIT right after the login. */
static void login_then_quit(ServerSide &side)
{
    greet_and_login(side);
    if (side.hear() == "QUIT")
        side.say("221 Bye\r\n");
}

static std::string passive_reply(const char *host, int port)
{
    return std::string("227 Entering Passive Mode (") + host + "," + std::to_string(port >> 8) +
           "," + std::to_string(port & 255) + ")\r\n";
}

TEST_F(FtpScripted, MultiLineGreetingEndsAtTheFinalLine)
{
    ScriptedServer server;
    server.run([](ServerSide &side) {
        side.say("220-Welcome\r\n220-Sec");
        Sleep(100);   /* a line that arrives in two pieces */
        side.say("ond line\r\n000 not final either\r\n220 Ready\r\n");
        side.hear();
    });
    SOCKET s = connect_loopback(server.port);
    ASSERT_NE(INVALID_SOCKET, s);
    CaptureStderr();
    int code = ftp_get_reply((ftp_socket)s);
    std::string trace = GetCapturedStderr();
    EXPECT_EQ(220, code);
    EXPECT_EQ("< 220-Welcome\n< 220-Second line\n< 000 not final either\n< 220 Ready\n", trace);
    closesocket(s);
    server.finish();
}

TEST_F(FtpScripted, OverLongLineKeeps512AndTheNextReplyIsReadWhole)
{
    ScriptedServer server;
    std::string long_line = "500 " + std::string(596, 'x');  /* 600 characters */
    server.run([&](ServerSide &side) {
        side.say(long_line + "\r\n200 Next\r\n");
        side.hear();
    });
    SOCKET s = connect_loopback(server.port);
    ASSERT_NE(INVALID_SOCKET, s);
    CaptureStderr();
    EXPECT_EQ(500, ftp_get_reply((ftp_socket)s));
    EXPECT_EQ(long_line.substr(0, 512), std::string(g_ftp_line));
    EXPECT_EQ(200, ftp_get_reply((ftp_socket)s));
    EXPECT_STREQ("200 Next", g_ftp_line);
    GetCapturedStderr();
    closesocket(s);
    server.finish();
}

TEST_F(FtpScripted, ReceivedLineNeverHoldsLineEndsAndStopsAtTheCapacity)
{
    ScriptedServer server;
    server.run([](ServerSide &side) {
        side.say("ab\rcdefgh\r\n\r\nlast");
        side.close_control();
    });
    SOCKET s = connect_loopback(server.port);
    ASSERT_NE(INVALID_SOCKET, s);
    char buffer[5];
    EXPECT_EQ(4, sock_recv_line((ftp_socket)s, buffer, 4));
    EXPECT_STREQ("abcd", buffer);
    EXPECT_EQ(0, sock_recv_line((ftp_socket)s, buffer, 4));  /* the empty line */
    EXPECT_EQ(4, sock_recv_line((ftp_socket)s, buffer, 4));  /* cut by the close */
    EXPECT_STREQ("last", buffer);
    EXPECT_EQ(0, sock_recv_line((ftp_socket)s, buffer, 4));
    closesocket(s);
    server.finish();
}

TEST_F(FtpScripted, LoginVariants)
{
    struct Case {
        const char *user_reply;
        const char *pass_reply;  /* NULL: no PASS expected */
        int status;
        bool accepted;
    } cases[] = {
        { "230 Welcome", NULL, 220, true },
        { "530 Not you", NULL, 220, false },
        { "331 Password please", "230 Logged in", 230, true },
        { "331 Password please", "530 Login incorrect", 530, false },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.user_reply + std::string(" / ") + (c.pass_reply ? c.pass_reply : "-"));
        ScriptedServer server;
        server.run([&](ServerSide &side) {
            side.say("220 Ready\r\n");
            refuse_tls(side);
            side.hear();
            side.say(std::string(c.user_reply) + "\r\n");
            std::string next = side.hear();
            if (next.compare(0, 4, "PASS") == 0) {
                side.say(std::string(c.pass_reply) + "\r\n");
                next = side.hear();
            }
            if (next == "QUIT")
                side.say("221 Bye\r\n");
        });
        CaptureStderr();
        ftp_socket s = ftp_connect(server.address().c_str(), "kirodata", "4monbek");
        ASSERT_GE(s, 0);
        EXPECT_EQ(c.status, ftp_login_status());
        EXPECT_EQ(c.accepted, ftp_login_accepted());
        EXPECT_EQ(0, ftp_quit(s));
        std::string trace = GetCapturedStderr();
        server.finish();
        std::vector<std::string> expected = { "AUTH TLS", "AUTH SSL", "USER kirodata" };
        if (c.pass_reply)
            expected.push_back("PASS 4monbek");
        expected.push_back("QUIT");
        EXPECT_EQ(expected, server.heard());
        EXPECT_NE(std::string::npos, trace.find("> USER kirodata\n< " + std::string(c.user_reply)));
        EXPECT_EQ(c.pass_reply != NULL, trace.find("> PASS ****\n") != std::string::npos) << trace;
        EXPECT_EQ(std::string::npos, trace.find("4monbek")) << trace;
    }
}

TEST_F(FtpScripted, TypeTwoSendsNothing)
{
    ScriptedServer server;
    server.run([](ServerSide &side) {
        greet_and_login(side);
        for (std::string line = side.hear(); !side.closed; line = side.hear())
            side.say(line == "TYPE A" ? "200 Type A\r\n" : "221 Bye\r\n");
    });
    ftp_socket s = ftp_connect(server.address().c_str(), "kirodata", "4monbek");
    ASSERT_GE(s, 0);
    EXPECT_EQ(-1, ftp_type(s, 2));
    EXPECT_EQ(-1, ftp_type(s, -1));
    EXPECT_EQ(200, ftp_type(s, 1));
    ftp_quit(s);
    server.finish();
    std::vector<std::string> expected = { "AUTH TLS", "AUTH SSL", "USER kirodata", "TYPE A", "QUIT" };
    EXPECT_EQ(expected, server.heard());
}

TEST_F(FtpScripted, PassiveReplyParsing)
{
    struct sockaddr_in address;
    ASSERT_EQ(0, ftp_parse_pasv_reply("227 Entering Passive Mode (10,0,0,5,19,137)", &address));
    EXPECT_EQ(AF_INET, address.sin_family);
    EXPECT_EQ(htonl(0x0A000005), address.sin_addr.s_addr);
    EXPECT_EQ(5001, ntohs(address.sin_port));

    const char *bad[] = {
        "227 Entering Passive Mode 10,0,0,5,19,137",
        "227 Entering Passive Mode (10,0,0,5,19)",
        "227 Entering Passive Mode (10,0,0,5,19,256)",
        "200 Entering Passive Mode (10,0,0,5,19,137)",
        "",
    };
    for (const char *line : bad) {
        SCOPED_TRACE(line);
        address.sin_port = 1;
        EXPECT_EQ(-1, ftp_parse_pasv_reply(line, &address));
        EXPECT_EQ(0, address.sin_port);
    }
}

TEST_F(FtpScripted, PasvReadsOneLineAndTracesIt)
{
    ScriptedServer server;
    server.run([](ServerSide &side) {
        if (side.hear() == "PASV")
            side.say("227 Entering Passive Mode (10,0,0,5,19,137)\r\n");
        side.hear();
    });
    SOCKET s = connect_loopback(server.port);
    ASSERT_NE(INVALID_SOCKET, s);
    struct sockaddr_in address;
    CaptureStderr();
    EXPECT_EQ(0, ftp_pasv((ftp_socket)s, &address));
    EXPECT_EQ("> PASV\n< 227 Entering Passive Mode (10,0,0,5,19,137)\n", GetCapturedStderr());
    EXPECT_EQ(htonl(0x0A000005), address.sin_addr.s_addr);
    EXPECT_EQ(5001, ntohs(address.sin_port));
    closesocket(s);
    server.finish();
}

/* How the server of an upload answers. */
struct UploadScript {
    std::string pasv_host = "127,0,0,1";
    std::string preliminary = "150 Opening data connection";
    std::string completion = "226 Transfer complete";
    bool silent_after_data = false;
    size_t cut_after = 0;      /* reset the data connection after so many bytes */
    std::string size_reply;    /* to SIZE; empty: "213 " and the bytes received */
};

/* Runs ftp_put of content against a server that answers as script says;
   the data the server received and the lines it heard come back. */
struct UploadRun {
    int result = 99;
    bool data_connected = false;
    std::string received;
    std::vector<std::string> heard;
    std::string trace;
    int bar_position = -1;
};

static UploadRun upload(const std::string &content, const UploadScript &script)
{
    UploadRun run;
    std::string dir = make_scratch_dir("ftp_upload");
    std::string local = dir + "\\archive.zip";
    write_file(local, content);
    ScriptedServer server;
    server.run([&](ServerSide &side) {
        greet_and_login(side);
        if (side.hear() != "PASV" || !side.open_data_port())
            return;
        side.say(passive_reply(script.pasv_host.c_str(), side.data_port));
        std::string stor = side.hear();
        if (stor.compare(0, 5, "STOR ") != 0)
            return;
        if (script.preliminary[0] != '1') {
            side.say(script.preliminary + "\r\n");
        } else {
            run.data_connected =
                side.receive_upload(run.received, script.preliminary + "\r\n", 10000, script.cut_after);
            if (script.silent_after_data) {
                side.hear(SERVER_PATIENCE_MS);
                return;
            }
            side.say(script.completion + "\r\n");
            std::string next = side.hear();
            if (next == "SIZE " + stor.substr(5)) {
                side.say((script.size_reply.empty() ? "213 " + std::to_string(run.received.size())
                                                    : script.size_reply) + "\r\n");
                next = side.hear();
            }
            if (next == "QUIT")
                side.say("221 Bye\r\n");
            return;
        }
        if (side.hear() == "QUIT")
            side.say("221 Bye\r\n");
    });
    ftp_socket s = ftp_connect(server.address().c_str(), "kirodata", "4monbek");
    if (s < 0)
        return run;
    InitCommonControls();
    HWND bar = CreateWindowA(PROGRESS_CLASSA, "", WS_POPUP, 0, 0, 100, 10, NULL, NULL, NULL, NULL);
    /* ftp_put's share of the bar: 512 and the file; the bar shows where
       the upload ends when that is its upper limit. */
    SendMessageA(bar, PBM_SETRANGE32, 0, (LPARAM)(content.size() + 512));
    CaptureStderr();
    run.result = ftp_put(bar, s, local.c_str(), "skolesql0117-2026.12.08-05.10.zip");
    run.trace = GetCapturedStderr();
    run.bar_position = (int)SendMessageA(bar, PBM_GETPOS, 0, 0);
    DestroyWindow(bar);
    ftp_quit(s);
    server.finish();
    run.heard = server.heard();
    return run;
}

static std::string pattern(size_t n)
{
    std::string content;
    for (size_t i = 0; i < n; i++)
        content += (char)(i * 7 + i / 256);
    return content;
}

TEST_F(FtpScripted, UploadGoesToTheControlPeerNotToTheNamedHost)
{
    /* The reply names 127.0.0.2, where nothing listens; the data port is
       open on 127.0.0.1 only, so the upload arrives only if the client
       connects to the control connection's peer. */
    std::string content = pattern(5000);
    UploadScript script;
    script.pasv_host = "127,0,0,2";
    UploadRun run = upload(content, script);
    EXPECT_EQ(0, run.result);
    EXPECT_TRUE(run.data_connected);
    EXPECT_EQ(content, run.received);
    std::vector<std::string> expected = { "AUTH TLS", "AUTH SSL", "USER kirodata", "PASV",
                                          "STOR skolesql0117-2026.12.08-05.10.zip",
                                          "SIZE skolesql0117-2026.12.08-05.10.zip", "QUIT" };
    EXPECT_EQ(expected, run.heard);
    EXPECT_EQ((int)content.size() + 512, run.bar_position);
    /* STOR is not traced; PASV and both replies are. */
    EXPECT_EQ(std::string::npos, run.trace.find("STOR"));
    EXPECT_NE(std::string::npos, run.trace.find("> PASV\n< 227 Entering Passive Mode (127,0,0,2,"));
    EXPECT_NE(std::string::npos,
              run.trace.find("< 150 Opening data connection\n< 226 Transfer complete\n"));
}

TEST_F(FtpScripted, EmptyFileIsStoredAndConfirmed)
{
    UploadScript script;
    script.preliminary = "125 Data connection already open";
    UploadRun run = upload("", script);
    EXPECT_EQ(0, run.result);
    EXPECT_TRUE(run.data_connected);
    EXPECT_EQ("", run.received);
    EXPECT_EQ(512, run.bar_position);
}

TEST_F(FtpScripted, UploadSucceedsOnlyWhenTheServerConfirms)
{
    UploadScript refusing;
    refusing.preliminary = "553 Not allowed";
    UploadRun refused = upload("abc", refusing);
    EXPECT_EQ(-1, refused.result);
    EXPECT_FALSE(refused.data_connected);
    EXPECT_EQ("", refused.received);
    ASSERT_EQ(6u, refused.heard.size());
    EXPECT_EQ("QUIT", refused.heard[5]);

    UploadScript failing;
    failing.completion = "451 Local error";
    UploadRun failed = upload("abc", failing);
    EXPECT_EQ(-1, failed.result);
    EXPECT_EQ("abc", failed.received);
}

TEST_F(FtpScripted, TheSizeTheServerNamesMustBeTheSizeSent)
{
    struct Case {
        const char *size_reply;
        int result;
    } cases[] = {
        { "213 4999", -1 },                         /* a byte short */
        { "213 5000 bytes", -1 },                   /* no size to compare */
        { "502 Command not implemented", 0 },       /* the server does not say */
        { "550 Could not get file size", 0 },
        { "213  5000 ", 0 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.size_reply);
        UploadScript script;
        script.size_reply = c.size_reply;
        UploadRun run = upload(pattern(5000), script);
        EXPECT_EQ(c.result, run.result);
        ASSERT_EQ(7u, run.heard.size());
        EXPECT_EQ("SIZE skolesql0117-2026.12.08-05.10.zip", run.heard[5]);
    }
}

TEST_F(FtpScripted, DataConnectionResetIsAFailureWhateverTheServerReplies)
{
    /* The server keeps the first 100,000 bytes of a megabyte, resets the
       data connection and still confirms the file. */
    UploadScript script;
    script.cut_after = 100000;
    UploadRun run = upload(pattern(1024 * 1024), script);
    EXPECT_EQ(-1, run.result);
    EXPECT_EQ(100000u, run.received.size()) << "the connection was cut where the script says";
    EXPECT_NE(std::string::npos, run.trace.find("< 226 Transfer complete\n")) << run.trace;
}

TEST_F(FtpScripted, BadPassiveReplyFailsBeforeAnythingIsStored)
{
    const char *replies[] = { "227 Entering Passive Mode 127,0,0,1,4,1",
                              "227 Entering Passive Mode (127,0,0,1,4)",
                              "500 PASV not understood" };
    for (const char *reply : replies) {
        SCOPED_TRACE(reply);
        std::string dir = make_scratch_dir("ftp_bad_pasv");
        write_file(dir + "\\a.zip", "data");
        ScriptedServer server;
        server.run([&](ServerSide &side) {
            greet_and_login(side);
            if (side.hear() == "PASV")
                side.say(std::string(reply) + "\r\n");
            if (side.hear() == "QUIT")
                side.say("221 Bye\r\n");
        });
        ftp_socket s = ftp_connect(server.address().c_str(), "kirodata", "4monbek");
        ASSERT_GE(s, 0);
        CaptureStderr();
        EXPECT_EQ(-1, ftp_put(NULL, s, (dir + "\\a.zip").c_str(), "a.zip"));
        GetCapturedStderr();
        ftp_quit(s);
        server.finish();
        std::vector<std::string> expected = { "AUTH TLS", "AUTH SSL", "USER kirodata", "PASV", "QUIT" };
        EXPECT_EQ(expected, server.heard());
    }
}

TEST_F(FtpScripted, MissingLocalFileSendsNothing)
{
    ScriptedServer server;
    server.run(login_then_quit);
    ftp_socket s = ftp_connect(server.address().c_str(), "kirodata", "4monbek");
    ASSERT_GE(s, 0);
    EXPECT_EQ(-1, ftp_put(NULL, s, "C:\\no\\such\\file.zip", "file.zip"));
    ftp_quit(s);
    server.finish();
    std::vector<std::string> expected = { "AUTH TLS", "AUTH SSL", "USER kirodata", "QUIT" };
    EXPECT_EQ(expected, server.heard());
}

TEST_F(FtpScripted, ServerThatHangsUpAtOnce)
{
    /* Noticed at once, long before the time-out. */
    ftp_set_timeout(SERVER_PATIENCE_MS);
    ScriptedServer server;
    server.run([](ServerSide &side) { side.close_control(); });
    CaptureStderr();
    DWORD start = GetTickCount();
    ftp_socket s = ftp_connect(server.address().c_str(), "kirodata", "4monbek");
    GetCapturedStderr();
    EXPECT_LT(GetTickCount() - start, LOADED_MACHINE_ROOM_MS);
    EXPECT_EQ(0, ftp_login_status());
    EXPECT_FALSE(ftp_login_accepted());
    if (s >= 0)
        ftp_quit(s);
    server.finish();
}

TEST_F(FtpScripted, SilentServerIsGivenUpAfterTheTimeout)
{
    ftp_set_timeout(1000);
    ScriptedServer server;
    server.run([](ServerSide &side) { side.hear(SERVER_PATIENCE_MS); });
    CaptureStderr();
    DWORD start = GetTickCount();
    ftp_socket s = ftp_connect(server.address().c_str(), "kirodata", "4monbek");
    DWORD elapsed = GetTickCount() - start;
    EXPECT_FALSE(ftp_login_accepted());
    EXPECT_EQ(0, ftp_login_status());
    if (s >= 0)
        ftp_quit(s);
    GetCapturedStderr();
    EXPECT_GE(elapsed, 900u);
    EXPECT_LT(elapsed, 1000 + LOADED_MACHINE_ROOM_MS);
    server.finish();
}

TEST_F(FtpScripted, ReplyWithoutEndIsGivenUpAfterItsLinesOrItsTime)
{
    ftp_set_timeout(1500);
    /* Each script sends until the client has gone, and at most so long
       that a client without the bounds would still end: with a final
       line after every byte arrived, or with more lines than the bound. */
    struct Case {
        const char *name;
        int lines_read;   /* continuation lines read before giving up */
        std::function<void(ServerSide &)> script;
    };
    const Case cases[] = {
        { "continuation lines without end", FTP_REPLY_MAX_LINES,
          [](ServerSide &side) {
              for (int i = 0; i < 3 * FTP_REPLY_MAX_LINES; i++)
                  if (send(side.control, "220-more\r\n", 10, 0) != 10)
                      break;
              side.hear(8000);
          } },
        { "a line sent one byte at a time", 0,
          [](ServerSide &side) {
              for (const char *c = "220 Ready after a long while\r\n"; *c; c++) {
                  if (send(side.control, c, 1, 0) != 1)
                      break;
                  Sleep(300);   /* each byte well within the time-out */
              }
              side.hear(8000);
          } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server;
        server.run(c.script);
        SOCKET s = connect_loopback(server.port);
        ASSERT_NE(INVALID_SOCKET, s);
        CaptureStderr();
        DWORD start = GetTickCount();
        int code = ftp_get_reply((ftp_socket)s);
        DWORD elapsed = GetTickCount() - start;
        int after = ftp_command((ftp_socket)s, "NOOP");
        std::string trace = GetCapturedStderr();
        EXPECT_EQ(0, code) << "no final line came, and a line cut off is none";
        EXPECT_EQ(-1, after) << "the connection is given up";
        EXPECT_GE(elapsed, c.lines_read ? 0u : 1400u);
        int lines = 0;
        for (size_t at = trace.find("< 220-more\n"); at != std::string::npos; at = trace.find("< 220-more\n", at + 1))
            lines++;
        EXPECT_EQ(c.lines_read, lines);
        closesocket(s);
        server.finish();
    }
}

TEST_F(FtpScripted, ServerSilentAfterTheDataEndsTheUploadAsFailed)
{
    ftp_set_timeout(1500);
    DWORD start = GetTickCount();
    UploadScript script;
    script.silent_after_data = true;
    UploadRun run = upload("abc", script);
    EXPECT_EQ(-1, run.result);
    EXPECT_EQ("abc", run.received);
    EXPECT_LT(GetTickCount() - start, 1500 + LOADED_MACHINE_ROOM_MS);
}

TEST_F(FtpScripted, ServerThatStopsReadingTheDataIsGivenUpAfterTheTimeout)
{
    ftp_set_timeout(1000);
    std::string dir = make_scratch_dir("ftp_stalled");
    std::string local = dir + "\\big.zip";
    ASSERT_TRUE(write_file(local, std::string(32 * 1024 * 1024, 'k')));
    ScriptedServer server;
    server.run([](ServerSide &side) {
        greet_and_login(side);
        if (side.hear() != "PASV" || !side.open_data_port())
            return;
        side.say(passive_reply("127,0,0,1", side.data_port));
        side.hear();   /* STOR */
        SOCKET data = side.accept_data();
        side.say("150 Ok\r\n");
        side.hear(SERVER_PATIENCE_MS);   /* the data are never read */
        closesocket(data);
    });
    ftp_socket s = ftp_connect(server.address().c_str(), "kirodata", "4monbek");
    ASSERT_GE(s, 0);
    CaptureStderr();
    DWORD start = GetTickCount();
    EXPECT_EQ(-1, ftp_put(NULL, s, local.c_str(), "big.zip"));
    DWORD elapsed = GetTickCount() - start;
    GetCapturedStderr();
    EXPECT_GE(elapsed, 900u);
    EXPECT_LT(elapsed, 1000 + LOADED_MACHINE_ROOM_MS);
    ftp_quit(s);
    server.finish();
    remove_tree(dir);
}

TEST_F(FtpScripted, RefusedConnectionIsTracedAndFails)
{
    ScriptedServer server;  /* reserves a port, then frees it unused */
    std::string address = server.address();
    closesocket(server.listener);
    server.listener = INVALID_SOCKET;
    CaptureStderr();
    EXPECT_EQ(-1, ftp_connect(address.c_str(), "kirodata", "4monbek"));
    std::string trace = GetCapturedStderr();
    EXPECT_EQ(0u, trace.find("connect: ")) << trace;
    EXPECT_NE(std::string::npos, trace.find("(10061)\n")) << trace;
    EXPECT_FALSE(ftp_login_accepted());
}

TEST_F(FtpScripted, BadPortInHostNameFailsWithoutConnecting)
{
    CaptureStderr();
    EXPECT_EQ(-1, ftp_connect("127.0.0.1:abc", "kirodata", "4monbek"));
    EXPECT_EQ(-1, ftp_connect("127.0.0.1:70000", "kirodata", "4monbek"));
    EXPECT_EQ(-1, ftp_connect("127.0.0.1:", "kirodata", "4monbek"));
    EXPECT_EQ("", GetCapturedStderr());
}

/* A resolver that does not answer until the test lets it go, as a name
   server out of reach does not. */
static HANDLE g_resolver_released, g_resolver_ended;
static int unanswering_resolver(const char *name, struct in_addr *address)
{
    WaitForSingleObject(g_resolver_released, 20000);
    SetEvent(g_resolver_ended);
    return WSAHOST_NOT_FOUND;
}

TEST_F(FtpScripted, HostNamesAreResolvedWithinTheTimeout)
{
    ScriptedServer server;
    server.run(login_then_quit);
    std::string address = server.address();
    std::string by_name = "localhost" + address.substr(address.find(':'));
    ftp_socket s = ftp_connect(by_name.c_str(), "kirodata", "4monbek");
    ASSERT_GE(s, 0);
    EXPECT_TRUE(ftp_login_accepted());
    ftp_quit(s);
    server.finish();

    ftp_set_timeout(500);
    g_resolver_released = CreateEventA(NULL, TRUE, FALSE, NULL);
    g_resolver_ended = CreateEventA(NULL, TRUE, FALSE, NULL);
    set_host_resolver(unanswering_resolver);
    DWORD start = GetTickCount();
    EXPECT_EQ(-1, ftp_connect("support.kiro.example", "kirodata", "4monbek"));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(WSAETIMEDOUT, errno);
    EXPECT_GE(elapsed, 450u);
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(g_resolver_ended, 0))
        << "the connect did not wait for the resolver";
    set_host_resolver(NULL);
    SetEvent(g_resolver_released);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(g_resolver_ended, 10000));
    CloseHandle(g_resolver_released);
    CloseHandle(g_resolver_ended);
}
