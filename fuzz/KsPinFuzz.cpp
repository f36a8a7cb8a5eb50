// Arbitrary pin requests from a user process: create parameters, a stream header and a data
// intersection request, each as the bytes say. Whatever they are, the layer answers with a status,
// the system does not stop, every frame completes and nothing stays allocated.
//
// Input: byte 0 picks what follows the create (bit 0: move to RUN and submit a header; bit 1: a
// data intersection on the filter); bytes 1-2 the length of the create parameters
// (little-endian); then those parameters, then the rest: the stream header (first 64 bytes) or the
// intersection's property tail.
#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <KsPinHandle.h>
#include <ksmedia.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

namespace {

NTSTATUS Process(PKSPIN pin)
{
    PKSSTREAM_POINTER leading =
        KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    while (leading != nullptr) {
        const ULONG bytes = leading->Offset->Remaining;
        if (bytes != 0) {
            volatile UCHAR sink = leading->Offset->Data[bytes - 1];
            (void)sink;
        }
        if (KsStreamPointerAdvanceOffsets(leading, bytes, bytes, TRUE) != STATUS_SUCCESS) {
            break;
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS Intersect(PVOID, PIRP, PKSPIN_DESCRIPTOR, PKSDATARANGE caller, PKSDATARANGE, ULONG size,
                   PVOID data, PULONG dataSize)
{
    *dataSize = sizeof(KSDATAFORMAT);
    if (size < sizeof(KSDATAFORMAT)) {
        return size == 0 ? STATUS_BUFFER_OVERFLOW : STATUS_BUFFER_TOO_SMALL;
    }
    std::memcpy(data, caller, sizeof(KSDATAFORMAT));
    return STATUS_SUCCESS;
}

KSPIN_DISPATCH PinDispatch()
{
    KSPIN_DISPATCH dispatch{};
    dispatch.Process = Process;
    return dispatch;
}
const KSPIN_DISPATCH kPinDispatch = PinDispatch();
const KSDATARANGE kRange = {{sizeof(KSDATARANGE), 0, 0, 0, KSDATAFORMAT_TYPE_AUDIO,
                             KSDATAFORMAT_SUBTYPE_PCM, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX}};
const PKSDATARANGE kRanges[] = {const_cast<PKSDATARANGE>(&kRange)};

KSPIN_DESCRIPTOR_EX Pin(KSPIN_DATAFLOW flow)
{
    KSPIN_DESCRIPTOR_EX pin{};
    pin.Dispatch = &kPinDispatch;
    pin.PinDescriptor.DataRangesCount = 1;
    pin.PinDescriptor.DataRanges = kRanges;
    pin.PinDescriptor.DataFlow = flow;
    pin.PinDescriptor.Communication = KSPIN_COMMUNICATION_SINK;
    pin.Flags = KSPIN_FLAG_DISPATCH_LEVEL_PROCESSING;
    pin.InstancesPossible = 1;
    pin.IntersectHandler = Intersect;
    return pin;
}
const KSPIN_DESCRIPTOR_EX kPins[] = {Pin(KSPIN_DATAFLOW_IN), Pin(KSPIN_DATAFLOW_OUT)};
const GUID kCategories[] = {KSCATEGORY_AUDIO};

KSFILTER_DESCRIPTOR FilterDescriptor()
{
    KSFILTER_DESCRIPTOR filter{};
    filter.Version = KSFILTER_DESCRIPTOR_VERSION;
    filter.PinDescriptorsCount = static_cast<ULONG>(std::size(kPins));
    filter.PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX);
    filter.PinDescriptors = kPins;
    filter.CategoriesCount = 1;
    filter.Categories = kCategories;
    return filter;
}
const KSFILTER_DESCRIPTOR kFilter = FilterDescriptor();

NTSTATUS Start(PKSDEVICE device, PIRP, PCM_RESOURCE_LIST, PCM_RESOURCE_LIST)
{
    PKSFILTERFACTORY factory = nullptr;
    NTSTATUS status = KsCreateFilterFactory(device->FunctionalDeviceObject, &kFilter, u"PINS",
                                            nullptr, 0, nullptr, nullptr, &factory);
    return NT_SUCCESS(status) ? KsFilterFactorySetDeviceClassesState(factory, TRUE) : status;
}

KSDEVICE_DISPATCH DeviceDispatch()
{
    KSDEVICE_DISPATCH dispatch{};
    dispatch.Start = Start;
    return dispatch;
}
const KSDEVICE_DISPATCH kDeviceDispatch = DeviceDispatch();
const KSDEVICE_DESCRIPTOR kDevice = {&kDeviceDispatch, 0, nullptr, MIN_DEV_VER_FOR_QI, 0, 0};

NTSTATUS Entry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath)
{
    return KsInitializeDriver(driverObject, registryPath, &kDevice);
}

void Exercise(Platform::Ks::FilterHandle& filter, const uint8_t* data, size_t size)
{
    using namespace Platform;
    const size_t createBytes = std::min<size_t>(data[1] | data[2] << 8, size - 3);
    const std::vector<uint8_t> create(data + 3, data + 3 + createBytes);
    const std::vector<uint8_t> rest(data + 3 + createBytes, data + size);
    if ((data[0] & 2) != 0) {
        filter.DeviceIoControl(IOCTL_KS_PROPERTY,
                               Ks::PropertyBytes(KSPROPSETID_Pin, KSPROPERTY_PIN_DATAINTERSECTION,
                                                 KSPROPERTY_TYPE_GET, rest),
                               data[0] & 0x80 ? 0 : 256);
    }
    auto pin = Ks::PinHandle::OpenRaw(filter, create);
    if (pin == nullptr || (data[0] & 1) == 0) {
        return;
    }
    pin->WalkTo(KSSTATE_RUN);
    KSSTREAM_HEADER header{};
    if (!rest.empty()) {
        std::memcpy(&header, rest.data(), std::min(rest.size(), sizeof header));
    }
    pin->SubmitHeader(IOCTL_KS_WRITE_STREAM, header, std::min<ULONG>(header.Size, 256));
    pin->SubmitHeader(IOCTL_KS_READ_STREAM, header, sizeof header);
    pin->Write(rest, header.FrameExtent % 4096);
    pin->WalkTo(KSSTATE_STOP);
    pin->Collect();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Platform;
    if (size < 3) {
        return 0;
    }
    Kernel::ResetKernel();
    {
        auto driver = Ks::Driver::Load(Entry);
        Ks::Device* device = driver->PlugIn({u"USB\\VID_1234&PID_5678&MI_00"});
        if (device == nullptr || device->Send(Ks::PnpRequest::Start) != STATUS_SUCCESS) {
            std::abort();
        }
        Kernel::UserProcess process(false);
        auto filter = Ks::FilterHandle::Open(process, *device,
                                             device->FindInterface(KSCATEGORY_AUDIO, u"PINS"));
        if (filter == nullptr) {
            std::abort();
        }
        Exercise(*filter, data, size);
        Kernel::RunPending();
    }
    if (!Kernel::OutstandingPool().empty() || Kernel::LiveObjectCount() != 0) {
        std::abort();
    }
    return 0;
}
