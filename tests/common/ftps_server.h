/*
 * Explicit FTPS for the tests: certificates from a test authority that is
 * trusted in the build's prefix while the object lives, and
 * tools/ftps_server.py (pyftpdlib with its TLS handler) on 127.0.0.1,
 * requiring TLS on the control and the data connection, or plain when it
 * is given no certificate. The server logs every command it hears, so a
 * test can tell what reached it and whether it came encrypted.
 */
#ifndef KIRO_TEST_FTPS_SERVER_H
#define KIRO_TEST_FTPS_SERVER_H

#include <string>
#include <vector>

struct TestCertificates {
    std::string dir;          /* Windows path of the keys and certificates */
    std::string thumbprint;   /* of the trusted authority */
    /* Makes an authority, trusts it in the prefix and issues "server", a
       certificate for 127.0.0.1 (also named as a DNS name: Wine's name
       check reads only DNS names). With strangers, also "stranger" (for
       127.0.0.1, from an authority nobody trusts) and "other_name" (from
       the trusted authority, for another host). */
    bool make(const char *name, bool strangers = false);
    std::string pem(const char *certificate) const { return dir + "\\" + certificate + ".pem"; }
    std::string key(const char *certificate) const { return dir + "\\" + certificate + ".key"; }
    ~TestCertificates();
};

struct FtpsServer {
    int port = 0;
    std::string root;       /* Windows path of the served folder */
    std::string work;       /* Windows path: port file, command log, output */
    std::string pid_file;   /* Unix path */

    /* Starts the server on root with the certificate and key given (none:
       a plain server) and waits until it listens; false when it did not
       within 15 seconds. options: the misbehaviour of tools/ftps_server.py
       wanted ("--auth-ssl-only", "--cut-data-after N", "--size wrong"...). */
    bool start(const std::string &root_dir, const std::string &certificate = "",
               const std::string &key = "", const char *password = "4monbek",
               const std::string &options = "");
    /* Runs a server script (python3 command line, Unix paths) with a port
       file and a command log as its last two arguments, its output and
       both files in work_dir; waits until it has written its port. */
    bool launch(const std::string &work_dir, const std::string &command);
    void stop();
    std::string address() const;   /* "127.0.0.1:port" */
    /* The commands heard so far: "tls USER kirodata", "plain AUTH TLS"... */
    std::vector<std::string> heard() const;
    std::string output() const;    /* the server's own messages */
    ~FtpsServer() { stop(); }
};

#endif
