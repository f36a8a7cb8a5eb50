// Any property request any user-mode program can send to the private control filter, from a 32-
// or a 64-bit process: no crash, no sanitizer report, no pool left behind, and no byte of an
// answer that the driver did not write. Every GET that does not consume what it reads is sent
// twice, with the pool filling new blocks with different poison bytes; both answers must be equal,
// so an unwritten byte from pool would show as a difference.
//
// The product's driver is loaded, its device started and one handle opened from a 64-bit and one
// from a 32-bit process (each with a page of its own memory and an event) once per process. Each
// input sends records until it ends; then what it left on a handle is undone (streaming stopped,
// buffers, events and the removal event released, waits released, MIDI ports closed), and a handle
// it made a streaming handle or gave a buffer size of its own, which nothing undoes, is opened
// again. Records:
//   byte 0: bits 0-1 the set (general, streaming, raw, MIDI), bit 2 the 32-bit process, bits 3-4
//           the flags (get, set, basic support, or byte 1's value as flags)
//   byte 1: the id (taken modulo 26, so every id of every set and a few past them are reached)
//   byte 2: the property's bytes after the KSPROPERTY (taken modulo 80)
//   bytes 3-4: the data length (little-endian, taken modulo 33,000)
//   byte 5: bit 0 fills the data's first eight bytes with the process's page address, bit 1 with
//           its event handle (so mapping, locking and referencing are reached), bit 2 the same
//           for the property's first eight bytes after the KSPROPERTY
//   then the property's bytes, then up to 64 bytes of data (the rest of the data is zero).
#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <PluggedUsbDevices.h>
#include <UsbDescriptorSet.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "control/ControlClient.h"
#include "controlfilter/ControlFilterRequest.h"
#include "controlfilter/ControlFilterWire.h"
#include "product/ProductDeviceParts.h"

