#include "MidiMessageCoding.h"

#include "MidiBytes.h"
#include "MidiNodePool.h"

namespace {

void AppendSegment(MidiMessageNode* node, const UCHAR* bytes, ULONG start, ULONG end,
                   MidiParseContext* context)
{
    if (end <= start) {
        return;
    }
    SysExSegment* segment = context->pool->TakeSegment(bytes, start, end);
    if (segment == nullptr) {
        context->outOfMemory = true;
        return;
    }
    SysExSegment** link = &node->sysEx;
    while (*link != nullptr) {
        link = &(*link)->next;
    }
    *link = segment;
    ++context->segmentsAdded;
}

LONG ParseSysEx(MidiMessageNode* node, const UCHAR* bytes, ULONG length, ULONG* position,
                MidiParseContext* context)
{
    ULONG start = *position;
    if (!IsSysExNode(node)) {
        if (bytes[start] != kSysExStart) {
            return kParseMalformed;
        }
        node->state = kNodeSysExOpen;
        ++*position;
    }
    while (*position < length) {
        const UCHAR value = bytes[*position];
        if (!IsStatusByte(value)) {
            ++*position;
            continue;
        }
        if (value == kSysExEnd) {
            ++*position;
            AppendSegment(node, bytes, start, *position, context);
            node->state &= ~kNodeSysExOpenBit;
            return kParseComplete;
        }
        AppendSegment(node, bytes, start, *position, context);
        if (IsRealTimeByte(value)) {
            return kParseNeedsMore;
        }
        // Another status byte cuts the SysEx: it goes out up to here, without an end byte.
        node->state &= ~kNodeSysExOpenBit;
        return kParseMalformed;
    }
    AppendSegment(node, bytes, start, *position, context);
    return kParseNeedsMore;
}

// A new message begins with this byte on an idle node.
LONG StartMessage(MidiMessageNode* node, UCHAR value, ULONG* position, MidiWriterState* writer)
{
    if (!IsStatusByte(value)) {
        if (writer->runningStatus != 0) {
            node->status = writer->runningStatus;
            node->state = kNodeFirstData;
            return kParseNeedsMore;  // the byte is read again as data
        }
        // A stray data byte goes out on its own.
        node->status = value;
        node->state = 15;
        ++*position;
        return kParseComplete;
    }
    ++*position;
    if (value < 0xF0) {
        writer->runningStatus = value;
    } else {
        writer->runningStatus = 0;
    }
    const ULONG length = MidiMessageLength(value);
    if (length == 0) {
        // An undefined status byte: it and its data bytes go nowhere.
        node->state = kNodeDiscarding;
        return kParseNeedsMore;
    }
    if (value == kSysExEnd) {
        // An end byte outside a SysEx carries nothing.
        return kParseNeedsMore;
    }
    node->status = value;
    node->state = length == 1 ? CodeIndexNumber(value) : kNodeFirstData;
    return length == 1 ? kParseComplete : kParseNeedsMore;
}

}  // namespace

LONG ParseMidiMessage(MidiMessageNode* node, const UCHAR* bytes, ULONG length, ULONG* position,
                      MidiParseContext* context)
{
    while (*position < length) {
        if (IsSysExNode(node)) {
            return ParseSysEx(node, bytes, length, position, context);
        }
        const UCHAR value = bytes[*position];
        if (IsRealTimeByte(value)) {
            return kParseNeedsMore;
        }
        if (IsCompleteNode(node)) {
            return kParseComplete;  // a complete node takes no more bytes
        }
        if (node->state != kNodeIdle && IsStatusByte(value)) {
            return kParseMalformed;  // a status byte breaks an unfinished message
        }
        switch (node->state) {
            case kNodeIdle: {
                if (value == kSysExStart) {
                    context->writer->runningStatus = 0;
                    return ParseSysEx(node, bytes, length, position, context);
                }
                const LONG result = StartMessage(node, value, position, context->writer);
                if (result == kParseComplete) {
                    return result;
                }
                break;
            }
            case kNodeDiscarding:
                ++*position;
                break;
            case kNodeFirstData:
                node->data[0] = value;
                ++*position;
                if (MidiMessageLength(node->status) == 2) {
                    node->state = CodeIndexNumber(node->status);
                    return kParseComplete;
                }
                node->state = kNodeSecondData;
                break;
            case kNodeSecondData:
                node->data[1] = value;
                ++*position;
                node->state = CodeIndexNumber(node->status);
                return kParseComplete;
            default:
                return kParseComplete;
        }
    }
    return kParseNeedsMore;
}

