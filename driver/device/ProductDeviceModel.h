// The product's device class: the device model of this interface (two line outputs, rates 44100
// to 96000, only its internal clock). It owns the streaming engine, made by the engine factory
// right after the model and destroyed before it, and supplies what the base leaves to a device:
// the hardware ID, the clock-source record and selection, the configurations chosen at start,
// and the engine. The 750 ms status timer of the base runs only while an external clock is
// selected (never, for this product).
#pragma once

#include <wdm.h>

#include "DeviceContext.h"
#include "DeviceModel.h"
#include "DeviceModelRecords.h"
#include "StreamConfiguration.h"

class StreamingEngine;
class StreamingEngineFactory;

inline constexpr ULONG kRoutingStartupIntervalMs = 15;

class ProductDeviceModel final : public DeviceModel
{
public:
    NTSTATUS Start() override;
    PCWSTR GetHardwareId() override;
    LONG GetClockSourceRecord(ClockSourceRecord* record) override;
    NTSTATUS SetClockSource(LONG index) override;
    StreamingEngine* GetEngine() override;
    StreamingEngine* GetEngineAlias() override;

private:
    friend ProductDeviceModel* CreateProductDeviceModel(DeviceLink, PCWSTR,
                                                        StreamingEngineFactory*);
    friend void DestroyProductDeviceModel(ProductDeviceModel*);

    ProductDeviceModel(DeviceLink link, PCWSTR path, StreamingEngineFactory* engineFactory);
    ~ProductDeviceModel() = default;

    StreamingEngineFactory* factory;
    StreamingEngine* engine = nullptr;
};

// From non-paged pool (tag "PcNw"); null when the model or its engine cannot be made. The link
// is the address of the context's device field; the model keeps its own copy of the path.
ProductDeviceModel* CreateProductDeviceModel(DeviceLink deviceLink, PCWSTR registryPath,
                                             StreamingEngineFactory* engineFactory);
// Destroys the engine first, then stops the status timer; frees the model.
void DestroyProductDeviceModel(ProductDeviceModel* model);
