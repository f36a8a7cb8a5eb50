// Arbitrary configuration descriptors straight into the driver's descriptor parsing: the interface
// walk and the class-specific descriptors of every endpoint, without a bus or a transport, so
// each input costs microseconds. fuzz_usb_configuration takes the same bytes through the whole
// start of the transport.
#include <cstddef>
#include <cstdint>

#include "UsbDescriptorWalk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096) {
        return 0;
    }
    FuzzUsb::ParseEveryEndpoint(data, size);
    return 0;
}
