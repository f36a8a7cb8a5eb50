// Registry answers for the persisted per-device value: any record, any size, any alignment.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "device/PersistedSetting.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0xFFFF) {
        return 0;
    }
    ULONG value = 0xFFFFFFFF;
    if (DecodeStoredValue(data, static_cast<ULONG>(size), &value) && value > kMaxTransfersAhead) {
        abort();
    }
    return 0;
}
