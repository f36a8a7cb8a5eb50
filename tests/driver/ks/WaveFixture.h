// The product's device on its own parts, with its wave filter made at start from the endpoint
// the tests give, opened from a user process; and the checks of what the device received.
#pragma once

#include <KsPinHandle.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "EndToEndFixture.h"
#include "ks/WaveEndpoint.h"
#include "ks/WaveFilter.h"

inline constexpr GUID kLine12PinName = {
    0x6E7982E1, 0x055C, 0x4684, {0x80, 0x8A, 0x6E, 0x48, 0x1F, 0x5F, 0xA0, 0x41}};
inline constexpr char16_t kProductReference[] = u"CORVANEQUORVELSTEREOOUT12";

WaveEndpoint ProductEndpoint();
// The endpoint the next device start builds its wave filter from (the product's by default).
WaveEndpoint& EndpointForNextStart();
// The shape the next start builds, when not the one the endpoint's kind selects.
std::optional<WaveTopology>& TopologyForNextStart();
// What each start built (null when it built nothing), oldest first.
std::vector<WaveFilter*>& CreatedWaveFilters();

class WaveFilterTest : public EndToEndTest
{
protected:
    void SetUp() override
    {
        EndpointForNextStart() = ProductEndpoint();
        TopologyForNextStart().reset();
        CreatedWaveFilters().clear();
        EndToEndTest::SetUp();
    }
    void TearDown() override
    {
        pins_.clear();
        filter_.reset();
        EndToEndTest::TearDown();
    }

    // Opens the wave filter of the category from the process.
    Platform::Ks::FilterHandle* OpenFilter(const GUID& category = KSCATEGORY_RENDER,
                                           const std::u16string& reference = kProductReference)
    {
        filter_ = Platform::Ks::FilterHandle::Open(process_, *device,
                                                   device->FindInterface(category, reference));
        return filter_.get();
    }
    Platform::Ks::PinHandle* OpenPin(ULONG id, const std::vector<uint8_t>& format,
                                     NTSTATUS* status = nullptr)
    {
        auto pin = Platform::Ks::PinHandle::Open(*filter_, id, format, status);
        pins_.push_back(std::move(pin));
        return pins_.back().get();
    }

    Platform::Kernel::UserProcess process_;
    std::unique_ptr<Platform::Ks::FilterHandle> filter_;
    std::vector<std::unique_ptr<Platform::Ks::PinHandle>> pins_;
};
