// The stream manager's render streams of wave pins: a node per pin, started by its first block,
// each block placed in the stream set's rings once the device has consumed the one before.
#include "audio/DriverResult.h"
#include "common/InStackLock.h"
#include "engine/EngineRouting.h"
#include "engine/StreamManager.h"
#include "engine/StreamingEngine.h"

namespace {

LONG SaturatingSubtract(LONG value, ULONG amount)
{
    const LONGLONG difference = static_cast<LONGLONG>(value) - amount;
    return difference < -0x7FFFFFFFLL - 1 ? -0x7FFFFFFF - 1 : static_cast<LONG>(difference);
}

LONG SaturatingAdd(LONG value, ULONG amount)
{
    const LONGLONG sum = static_cast<LONGLONG>(value) + amount;
    return sum > 0x7FFFFFFFLL ? 0x7FFFFFFF : static_cast<LONG>(sum);
}

// The busy mark is a spin mark: taken with an exchange, dropped with a release store (a full
// exchange there would drain the store buffer once more per stream and period).
void TakeBusy(StreamNode* node)
{
    while (InterlockedExchange(&node->busy, 1) != 0) {
    }
}

}  // namespace

StreamNode* StreamManager::AddPinStream(PinStreamSink* sink)
{
    auto* node = static_cast<StreamNode*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(StreamNode), kStreamObjectTag));
    if (node == nullptr) {
        return nullptr;
    }
    RtlZeroMemory(node, sizeof(StreamNode));
    node->configurationIndex = -1;
    node->position = -1;
    node->magic = kStreamObjectMagic;
    node->sink = sink;
    KeInitializeSpinLock(&node->lock);
    InStackLock list(&listLock);
    node->next = pinNodes;
    pinNodes = node;
    return node;
}

LONG StreamManager::SetNodeBuffers(StreamNode* node, PVOID const* buffers, ULONG frames)
{
    if (!IsLiveNode(node)) {
        return E_INVALIDARG;
    }
    InStackLock hold(&node->lock);
    if (node->waiting != 0) {
        return E_FAIL;
    }
    if (frames != 0) {
        node->frames = frames;
    }
    node->buffers = buffers;
    return 0;
}

void StreamManager::SetNodeRunning(StreamNode* node, bool running)
{
    if (!IsLiveNode(node)) {
        return;
    }
    TakeBusy(node);
    {
        InStackLock hold(&node->lock);
        node->running = running ? 1 : 0;
        if (!running) {
            node->position = -1;
            node->pending = 0;
            node->waiting = 0;
        }
    }
    WriteRelease(&node->busy, 0);
}

void StreamManager::ClearNodePending(StreamNode* node)
{
    if (!IsLiveNode(node)) {
        return;
    }
    InStackLock hold(&node->lock);
    node->pending = 0;
}

LONG StreamManager::ServicePinStream(StreamNode* node)
{
    if (!IsLiveNode(node)) {
        return E_INVALIDARG;
    }
    bool running = false;
    {
        InStackLock hold(&node->lock);
        if (node->waiting != 0) {
            return E_FAIL;
        }
        running = node->running != 0;
        // The usual case, a block while the last is still in the rings, queues in this one hold.
        if (running && node->pending >= 1) {
            node->waiting = 1;
            return kStreamPending;
        }
    }
    if (!running) {
        StreamConfiguration record{};
        GetConfiguration(&record);
        if (!HasChannelBuffers(record)) {
            return E_FAIL;
        }
        LONG countBefore = 0;
        bool started = false;
        {
            InStackLock hold(&runningLock);
            // Two services of a stopped node may both have seen it stopped: only the first under
            // the running lock counts it, or the count never comes back to 0 and streaming never
            // stops.
            {
                InStackLock nodeHold(&node->lock);
                started = node->running == 0;
                if (started) {
                    node->position = -1;
                }
            }
            if (started) {
                SetNodeRunning(node, true);
                countBefore = runningCount++;
            }
        }
        if (started && countBefore == 0 && routing->Engine() != nullptr &&
            routing->Engine()->RunControl(1) < 0) {
            // Streaming can neither start nor be queued to: the node does not count as running,
            // so that its next block asks again instead of waiting for periods that never come.
            InStackLock hold(&runningLock);
            bool running = false;
            {
                InStackLock nodeHold(&node->lock);
                running = node->running != 0;
            }
            if (running) {
                SetNodeRunning(node, false);
                runningCount = runningCount > 0 ? runningCount - 1 : 0;
            }
            return E_FAIL;
        }
    }
    LONG pending = 0;
    {
        InStackLock hold(&node->lock);
        pending = node->pending;
    }
    if (pending < 1) {
        const LONG result = TransferPinStream(node);
        if (result != kStreamPending) {
            return result;
        }
    }
    InStackLock hold(&node->lock);
    node->waiting = 1;
    return kStreamPending;
}

