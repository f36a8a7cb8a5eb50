// The device's endpoints become wave filter factories: at start, and again after every change of
// the stream configuration. Factories are never deleted here: one whose endpoint disappeared is
// disabled, and an endpoint that comes back (or survives) finds its factory and interface again.
#include "device/EndpointNaming.h"

#include <ks.h>

#include "device/DeviceLifecycle.h"
#include "device/DeviceModel.h"
#include "device/EndpointList.h"
#include "engine/StreamManager.h"
#include "ks/MidiFilter.h"
#include "ks/WaveFilter.h"
#include "midi/MidiRouter.h"

namespace {

constexpr ULONG kTagNamingWork = 0x65447651;  // "QvDe"

struct NamingWorkPacket
{
    PIO_WORKITEM workItem;
    DeviceContext* context;
};

WaveFilter* WaveFilterOfFactory(PKSFILTERFACTORY factory)
{
    const KSFILTER_DESCRIPTOR* descriptor = factory->FilterDescriptor;
    if (factory->Context == nullptr || descriptor == nullptr ||
        descriptor->ReferenceGuid == nullptr ||
        !IsEqualGUIDAligned(*descriptor->ReferenceGuid, kWaveFilterReferenceGuid)) {
        return nullptr;
    }
    return static_cast<WaveFilter*>(factory->Context);
}

// A factory whose interfaces cannot be disabled stays active and is not reused.
void DisableWaveFactories(DeviceContext* context)
{
    KsAcquireDevice(context->device);
    for (PKSFILTERFACTORY factory = KsDeviceGetFirstChildFilterFactory(context->device);
         factory != nullptr; factory = KsFilterFactoryGetNextSiblingFilterFactory(factory)) {
        WaveFilter* filter = WaveFilterOfFactory(factory);
        if (filter != nullptr && NT_SUCCESS(KsFilterFactorySetDeviceClassesState(factory, FALSE))) {
            filter->interfaceEnabled = 0;
        }
    }
    KsReleaseDevice(context->device);
}

bool SameEndpoint(const WaveEndpoint& a, const WaveEndpoint& b)
{
    for (ULONG i = 0; i < kEndpointNameCharacters; ++i) {
        if (a.name[i] != b.name[i]) {
            return false;
        }
        if (a.name[i] == 0) {
            break;
        }
    }
    const bool sameGuid = (a.pinName == nullptr || b.pinName == nullptr)
                              ? a.pinName == b.pinName
                              : IsEqualGUIDAligned(*a.pinName, *b.pinName);
    return sameGuid && a.kind == b.kind && a.mainOutput == b.mainOutput && a.capture == b.capture &&
           a.digital == b.digital;
}

void RefitRanges(WaveFilter* filter, const WaveEndpoint& endpoint)
{
    filter->endpoint.firstChannel = endpoint.firstChannel;
    filter->endpoint.channelCount = endpoint.channelCount;
    filter->endpoint.lowestRate = endpoint.lowestRate;
    filter->endpoint.highestRate = endpoint.highestRate;
    for (WaveRangeSet& set : filter->ranges) {
        for (ULONG i = 0; i < set.count; ++i) {
            KSDATARANGE_AUDIO& range = set.records[i].audio;
            range.MinimumSampleFrequency = endpoint.lowestRate;
            range.MaximumSampleFrequency = endpoint.highestRate;
            range.MaximumChannels = endpoint.channelCount;
        }
    }
}

// Reuses an inactive factory of the same endpoint, or builds a new one.
void AttachEndpoint(DeviceContext* context, const WaveEndpoint& endpoint)
{
    bool reused = false;
    KsAcquireDevice(context->device);
    for (PKSFILTERFACTORY factory = KsDeviceGetFirstChildFilterFactory(context->device);
         factory != nullptr && !reused;
         factory = KsFilterFactoryGetNextSiblingFilterFactory(factory)) {
        WaveFilter* filter = WaveFilterOfFactory(factory);
        if (filter == nullptr || filter->interfaceEnabled != 0 ||
            !SameEndpoint(filter->endpoint, endpoint)) {
            continue;
        }
        RefitRanges(filter, endpoint);
        if (NT_SUCCESS(KsFilterFactorySetDeviceClassesState(factory, TRUE))) {
            filter->interfaceEnabled = 1;
        }
        reused = true;
    }
    KsReleaseDevice(context->device);
    if (!reused) {
        CreateWaveFilterFactory(context, &endpoint);  // a failure leaves this endpoint absent
    }
}

class FactorySink final : public WaveEndpointSink
{
public:
    explicit FactorySink(DeviceContext* owner) : context(owner) {}
    void AttachEndpoint(const WaveEndpoint& endpoint) override
    {
        ::AttachEndpoint(context, endpoint);
    }

private:
    DeviceContext* context;
};

bool EnableExistingMidiFactory(DeviceContext* context, const MidiFilterPlan& plan)
{
    bool found = false;
    KsAcquireDevice(context->device);
    for (PKSFILTERFACTORY factory = KsDeviceGetFirstChildFilterFactory(context->device);
         factory != nullptr && !found;
         factory = KsFilterFactoryGetNextSiblingFilterFactory(factory)) {
        MidiFilter* filter = MidiFilterOfFactory(factory);
        if (filter == nullptr || filter->kind != plan.kind ||
            filter->inputPort != (plan.kind == kMidiKindOutput ? -1 : plan.inputIndex) ||
            filter->outputPort != (plan.kind == kMidiKindInput ? -1 : plan.outputIndex)) {
            continue;
        }
        found = true;
        if (NT_SUCCESS(KsFilterFactorySetDeviceClassesState(factory, TRUE))) {
            filter->enabled = 1;
        }
    }
    KsReleaseDevice(context->device);
    return found;
}

// A MIDI factory of an earlier start with the same ports is enabled again; else one is built.
class MidiFactorySink final : public MidiFilterSink
{
public:
    explicit MidiFactorySink(DeviceContext* owner) : context(owner) {}
    void AddMidiFilter(const MidiFilterPlan& plan) override
    {
        if (!EnableExistingMidiFactory(context, plan)) {
            // A failure leaves the port without a filter.
            CreateMidiFilterFactory(context, plan.kind, plan.inputIndex, plan.outputIndex);
        }
    }

private:
    DeviceContext* context;
};

void RunNameEndpoints(DeviceContext* context)
{
    WriteUCharRelease(&context->endpointUpdateFlag, 1);
    StreamConfiguration configuration{};
    if (context->streamManager != nullptr) {
        context->streamManager->GetConfiguration(&configuration);
    }
    DisableWaveFactories(context);
    EndpointSources sources{};
    sources.configuration = &configuration;
    DeviceModel* model = context->deviceModel;
    if (model != nullptr) {
        model->GetDeviceChannelCounts(&sources.deviceOutputs, &sources.deviceInputs);
        model->GetSupportedRates(&sources.rateCount, &sources.rates);
        sources.productName = model->GetProductNameWide();
    }
    sources.systemVersion = QueryOsVersion(context);
    FactorySink sink(context);
    ListWaveEndpoints(sources, &sink);
    FireControlEvent(context, &kPropSetControlGeneral);
    WriteUCharRelease(&context->endpointUpdateFlag, 0);
}

// Runs only while the device is started; a run that does not happen still clears the flag, or the
// wave pins would refuse every format from then on.
void NameEndpointsWorkItem(PDEVICE_OBJECT, PVOID parameter)
{
    auto* packet = static_cast<NamingWorkPacket*>(parameter);
    DeviceContext* context = packet->context;
    if (GetPnpState(context) == kPnpStarted) {
        RunNameEndpoints(context);
    } else {
        WriteUCharRelease(&context->endpointUpdateFlag, 0);
    }
    IoFreeWorkItem(packet->workItem);
    ExFreePoolWithTag(packet, kTagNamingWork);
    ReleaseRemoveLock(context);
}

void QueueNameEndpoints(DeviceContext* context)
{
    if (!TryAcquireRemoveLock(context)) {
        return;
    }
    WriteUCharRelease(&context->endpointUpdateFlag, 1);
    auto* packet = static_cast<NamingWorkPacket*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(NamingWorkPacket), kTagNamingWork));
    PIO_WORKITEM item =
        packet != nullptr ? IoAllocateWorkItem(FunctionalDeviceObject(context)) : nullptr;
    if (item == nullptr) {
        if (packet != nullptr) {
            ExFreePoolWithTag(packet, kTagNamingWork);
        }
        WriteUCharRelease(&context->endpointUpdateFlag, 0);
        ReleaseRemoveLock(context);
        return;
    }
    packet->workItem = item;
    packet->context = context;
    IoQueueWorkItem(item, NameEndpointsWorkItem, DelayedWorkQueue, packet);
}

}  // namespace

NTSTATUS NameEndpoints(DeviceContext* context)
{
    if (KeGetCurrentIrql() > PASSIVE_LEVEL) {
        QueueNameEndpoints(context);
        return STATUS_SUCCESS;
    }
    RunNameEndpoints(context);
    return STATUS_SUCCESS;
}

NTSTATUS CreateFilterFactories(DeviceContext* context)
{
    NameEndpoints(context);
    if (context->midiRouter != nullptr) {
        MidiConfiguration ports{};
        context->midiRouter->CopyPortTable(&ports);
        MidiFactorySink sink(context);
        ListMidiFilters(ports, &sink);
    }
    return STATUS_SUCCESS;
}
