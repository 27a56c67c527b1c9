/*
 * A scripted FTP server of the tests' own: a thread that accepts one
 * control connection on 127.0.0.1 and plays a script written by the test,
 * saying exact reply lines and recording every line it hears, so that the
 * client's handling of unusual replies can be checked byte for byte. It can
 * also open a passive data port on 127.0.0.1 and collect an upload, or cut
 * it off with a reset. A script marks the steps it reaches, so that a test
 * can tell a client that failed in the scenario from a script that gave up
 * before it.
 */
#ifndef KIRO_SCRIPTED_SERVER_H
#define KIRO_SCRIPTED_SERVER_H

#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ServerSide;

struct ScriptedServer {
    ScriptedServer();
    ~ScriptedServer();
    /* Runs script on the first accepted connection, in its own thread. */
    void run(std::function<void(ServerSide &)> script);
    /* Waits for the script to end (at most 20 s). */
    void finish();
    std::vector<std::string> heard();    /* every line received, in order */
    std::string reached();               /* the last step the script marked */
    std::string address() const;        /* "127.0.0.1:port" */

    SOCKET listener;
    int port;
    std::thread worker;
    std::mutex lock;
    std::vector<std::string> lines;
    std::string step;
    bool accepted;
};

struct ServerSide {
    ScriptedServer *server;
    SOCKET control;
    SOCKET data_listener;
    int data_port;

    void say(const std::string &text);          /* sent as is */
    /* The next line without CR LF; "" when the client closed or 10 s
       passed (closed is then set, and hung_up when it was the client). */
    std::string hear(int timeout_ms = 10000);
    bool closed;
    bool hung_up;
    void reach(const std::string &step);        /* marks how far the script got */
    /* Opens a listening data port on 127.0.0.1 (data_port). */
    bool open_data_port();
    /* The data connection, or INVALID_SOCKET when none came within
       timeout_ms. */
    SOCKET accept_data(int timeout_ms = 10000);
    /* Accepts the data connection, says preliminary on the control
       connection, and reads the data to their end, or only the first
       cut_after bytes (when not 0) before the connection is reset; false
       when no data connection came within timeout_ms. */
    bool receive_upload(std::string &content, const std::string &preliminary,
                        int timeout_ms = 10000, size_t cut_after = 0);
    void close_control();
};

/* A client socket connected to port on 127.0.0.1, or INVALID_SOCKET. */
SOCKET connect_loopback(int port);

#endif
