/*
 * The pyftpdlib server of the tests (see ftp_server.h). The server runs as
 * a Unix background process started through the driver's run_unix, on a
 * port it binds itself and names in its log; its process id goes into a
 * file so that exactly that process is stopped.
 */
#include <winsock2.h>
#include <windows.h>

#include "ftp_server.h"
#include "scripted_server.h"
#include "driver.h"
#include "test_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int free_loopback_port()
{
    /* Bound but never listening, and kept so until the test program ends:
       a connection to it is refused, and no other program can take it in
       the meantime. */
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return 0;
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int port = 0;
    int size = sizeof address;
    if (bind(s, (struct sockaddr *)&address, sizeof address) == 0 &&
        getsockname(s, (struct sockaddr *)&address, &size) == 0)
        port = ntohs(address.sin_port);
    else
        closesocket(s);
    return port;
}

static bool accepts_connections(int port)
{
    SOCKET s = connect_loopback(port);
    if (s == INVALID_SOCKET)
        return false;
    /* Take the greeting so the server does not log a broken client. */
    char greeting[256];
    DWORD ms = 2000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&ms, sizeof ms);
    recv(s, greeting, sizeof greeting, 0);
    send(s, "QUIT\r\n", 6, 0);
    recv(s, greeting, sizeof greeting, 0);
    closesocket(s);
    return true;
}

/* The port in the server's own start-up line
   ">>> starting FTP server on 127.0.0.1:2121, pid=... <<<"; 0 while the
   line is not there yet. */
static int reported_port(const std::string &log)
{
    const std::string mark = "starting FTP server on 127.0.0.1:";
    size_t at = log.find(mark);
    if (at == std::string::npos)
        return 0;
    return atoi(log.c_str() + at + mark.size());
}

bool FtpServer::start(const std::string &root_dir, const char *user, const char *password,
                      bool writable)
{
    stop();
    port = 0;
    root = root_dir;
    std::string unix_root = unix_path(root_dir);
    log_file = root_dir + ".ftpd.log";
    pid_file = unix_path(root_dir) + ".ftpd.pid";
    DeleteFileA(log_file.c_str());
    /* The server binds a port of the system's choice and names it in its
       log: a port chosen here and bound later could be taken meanwhile. */
    std::string command = "cd / && nohup /usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p 0" +
                          std::string(writable ? " -w" : "") + " -d '" + unix_root + "' -u " + user +
                          " -P " + password + " >'" + unix_path(log_file) + "' 2>&1 </dev/null & echo $! >'" +
                          pid_file + "'";
    if (run_unix(command) != 0)
        return false;
    for (int waited = 0; waited < 15000; waited += 100) {
        if (port == 0)
            port = reported_port(read_file(log_file));
        if (port != 0 && accepts_connections(port))
            return true;
        Sleep(100);
    }
    fprintf(stderr, "ftp_server: pyftpdlib did not accept connections within 15 s; its log:\n%s\n",
            read_file(log_file).c_str());
    stop();
    return false;
}

void FtpServer::stop()
{
    if (pid_file.empty())
        return;
    end_unix_process(pid_file);
    pid_file.clear();
    port = 0;
}

std::string FtpServer::address() const
{
    return "127.0.0.1:" + std::to_string(port);
}
