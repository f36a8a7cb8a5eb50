#include "ProductDeviceParts.h"

#include <new>

#include "device/DeviceLifecycle.h"
#include "device/ProductDeviceModel.h"
#include "engine/StreamManagerParts.h"
#include "midi/MidiRouter.h"

namespace {

// A kernel driver runs no constructors of globals: the entry builds the parts in place.
alignas(ProductDeviceParts) unsigned char partsStorage[sizeof(ProductDeviceParts)];

}  // namespace

DeviceModel* ProductDeviceParts::CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath)
{
    return CreateProductDeviceModel(deviceLink, registryPath, &engines);
}

void ProductDeviceParts::DestroyDeviceModel(DeviceModel* model)
{
    DestroyProductDeviceModel(static_cast<ProductDeviceModel*>(model));
}

StreamManager* ProductDeviceParts::CreateStreamManager(StreamingEngine* engine,
                                                       DeviceStreamSink* sink)
{
    return ::CreateStreamManager(engine, sink);
}

void ProductDeviceParts::DestroyStreamManager(StreamManager* manager)
{
    ::DestroyStreamManager(manager);
}

MidiRouter* ProductDeviceParts::CreateMidiRouter(StreamingEngine* engine)
{
    UsbMidiCodec* codec = static_cast<UsbStreamingEngine*>(engine)->MidiCodec();
    return codec != nullptr ? MidiRouter::Create(codec) : nullptr;
}

void ProductDeviceParts::DestroyMidiRouter(MidiRouter* router)
{
    router->Destroy();
}

LONG ProductDeviceParts::FindConfigurationRate(StreamManager* manager, ULONG rate)
{
    return ::FindConfigurationRate(manager, rate);
}

ULONG ProductDeviceParts::ApplyRateIndex(StreamManager* manager, LONG rateIndex)
{
    return ::ApplyRateIndex(manager, rateIndex);
}

NTSTATUS ProductDriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath)
{
    if (GetDeviceParts() == nullptr) {
        SetDeviceParts(new (partsStorage) ProductDeviceParts());
    }
    return DriverEntry(driverObject, registryPath);
}
