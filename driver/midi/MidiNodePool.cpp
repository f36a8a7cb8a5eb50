#include "MidiNodePool.h"

#include "MidiPoolTags.h"
#include "usb/InStackLock.h"

void MidiNodePool::Initialize()
{
    freeNodes = nullptr;
    freeSegments = nullptr;
    KeInitializeSpinLock(&nodeLock);
    KeInitializeSpinLock(&segmentLock);
}

void MidiNodePool::Destroy()
{
    while (freeNodes != nullptr) {
        MidiMessageNode* next = freeNodes->newer;
        ExFreePoolWithTag(freeNodes, kMidiObjectTag);
        freeNodes = next;
    }
    while (freeSegments != nullptr) {
        SysExSegment* next = freeSegments->next;
        ExFreePoolWithTag(freeSegments, kMidiObjectTag);
        freeSegments = next;
    }
}

MidiMessageNode* MidiNodePool::TakeNode(LONGLONG time, MidiWriter* writer, UsbMidiCodec* owner)
{
    MidiMessageNode* node = nullptr;
    {
        InStackLock hold(&nodeLock);
        node = freeNodes;
        if (node != nullptr) {
            freeNodes = node->newer;
        }
    }
    if (node == nullptr) {
        node = static_cast<MidiMessageNode*>(
            ExAllocatePoolWithTag(NonPagedPool, sizeof(MidiMessageNode), kMidiObjectTag));
        if (node == nullptr) {
            return nullptr;
        }
    }
    RtlZeroMemory(node, sizeof(*node));
    node->time = time;
    node->state = kNodeIdle;
    node->writerKey = writer;
    node->owner = owner;
    return node;
}

void MidiNodePool::ReturnNode(MidiMessageNode* node)
{
    InStackLock hold(&nodeLock);
    node->newer = freeNodes;
    freeNodes = node;
}

SysExSegment* MidiNodePool::TakeSegment(const UCHAR* data, ULONG position, ULONG end)
{
    SysExSegment* segment = nullptr;
    {
        InStackLock hold(&segmentLock);
        segment = freeSegments;
        if (segment != nullptr) {
            freeSegments = segment->next;
        }
    }
    if (segment == nullptr) {
        segment = static_cast<SysExSegment*>(
            ExAllocatePoolWithTag(NonPagedPool, sizeof(SysExSegment), kMidiObjectTag));
        if (segment == nullptr) {
            return nullptr;
        }
    }
    segment->data = data;
    segment->position = position;
    segment->end = end;
    segment->next = nullptr;
    return segment;
}

void MidiNodePool::ReturnSegment(SysExSegment* segment)
{
    InStackLock hold(&segmentLock);
    segment->next = freeSegments;
    freeSegments = segment;
}
