// Stand-ins for the objects a device context owns and the filters it serves, so the device's
// lifecycle can be driven through the Windows side: a device model that records what it is asked,
// parts that can refuse to build each object, a control filter whose client can register a
// removal event, endpoint naming that records its calls and creates one filter factory.
#pragma once

#include <KernelTestApi.h>
#include <KsHostApi.h>

#include <string>
#include <vector>

#include "LoadedDriverFixture.h"
#include "device/DeviceContext.h"
#include "device/DeviceLifecycle.h"
#include "device/DeviceModel.h"
#include "device/DeviceParts.h"
#include "device/FilterLinks.h"

// What the stand-ins saw, in order ("Start", "Stop(5)", "CreateFilterFactories" ...).
std::vector<std::string>& Journal();
size_t CountOf(const std::string& entry);

class FakeDeviceModel final : public DeviceModel
{
public:
    FakeDeviceModel(DeviceLink link, PCWSTR path) : DeviceModel(link, path) {}

    DeviceContext* owner = nullptr;
    bool started = false;
    NTSTATUS loadSettingStatus = STATUS_SUCCESS;
    NTSTATUS startStatus = STATUS_SUCCESS;
    bool externalClock = false;
    ULONG rates[3] = {44100, 48000, 96000};
    std::u16string registryPath;

    void SetOwner(DeviceContext* context) override { owner = context; }
    NTSTATUS LoadSetting() override;
    NTSTATUS Start() override;
    void Stop(ULONG reason) override;
    bool IsStarted() override { return started; }
    void GetDeviceChannelCounts(ULONG* outputs, ULONG* inputs) override;
    void GetMidiPortCounts(ULONG* ports, ULONG* second) override;
    void GetCurrentConfiguration(StreamConfiguration*) override {}
    NTSTATUS GetMidiPortInfo(MidiConfiguration*) override { return STATUS_SUCCESS; }
    ULONGLONG GetInterruptTime() override { return 0; }
    PCWSTR GetHardwareId() override { return u"USB\\VID_2B7E&PID_5C19&MI_00"; }
    ULONG GetVendorId() override { return 0x2B7E; }
    ULONG GetProductId() override { return 0x5C19; }
    PCWSTR GetProductNameWide() override { return u"Quorvel"; }
    PCSTR GetProductNameNarrow() override { return "Quorvel"; }
    ULONG GetDefaultBufferSize() override { return 512; }
    ULONG GetMaxRateKilohertz() override { return 96; }
    NTSTATUS GetLatencies(ULONG, ULONG, ULONG*, ULONG*) override { return STATUS_SUCCESS; }
    NTSTATUS GetCallbackDelay(ULONG* value) override
    {
        *value = 3;
        return STATUS_SUCCESS;
    }
    void SetCallbackDelay(ULONG) override {}
    NTSTATUS GetClockSourceInfo(ClockSourceInfo* info) override;
    NTSTATUS GetClockSourceGuid(ULONG, GUID*) override { return STATUS_UNSUCCESSFUL; }
    bool IsExternalClockSelected() override { return externalClock; }
    LONG GetClockSourceRecord(ClockSourceRecord*) override { return 0; }
    NTSTATUS SetClockSource(LONG) override { return STATUS_UNSUCCESSFUL; }
    LONG EvaluateClockStatus() override { return 1; }
    LONG GetClockStatus() override { return 1; }
    ULONG GetCurrentRate() override { return 44100; }
    ULONG GetCurrentRateIndex(LONG* configurationIndex) override;
    bool CanUseRate(ULONG) override { return true; }
    ULONG GetNearestRateIndex(ULONG, LONG* configurationIndex) override;
    ULONG GetBufferGranularity(ULONG) override { return 16; }
    ULONG GetMinimumBlock() override { return 16; }
    void GetFirmwareVersion(ULONG*, ULONG*, ULONG*, ULONG*) override {}
    NTSTATUS RawGet(const RawDeviceRequest*, PVOID) override { return STATUS_UNSUCCESSFUL; }
    NTSTATUS RawSet(const RawDeviceRequest*, PVOID) override { return STATUS_UNSUCCESSFUL; }
    NTSTATUS SetOutputModeValue(ULONG) override { return STATUS_UNSUCCESSFUL; }
    NTSTATUS EnableOutputMode(bool) override { return STATUS_UNSUCCESSFUL; }
    bool IsOutputModeActive() override { return false; }
    bool IsHighSpeed() override { return true; }
    LONG SetControlSwitch(bool, ULONG) override { return static_cast<LONG>(0x80004005); }
    LONG GetControlValue(ULONG* value) override;
    NTSTATUS GetExtendedInfo(PVOID) override { return STATUS_SUCCESS; }
    NTSTATUS GetMixer(MixerBlock*, ULONG) override { return STATUS_UNSUCCESSFUL; }
    NTSTATUS SetMixer(const MixerBlock*, ULONG) override { return STATUS_UNSUCCESSFUL; }
    NTSTATUS GetInputPeaks(ULONG*) override { return STATUS_SUCCESS; }
    NTSTATUS GetOutputPeaks(ULONG*) override { return STATUS_SUCCESS; }
    NTSTATUS GetKeepRunning(UCHAR* on) override;
    NTSTATUS SetKeepRunning(bool) override { return STATUS_SUCCESS; }
    void GetSupportedRates(ULONG* count, const ULONG** list) override;
    LONG GetConfiguration(ULONG, StreamConfiguration*) override { return 0; }
    NTSTATUS GetMidiConfiguration(ULONG, MidiConfiguration*) override { return STATUS_SUCCESS; }
    void Reserved52() override {}
    LONG SetStreamConfiguration(const StreamConfiguration*, LONG) override { return 0; }
    LONG SetMidiConfiguration(const MidiConfiguration*) override { return 0; }
    StreamingEngine* GetEngine() override;
    StreamingEngine* GetEngineAlias() override { return GetEngine(); }
    void BuildSupportedRates() override {}
    void PollStatus() override {}
};

