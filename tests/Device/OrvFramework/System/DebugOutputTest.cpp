#include "System/DebugOutput.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "System/DebugDatagram.h"
#include "UdpListener.h"
#include "Win32Test/ConsoleState.h"
#include "Win32Test/DebugOutputSink.h"

namespace {

using Texts = std::vector<std::string>;
using Win32Test::TakeDebugOutput;

const std::string kBanner = "*** APPLICATION Launched on ";

// The channel and its socket are process-wide and fixed once set up, so every test that changes
// them runs its body in a child process (RunInChild).

bool IsDottedIPv4(const std::string& text)
{
    in_addr address{};
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

class DebugChannel : public ::testing::Test
{
protected:
    void SetUp() override { TakeDebugOutput(); }
    Orv::DebugLogTarget& target = Orv::GetDebugLogTarget();
};

TEST_F(DebugChannel, StartsOnItsOwnStreamsAimedAtTheDebugger)
{
    EXPECT_EQ(target.narrowOutput, &target.narrowStream);
    EXPECT_EQ(target.wideOutput, &target.wideStream);
    EXPECT_TRUE(target.host.empty());
    EXPECT_EQ(target.port, -1);
}

TEST_F(DebugChannel, AFlushedLineReachesTheDebuggerOnceAndEmptiesTheBuffer)
{
    *target.narrowOutput << "line " << 42 << "\n" << std::flush;
    EXPECT_EQ(TakeDebugOutput(), (Texts{"line 42\n"}));
    EXPECT_TRUE(target.narrowStream.rdbuf()->str().empty());
    *target.wideOutput << L"wide \u20ac " << 7 << std::flush;
    EXPECT_EQ(TakeDebugOutput(), (Texts{"wide \xE2\x82\xAC 7"}));
}

TEST_F(DebugChannel, ABlockLeavesInPiecesOfAtMost1023Characters)
{
    std::string block;
    for (int i = 0; i < 3000; ++i) {
        block += static_cast<char>('a' + i % 26);
    }
    target.narrowStream.write(block.data(), static_cast<std::streamsize>(block.size()));
    // Two full pieces have left before any flush.
    const Texts early = TakeDebugOutput();
    ASSERT_EQ(early.size(), 2u);
    EXPECT_EQ(early[0], block.substr(0, 1023));
    EXPECT_EQ(early[1], block.substr(1023, 1023));
    target.narrowStream.flush();
    EXPECT_EQ(TakeDebugOutput(), (Texts{block.substr(2046)}));

    const std::wstring wide(1500, L'\u00e9');
    target.wideStream << wide << std::flush;
    const Texts pieces = TakeDebugOutput();
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].size(), 2u * 1023);
    EXPECT_EQ(pieces[1].size(), 2u * (1500 - 1023));
}

TEST_F(DebugChannel, PendingTextIsSentWhenTheStreamGoes)
{
    {
        Orv::basic_dostream<char> stream;
        stream << "unflushed";
        EXPECT_TRUE(TakeDebugOutput().empty());
    }
    EXPECT_EQ(TakeDebugOutput(), (Texts{"unflushed"}));
    {
        Orv::basic_dostream<wchar_t> idle;
    }
    EXPECT_TRUE(TakeDebugOutput().empty());
}

TEST_F(DebugChannel, DatagramsCarryTheBannerTheAddressAndEachFlushedText)
{
    UdpListener listener;
    const int status = RunInChild([&] {
        Orv::SetDebugTarget("127.0.0.1", listener.Port());
        Orv::DebugLogTarget& channel = Orv::GetDebugLogTarget();
        *channel.narrowOutput << "hello" << std::flush;
        *channel.narrowOutput << std::flush;  // empty: nothing
        const std::string block(3000, 'x');
        channel.narrowStream.write(block.data(), 3000);
        channel.narrowStream.flush();
        *channel.wideOutput << L"wide \u20ac" << std::flush;
        // The destination is fixed by the first setup.
        Orv::SetDebugTarget("127.0.0.2", listener.Port() == 65535 ? 65534 : listener.Port() + 1);
        *channel.narrowOutput << "still here" << std::flush;
        // Nothing went to the debugger.
        return TakeDebugOutput().empty();
    });
    EXPECT_EQ(status, 0);
    const Texts expected = {kBanner,
                            "127.0.0.1",
                            "***\n",
                            "hello",
                            std::string(1023, 'x'),
                            std::string(1023, 'x'),
                            std::string(954, 'x'),
                            "wide \xE2\x82\xAC",
                            "still here"};
    EXPECT_EQ(listener.Receive(), expected);
}

