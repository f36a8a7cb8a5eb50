#include "System/DebugOutput.h"

#include <windows.h>

#include <string>

#include "System/DebugDatagram.h"
#include "System/WideText.h"

namespace Orv {

DebugLogTarget::DebugLogTarget() : narrowOutput(&narrowStream), wideOutput(&wideStream) {}

DebugLogTarget::~DebugLogTarget()
{
    narrowStream.rdbuf()->SendPending();
    wideStream.rdbuf()->SendPending();
}

DebugLogTarget& GetDebugLogTarget()
{
    static DebugLogTarget target;
    return target;
}

void SetDebugTarget(const char* host, int port)
{
    DebugLogTarget& target = GetDebugLogTarget();
    if (host != nullptr) {
        target.host = host;
    }
    target.port = port;
}

namespace Detail {
namespace {

const char* DatagramHost(const DebugLogTarget& target)
{
    return target.host.empty() ? nullptr : target.host.c_str();
}

// Checked here, where the port is used: the application may write it directly.
bool ToDebugger(const DebugLogTarget& target)
{
    return target.port < 1 || target.port > 65535;
}

}  // namespace

void SendDebugText(std::string_view text)
{
    const DebugLogTarget& target = GetDebugLogTarget();
    const std::string terminated(text);
    if (ToDebugger(target)) {
        OutputDebugStringA(terminated.c_str());
    } else {
        SendDebugDatagram(DatagramHost(target), target.port, terminated.c_str());
    }
}

void SendDebugText(std::wstring_view text)
{
    const DebugLogTarget& target = GetDebugLogTarget();
    if (ToDebugger(target)) {
        OutputDebugStringW(WideTextToUtf16(text).c_str());
    } else {
        SendDebugDatagram(DatagramHost(target), target.port, WideTextToUtf8(text).c_str());
    }
}

}  // namespace Detail
}  // namespace Orv
