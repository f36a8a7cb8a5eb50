// The root module between the device and the engine: defaults before the device speaks, routing
// and caching of received batches, publication of what changed, and the write paths.
#include "RootModule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "EngineTestSupport.h"
#include "ParamIds.h"

namespace {

using Orv::ParamDescriptor;
using Orv::Variant;

// What the root hands to the engine, as the engine would receive it.
struct Publications
{
    static void Record(void* context, const Orv::Array<Orv::ParamValue>& values)
    {
        auto* self = static_cast<Publications*>(context);
        const std::lock_guard<std::mutex> guard(self->lock);
        for (uint32_t i = 0; i < values.GetCount(); ++i) {
            self->values.push_back(values.GetAt(i));
        }
    }
    std::vector<Orv::ParamValue> Taken()
    {
        const std::lock_guard<std::mutex> guard(lock);
        return std::exchange(values, {});
    }
    std::mutex lock;
    std::vector<Orv::ParamValue> values;
};

Orv::ParamValues Batch(const std::vector<Orv::ParamValue>& items)
{
    Orv::ParamValues batch;
    batch.SetValues(items.data(), static_cast<uint32_t>(items.size()));
    return batch;
}

class RootModuleTest : public testing::Test
{
protected:
    RootModuleTest() : registry(nullptr, nullptr) {}

    void SetUp() override
    {
        ASSERT_TRUE(world.IsReady());
        ASSERT_EQ(communication->Initialize(), 0);
        ASSERT_EQ(root->Initialize(&Publications::Record, &published, cache, communication, 0), 0);
    }

    Variant Cached(int32_t id) const
    {
        Variant value;
        cache->Get(ParamDescriptor{id, {}}, value);
        return value;
    }

    EngineRegistry registry;
    UlvaneWorld world;
    Publications published;
    Orv::RCPtr<LParamCache> cache{new LParamCache(11)};
    Orv::RCPtr<LDeviceCommunicationInterface> communication =
        LDeviceCommunicationInterface::Create();
    Orv::RCPtr<LRootModule> root = LRootModule::Create(false);
};

TEST_F(RootModuleTest, DefaultsAreSeededAndNothingIsPublished)
{
    Variant rate;
    EXPECT_EQ(root->ReadParamValue(ParamDescriptor{ParamIds::kSampleRate, {}}, rate), 0);
    EXPECT_EQ(rate.GetType(), Orv::kVariantDouble);
    EXPECT_EQ(rate.GetDouble(), 44100.0);
    for (int32_t id = 0; id < 11; ++id) {
        EXPECT_TRUE(Cached(id) == ParamIds::GetDefaultValue(id)) << id;
    }
    EXPECT_TRUE(published.Taken().empty());
    Variant outside;
    EXPECT_EQ(root->ReadParamValue(ParamDescriptor{11, {}}, outside), E_FAIL);
    EXPECT_TRUE(outside.IsEmpty());
}

TEST_F(RootModuleTest, ABatchIsCachedAndEachChangePublishedOnce)
{
    Variant latencies;
    const int32_t pair[2] = {10, 20};
    latencies.SetBlob(pair, sizeof pair);
    Variant yes;
    yes.SetBool(true);
    root->OnParamValuesReceived(Batch({
        {{2, {}}, Int32Value(512)},
        {{2, {}}, Int32Value(512)},
        {{4, {}}, Variant()},
        {{11, {}}, Int32Value(7)},
        {{ParamIds::kLatencies, {}}, latencies},
        {{ParamIds::kCommunicationState, {}}, yes},
        {{9, {}}, yes},
    }));
    const auto values = published.Taken();
    ASSERT_EQ(values.size(), 5u);
    const int32_t expectedIds[] = {2, 11, ParamIds::kLatencies, ParamIds::kCommunicationState, 9};
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(values[i].descriptor.id, expectedIds[i]) << i;
    }
    EXPECT_EQ(values[0].value.GetInt32(), 512);
    EXPECT_TRUE(values[2].value == latencies);
    EXPECT_EQ(Cached(2).GetInt32(), 512);
    EXPECT_EQ(Cached(4).GetDouble(), 44100.0);
    EXPECT_TRUE(Cached(9).GetBool());
    // Nothing of the ids outside the block reached the cache.
    for (int32_t id = 0; id < 11; ++id) {
        if (id != 2 && id != 9) {
            EXPECT_TRUE(Cached(id) == ParamIds::GetDefaultValue(id)) << id;
        }
    }
}

