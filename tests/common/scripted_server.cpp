/*
 * The scripted FTP server of the tests (see scripted_server.h).
 */
#include "scripted_server.h"

#include <string.h>

static SOCKET listen_loopback(int *port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return s;
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    if (bind(s, (struct sockaddr *)&address, sizeof address) != 0 || listen(s, 1) != 0 ||
        getsockname(s, (struct sockaddr *)&address, &size) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    *port = ntohs(address.sin_port);
    return s;
}

static bool readable(SOCKET s, int timeout_ms)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    struct timeval limit = { timeout_ms / 1000, (timeout_ms % 1000) * 1000 };
    return select(0, &set, NULL, NULL, &limit) > 0;
}

static SOCKET accept_within(SOCKET listener, int timeout_ms)
{
    if (listener == INVALID_SOCKET || !readable(listener, timeout_ms))
        return INVALID_SOCKET;
    return accept(listener, NULL, NULL);
}

SOCKET connect_loopback(int port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons((u_short)port);
    if (connect(s, (struct sockaddr *)&address, sizeof address) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

ScriptedServer::ScriptedServer() : port(0), accepted(false)
{
    listener = listen_loopback(&port);
}

ScriptedServer::~ScriptedServer()
{
    finish();
    if (listener != INVALID_SOCKET)
        closesocket(listener);
}

void ScriptedServer::run(std::function<void(ServerSide &)> script)
{
    worker = std::thread([this, script]() {
        SOCKET control = accept_within(listener, 20000);
        if (control == INVALID_SOCKET)
            return;
        accepted = true;
        ServerSide side = { this, control, INVALID_SOCKET, 0, false, false };
        script(side);
        if (side.control != INVALID_SOCKET)
            closesocket(side.control);
        if (side.data_listener != INVALID_SOCKET)
            closesocket(side.data_listener);
    });
}

void ScriptedServer::finish()
{
    if (worker.joinable())
        worker.join();
}

std::vector<std::string> ScriptedServer::heard()
{
    std::lock_guard<std::mutex> guard(lock);
    return lines;
}

std::string ScriptedServer::reached()
{
    std::lock_guard<std::mutex> guard(lock);
    return step;
}

void ServerSide::reach(const std::string &step)
{
    std::lock_guard<std::mutex> guard(server->lock);
    server->step = step;
}

std::string ScriptedServer::address() const
{
    return "127.0.0.1:" + std::to_string(port);
}

void ServerSide::say(const std::string &text)
{
    size_t sent = 0;
    while (sent < text.size()) {
        int n = send(control, text.data() + sent, (int)(text.size() - sent), 0);
        if (n <= 0)
            return;
        sent += (size_t)n;
    }
}

std::string ServerSide::hear(int timeout_ms)
{
    std::string line;
    for (;;) {
        if (!readable(control, timeout_ms)) {
            closed = true;
            return "";
        }
        char c;
        if (recv(control, &c, 1, 0) != 1) {
            closed = true;
            hung_up = true;
            return "";
        }
        if (c == '\n')
            break;
        if (c != '\r')
            line += c;
    }
    std::lock_guard<std::mutex> guard(server->lock);
    server->lines.push_back(line);
    return line;
}

bool ServerSide::open_data_port()
{
    data_listener = listen_loopback(&data_port);
    return data_listener != INVALID_SOCKET;
}

SOCKET ServerSide::accept_data(int timeout_ms)
{
    return accept_within(data_listener, timeout_ms);
}

bool ServerSide::receive_upload(std::string &content, const std::string &preliminary,
                                int timeout_ms, size_t cut_after)
{
    SOCKET data = accept_data(timeout_ms);
    if (data == INVALID_SOCKET)
        return false;
    say(preliminary);
    char buffer[8192];
    while (readable(data, timeout_ms)) {
        int wanted = (int)sizeof buffer;
        if (cut_after && cut_after - content.size() < sizeof buffer)
            wanted = (int)(cut_after - content.size());
        int n = recv(data, buffer, wanted, 0);
        if (n <= 0)
            break;
        content.append(buffer, (size_t)n);
        if (cut_after && content.size() == cut_after) {
            /* Closed at once, unread bytes and all: a reset. */
            struct linger at_once = { 1, 0 };
            setsockopt(data, SOL_SOCKET, SO_LINGER, (const char *)&at_once, sizeof at_once);
            break;
        }
    }
    closesocket(data);
    return true;
}

void ServerSide::close_control()
{
    closesocket(control);
    control = INVALID_SOCKET;
}