namespace {

constexpr unsigned char kFirstPoison = 0xCD;
constexpr unsigned char kSecondPoison = 0x3A;
constexpr size_t kRecordHeader = 6;
constexpr size_t kMaxRecords = 48;
constexpr size_t kUserPage = 4096;

const GUID* const kSets[] = {&kPropSetControlGeneral, &kPropSetControlStreaming,
                             &kPropSetControlRaw, &kPropSetControlMidiPorts};

struct Caller
{
    explicit Caller(bool narrow) : process(narrow) {}
    Platform::Kernel::UserProcess process;
    void* page = nullptr;
    HANDLE event = nullptr;
};

struct LoadedProduct
{
    Platform::Ks::PluggedUsbDevices usb;
    std::unique_ptr<Platform::Ks::Driver> driver;
    Platform::Ks::Device* device = nullptr;
    std::u16string link;
    Caller callers[2] = {Caller(false), Caller(true)};
    std::unique_ptr<Platform::Ks::FilterHandle> handles[2];
};

// Opens the caller's handle anew (closing the one it had).
void OpenHandle(LoadedProduct& product, size_t i)
{
    product.handles[i].reset();
    product.handles[i] =
        Platform::Ks::FilterHandle::Open(product.callers[i].process, *product.device, product.link);
    if (product.handles[i] == nullptr) {
        abort();
    }
}

LoadedProduct& Product()
{
    static LoadedProduct* product = [] {
        Platform::Kernel::ResetKernel();
        Platform::Kernel::ResetHostState();
        auto* p = new LoadedProduct;
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        p->driver = Platform::Ks::Driver::Load(ProductDriverEntry, &status);
        std::string error;
        p->device = status == STATUS_SUCCESS
                        ? p->usb.PlugIn(*p->driver, UsbSim::ProductUac2(), &error)
                        : nullptr;
        if (p->device == nullptr ||
            p->device->Send(Platform::Ks::PnpRequest::Start) != STATUS_SUCCESS) {
            abort();
        }
        Platform::Kernel::RunPending();
        p->link = p->device->FindInterface(KSCATEGORY_TOPOLOGY,
                                           Platform::Ks::GuidText(kControlFilterReference));
        for (Caller& caller : p->callers) {
            caller.page = caller.process.Allocate(kUserPage);
            caller.event = caller.process.CreateEvent(false, false);
        }
        if (p->link.empty()) {
            abort();
        }
        for (size_t i = 0; i < 2; ++i) {
            OpenHandle(*p, i);
        }
        return p;
    }();
    return *product;
}

// Requests whose answer changes by being read: sent once.
bool ReadConsumes(size_t set, ULONG id)
{
    return (set == 0 && (id == kPropGeneralInputPeaks || id == kPropGeneralOutputPeaks)) ||
           (set == 1 && (id == kPropStreamingChangeFlags || id == kPropStreamingWait)) ||
           (set == 3 && id == kPropMidiRead);
}

void PutAddress(std::vector<uint8_t>& bytes, size_t at, const void* value)
{
    if (bytes.size() >= at + 8) {
        const auto bits = reinterpret_cast<uintptr_t>(value);
        std::memcpy(bytes.data() + at, &bits, 8);
    }
}

struct Record
{
    size_t set;
    bool narrow;
    ULONG id;
    ULONG flags;
    std::vector<uint8_t> property;
    std::vector<uint8_t> data;
};

// The next record, or false when the input has no whole header left.
bool NextRecord(const uint8_t*& at, const uint8_t* end, const Caller (&callers)[2], Record* record)
{
    if (static_cast<size_t>(end - at) < kRecordHeader) {
        return false;
    }
    const uint8_t* header = at;
    at += kRecordHeader;
    record->set = header[0] & 3;
    record->narrow = (header[0] & 4) != 0;
    static constexpr ULONG kFlags[] = {KSPROPERTY_TYPE_GET, KSPROPERTY_TYPE_SET,
                                       KSPROPERTY_TYPE_BASICSUPPORT, 0};
    record->id = header[1] % 26;
    record->flags = kFlags[(header[0] >> 3) & 3];
    if (((header[0] >> 3) & 3) == 3) {
        record->flags = header[1];
    }
    const size_t tail = header[2] % 80;
    const size_t dataBytes = (header[3] | header[4] << 8) % 33000;
    record->property = Platform::Ks::PropertyBytes(*kSets[record->set], record->id, record->flags);
    const size_t taken = std::min<size_t>(tail, end - at);
    record->property.insert(record->property.end(), at, at + taken);
    record->property.resize(sizeof(KSPROPERTY) + tail, 0);
    at += taken;
    record->data.assign(dataBytes, 0);
    const size_t given = std::min<size_t>({dataBytes, 64, static_cast<size_t>(end - at)});
    if (given != 0) {
        std::memcpy(record->data.data(), at, given);
        at += given;
    }
    const Caller& caller = callers[record->narrow ? 1 : 0];
    if ((header[5] & 1) != 0) {
        PutAddress(record->data, 0, caller.page);
    }
    if ((header[5] & 2) != 0) {
        PutAddress(record->data, 0, caller.event);
    }
    if ((header[5] & 4) != 0) {
        PutAddress(record->property, sizeof(KSPROPERTY), caller.page);
    }
    return true;
}

void Send(Platform::Ks::FilterHandle& handle, const Record& record)
{
    const bool get = record.flags == KSPROPERTY_TYPE_GET;
    Platform::Kernel::SetPoolPoisonByte(kFirstPoison);
    const Platform::Ks::RequestResult first = handle.DeviceIoControl(
        IOCTL_KS_PROPERTY, record.property, static_cast<ULONG>(record.data.size()), record.data);
    if (!get || ReadConsumes(record.set, record.id) || first.status == STATUS_PENDING) {
        return;
    }
    Platform::Kernel::SetPoolPoisonByte(kSecondPoison);
    const Platform::Ks::RequestResult second = handle.DeviceIoControl(
        IOCTL_KS_PROPERTY, record.property, static_cast<ULONG>(record.data.size()), record.data);
    Platform::Kernel::SetPoolPoisonByte(kFirstPoison);
    if (first.status != second.status || first.information != second.information ||
        first.data != second.data) {
        abort();  // an answer carried a byte nobody wrote
    }
}

// Undoes what an input left on the handle's client, as its requests would, in the process's
// context; false when the handle keeps something nothing undoes (an owner, a buffer size).
bool ResetHandle(LoadedProduct& product, size_t i)
{
    ControlClient* client = ClientOfFilter(product.handles[i]->Filter());
    if (client == nullptr) {
        return false;
    }
    Platform::Kernel::AttachedToProcess attached(product.callers[i].process);
    client->StopStreaming();
    client->UnmapClientBuffers(kControlInput);
    client->UnmapClientBuffers(kControlOutput);
    client->ReleaseEvents();
    client->ReleaseRemovalEvent();
    client->CloseAllPorts();
    client->ReleaseMidiEvent();
    client->TakeChangeFlags();
    for (ULONG n = 0; n < kMaxRecords; ++n) {
        client->ReleaseWait();  // an input queues at most one wait a record
    }
    return !client->HasOwner() && client->BufferSize() == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    LoadedProduct& product = Product();
    const uint8_t* at = data;
    const uint8_t* end = data + size;
    Record record;
    for (size_t n = 0; n < kMaxRecords && NextRecord(at, end, product.callers, &record); ++n) {
        Send(*product.handles[record.narrow ? 1 : 0], record);
    }
    for (size_t i = 0; i < 2; ++i) {
        if (!ResetHandle(product, i)) {
            OpenHandle(product, i);
        }
    }
    Platform::Kernel::RunPending();
    return 0;
}