LONG StreamManager::TransferPinStream(StreamNode* node)
{
    if (!IsLiveNode(node)) {
        return E_FAIL;
    }
    PinBlock block{};
    {
        InStackLock hold(&node->lock);
        if (node->running == 0 || !TakePinBlock(node, &block)) {
            return E_FAIL;
        }
    }
    return PlaceBlock(node, &block);
}

bool StreamManager::TakePinBlock(StreamNode* node, PinBlock* block)
{
    // Never spins here: a running-state change holds the mark while it waits for the node lock.
    if (InterlockedExchange(&node->busy, 1) != 0) {
        return false;
    }
    block->position = node->position;
    block->configurationIndex = static_cast<ULONG>(node->configurationIndex);
    block->buffers = node->buffers;
    block->frames = node->frames;
    block->format = node->format;
    block->channels = node->interleaved != 0 ? node->interleavedChannels : 0;
    block->startChannel = node->startChannel;
    return true;
}

LONG StreamManager::PlaceBlock(StreamNode* node, PinBlock* block)
{
    LONG position = block->position;
    const LONG result = routing->RenderIntoDevice(block->configurationIndex, &position,
                                                  block->buffers, block->frames, block->format,
                                                  block->channels, block->startChannel);
    FinishBlock(node, *block, position, result);
    return result;
}

void StreamManager::FinishBlock(StreamNode* node, const PinBlock& block, LONG position, LONG result)
{
    {
        InStackLock hold(&node->lock);
        node->position = position;
        if (result != kStreamPending) {
            node->pending = SaturatingAdd(node->pending, block.frames);
            node->waiting = 0;
        }
    }
    WriteRelease(&node->busy, 0);
    if (result == kStreamPending) {
        // Not placed yet: make sure streaming runs so that a period can place it.
        if (routing->Engine() != nullptr) {
            routing->Engine()->RunControl(2);
        }
    } else if (result == kRenderTooLate && node->sink != nullptr) {
        node->sink->OnNodeLate(node, 1);
    }
}

// Small enough for the stack of a DPC; a period with more consumed nodes places them in turns.
struct StreamManager::PeriodBatch
{
    static constexpr ULONG kCapacity = 8;
    StreamNode* nodes[kCapacity];
    PinBlock blocks[kCapacity];
    bool taken[kCapacity];
    ULONG count = 0;
};

void StreamManager::PlacePeriodBatch(PeriodBatch* batch)
{
    EngineRouting::RenderRequest requests[PeriodBatch::kCapacity];
    ULONG placed = 0;
    for (ULONG i = 0; i < batch->count; ++i) {
        if (batch->taken[i]) {
            const PinBlock& b = batch->blocks[i];
            requests[placed++] = {
                b.configurationIndex, b.position,     b.buffers, b.frames, b.format,
                b.channels,           b.startChannel, 0};
        }
    }
    if (placed != 0) {
        routing->RenderBlocks(requests, placed);
    }
    placed = 0;
    for (ULONG i = 0; i < batch->count; ++i) {
        StreamNode* node = batch->nodes[i];
        if (batch->taken[i]) {
            const EngineRouting::RenderRequest& r = requests[placed++];
            FinishBlock(node, batch->blocks[i], r.position, r.result);
        }
        if (node->sink != nullptr) {
            node->sink->OnNodePeriod(node);
        }
    }
    batch->count = 0;
}