ULONG SysExBytesLeft(const MidiMessageNode* node, ULONG limit)
{
    ULONG count = 0;
    for (const SysExSegment* segment = node->sysEx; segment != nullptr && count < limit;
         segment = segment->next) {
        count += segment->end - segment->position;
    }
    return count < limit ? count : limit;
}

void ReleaseSegments(MidiMessageNode* node, MidiNodePool* pool, MidiBufferRelease* release)
{
    while (node->sysEx != nullptr) {
        SysExSegment* segment = node->sysEx;
        node->sysEx = segment->next;
        release->ReleaseBuffer(node->writerKey, segment->data);
        pool->ReturnSegment(segment);
    }
}

namespace {

// Takes the next byte of the segments; the caller knows one is there.
UCHAR TakeSegmentByte(MidiMessageNode* node)
{
    SysExSegment* segment = node->sysEx;
    while (segment->position == segment->end) {
        segment = segment->next;
    }
    return segment->data[segment->position++];
}

void ReleaseSentSegments(MidiMessageNode* node, MidiNodePool* pool, MidiBufferRelease* release)
{
    while (node->sysEx != nullptr && node->sysEx->position == node->sysEx->end) {
        SysExSegment* segment = node->sysEx;
        node->sysEx = segment->next;
        release->ReleaseBuffer(node->writerKey, segment->data);
        pool->ReturnSegment(segment);
    }
}

}  // namespace

bool EncodeMidiPacket(MidiMessageNode* node, UsbMidiPacket* packet, MidiNodePool* pool,
                      MidiBufferRelease* release)
{
    *packet = {{kNoPacket, 0, 0, 0}};
    if (!IsSysExNode(node)) {
        if (!IsCompleteNode(node)) {
            return true;
        }
        *packet = {{node->state, node->status, node->data[0], node->data[1]}};
        return false;
    }
    const bool open = IsSysExOpen(node);
    const ULONG held = HeldSysExBytes(node);
    const ULONG available = SysExBytesLeft(node, 3);
    if (open && held + available < 3) {
        return true;
    }
    UCHAR bytes[3] = {};
    ULONG count = 0;
    if (held > 0) {
        bytes[count++] = node->status;
    }
    if (held > 1) {
        bytes[count++] = node->data[0];
    }
    while (count < 3 && SysExBytesLeft(node, 1) > 0) {
        bytes[count++] = TakeSegmentByte(node);
    }
    node->state = static_cast<UCHAR>(node->state & ~3);
    ReleaseSentSegments(node, pool, release);
    if (count == 0) {
        return false;  // a closed SysEx with nothing left
    }
    const ULONG left = SysExBytesLeft(node, 3);
    bool more = open || left > 0;
    UCHAR cin = 4;
    if (count == 1) {
        cin = 5;
        more = false;
    } else if (count == 2) {
        cin = 6;
        more = false;
    } else if (!more) {
        cin = 7;
    }
    *packet = {{cin, bytes[0], bytes[1], bytes[2]}};
    if (left == 1 || left == 2) {
        // The last one or two bytes move into the node so the writer's buffer can go back.
        node->status = TakeSegmentByte(node);
        if (left == 2) {
            node->data[0] = TakeSegmentByte(node);
        }
        node->state = static_cast<UCHAR>(node->state | left);
        ReleaseSentSegments(node, pool, release);
    }
    return more;
}
