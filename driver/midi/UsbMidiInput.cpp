#include "UsbMidiInput.h"

#include "MidiRouter.h"
#include "UsbMidiPacket.h"

LONG DeliverUsbMidiTransfer(MidiRouter* router, ULONG generation, LONGLONG arrivalTime,
                            const UCHAR* data, ULONG length)
{
    if (router == nullptr) {
        return -1;
    }
    if (data == nullptr) {
        return 0;
    }
    const LONGLONG time = arrivalTime - kMidiInputOffset;
    LONG answer = 0;
    for (ULONG offset = 0; length - offset >= kUsbMidiPacketSize && offset < length;
         offset += kUsbMidiPacketSize) {
        const UCHAR header = data[offset];
        const UsbMidiPacket event = {{static_cast<UCHAR>(header & 0x0F), data[offset + 1],
                                      data[offset + 2], data[offset + 3]}};
        const LONG result = router->DeliverMidiInput(generation, time, header >> 4, &event);
        if (result < 0 && answer == 0) {
            answer = result;
        }
    }
    return answer;
}
