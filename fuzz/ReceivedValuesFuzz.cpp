// Arbitrary bytes as a batch of parameter values from the device library, handed to the root
// module as the receive thread does: whatever the batch holds (misshapen items, NaN sub-indices,
// ids nobody owns, lists of lists), the root and its cache never read outside the bytes, publish
// at most one value per item received, and never keep a NaN sub-index.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "ParamCache.h"
#include "RootModule.h"
#include "Utilities/Storage/ParamLists.h"
#include "Utilities/Storage/Variant.h"

namespace {

constexpr int32_t kSlotCount = 11;

struct Published
{
    static void Record(void* context, const Orv::Array<Orv::ParamValue>& values)
    {
        static_cast<Published*>(context)->count += values.GetCount();
    }
    uint32_t count = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > UINT32_MAX) {
        return 0;
    }
    Orv::ParamValues batch;
    static_cast<Orv::Variant&>(batch).Set(Orv::kVariantList, data, static_cast<uint32_t>(size));
    const uint32_t items = batch.GetListItemCount();

    Published published;
    Orv::RCPtr<LParamCache> cache{new LParamCache(kSlotCount)};
    Orv::RCPtr<LRootModule> root = LRootModule::Create(false);
    // No device channel: the root works on its cache alone, as before a device connects.
    if (root->Initialize(&Published::Record, &published, cache, nullptr, 0) != 0) {
        std::abort();
    }
    published.count = 0;  // seeding publishes nothing, but count only what the batch caused

    root->OnParamValuesReceived(batch);
    root->OnParamValuesReceived(batch);  // the same batch again changes nothing more

    // Every published value came from an item of one of the two batches.
    if (published.count > 2 * items) {
        std::abort();
    }
    // No NaN sub-index got into a sub-indexed slot.
    for (int32_t slot = 0; slot < kSlotCount; ++slot) {
        Orv::Variant whole;
        if (cache->Get(Orv::ParamDescriptor{slot, {}}, whole) != 0 || !whole.IsList()) {
            continue;
        }
        Orv::ParamValues list;
        static_cast<Orv::Variant&>(list) = whole;
        const uint32_t entries = list.GetListItemCount();
        for (uint32_t i = 0; i < entries; ++i) {
            Orv::Variant value;
            Orv::Variant subIndex;
            int32_t id = 0;
            if (list.GetParamValueItem(i, value, id, subIndex) == 0 &&
                (subIndex.GetType() == Orv::kVariantDouble ||
                 subIndex.GetType() == Orv::kVariantFloat) &&
                std::isnan(subIndex.GetDouble())) {
                std::abort();
            }
        }
    }
    root->StopReceiving();
    return 0;
}
