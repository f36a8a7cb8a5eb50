#include "MidiOutQueue.h"

#include "MidiBytes.h"
#include "MidiMessageCoding.h"
#include "MidiNodePool.h"
#include "UsbMidiCodec.h"
#include "audio/DriverResult.h"
#include "common/InStackLock.h"

namespace {

void Unlink(MidiMessageList* list, MidiMessageNode* node)
{
    if (node->older != nullptr) {
        node->older->newer = node->newer;
    } else {
        list->oldest = node->newer;
    }
    if (node->newer != nullptr) {
        node->newer->older = node->older;
    } else {
        list->newest = node->older;
    }
    node->newer = nullptr;
    node->older = nullptr;
}

// After every node with the same or an earlier time. Answers whether it became the oldest.
bool InsertByTime(MidiMessageList* list, MidiMessageNode* node)
{
    MidiMessageNode* before = list->newest;
    while (before != nullptr && before->time > node->time) {
        before = before->older;
    }
    node->older = before;
    if (before == nullptr) {
        node->newer = list->oldest;
        list->oldest = node;
    } else {
        node->newer = before->newer;
        before->newer = node;
    }
    if (node->newer != nullptr) {
        node->newer->older = node;
    } else {
        list->newest = node;
    }
    return list->oldest == node;
}

void Recycle(MidiOutQueue* queue, MidiMessageNode* node)
{
    ReleaseSegments(node, queue->pool, queue->owner);
    queue->pool->ReturnNode(node);
}

// The nodes one write builds, in the order they were made.
struct Batch
{
    MidiMessageNode* first;
    MidiMessageNode* last;

    void Append(MidiMessageNode* node)
    {
        node->newer = nullptr;
        node->older = last;
        if (last != nullptr) {
            last->newer = node;
        } else {
            first = node;
        }
        last = node;
    }
};

// The segments of this write go back to the pool without a release: the buffer was never counted
// as held. Segments of earlier writes stay.
void DropSegmentsInto(MidiOutQueue* queue, MidiMessageNode* node, const UCHAR* bytes)
{
    SysExSegment** link = &node->sysEx;
    while (*link != nullptr) {
        SysExSegment* segment = *link;
        if (segment->data == bytes) {
            *link = segment->next;
            queue->pool->ReturnSegment(segment);
        } else {
            link = &segment->next;
        }
    }
}

}  // namespace

void InitializeMidiOutQueue(MidiOutQueue* queue, UsbMidiCodec* owner, MidiNodePool* pool)
{
    RtlZeroMemory(queue, sizeof(*queue));
    KeInitializeSpinLock(&queue->normal.lock);
    KeInitializeSpinLock(&queue->realTime.lock);
    KeInitializeSpinLock(&queue->sendLock);
    queue->owner = owner;
    queue->pool = pool;
    queue->nextDue = kNothingDue;
}

void DestroyMidiOutQueue(MidiOutQueue* queue)
{
    MidiMessageList* lists[] = {&queue->normal, &queue->realTime};
    for (MidiMessageList* list : lists) {
        while (list->oldest != nullptr) {
            MidiMessageNode* node = list->oldest;
            Unlink(list, node);
            Recycle(queue, node);
        }
    }
    queue->currentSysEx = nullptr;
}

