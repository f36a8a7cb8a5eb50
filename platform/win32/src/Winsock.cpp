#include <cerrno>

#include "winsock2.h"

namespace {
constexpr WORD kOfferedVersion = MAKEWORD(2, 2);
// A reported error code for a version the layer does not offer.
constexpr int kVersionNotSupported = 10092;
}  // namespace

int WINAPI WSAStartup(WORD versionRequested, LPWSADATA data)
{
    const WORD major = versionRequested & 0xFF;
    if (data == nullptr || major < 1) {
        return kVersionNotSupported;
    }
    data->wVersion = major > 2 ? kOfferedVersion : versionRequested;
    data->wHighVersion = kOfferedVersion;
    return 0;
}

int WINAPI WSACleanup()
{
    return 0;
}

int WINAPI WSAGetLastError()
{
    return errno;
}

int WINAPI closesocket(SOCKET s)
{
    return close(s);
}