TEST_F(RootModuleTest, AnUnreadableItemIsPublishedAsIdMinusOne)
{
    Orv::ParamValues batch;
    const Variant plain[] = {Int32Value(1)};
    batch.SetList(plain, 1);
    root->OnParamValuesReceived(batch);
    const auto values = published.Taken();
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].descriptor.id, -1);
    EXPECT_TRUE(values[0].value.IsEmpty());
}

TEST_F(RootModuleTest, ConnectedValuesComeFromTheDeviceAndWritesReachIt)
{
    const Variant id = world.AddDevice("Desk");
    ASSERT_EQ(root->Connect(id), 0);
    EXPECT_FALSE(root->IsOffline());
    Variant deviceSize;
    ASSERT_TRUE(world.GetDeviceValue("Desk", 2, deviceSize));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(Cached(2) == deviceSize) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(Cached(2) == deviceSize);

    published.Taken();
    const Variant size = Int32Value(deviceSize.GetInt32() == 128 ? 1024 : 128);
    EXPECT_GE(root->StoreParamValue(ParamDescriptor{2, {}}, size), 0);
    Variant onDevice;
    ASSERT_TRUE(world.GetDeviceValue("Desk", 2, onDevice));
    EXPECT_TRUE(onDevice == size);
    // Cached and published before the device confirms. A batch the device sent before the write
    // may still be on the receive thread and be cached after it; what the device sends next
    // carries the written value, so the cache comes back to it.
    const auto settle = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(Cached(2) == size) && std::chrono::steady_clock::now() < settle) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(Cached(2) == size);
    // The rest of the connect's answer may still be arriving on the receive thread, so the
    // write is looked for among what was published rather than expected first.
    const auto values = published.Taken();
    const bool writePublished =
        std::any_of(values.begin(), values.end(), [&](const Orv::ParamValue& value) {
            return value.descriptor.id == 2 && value.value == size;
        });
    EXPECT_TRUE(writePublished);
}

TEST_F(RootModuleTest, AfterAFailedConnectWritesStayInTheCache)
{
    world->SetConnectFails(true);
    EXPECT_LT(root->Connect(world.AddDevice("Desk")), 0);
    EXPECT_TRUE(root->IsOffline());
    const uint64_t sentBefore = world->GetCallCount(UlvaneTest::Export::SetParamValue);
    EXPECT_EQ(root->StoreParamValue(ParamDescriptor{2, {}}, Int32Value(1024)), 0);
    EXPECT_EQ(world->GetCallCount(UlvaneTest::Export::SetParamValue), sentBefore);
    EXPECT_EQ(Cached(2).GetInt32(), 1024);
    const auto values = published.Taken();
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].value.GetInt32(), 1024);
}

TEST_F(RootModuleTest, APseudoModuleIdSetByThePanelGoesToTheDevice)
{
    ASSERT_EQ(root->Connect(world.AddDevice("Desk")), 0);
    const uint64_t sentBefore = world->GetCallCount(UlvaneTest::Export::SetParamValue);
    Variant value;
    value.SetBool(true);
    EXPECT_EQ(root->GetDevice()->GetAudioStatus()->SetParamValueLocal(ParamDescriptor{-200, {}},
                                                                      value, false),
              1);
    EXPECT_EQ(world->GetCallCount(UlvaneTest::Export::SetParamValue), sentBefore + 1);
}

}  // namespace