LONG WriteMidiOut(MidiOutQueue* queue, LONGLONG time, const UCHAR* bytes, ULONG length,
                  MidiWriter* writer)
{
    MidiWriterState* state = queue->owner->WriterState(writer);
    if (state == nullptr) {
        return E_INVALIDARG;
    }
    InStackLock send(&queue->sendLock);
    MidiMessageNode* current = state->unfinished;
    state->unfinished = nullptr;
    if (current != nullptr) {
        InStackLock list(&queue->normal.lock);
        Unlink(&queue->normal, current);
    }
    MidiParseContext context = {queue->pool, state, 0, false};
    Batch batch = {};
    bool noNode = false;
    ULONG position = 0;
    while (position < length) {
        const UCHAR value = bytes[position];
        if (IsRealTimeByte(value)) {
            ++position;
            if (CodeIndexNumber(value) == kNoCodeIndex) {
                continue;  // undefined real-time bytes go nowhere
            }
            MidiMessageNode* node = queue->pool->TakeNode(time, writer, queue->owner);
            if (node == nullptr) {
                noNode = true;
                continue;
            }
            node->status = value;
            node->state = CodeIndexNumber(value);
            batch.Append(node);
            continue;
        }
        if (current == nullptr) {
            current = queue->pool->TakeNode(time, writer, queue->owner);
            if (current == nullptr) {
                noNode = true;
                break;
            }
        }
        const LONG result = ParseMidiMessage(current, bytes, length, &position, &context);
        if (result == kParseComplete) {
            batch.Append(current);
            current = nullptr;
        } else if (result == kParseMalformed) {
            if (current->sysEx != nullptr || HeldSysExBytes(current) > 0) {
                batch.Append(current);
            } else {
                Recycle(queue, current);
            }
            current = nullptr;
        }
    }
    if (current != nullptr) {
        if (current->state != kNodeIdle || current->sysEx != nullptr) {
            batch.Append(current);
            state->unfinished = current;
        } else {
            Recycle(queue, current);
        }
    }
    LONG answer = context.segmentsAdded > 0 ? 1 : 0;
    const bool failed =
        noNode || context.outOfMemory ||
        (context.segmentsAdded > 0 && !queue->owner->Retain(writer, context.segmentsAdded, bytes));
    if (failed) {
        // Nothing of this write's SysEx may be queued when its buffer could not be counted or
        // part of it found no room: the message would go out with a hole in it.
        answer = E_OUTOFMEMORY;
        Batch kept = {};
        for (MidiMessageNode* node = batch.first; node != nullptr;) {
            MidiMessageNode* next = node->newer;
            if (IsSysExNode(node)) {
                DropSegmentsInto(queue, node, bytes);
                if (node == queue->currentSysEx) {
                    queue->currentSysEx = nullptr;
                }
                if (node == state->unfinished) {
                    state->unfinished = nullptr;
                }
                Recycle(queue, node);
            } else {
                kept.Append(node);
            }
            node = next;
        }
        batch = kept;
    }
    bool wake = false;
    for (MidiMessageNode* node = batch.first; node != nullptr;) {
        MidiMessageNode* next = node->newer;
        const bool realTime = node->status >= kFirstRealTime && !IsSysExNode(node);
        MidiMessageList* list = realTime ? &queue->realTime : &queue->normal;
        InStackLock hold(&list->lock);
        wake = InsertByTime(list, node) || wake;
        node = next;
    }
    if (wake) {
        queue->owner->Wake();
    }
    return answer;
}

