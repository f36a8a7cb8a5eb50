#include "MidiOutTransfer.h"

bool AppendMidiOutPacket(MidiOutTransfer* transfer, const UsbMidiPacket* packet, ULONG port)
{
    UCHAR* out = transfer->buffer + transfer->byteCount;
    out[0] = static_cast<UCHAR>(((port & 0x0F) << 4) | (packet->bytes[0] & 0x0F));
    out[1] = packet->bytes[1];
    out[2] = packet->bytes[2];
    out[3] = packet->bytes[3];
    transfer->byteCount += kUsbMidiPacketSize;
    return transfer->capacity - transfer->byteCount < kUsbMidiPacketSize;
}
