#pragma once
// The trace channel for developers: a narrow and a wide output stream whose flushed text goes to
// the debugger (OutputDebugString) or, once a debug port is set, as UDP datagrams to a listening
// host (DebugDatagram.h). OpenDebugConsole points the channel at the console instead.
//
// The wide stream is the standard library's wide stream (wchar_t), so the console's wide stream
// can take its place; its text reaches the debugger as UTF-16 and the network as UTF-8.
//
// Not synchronised: the channel belongs to the user-interface thread; another thread that writes
// to it must serialise itself.

#include <algorithm>
#include <cstdint>
#include <ios>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>

namespace Orv {

namespace Detail {
// Send one flushed text where the channel points now.
void SendDebugText(std::string_view text);
void SendDebugText(std::wstring_view text);
}  // namespace Detail

// A string buffer whose sync sends the buffered text out and empties the buffer. Text written
// in blocks leaves in pieces of at most 1023 characters.
template <class Char>
class basic_debugbuf : public std::basic_stringbuf<Char>
{
    using Base = std::basic_stringbuf<Char>;

public:
    static constexpr std::streamsize kMaxPiece = 1023;

    basic_debugbuf() : Base(std::ios_base::out) {}
    ~basic_debugbuf() override { SendPending(); }

    // Sends what is buffered, if anything.
    void SendPending()
    {
        if (Pending() > 0) {
            sync();
        }
    }

protected:
    int sync() override
    {
        const std::basic_string<Char> text = this->str();
        Detail::SendDebugText(std::basic_string_view<Char>(text));
        this->str(std::basic_string<Char>());
        return 0;
    }

    std::streamsize xsputn(const Char* data, std::streamsize count) override
    {
        std::streamsize stored = 0;
        while (stored < count) {
            if (Pending() > kMaxPiece - 1) {
                sync();
            }
            const std::streamsize piece = std::min(kMaxPiece - Pending(), count - stored);
            Base::xsputn(data + stored, piece);
            stored += piece;
        }
        return count;
    }

private:
    std::streamsize Pending() const { return this->pptr() - this->pbase(); }
};

// An output stream over its own basic_debugbuf; destroying it sends any pending text.
template <class Char>
class basic_dostream : public std::basic_ostream<Char>
{
public:
    basic_dostream() : std::basic_ostream<Char>(nullptr), buffer(new basic_debugbuf<Char>())
    {
        this->init(buffer);
    }
    ~basic_dostream() override { delete buffer; }
    basic_dostream(const basic_dostream&) = delete;
    basic_dostream& operator=(const basic_dostream&) = delete;

    basic_debugbuf<Char>* rdbuf() const { return buffer; }

private:
    basic_debugbuf<Char>* buffer;
};

// The channel. One instance per process (GetDebugLogTarget).
struct DebugLogTarget
{
    DebugLogTarget();
    // Sends the streams' pending text while the target they read still exists.
    ~DebugLogTarget();
    DebugLogTarget(const DebugLogTarget&) = delete;
    DebugLogTarget& operator=(const DebugLogTarget&) = delete;

    basic_dostream<char> narrowStream;
    basic_dostream<wchar_t> wideStream;
    std::basic_ostream<char>* narrowOutput;   // where narrow traces are written
    std::basic_ostream<wchar_t>* wideOutput;  // where wide traces are written
    std::string host;                         // datagram receiver; empty = this machine
    int32_t port = -1;                        // UDP port; outside 1..65535 = to the debugger
};

DebugLogTarget& GetDebugLogTarget();

// Sets the datagram target: host when not null (an empty host means this machine), and port. A
// port outside 1..65535 (-1 by convention) aims the channel back at the debugger. The datagram
// destination is fixed by the first datagram sent; a later host or port does not move it.
void SetDebugTarget(const char* host, int port);

// Opens the process console (a screen buffer of 500 lines), makes the standard streams unbuffered
// and points the channel's current outputs at the console's error streams.
void OpenDebugConsole();

}  // namespace Orv