namespace {

LONGLONG WaitUntil(LONGLONG time, LONGLONG now)
{
    return time > now ? time - now : 0;
}

MidiMessageNode* OldestSendable(MidiMessageList* list)
{
    MidiMessageNode* node = list->oldest;
    while (node != nullptr && !IsSendableNode(node)) {
        node = node->newer;
    }
    return node;
}

// The wait while a SysEx holds the port: 0 when a whole packet is ready, else 1.
LONGLONG SysExWait(const MidiMessageNode* node)
{
    const ULONG ready = HeldSysExBytes(node) + SysExBytesLeft(node, 3);
    return (ready >= 3 || !IsSysExOpen(node)) ? 0 : 1;
}

// The wait until the list's oldest sendable message is due. Under the list lock.
LONGLONG NextDueWait(MidiMessageList* list, LONGLONG now)
{
    const MidiMessageNode* next = OldestSendable(list);
    return next == nullptr ? kNothingDue : WaitUntil(next->time, now);
}

// The normal list's part, under the send lock. Sends only when send is true. Only holders of the
// send lock change the normal list, so what one look under the list lock found still holds until
// this returns: nothing to send answers from that look, and a message sent is unlinked, recycled
// and the next one looked up in one holding.
LONGLONG ServeNormalList(MidiOutQueue* queue, LONGLONG now, bool send, UsbMidiPacket* packet)
{
    MidiMessageList* list = &queue->normal;
    MidiMessageNode* node = queue->currentSysEx;
    if (node != nullptr) {
        if (!send) {
            return SysExWait(node);
        }
        if (EncodeMidiPacket(node, packet, queue->pool, queue->owner)) {
            return packet->bytes[0] == kNoPacket ? 1 : SysExWait(node);
        }
        queue->currentSysEx = nullptr;
    } else {
        {
            InStackLock hold(&list->lock);
            node = OldestSendable(list);
            if (node == nullptr || !send || now < node->time) {
                return node == nullptr ? kNothingDue : WaitUntil(node->time, now);
            }
        }
        const bool more = EncodeMidiPacket(node, packet, queue->pool, queue->owner);
        if (IsSysExNode(node) && more) {
            queue->currentSysEx = node;
            return packet->bytes[0] == kNoPacket ? 1 : SysExWait(node);
        }
    }
    InStackLock hold(&list->lock);
    Unlink(list, node);
    Recycle(queue, node);
    return NextDueWait(list, now);
}

}  // namespace

LONG NextMidiOutPacket(MidiOutQueue* queue, LONGLONG now, UsbMidiPacket* packet, LONGLONG* wait)
{
    *packet = {{kNoPacket, 0, 0, 0}};
    LONGLONG until = kNothingDue;
    bool realTimeSent = false;
    {
        MidiMessageList* list = &queue->realTime;
        InStackLock hold(&list->lock);
        MidiMessageNode* node = list->oldest;
        if (node != nullptr && now >= node->time) {
            EncodeMidiPacket(node, packet, queue->pool, queue->owner);
            Unlink(list, node);
            queue->pool->ReturnNode(node);
            realTimeSent = true;
            node = list->oldest;
        }
        if (node != nullptr) {
            until = WaitUntil(node->time, now);
        }
    }
    {
        InStackLock send(&queue->sendLock);
        const LONGLONG normal = ServeNormalList(queue, now, !realTimeSent, packet);
        if (normal < until) {
            until = normal;
        }
    }
    *wait = until;
    WriteNoFence64(&queue->nextDue, until == kNothingDue ? kNothingDue : now + until);
    return S_OK;
}

namespace {

template <typename Predicate>
void RemoveNormalMessages(MidiOutQueue* queue, Predicate matches)
{
    MidiMessageList* list = &queue->normal;
    InStackLock send(&queue->sendLock);
    MidiMessageNode* removed = nullptr;
    {
        InStackLock hold(&list->lock);
        MidiMessageNode* node = list->oldest;
        while (node != nullptr) {
            MidiMessageNode* next = node->newer;
            if (matches(node)) {
                Unlink(list, node);
                if (node == queue->currentSysEx) {
                    queue->currentSysEx = nullptr;
                }
                node->newer = removed;
                removed = node;
            }
            node = next;
        }
    }
    // Buffers go back to their writers outside the list lock.
    while (removed != nullptr) {
        MidiMessageNode* next = removed->newer;
        queue->owner->ForgetUnfinished(removed->writerKey, removed);
        Recycle(queue, removed);
        removed = next;
    }
}

}  // namespace

void FlushWriterMessagesOfQueue(MidiOutQueue* queue, MidiWriter* writer)
{
    RemoveNormalMessages(queue, [writer](const MidiMessageNode* node) {
        return node->writerKey == writer && (node->sysEx != nullptr || !IsCompleteNode(node));
    });
}

void DropSysExMessagesOfQueue(MidiOutQueue* queue)
{
    RemoveNormalMessages(queue, [](const MidiMessageNode* node) { return IsSysExNode(node); });
}
