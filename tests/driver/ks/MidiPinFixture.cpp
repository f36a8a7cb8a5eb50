#include "MidiPinFixture.h"

#include <gtest/gtest.h>

#include <new>

#include "device/PoolTag.h"
#include "midi/MidiConfiguration.h"

namespace {

constexpr ULONG kTagModel = PoolTag("TsMp");

// The table the next device is built with, and its arrays as the model hands them out.
struct TableArrays
{
    MidiPortTable table;
    std::vector<PCWSTR> inputNames;
    std::vector<PCWSTR> outputNames;
    std::vector<ULONG> inputIds;
    std::vector<ULONG> outputIds;
    std::vector<ULONG> rates;
};

TableArrays& Current()
{
    static TableArrays arrays;
    return arrays;
}

void SetTable(const MidiPortTable& table)
{
    TableArrays& a = Current();
    a = {};
    a.table = table;
    for (const MidiPort& port : a.table.inputs) {
        a.inputNames.push_back(port.name.c_str());
        a.inputIds.push_back(static_cast<ULONG>(port.id));
    }
    for (const MidiPort& port : a.table.outputs) {
        a.outputNames.push_back(port.name.c_str());
        a.outputIds.push_back(static_cast<ULONG>(port.id));
        a.rates.push_back(kPinMidiWireRate);
    }
}

}  // namespace

MidiPortTable TwoInThreeOut()
{
    return {{{u"Port A", 0}, {u"Port B", 1}}, {{u"Port A", 0}, {u"Port B", 1}, {u"Port C", 2}}};
}

void MidiPinDeviceModel::GetMidiPortCounts(ULONG* ports, ULONG* second)
{
    const TableArrays& a = Current();
    *ports = static_cast<ULONG>(std::max(a.inputIds.size(), a.outputIds.size()));
    *second = 0;
}

NTSTATUS MidiPinDeviceModel::GetMidiConfiguration(ULONG index, MidiConfiguration* record)
{
    const TableArrays& a = Current();
    *record = {};
    record->index = index;
    record->inputPortCount = static_cast<ULONG>(a.inputIds.size());
    record->inputPortNames = a.inputNames.data();
    record->inputPortIds = a.inputIds.data();
    record->outputPortCount = static_cast<ULONG>(a.outputIds.size());
    record->outputPortNames = a.outputNames.data();
    record->outputPortIds = a.outputIds.data();
    record->outputByteRates = a.rates.data();
    return STATUS_SUCCESS;
}

DeviceModel* MidiPinDeviceParts::CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath)
{
    void* memory = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(MidiPinDeviceModel), kTagModel);
    if (memory == nullptr) {
        return nullptr;
    }
    auto* model = new (memory) MidiPinDeviceModel(deviceLink, registryPath, &engines);
    if (!model->CreateEngine()) {
        DestroyDeviceModel(model);
        return nullptr;
    }
    return model;
}

void MidiPinDeviceParts::DestroyDeviceModel(DeviceModel* model)
{
    auto* own = static_cast<MidiPinDeviceModel*>(model);
    own->~MidiPinDeviceModel();
    ExFreePoolWithTag(own, kTagModel);
}

void MidiPinTest::SetUp()
{
    LoadDriver(parts, DriverKey::Installed);
}

void MidiPinTest::TearDown()
{
    pins_.clear();
    filters_.clear();
    // With no client left the MIDI tick stops at its next run, before the driver goes.
    Run(std::chrono::milliseconds(5));
    LoadedDriverFixture::TearDown();
}

Platform::Ks::Device* MidiPinTest::PlugIn(const MidiPortTable& table)
{
    SetTable(table);
    UsbSim::ProductVariant variant;
    variant.audioClass = 1;
    variant.midi = true;
    const size_t cables = std::max<size_t>({table.inputs.size(), table.outputs.size(), 1});
    variant.midiCables = static_cast<uint8_t>(cables);
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    device = PlugInDevice(UsbSim::BuildProductDescriptors(variant), true, &status);
    EXPECT_EQ(status, STATUS_SUCCESS);
    Platform::Kernel::RunPending();
    return device;
}

void MidiPinTest::Run(std::chrono::milliseconds duration)
{
    Platform::Kernel::AdvanceTime(duration);
    Platform::Kernel::RunPending();
}

LONGLONG MidiPinTest::Now100ns()
{
    LARGE_INTEGER frequency;
    const LARGE_INTEGER counter = KeQueryPerformanceCounter(&frequency);
    const LONGLONG perSecond = frequency.QuadPart;
    return counter.QuadPart / perSecond * 10000000 +
           counter.QuadPart % perSecond * 10000000 / perSecond;
}

Platform::Ks::FilterHandle* MidiPinTest::OpenFilter(const GUID& category,
                                                    const std::u16string& reference)
{
    const std::u16string link = device->FindInterface(category, reference);
    if (link.empty()) {
        return nullptr;
    }
    filters_.push_back(Platform::Ks::FilterHandle::Open(process_, *device, link));
    return filters_.back().get();
}

Platform::Ks::PinHandle* MidiPinTest::OpenPin(Platform::Ks::FilterHandle* filter, ULONG pinId,
                                              bool directMusic, NTSTATUS* status)
{
    auto pin = Platform::Ks::PinHandle::Open(*filter, pinId,
                                             Platform::Ks::MidiFormatBytes(directMusic), status);
    if (pin == nullptr) {
        return nullptr;
    }
    pins_.push_back(std::move(pin));
    return pins_.back().get();
}

std::vector<MidiFilter*> MidiPinTest::MidiFilters()
{
    std::vector<MidiFilter*> found;
    PKSDEVICE ks = device->KsDevice();
    KsAcquireDevice(ks);
    for (PKSFILTERFACTORY factory = KsDeviceGetFirstChildFilterFactory(ks); factory != nullptr;
         factory = KsFilterFactoryGetNextSiblingFilterFactory(factory)) {
        if (MidiFilter* filter = MidiFilterOfFactory(factory)) {
            found.push_back(filter);
        }
    }
    KsReleaseDevice(ks);
    return found;
}

std::vector<std::vector<uint8_t>> MidiPinTest::TakeOutPackets()
{
    const std::vector<uint8_t> bytes = UsbDevice().TakeBulkReceived(kPinMidiOutEndpoint);
    std::vector<std::vector<uint8_t>> packets;
    for (size_t o = 0; o + 4 <= bytes.size(); o += 4) {
        packets.emplace_back(bytes.begin() + static_cast<long>(o),
                             bytes.begin() + static_cast<long>(o + 4));
    }
    return packets;
}

void MidiPinTest::QueueIn(const std::vector<uint8_t>& packets)
{
    UsbDevice().QueueBulkIn(kPinMidiInEndpoint, packets);
}
