// The binding of the client library: a missing library or export answers -1 (false), a present one
// is called with the caller's arguments, and destruction releases the library before unloading it.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "UlvaneInterface.h"

namespace {

using Orv::ParamDescriptor;
using Orv::UlvaneInterface;
using Orv::Variant;

std::u16string Wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

const std::u16string kPartialLibrary = Wide(PARTIAL_ULVANE_DIR) + u"\\Ulvane.dll";

// Every wrapper but IsDeviceConnected, each with harmless arguments.
struct WrapperCall
{
    const char* name;
    std::function<int32_t(UlvaneInterface&)> call;
};

std::vector<WrapperCall> EveryWrapper()
{
    static Variant id;
    static Variant out;
    static ParamDescriptor descriptor;
    static uint8_t record[256];
    static Orv::ParamDescriptors descriptors;
    return {
        {"FindDevices", [](UlvaneInterface& b) { return b.FindDevices(nullptr, 0, &out); }},
        {"FindRemoteDevices",
         [](UlvaneInterface& b) { return b.FindRemoteDevices(nullptr, 0, &out, 1); }},
        {"ConnectDevice",
         [](UlvaneInterface& b) {
             return b.ConnectDevice(
                 &id, [](void*, int32_t, const Variant*) {}, nullptr);
         }},
        {"RequestParamRanges", [](UlvaneInterface& b) { return b.RequestParamRanges(&id, &out); }},
        {"RequestParamValues (list)",
         [](UlvaneInterface& b) { return b.RequestParamValues(&id, &descriptors); }},
        {"RequestParamValues (one)",
         [](UlvaneInterface& b) { return b.RequestParamValues(&id, descriptor); }},
        {"GetParamRanges", [](UlvaneInterface& b) { return b.GetParamRanges(&id, &out, &out); }},
        {"GetParamValues", [](UlvaneInterface& b) { return b.GetParamValues(&id, &out, &out); }},
        {"GetParamValue",
         [](UlvaneInterface& b) { return b.GetParamValue(&id, &descriptor, &out); }},
        {"SetParamValue",
         [](UlvaneInterface& b) { return b.SetParamValue(&id, &descriptor, &out); }},
        {"SetParamValues", [](UlvaneInterface& b) { return b.SetParamValues(&id, &out); }},
        {"DisconnectDevice", [](UlvaneInterface& b) { return b.DisconnectDevice(&id); }},
        {"GetDeviceInfo", [](UlvaneInterface& b) { return b.GetDeviceInfo(&id, record); }},
    };
}

TEST(UlvaneInterface, WithoutTheLibraryEveryWrapperAnswersMissing)
{
    UlvaneInterface binding(Orv::WideString(u"\\no\\such\\folder\\Ulvane.dll"));
    EXPECT_FALSE(binding.IsLoaded());
    for (const WrapperCall& wrapper : EveryWrapper()) {
        EXPECT_EQ(wrapper.call(binding), -1) << wrapper.name;
    }
    Variant id;
    EXPECT_FALSE(binding.IsDeviceConnected(&id));
}

TEST(UlvaneInterface, ALibraryWithoutAnExportLosesOnlyThatWrapper)
{
    UlvaneWorld world(kPartialLibrary);
    ASSERT_TRUE(world.IsReady());
    const Variant id = world.AddDevice("partial");
    {
        UlvaneInterface binding(Orv::WideString(kPartialLibrary.c_str()));
        ASSERT_TRUE(binding.IsLoaded());
        uint8_t record[256] = {};
        EXPECT_EQ(binding.GetDeviceInfo(&id, record), -1);
        EXPECT_EQ(world->GetCallCount(UlvaneTest::Export::GetDeviceInfo), 0u);

        Variant ids;
        EXPECT_EQ(binding.FindDevices(nullptr, 0, &ids), 0);
        EXPECT_EQ(ids.GetListItemCount(), 1u);
        EXPECT_EQ(binding.ConnectDevice(
                      &id, [](void*, int32_t, const Variant*) {}, nullptr),
                  0);
        EXPECT_TRUE(binding.IsDeviceConnected(&id));
    }
    // The library has no QELT_ReleaseAll, so the binding could not release the connection.
    EXPECT_EQ(world->GetOpenConnectionCount(), 1);
    EXPECT_EQ(world->GetCallCount(UlvaneTest::Export::ReleaseAll), 0u);
}

// What the library hands to the callback, kept for the test thread.
struct Inbox
{
    std::mutex lock;
    std::vector<Orv::ParamValues> batches;

    static void Receive(void* context, int32_t, const Variant* values)
    {
        auto* inbox = static_cast<Inbox*>(context);
        const std::lock_guard<std::mutex> guard(inbox->lock);
        Orv::ParamValues copy;
        static_cast<Variant&>(copy) = *values;
        inbox->batches.push_back(copy);
    }
};

TEST(UlvaneInterface, TheProgramFolderLibraryIsCalledWithTheCallersArguments)
{
    UlvaneWorld world;
    ASSERT_TRUE(world.IsReady());
    const Variant id = world.AddDevice("Studio");
    Inbox inbox;
    {
        UlvaneInterface binding;
        ASSERT_TRUE(binding.IsLoaded());
        Variant other;
        other.SetString("QRV:nobody");
        EXPECT_FALSE(binding.IsDeviceConnected(&id));  // the library answers 1
        ASSERT_EQ(binding.ConnectDevice(&id, &Inbox::Receive, &inbox), 0);
        EXPECT_TRUE(binding.IsDeviceConnected(&id));
        EXPECT_FALSE(binding.IsDeviceConnected(&other));

        // One descriptor goes out as a one-item list and comes back as one value.
        ParamDescriptor name;
        name.id = -8;
        ASSERT_EQ(binding.RequestParamValues(&id, name), 0);
        world->WaitForCallbacks();
        {
            const std::lock_guard<std::mutex> guard(inbox.lock);
            ASSERT_EQ(inbox.batches.size(), 1u);
            int32_t receivedId = 0;
            const Variant value = OnlyValue(inbox.batches[0], receivedId);
            EXPECT_EQ(receivedId, -8);
            EXPECT_STREQ(value.GetString(), "Studio");
        }

        Variant current;
        ParamDescriptor rate;
        rate.id = 4;
        ASSERT_EQ(binding.GetParamValue(&id, &rate, &current), 0);
        EXPECT_EQ(current.GetDouble(), 44100.0);
        uint8_t record[256] = {};
        ASSERT_EQ(binding.GetDeviceInfo(&id, record), 0);
        EXPECT_EQ(record[252], 1);
        EXPECT_EQ(world->GetCallCount(UlvaneTest::Export::ReleaseAll), 0u);
    }
    EXPECT_EQ(world->GetCallCount(UlvaneTest::Export::ReleaseAll), 1u);
    EXPECT_EQ(world->GetOpenConnectionCount(), 0);
    EXPECT_FALSE(world->IsCallbackThreadRunning());
}

}  // namespace
