// Arbitrary requests from a user process to a kernel-streaming filter: whatever the bytes, the
// layer answers with a status and the system does not stop; nothing stays allocated.
//
// Input: byte 0 picks the request (property, enable event, disable event, another code) and the
// process (bit 7: 32-bit), bytes 1-2 the output size (little-endian, at most 4096); of the rest,
// the last bytes (up to the output size) fill the output buffer and the others are the input.
#include <KernelTestApi.h>
#include <KsHostApi.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "KsTestDriver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Platform;
    if (size < 3) {
        return 0;
    }
    Kernel::ResetKernel();
    const ULONG codes[] = {IOCTL_KS_PROPERTY, IOCTL_KS_ENABLE_EVENT, IOCTL_KS_DISABLE_EVENT,
                           IOCTL_KS_METHOD};
    const ULONG code = codes[data[0] & 3];
    const bool narrow = (data[0] & 0x80) != 0;
    const ULONG outputSize = (data[1] | data[2] << 8) % 4097;
    const size_t rest = size - 3;
    const size_t outputBytes = std::min<size_t>(outputSize, rest);
    const std::vector<uint8_t> input(data + 3, data + 3 + (rest - outputBytes));
    const std::vector<uint8_t> output(data + 3 + (rest - outputBytes), data + size);
    {
        auto driver = Ks::Driver::Load(KsTestDriver::DriverEntry);
        Ks::Device* device = driver->PlugIn({u"USB\\VID_1234&PID_5678&MI_00"});
        if (device == nullptr || device->Send(Ks::PnpRequest::Start) != STATUS_SUCCESS) {
            std::abort();
        }
        Kernel::UserProcess process(narrow);
        process.CreateEvent(false, false);  // handle 4, for event requests that name it
        auto handle = Ks::FilterHandle::Open(
            process, *device, device->FindInterface(KSCATEGORY_AUDIO, KsTestDriver::kReference));
        if (handle == nullptr) {
            std::abort();
        }
        const Ks::RequestResult result = handle->DeviceIoControl(code, input, outputSize, output);
        if (result.status == STATUS_PENDING && code != IOCTL_KS_PROPERTY) {
            std::abort();  // only the queued property may stay pending
        }
        handle.reset();
    }
    if (!Kernel::OutstandingPool().empty() || Kernel::LiveObjectCount() != 0) {
        std::abort();
    }
    return 0;
}