TEST_F(DebugChannel, WithoutAHostTheDatagramsGoToThisMachine)
{
    UdpListener listener;
    const int status = RunInChild([&] {
        Orv::SetDebugTarget(nullptr, listener.Port());
        *Orv::GetDebugLogTarget().narrowOutput << "text" << std::flush;
        return true;
    });
    EXPECT_EQ(status, 0);
    const Texts received = listener.Receive();
    ASSERT_EQ(received.size(), 4u);
    EXPECT_EQ(received[0], kBanner);
    EXPECT_TRUE(IsDottedIPv4(received[1])) << received[1];
    EXPECT_EQ(received[2], "***\n");
    EXPECT_EQ(received[3], "text");
}

TEST_F(DebugChannel, AnUnknownHostFallsBackToThisMachine)
{
    UdpListener listener;
    const int status = RunInChild([&] {
        Orv::SendDebugDatagram("no-such-host.invalid", listener.Port(), "");
        Orv::SendDebugDatagram(nullptr, listener.Port(), "after");
        return true;
    });
    EXPECT_EQ(status, 0);
    const Texts received = listener.Receive();
    ASSERT_EQ(received.size(), 4u);
    EXPECT_TRUE(IsDottedIPv4(received[1])) << received[1];
    EXPECT_EQ(received[3], "after");
}

TEST_F(DebugChannel, WithoutATargetNothingIsSentAndNothingFails)
{
    UdpListener listener;
    const int status = RunInChild([&] {
        // Ports that cannot be UDP ports leave the channel aimed at the debugger.
        for (const int port : {0, -1, 65536, 70000, listener.Port() + 65536}) {
            Orv::SetDebugTarget("127.0.0.1", port);
            Orv::SendDebugDatagram("127.0.0.1", port, "direct");
        }
        Orv::DebugLogTarget& channel = Orv::GetDebugLogTarget();
        *channel.narrowOutput << "to the debugger" << std::flush;
        return channel.host == "127.0.0.1" && TakeDebugOutput() == Texts{"to the debugger"};
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(listener.Receive().empty());
}

TEST_F(DebugChannel, APortOutsideTheUdpRangeTurnsDatagramsBackToTheDebugger)
{
    UdpListener listener;
    const int status = RunInChild([&] {
        Orv::DebugLogTarget& channel = Orv::GetDebugLogTarget();
        Orv::SetDebugTarget("127.0.0.1", listener.Port());
        *channel.narrowOutput << "over the network" << std::flush;
        bool allToDebugger = TakeDebugOutput().empty();
        // Through the setter, and written directly as the application does.
        const auto setters = {
            +[] { Orv::SetDebugTarget(nullptr, 0); },
            +[] { Orv::SetDebugTarget(nullptr, -1); },
            +[] { Orv::GetDebugLogTarget().port = -7; },
            +[] { Orv::GetDebugLogTarget().port = 65536; },
        };
        for (const auto set : setters) {
            Orv::SetDebugTarget(nullptr, listener.Port());
            set();
            *channel.narrowOutput << "narrow" << std::flush;
            *channel.wideOutput << L"wide" << std::flush;
            allToDebugger = allToDebugger && TakeDebugOutput() == Texts{"narrow", "wide"};
        }
        Orv::SetDebugTarget(nullptr, listener.Port());
        *channel.narrowOutput << "on again" << std::flush;
        return allToDebugger && TakeDebugOutput().empty();
    });
    EXPECT_EQ(status, 0);
    const Texts received = listener.Receive();
    ASSERT_EQ(received.size(), 5u);
    EXPECT_EQ(received[3], "over the network");
    EXPECT_EQ(received[4], "on again");
}

TEST_F(DebugChannel, TextPendingAtExitIsSentBeforeTheChannelGoes)
{
    UdpListener listener;
    const int status = RunInChild([&] {
        // A host name long enough to live on the heap: used after its destruction, the
        // sanitizer would stop the child.
        Orv::SetDebugTarget("localhost.localdomain.example.invalid", listener.Port());
        Orv::GetDebugLogTarget().narrowStream << "last words";
        std::exit(0);
        return false;
    });
    EXPECT_EQ(status, 0);
    const Texts received = listener.Receive();
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.back(), "last words");
}

TEST_F(DebugChannel, TheConsoleIsStderrForNarrowAndWideText)
{
    char pattern[] = "/tmp/console.XXXXXX";
    const int capture = mkstemp(pattern);
    ASSERT_GE(capture, 0);
    const int status = RunInChild([&] {
        dup2(capture, STDERR_FILENO);
        Orv::OpenDebugConsole();
        const Win32Test::ConsoleState console = Win32Test::GetConsoleState();
        Orv::DebugLogTarget& channel = Orv::GetDebugLogTarget();
        *channel.narrowOutput << "narrow ";
        *channel.wideOutput << L"wide \u20ac ";
        *channel.narrowOutput << "again" << std::flush;
        return console.open && console.bufferSize.Y == 500 && channel.narrowOutput == &std::cerr &&
               TakeDebugOutput().empty();
    });
    EXPECT_EQ(status, 0);
    std::ifstream in(pattern);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "narrow wide \xE2\x82\xAC again");
    close(capture);
    std::remove(pattern);
}

}  // namespace
