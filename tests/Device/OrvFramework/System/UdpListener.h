#pragma once
// A UDP socket on an ephemeral port of every local address, for tests that receive datagrams.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

class UdpListener
{
public:
    UdpListener()
    {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~UdpListener() { close(fd); }
    UdpListener(const UdpListener&) = delete;
    UdpListener& operator=(const UdpListener&) = delete;

    int Port() const { return port; }

    // Every datagram that arrives until none has come for quietMs.
    std::vector<std::string> Receive(int quietMs = 300)
    {
        std::vector<std::string> datagrams;
        pollfd waiting{fd, POLLIN, 0};
        while (poll(&waiting, 1, quietMs) == 1) {
            std::string datagram(65536, '\0');
            const ssize_t n = recv(fd, datagram.data(), datagram.size(), 0);
            if (n < 0) {
                break;
            }
            datagram.resize(static_cast<size_t>(n));
            datagrams.push_back(std::move(datagram));
        }
        return datagrams;
    }

private:
    int fd = -1;
    int port = 0;
};