LONG StreamManager::StopPinStream(StreamNode* node)
{
    if (!IsLiveNode(node)) {
        return E_INVALIDARG;
    }
    LONG countAfter = 0;
    {
        InStackLock hold(&runningLock);
        {
            InStackLock nodeHold(&node->lock);
            if (node->running == 0) {
                return kStreamUnchanged;
            }
            node->waiting = 0;
            node->pending = 0;
        }
        SetNodeRunning(node, false);
        if (runningCount > 0) {
            --runningCount;
        }
        countAfter = runningCount;
    }
    if (countAfter == 0) {
        RequestTransport(0);
    }
    return 0;
}

void StreamManager::RemovePinStream(StreamNode* node)
{
    if (!IsLiveNode(node)) {
        return;
    }
    StopPinStream(node);
    {
        InStackLock list(&listLock);
        for (StreamNode** link = &pinNodes; *link != nullptr; link = &(*link)->next) {
            if (*link == node) {
                *link = node->next;
                break;
            }
        }
    }
    FreeNode(node);
}

void StreamManager::FreeNode(StreamNode* node)
{
    node->configurationIndex = -1;
    node->buffers = nullptr;
    node->frames = 0;
    node->position = -1;
    node->magic = 0;
    node->running = 0;
    node->waiting = 0;
    node->discontinuity = 0;
    node->next = nullptr;
    ExFreePoolWithTag(node, kStreamObjectTag);
}

void StreamManager::UnplaceRunningNodes()
{
    InStackLock list(&listLock);
    for (StreamNode* node = pinNodes; node != nullptr; node = node->next) {
        // A transfer under way writes its position back when done: wait for it.
        TakeBusy(node);
        {
            InStackLock hold(&node->lock);
            if (node->running != 0) {
                node->position = -1;
                node->pending = 0;
            }
        }
        WriteRelease(&node->busy, 0);
    }
}

void StreamManager::ServicePinsForPeriod(LONG configurationIndex, ULONG frames,
                                         ULONG streamPosition, LONG flags, LONG* result)
{
    InStackLock list(&listLock);
    PeriodBatch batch;
    for (StreamNode* node = pinNodes; node != nullptr; node = node->next) {
        bool changed = false;
        bool consumed = false;
        bool taken = false;
        PinBlock block{};
        {
            InStackLock hold(&node->lock);
            if (node->running == 0) {
                continue;
            }
            // Nothing of the node's was left for a whole period: its pin ran dry and the device
            // moved on without it. Its next block is placed anew where the stream stands, as a
            // first one: at the old position it would land behind the device, or, once the
            // device went a lap further, over blocks of the ring still to be played. Blocks that
            // are not a whole number of periods leave the count below 0 rather than at it.
            const bool dry = node->pending <= 0 && node->waiting == 0 && node->position >= 0;
            node->pending = SaturatingSubtract(node->pending, frames);
            if (dry) {
                node->position = -1;
            }
            if (node->configurationIndex != configurationIndex) {
                node->position = -1;
                node->pending = 0;
                changed = true;
            } else if ((flags & kFirstPeriodFlag) != 0) {
                node->discontinuity = 1;
            } else if (node->waiting != 0) {
                if (node->position < 0) {
                    node->position = static_cast<LONG>(streamPosition);
                    node->pending = 0;
                    *result = 1;
                } else if (node->pending > 0) {
                    *result = node->pending < *result ? node->pending : *result;
                } else {
                    consumed = true;
                    taken = TakePinBlock(node, &block);
                }
            }
        }
        if (changed && node->sink != nullptr) {
            node->sink->OnNodeConfigurationChanged(node, configurationIndex);
        }
        if (consumed) {
            batch.nodes[batch.count] = node;
            batch.blocks[batch.count] = block;
            batch.taken[batch.count] = taken;
            if (++batch.count == PeriodBatch::kCapacity) {
                PlacePeriodBatch(&batch);
            }
        }
    }
    PlacePeriodBatch(&batch);
}
