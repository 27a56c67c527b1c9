/*
 * Test certificates and the FTPS server of the tests (see ftps_server.h).
 * The server runs as a Unix background process started through the
 * driver's run_unix; its process id goes into a file so that exactly that
 * process is stopped.
 */
#include <windows.h>

#include "ftps_server.h"
#include "authority.h"
#include "driver.h"
#include "test_support.h"

#include <stdlib.h>

bool TestCertificates::make(const char *name, bool strangers)
{
    dir = make_scratch_dir(name);
    if (!make_authority(dir, "authority") ||
        !issue_certificate(dir, "authority", "server", "DNS:127.0.0.1,IP:127.0.0.1,DNS:localhost"))
        return false;
    if (strangers && (!make_authority(dir, "unknown") ||
                      !issue_certificate(dir, "unknown", "stranger", "DNS:127.0.0.1,IP:127.0.0.1") ||
                      !issue_certificate(dir, "authority", "other_name", "DNS:support.example")))
        return false;
    thumbprint = trust_authority(dir + "\\authority.pem");
    return !thumbprint.empty();
}

TestCertificates::~TestCertificates()
{
    if (!thumbprint.empty())
        distrust_authority(thumbprint);
}

static std::string quoted(const std::string &windows)
{
    return "'" + unix_path(windows) + "'";
}

bool FtpsServer::launch(const std::string &work_dir, const std::string &command)
{
    stop();
    work = work_dir;
    make_dirs(work);
    std::string port_file = work + "\\port";
    DeleteFileA(port_file.c_str());
    DeleteFileA((work + "\\heard").c_str());
    pid_file = unix_path(work) + "/pid";
    if (run_unix("cd / && nohup /usr/bin/python3 " + command + " " + quoted(port_file) + " " +
                 quoted(work + "\\heard") + " >" + quoted(work + "\\output") +
                 " 2>&1 </dev/null & echo $! >'" + pid_file + "'") != 0)
        return false;
    for (int waited = 0; waited < 15000; waited += 100) {
        port = atoi(read_file(port_file).c_str());
        if (port > 0)
            return true;
        Sleep(100);
    }
    stop();
    return false;
}

bool FtpsServer::start(const std::string &root_dir, const std::string &certificate,
                       const std::string &key, const char *password, const std::string &options)
{
    root = root_dir;
    std::string tls = certificate.empty() ? ""
                                          : " --cert " + quoted(certificate) + " --key " + quoted(key);
    return launch(root_dir + "_ftps", "'" KIRO_SOURCE_DIR "/tools/ftps_server.py' " + quoted(root) +
                                          tls + " --password " + password + " " + options);
}

void FtpsServer::stop()
{
    if (pid_file.empty())
        return;
    end_unix_process(pid_file);
    pid_file.clear();
    port = 0;
}

std::string FtpsServer::address() const
{
    return "127.0.0.1:" + std::to_string(port);
}

std::vector<std::string> FtpsServer::heard() const
{
    std::vector<std::string> lines;
    std::string text = read_file(work + "\\heard");
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

std::string FtpsServer::output() const
{
    return read_file(work + "\\output");
}