// Builds the stand-ins from the pool (tag "PcNw"), so injected allocation failures reach them.
class FakeParts final : public DeviceParts
{
public:
    bool failDeviceModel = false;
    bool failStreamManager = false;
    bool failMidiRouter = false;
    FakeDeviceModel* lastModel = nullptr;
    std::vector<LONG> appliedRateIndexes;

    DeviceModel* CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath) override;
    void DestroyDeviceModel(DeviceModel* model) override;
    StreamManager* CreateStreamManager(StreamingEngine* engine, DeviceStreamSink* sink) override;
    void DestroyStreamManager(StreamManager* manager) override;
    MidiRouter* CreateMidiRouter(StreamingEngine* engine) override;
    void DestroyMidiRouter(MidiRouter* router) override;
    LONG FindConfigurationRate(StreamManager* manager, ULONG rate) override;
    ULONG ApplyRateIndex(StreamManager* manager, LONG rateIndex) override;
};

// The client behind an open stand-in control filter.
class FakeControlClient final : public ControlClientLink
{
public:
    PRKEVENT removalEvent = nullptr;  // referenced
    bool streaming = false;

    PRKEVENT RegisteredNotificationEvent() override { return removalEvent; }
    bool HasRunningClientStream() override { return streaming; }
};

FakeControlClient* ClientOf(Platform::Ks::FilterHandle& handle);

// The stand-in control filter's removal-event property: general set, id 7, 8 bytes of handle
// (a 32-bit caller puts it in the low four bytes).
inline constexpr ULONG kRemovalEventId = 7;
inline constexpr GUID kPropSetControlMidi = {
    0xA0634132, 0x2F7F, 0x4FDA, {0x93, 0xBA, 0xEA, 0x6D, 0x7D, 0x1B, 0xDD, 0x0D}};

// The reference string of the filter factory the stand-in endpoint naming creates at start.
inline constexpr char16_t kEndpointReference[] = u"LINE12";

// A loaded driver with stand-in parts, and helpers to reach a device's context.
class DriverFixture : public LoadedDriverFixture
{
protected:
    void SetUp() override;

    Platform::Ks::Device* PlugIn(NTSTATUS* status = nullptr);
    std::u16string ControlFilterLink(Platform::Ks::Device* device) const;
    std::unique_ptr<Platform::Ks::FilterHandle> OpenControlFilter(
        Platform::Kernel::UserProcess& process, Platform::Ks::Device* device,
        NTSTATUS* status = nullptr);
    std::vector<Platform::Ks::DeviceInterface> EndpointInterfaces(Platform::Ks::Device* device);

    FakeParts parts_;
};

// The same with one device plugged in and started; the journal starts empty.
class StartedDeviceFixture : public DriverFixture
{
protected:
    void SetUp() override;

    Platform::Ks::Device* device_ = nullptr;
    DeviceContext* context_ = nullptr;
};
