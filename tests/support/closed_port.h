#pragma once

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif
#include <string>

namespace tarvik::testing {

// A loopback URL that nothing listens on: the port was bound a moment ago, never listened on, and
// given back unused, so a connection to it is refused at once.
inline std::string RefusedLoopbackUrl(const std::string& path) {
#ifdef _WIN32
    // Winsock counts its users; this one ends with the function.
    struct Winsock {
        WSADATA data{};
        Winsock() { ::WSAStartup(MAKEWORD(2, 2), &data); }
        ~Winsock() { ::WSACleanup(); }
    } winsock;
    struct Socket {
        SOCKET fd = ::socket(AF_INET, SOCK_STREAM, 0);
        Socket() = default;
        Socket(const Socket&) = delete;
        Socket& operator=(const Socket&) = delete;
        ~Socket() {
            if (fd != INVALID_SOCKET)
                ::closesocket(fd);
        }
        bool valid() const { return fd != INVALID_SOCKET; }
    } socket;
    int length = sizeof(sockaddr_in);
#else
    struct Socket {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        Socket() = default;
        Socket(const Socket&) = delete;
        Socket& operator=(const Socket&) = delete;
        ~Socket() {
            if (fd >= 0)
                ::close(fd);
        }
        bool valid() const { return fd >= 0; }
    } socket;
    socklen_t length = sizeof(sockaddr_in);
#endif
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int port = 0;
    if (socket.valid() &&
        ::bind(socket.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(socket.fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

} // namespace tarvik::testing
