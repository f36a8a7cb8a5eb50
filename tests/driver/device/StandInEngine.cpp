#include "StandInEngine.h"

#include <new>

#include "device/PoolTag.h"

StandInEngine::StandInEngine(DeviceModel* owner, DeviceLink deviceLink, PCWSTR registryPath)
    : model(owner), link(deviceLink), transport(ContextFromLink(deviceLink))
{
    InitializeSettingNames(&names, registryPath);
    configuration.index = static_cast<ULONG>(-1);
}

StandInEngine::~StandInEngine()
{
    transport.ReleaseUsb();
}

void StandInEngine::ApplyStreamConfiguration(const StreamConfiguration* record)
{
    configuration = *record;
}

NTSTATUS StandInEngine::SetRate(LONG configurationIndex, ULONG index)
{
    calls.push_back("SetRate(" + std::to_string(configurationIndex) + "," + std::to_string(index) +
                    ")");
    return STATUS_SUCCESS;
}

NTSTATUS StandInEngine::GetCallbackDelay(ULONG* value)
{
    *value = transfersAheadLoaded ? transfersAhead : 0;
    return transfersAheadLoaded ? STATUS_SUCCESS : STATUS_DEVICE_NOT_READY;
}

USHORT StandInEngine::GetDeviceVendorId()
{
    return NT_SUCCESS(transport.ReadDescriptors()) ? transport.DeviceDescriptor()->idVendor : 0;
}

USHORT StandInEngine::GetDeviceProductId()
{
    return NT_SUCCESS(transport.ReadDescriptors()) ? transport.DeviceDescriptor()->idProduct : 0;
}

void StandInEngine::ReadFirmwareVersion(bool decimalForm, ULONG* major, ULONG* minor,
                                        ULONG* revision, ULONG* build)
{
    const USHORT bcd =
        NT_SUCCESS(transport.ReadDescriptors()) ? transport.DeviceDescriptor()->bcdDevice : 0;
    DecodeFirmwareVersion(bcd, decimalForm, major, minor, revision, build);
}

NTSTATUS StandInEngine::InitializeEngine()
{
    if (initialized) {
        return STATUS_SUCCESS;
    }
    UsbConfigRecord record{};
    record.alternateSettings[1] = 1;
    const NTSTATUS status = transport.InitializeUsb(record);
    initialized = NT_SUCCESS(status);
    return status;
}

void StandInEngine::StopEngine()
{
    if (!initialized) {
        return;
    }
    initialized = false;
    transport.ReleaseUsb();
}

void StandInEngine::SetTransfersAhead(ULONG value, bool markLoaded)
{
    transfersAhead = value;
    transfersAheadLoaded = transfersAheadLoaded || markLoaded;
}

LONG StandInEngine::ConfigureRouting(const StreamConfiguration* record, LONG index)
{
    calls.push_back("ConfigureRouting(" + std::to_string(static_cast<LONG>(record->index)) + "," +
                    std::to_string(index) + ")");
    if (refuseNextConfiguration != 0) {
        const LONG answer = refuseNextConfiguration;
        refuseNextConfiguration = 0;
        return answer;
    }
    rateIndex = index >= 0 && static_cast<ULONG>(index) < record->rateCount ? index : 0;
    rate = record->rateCount > 0 ? record->rates[rateIndex] : 0;
    matrix.ConfigureMatrix(record->outputChannels + record->deviceInputChannels,
                           record->outputChannels);
    ApplyStreamConfiguration(record);
    return 0;
}

void StandInEngine::GetRoutingState(LONG* configurationIndex, ULONG* index, ULONG* current)
{
    *configurationIndex = static_cast<LONG>(configuration.index);
    *index = rateIndex;
    *current = rate;
}

ULONG StandInEngine::ChangeRate(LONG* configurationIndex, ULONG index)
{
    calls.push_back("ChangeRate(" + std::to_string(index) + ")");
    if (*configurationIndex == static_cast<LONG>(configuration.index) &&
        index < configuration.rateCount) {
        rateIndex = index;
        rate = configuration.rates[index];
    }
    *configurationIndex = static_cast<LONG>(configuration.index);
    return rate;
}

LONG StandInEngine::ReadHardwareRate(ULONG* hardware, bool* locked)
{
    *hardware = hardwareRate;
    *locked = hardwareLocked;
    return hardwareRateResult;
}

NTSTATUS StandInEngine::QueryUsbLocation(PUSB_TOPOLOGY_ADDRESS address)
{
    return failUsbLocation ? STATUS_NOT_SUPPORTED : transport.QueryUsbLocation(address);
}

void StandInEngine::GetMatrixSize(ULONG* rows, ULONG* columns)
{
    *rows = matrix.Rows();
    *columns = matrix.Columns();
}

NTSTATUS StandInEngine::ReadMatrixRow(ULONG row, ULONG firstColumn, ULONG count, SampleGain* gains)
{
    return matrix.GetRowGains(row, gains, firstColumn, count) < 0 ? STATUS_UNSUCCESSFUL
                                                                  : STATUS_SUCCESS;
}

NTSTATUS StandInEngine::WriteMatrixRow(ULONG row, ULONG firstColumn, ULONG count,
                                       const SampleGain* gains)
{
    return matrix.SetRowGains(row, gains, firstColumn, count) < 0 ? STATUS_UNSUCCESSFUL
                                                                  : STATUS_SUCCESS;
}

ULONG StandInEngine::TakePeaks(bool input, ULONG* peaks, ULONG maxCount)
{
    meteringWanted = true;
    ULONG* source = input ? inputPeaks : outputPeaks;
    const ULONG count = maxCount < kMaxPeakValues ? maxCount : kMaxPeakValues;
    for (ULONG i = 0; i < count; ++i) {
        peaks[i] = source[i];
        source[i] = 0;
    }
    return count;
}

LONG StandInEngine::SetKeepRunning(bool on)
{
    keepRunning = on;
    return 0;
}

StreamingEngine* StandInEngineFactory::CreateEngine(DeviceModel* model, DeviceLink deviceLink,
                                                    PCWSTR registryPath)
{
    void* memory = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(StandInEngine), kTagDeviceObjects);
    if (memory == nullptr) {
        return nullptr;
    }
    last = new (memory) StandInEngine(model, deviceLink, registryPath);
    return last;
}

void StandInEngineFactory::DestroyEngine(StreamingEngine* engine)
{
    auto* standIn = static_cast<StandInEngine*>(engine);
    if (standIn == last) {
        last = nullptr;
    }
    standIn->~StandInEngine();
    ExFreePoolWithTag(standIn, kTagDeviceObjects);
}

DeviceModel* ProductModelParts::CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath)
{
    lastModel = CreateProductDeviceModel(deviceLink, registryPath, &engines);
    return lastModel;
}

void ProductModelParts::DestroyDeviceModel(DeviceModel* model)
{
    auto* product = static_cast<ProductDeviceModel*>(model);
    if (product == lastModel) {
        lastModel = nullptr;
    }
    DestroyProductDeviceModel(product);
}

StreamManager* ProductModelParts::CreateStreamManager(StreamingEngine* engine,
                                                      DeviceStreamSink* sink)
{
    return others.CreateStreamManager(engine, sink);
}

void ProductModelParts::DestroyStreamManager(StreamManager* manager)
{
    others.DestroyStreamManager(manager);
}

MidiRouter* ProductModelParts::CreateMidiRouter(StreamingEngine* engine)
{
    return others.CreateMidiRouter(engine);
}

void ProductModelParts::DestroyMidiRouter(MidiRouter* router)
{
    others.DestroyMidiRouter(router);
}
