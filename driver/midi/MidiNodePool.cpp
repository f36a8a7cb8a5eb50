#include "MidiNodePool.h"

#include "MidiPoolTags.h"
#include "common/InStackLock.h"

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

namespace {

// Pops a recycled item, else allocates one; null when the pool has no room.
template <typename Item, Item* Item::*link>
Item* TakeItem(Item** freeList, PKSPIN_LOCK lock)
{
    Item* item = nullptr;
    {
        InStackLock hold(lock);
        item = *freeList;
        if (item != nullptr) {
            *freeList = item->*link;
        }
    }
    if (item == nullptr) {
        item =
            static_cast<Item*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(Item), kMidiObjectTag));
    }
    return item;
}

template <typename Item, Item* Item::*link>
void ReturnItem(Item** freeList, PKSPIN_LOCK lock, Item* item)
{
    InStackLock hold(lock);
    item->*link = *freeList;
    *freeList = item;
}

}  // namespace

MidiMessageNode* MidiNodePool::TakeNode(LONGLONG time, MidiWriter* writer, UsbMidiCodec* owner)
{
    MidiMessageNode* node =
        TakeItem<MidiMessageNode, &MidiMessageNode::newer>(&freeNodes, &nodeLock);
    if (node == nullptr) {
        return nullptr;
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
    ReturnItem<MidiMessageNode, &MidiMessageNode::newer>(&freeNodes, &nodeLock, node);
}

SysExSegment* MidiNodePool::TakeSegment(const UCHAR* data, ULONG position, ULONG end)
{
    SysExSegment* segment =
        TakeItem<SysExSegment, &SysExSegment::next>(&freeSegments, &segmentLock);
    if (segment == nullptr) {
        return nullptr;
    }
    segment->data = data;
    segment->position = position;
    segment->end = end;
    segment->next = nullptr;
    return segment;
}

void MidiNodePool::ReturnSegment(SysExSegment* segment)
{
    ReturnItem<SysExSegment, &SysExSegment::next>(&freeSegments, &segmentLock, segment);
}
