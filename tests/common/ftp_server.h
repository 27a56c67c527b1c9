/*
 * A real FTP server for the tests: Debian's pyftpdlib, started on a
 * loopback port of the system's choice with write access to one folder and
 * one account, and stopped again when the object goes. Only 127.0.0.1 is
 * ever used.
 */
#ifndef KIRO_TEST_FTP_SERVER_H
#define KIRO_TEST_FTP_SERVER_H

#include <string>

/* A TCP port on 127.0.0.1 that refuses connections: bound by this program
   without listening until it ends, so nothing else can take it. Needs
   Windows Sockets initialised. */
int free_loopback_port();

struct FtpServer {
    int port = 0;
    std::string root;      /* Windows path of the served folder */
    std::string pid_file;  /* Unix path */
    std::string log_file;  /* Windows path of the server's own output */

    /* Starts the server on root and waits until it accepts connections;
       false when it did not come up within 15 seconds. A server that is
       not writable refuses every upload. */
    bool start(const std::string &root_dir, const char *user = "kirodata",
               const char *password = "4monbek", bool writable = true);
    void stop();
    /* "127.0.0.1:port" */
    std::string address() const;
    ~FtpServer() { stop(); }
};

#endif
