#pragma once

#include <httplib.h>

#include <stdexcept>
#include <string>
#include <thread>

namespace tarvik::testing {

// A cpp-httplib server on 127.0.0.1 with a free port, listening on its own thread for the
// object's lifetime. Routes are set on `server` before Start().
class LoopbackServer {
public:
    httplib::Server server;

    void Start() {
        port_ = server.bind_to_any_port("127.0.0.1");
        if (port_ <= 0)
            throw std::runtime_error("no loopback port to listen on");
        thread_ = std::thread([this] { server.listen_after_bind(); });
        // A stop() before the accept loop runs would be lost and the join would hang, so the
        // server is only handed out once it is running.
        while (!server.is_running())
            std::this_thread::yield();
    }
    ~LoopbackServer() { Stop(); }

    // Stops listening and waits for the handlers still running, so that an owner can end the
    // server before the state its handlers use goes away.
    void Stop() {
        server.stop();
        if (thread_.joinable())
            thread_.join();
    }

    int port() const { return port_; }
    std::string Origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string Url(const std::string& path) const { return Origin() + path; }

private:
    int port_ = 0;
    std::thread thread_;
};

} // namespace tarvik::testing
