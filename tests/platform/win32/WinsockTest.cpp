#include <gtest/gtest.h>

#include "winsock2.h"

namespace {

TEST(Winsock, StartupOffersVersionTwoTwo)
{
    const struct
    {
        WORD requested;
        int result;
        WORD granted;
    } cases[] = {
        {MAKEWORD(2, 2), 0, MAKEWORD(2, 2)},
        {MAKEWORD(1, 1), 0, MAKEWORD(1, 1)},
        {MAKEWORD(3, 0), 0, MAKEWORD(2, 2)},
        {MAKEWORD(0, 5), 10092, 0},
    };
    for (const auto& c : cases) {
        WSADATA data{};
        EXPECT_EQ(WSAStartup(c.requested, &data), c.result);
        EXPECT_EQ(data.wVersion, c.granted);
    }
    EXPECT_NE(WSAStartup(MAKEWORD(2, 2), nullptr), 0);
    EXPECT_EQ(WSACleanup(), 0);
}

TEST(Winsock, FailedCallsReportTheirError)
{
    EXPECT_EQ(sendto(INVALID_SOCKET, "x", 1, 0, nullptr, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), EBADF);
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    ASSERT_NE(s, INVALID_SOCKET);
    EXPECT_EQ(closesocket(s), 0);
}

}  // namespace
