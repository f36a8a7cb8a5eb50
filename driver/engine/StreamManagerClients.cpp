// The stream manager's client streams: control clients' streams it allocates itself and capture
// pins' streams they insert, started and stopped against the running count, and served once per
// device period.
#include <new>

#include "audio/DriverResult.h"
#include "common/InStackLock.h"
#include "engine/EngineRouting.h"
#include "engine/StreamManager.h"

namespace {

// Slot 0 is the guarded form: a control client's property handler and the manager may both
// start or stop the stream.
const ClientStreamOperations kManagedStreamOperations = {
    SetClientStreamRunningGuarded,
    SetClientStreamRunningGuarded,
};

}  // namespace

ManagedClientStream* StreamManager::AddClientStream(StreamClientSink* sink)
{
    void* memory =
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(ManagedClientStream), kStreamObjectTag);
    if (memory == nullptr) {
        return nullptr;
    }
    auto* stream = new (memory) ManagedClientStream(sink);
    stream->operations = &kManagedStreamOperations;
    stream->outputPosition = -1;
    stream->managerFlag = 1;
    InsertClientStream(stream);
    return stream;
}

void StreamManager::InsertClientStream(ClientStream* stream)
{
    if (!IsLiveClientStream(stream)) {
        return;
    }
    InStackLock list(&listLock);
    stream->listNext = clientStreams;
    clientStreams = stream;
}

LONG StreamManager::SetClientStreamRunning(ClientStream* stream, bool on)
{
    if (!IsLiveClientStream(stream)) {
        return E_INVALIDARG;
    }
    {
        InStackLock hold(&runningLock);
        if ((stream->running != 0) == on) {
            return kStreamUnchanged;
        }
    }
    if (on) {
        LONG configurationIndex = 0;
        ULONG rateIndex = 0;
        ULONG rate = 0;
        routing->GetRoutingState(&configurationIndex, &rateIndex, &rate);
        StreamConfiguration record{};
        GetConfiguration(&record);
        if (!HasChannelBuffers(record)) {
            return E_FAIL;
        }
        if (record.minimumBufferSize != nullptr && rateIndex < record.rateCount &&
            stream->periodFrames < record.minimumBufferSize[rateIndex]) {
            return E_FAIL;
        }
    }
    LONG countBefore = 0;
    LONG countAfter = 0;
    {
        InStackLock hold(&runningLock);
        // Two callers racing to the same state: only the first one counts.
        if ((stream->running != 0) == on) {
            return kStreamUnchanged;
        }
        stream->Run(on);
        countBefore = runningCount;
        runningCount = on ? runningCount + 1 : (runningCount > 0 ? runningCount - 1 : 0);
        countAfter = runningCount;
    }
    if (countBefore == 0 && countAfter == 1) {
        if (RequestTransport(1) < 0) {
            // Streaming could not start: the stream does not run rather than wait in silence.
            // A stop that came meanwhile already took it back.
            bool undone = false;
            {
                InStackLock hold(&runningLock);
                if (stream->running != 0) {
                    stream->Run(false);
                    runningCount = runningCount > 0 ? runningCount - 1 : 0;
                    undone = true;
                }
            }
            return undone ? E_FAIL : kStreamUnchanged;
        }
    } else if (on) {
        RequestTransport(2);
    } else if (countAfter == 0) {
        RequestTransport(0);
    }
    return 0;
}

bool StreamManager::UnlinkClientStream(ClientStream* stream)
{
    InStackLock list(&listLock);
    for (ClientStream** link = &clientStreams; *link != nullptr; link = &(*link)->listNext) {
        if (*link == stream) {
            *link = stream->listNext;
            stream->listNext = nullptr;
            return true;
        }
    }
    return false;
}

void StreamManager::FreeClientStream(ClientStream* stream)
{
    DestroyClientStream(stream);
    ExFreePoolWithTag(stream, kStreamObjectTag);
}

void StreamManager::RemoveClientStream(ClientStream* stream)
{
    if (!IsLiveClientStream(stream)) {
        return;
    }
    SetClientStreamRunning(stream, false);
    UnlinkClientStream(stream);
    FreeClientStream(stream);
}

void StreamManager::DiscardClientStream(ClientStream* stream)
{
    if (!IsLiveClientStream(stream)) {
        return;
    }
    // Marked stopped without touching its running state: the running count must still see it
    // stop, or streaming would never end.
    {
        InStackLock running(&runningLock);
        InStackLock hold(&stream->lock);
        stream->outputPosition = -1;
        stream->fill = kNoCaptureBuffer;
        stream->pending = 0;
    }
    RemoveClientStream(stream);
}

void StreamManager::ServiceClientsForPeriod(LONG configurationIndex, PVOID* inputPointers,
                                            const ClientPeriod& period, LONG flags, LONG* result)
{
    ULONG lead = 0;
    ULONG capacity = 0;
    routing->GetStreamLead(&lead, &capacity);
    InStackLock list(&listLock);
    for (ClientStream* stream = clientStreams; stream != nullptr; stream = stream->listNext) {
        bool changed = false;
        {
            InStackLock hold(&runningLock);
            if (stream->running == 0) {
                continue;
            }
            if (stream->configurationIndex != configurationIndex) {
                stream->outputPosition = -1;
                changed = true;
            } else if (stream->managerFlag != 0 && stream->outputPosition < 0) {
                InStackLock owner(&stream->periodLock);
                stream->outputPosition = static_cast<LONG>(period.streamPosition);
                stream->outputAhead = 0;
                stream->outputLead = lead;
                stream->outputCapacity = capacity;
            } else {
                if (stream->managerFlag != 0) {
                    // The device moved on by the period: the owner's render position stands that
                    // much nearer to it, or further behind.
                    InStackLock owner(&stream->periodLock);
                    const LONGLONG ahead = LONGLONG{stream->outputAhead} - period.frames;
                    stream->outputAhead =
                        ahead < -0x7FFFFFFFLL ? -0x7FFFFFFF : static_cast<LONG>(ahead);
                    stream->outputLead = lead;
                    stream->outputCapacity = capacity;
                }
                if (flags != 0 && stream->owner != nullptr) {
                    stream->owner->OnFlags(stream, static_cast<ULONG>(flags));
                }
                stream->CapturePeriod(period.frames, inputPointers, configurationIndex);
                LONGLONG due = stream->FramesUntilBufferFull();
                due = due < 1 ? 1 : due;
                *result = due < *result ? static_cast<LONG>(due) : *result;
            }
        }
        if (changed && stream->owner != nullptr) {
            stream->owner->OnStreamConfigurationChanged(stream, configurationIndex);
        }
    }
}
