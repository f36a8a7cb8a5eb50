#pragma once
// Windows Sockets as the panel uses them, on the system's BSD sockets: the socket calls keep
// their names (socket, sendto, gethostname, getaddrinfo ...); this adds the Windows-only parts.

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "win32/Types.h"

using SOCKET = int;
inline constexpr SOCKET INVALID_SOCKET = -1;
inline constexpr int SOCKET_ERROR = -1;

#define MAKEWORD(low, high) \
    static_cast<WORD>((static_cast<WORD>(low) & 0xFF) | ((static_cast<WORD>(high) & 0xFF) << 8))

struct WSADATA
{
    WORD wVersion;
    WORD wHighVersion;
};
using LPWSADATA = WSADATA*;

// Always succeeds for versions up to 2.2, the one the layer offers.
int WINAPI WSAStartup(WORD versionRequested, LPWSADATA data);
int WINAPI WSACleanup();
// The error of the calling thread's last failed socket call.
int WINAPI WSAGetLastError();
int WINAPI closesocket(SOCKET s);
