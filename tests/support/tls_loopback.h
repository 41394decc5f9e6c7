#pragma once

#include <httplib.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace tarvik::testing {

// Server certificates for 127.0.0.1 made with the openssl tool in `folder`: an authority of the
// test's own (authority(), to be trusted instead of the system's), and certificates it signed
// that are good, already expired, or issued for another name, and one that signs itself.
class TestCertificates {
public:
    enum class Kind { Good, Expired, OtherHost, SelfSigned };

    explicit TestCertificates(std::filesystem::path folder) : folder_(std::move(folder)) {
        Run("req -x509 -newkey rsa:2048 -nodes -keyout " + Path("authority.key") + " -out " +
            Path("authority.pem") + " -days 30 -subj /CN=Test-Authority");
        Run("req -newkey rsa:2048 -nodes -keyout " + Path("server.key") + " -out " +
            Path("server.csr") + " -subj /CN=127.0.0.1");
        Sign("good", "IP:127.0.0.1", 30);
        // Valid until one day before it was made.
        Sign("expired", "IP:127.0.0.1", -1);
        Sign("other-host", "DNS:downloads.example.test", 30);
        Run("req -x509 -key " + Path("server.key") + " -out " + Path("self-signed.pem") +
            " -days 30 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1");
    }

    std::string authority() const { return Path("authority.pem"); }
    std::string key() const { return Path("server.key"); }
    std::string certificate(Kind kind) const {
        switch (kind) {
        case Kind::Good:
            return Path("good.pem");
        case Kind::Expired:
            return Path("expired.pem");
        case Kind::OtherHost:
            return Path("other-host.pem");
        case Kind::SelfSigned:
            return Path("self-signed.pem");
        }
        return {};
    }

private:
    std::string Path(const char* name) const { return (folder_ / name).string(); }
    static void Run(const std::string& arguments) {
        const std::string command = "openssl " + arguments + " >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("openssl failed: " + command);
    }
    void Sign(const char* name, const char* altName, int days) const {
        const std::string extensions = Path(name) + ".ext";
        Run("version >/dev/null && printf 'subjectAltName=" + std::string(altName) + "\\n' > " +
            extensions + " && openssl x509 -req -in " + Path("server.csr") + " -CA " +
            Path("authority.pem") + " -CAkey " + Path("authority.key") + " -CAcreateserial -out " +
            Path(name) + ".pem -days " + std::to_string(days) + " -extfile " + extensions);
    }

    std::filesystem::path folder_;
};

// A cpp-httplib HTTPS server on 127.0.0.1 with a free port, listening on its own thread for the
// object's lifetime. Routes are set on `server` before Start().
class TlsLoopbackServer {
public:
    TlsLoopbackServer(const std::string& certificate, const std::string& key)
        : server(certificate.c_str(), key.c_str()) {}
    httplib::SSLServer server;

    void Start() {
        if (!server.is_valid())
            throw std::runtime_error("the certificate or key could not be read");
        port_ = server.bind_to_any_port("127.0.0.1");
        if (port_ <= 0)
            throw std::runtime_error("no loopback port to listen on");
        thread_ = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running())
            std::this_thread::yield();
    }
    ~TlsLoopbackServer() {
        server.stop();
        if (thread_.joinable())
            thread_.join();
    }
    std::string Url(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    int port_ = 0;
    std::thread thread_;
};

} // namespace tarvik::testing
