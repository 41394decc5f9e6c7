#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvik::testing {

// A loopback URL that nothing listens on: the port was bound a moment ago, never listened on, and
// given back unused, so a connection to it is refused at once.
inline std::string RefusedLoopbackUrl(const std::string& path) {
    struct Socket {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        Socket() = default;
        Socket(const Socket&) = delete;
        Socket& operator=(const Socket&) = delete;
        ~Socket() {
            if (fd >= 0)
                ::close(fd);
        }
    } socket;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (socket.fd >= 0 &&
        ::bind(socket.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(socket.fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

} // namespace tarvik::testing
