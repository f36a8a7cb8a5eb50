#include "System/DebugDatagram.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <string>

namespace Orv {
namespace {

constexpr int kHostNameBytes = 64;

// One channel per process, used from the user-interface thread only.
SOCKET debugSocket = INVALID_SOCKET;
sockaddr_in debugDestination{};

bool ResolveIPv4(const char* name, in_addr& address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (name == nullptr || getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

// The address the datagrams go to, in dotted form.
std::string ChooseAddress(const char* host)
{
    in_addr address{};
    if (ResolveIPv4(host, address)) {
        char text[INET_ADDRSTRLEN] = {};
        return inet_ntop(AF_INET, &address, text, sizeof text);
    }
    char ownName[kHostNameBytes] = {};
    // A name that fills the buffer is not terminated: the last byte is kept as the terminator.
    if (gethostname(ownName, sizeof ownName - 1) == 0 && ResolveIPv4(ownName, address)) {
        char text[INET_ADDRSTRLEN] = {};
        return inet_ntop(AF_INET, &address, text, sizeof text);
    }
    return "127.0.0.1";
}

void SendText(const char* text)
{
    const size_t length = std::strlen(text);
    if (sendto(debugSocket, text, length, 0, reinterpret_cast<const sockaddr*>(&debugDestination),
               sizeof debugDestination) == SOCKET_ERROR) {
        (void)WSAGetLastError();  // debug output never fails
    }
}

void SetUpChannel(const char* host, int port)
{
    WSADATA data{};
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return;
    }
    const std::string address = ChooseAddress(host);
    debugDestination = {};
    debugDestination.sin_family = AF_INET;
    debugDestination.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &debugDestination.sin_addr);
    debugSocket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (debugSocket == INVALID_SOCKET) {
        return;
    }
    SendText("*** APPLICATION Launched on ");
    SendText(address.c_str());
    SendText("***\n");
}

}  // namespace

void SendDebugDatagram(const char* host, int port, const char* text)
{
    if (port < 1 || port > 65535) {
        return;
    }
    if (debugSocket == INVALID_SOCKET) {
        SetUpChannel(host, port);
        if (debugSocket == INVALID_SOCKET) {
            return;
        }
    }
    if (text != nullptr && *text != '\0') {
        SendText(text);
    }
}

}  // namespace Orv
