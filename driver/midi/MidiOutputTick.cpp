#include "MidiOutputTick.h"

#include "MidiBytes.h"
#include "MidiRouter.h"
#include "UsbMidiCodec.h"
#include "audio/DriverResult.h"

namespace {

constexpr LONG kRemainderUnit = 10000000;

bool HasRate(const MidiPortThrottle* throttle)
{
    return throttle != nullptr && (throttle->wholePerMs != 0 || throttle->remainderPerMs != 0);
}

// One millisecond of the port's rate is taken off its backlog.
void DrainOneMillisecond(MidiPortThrottle* throttle)
{
    if (throttle->backlog <= 0 && throttle->backlogRemainder <= 0) {
        return;
    }
    throttle->backlog -= static_cast<LONG>(throttle->wholePerMs);
    throttle->backlogRemainder -= static_cast<LONG>(throttle->remainderPerMs);
    if (throttle->backlogRemainder < 0) {
        throttle->backlogRemainder += kRemainderUnit;
        throttle->backlog -= 1;
    }
    if (throttle->backlog < 0) {
        throttle->backlog = 0;
        throttle->backlogRemainder = 0;
    }
}

}  // namespace

void SetMidiPortThrottle(MidiPortThrottle* throttle, ULONG bytesPerSecond)
{
    const ULONGLONG scaled = static_cast<ULONGLONG>(bytesPerSecond) * 10000;
    throttle->wholePerMs = static_cast<ULONG>(scaled / kRemainderUnit);
    throttle->remainderPerMs = static_cast<ULONG>(scaled % kRemainderUnit);
    throttle->backlog = 0;
    throttle->backlogRemainder = 0;
}

LONG RunMidiOutputTick(MidiOutputPorts* ports, UsbMidiCodec* codec, MidiRouter* router,
                       LONGLONG now, MidiOutSink* sink)
{
    LONG result = 0;
    if (ports->portCount > 0) {
        const LONGLONG deadline = now + kMidiOutputLookAhead;
        const ULONG pending = sink->PendingOutTransfers();
        const ULONG freeSlots =
            pending >= kMaxPendingMidiOutTransfers ? 0 : kMaxPendingMidiOutTransfers - pending;
        ULONG slotsUsed = 0;
        const ULONG first = ports->lastServed + 1;
        for (ULONG visit = 0; visit < ports->portCount; ++visit) {
            const ULONG port = (first + visit) % ports->portCount;
            MidiPortThrottle* throttle =
                ports->throttles != nullptr ? &ports->throttles[port] : nullptr;
            if (!HasRate(throttle)) {
                throttle = nullptr;
            } else {
                DrainOneMillisecond(throttle);
            }
            if (slotsUsed >= freeSlots) {
                continue;
            }
            ports->lastServed = port;
            for (;;) {
                if (throttle != nullptr && throttle->backlog > kMidiPortBacklogLimit) {
                    break;
                }
                if (port >= codec->QueueCount()) {
                    result = E_INVALIDARG;
                    break;
                }
                if (router == nullptr || !router->AnyClientOpen()) {
                    result = -1;
                    break;
                }
                if (!sink->CanTakeMidiOutPacket()) {
                    slotsUsed = freeSlots;  // no room for a transfer: the next tick tries again
                    break;
                }
                UsbMidiPacket packet = {};
                LONGLONG wait = 0;
                result = codec->NextMidiOutPacket(port, deadline, &packet, &wait);
                if (result < 0 || packet.bytes[0] == kNoPacket) {
                    break;
                }
                const LONG put = sink->PutMidiOutPacket(&packet, port);
                if (put >= 0) {
                    slotsUsed += static_cast<ULONG>(put);
                }
                if (throttle != nullptr) {
                    throttle->backlog += static_cast<LONG>(MidiBytesForCin(packet.bytes[0]));
                }
                if (wait != 0 || slotsUsed >= freeSlots) {
                    break;
                }
            }
        }
    }
    sink->FlushMidiOut();
    return result;
}
