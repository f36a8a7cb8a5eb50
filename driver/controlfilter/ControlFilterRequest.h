// The rules every property handler of the control filter follows. A request first finds its
// filter's handle state (0xC00000EF without one), then the pieces its item needs (0xC0000001 when
// one is missing). A GET answer is built in a zeroed buffer of its own and copied out only on
// success: a caller never sees a byte the handler did not mean to give, and a failing GET leaves
// the caller's data as it was. Handlers run at PASSIVE_LEVEL.
#pragma once

#include <ks.h>
#include <wdm.h>

#include "device/DeviceContext.h"

class ControlClient;
class DeviceModel;

// What an item needs beyond its handle state.
enum class Needs : UCHAR
{
    Handle,         // rule 1 only
    Model,          // the device context and its device model
    Started,        // the same, with the device model started
    StreamManager,  // the device context and its stream manager
};

struct ControlRequest
{
    PIRP irp;
    PKSPROPERTY property;  // the caller's property bytes, propertyBytes long
    ULONG propertyBytes;
    ULONG dataBytes;
    bool narrow;  // sent by a 32-bit process
    ControlClient* client;
    DeviceContext* device;  // null only for Needs::Handle
    DeviceModel* model;     // null only for Needs::Handle and Needs::StreamManager
};

// The client behind an open control filter, or null.
ControlClient* ClientOfFilter(PKSFILTER filter);

NTSTATUS BeginControlRequest(PIRP irp, PKSIDENTIFIER property, Needs needs,
                             ControlRequest* request);

// Fills answer (answerBytes, zeroed; the data itself for a direct item) from the request; data is
// the caller's data as sent, for the GETs whose data also carries input.
using GetFiller = NTSTATUS (*)(const ControlRequest& request, void* answer, const void* data);
using SetHandler = NTSTATUS (*)(const ControlRequest& request, void* data);

struct GetItem
{
    ULONG id;
    Needs needs;
    ULONG answerBytes;  // 0: the request's data length, up to kRawTransferLimit
    GetFiller fill;
    // The filler writes the caller's data itself (zeroed first): a request that may complete
    // later, with its answer in the data.
    bool direct = false;
};

struct SetItem
{
    ULONG id;
    Needs needs;
    SetHandler apply;
};

// Finds the property's item among count and runs it under the rules above.
NTSTATUS RunGet(PIRP irp, PKSIDENTIFIER property, PVOID data, const GetItem* items, ULONG count);
NTSTATUS RunSet(PIRP irp, PKSIDENTIFIER property, PVOID data, const SetItem* items, ULONG count);

// The device model is there and started (for the items that answer 0 otherwise).
bool IsStarted(const ControlRequest& request);
// The file object of the request: the handle's owner when it maps buffers or registers events.
PVOID RequestFileObject(const ControlRequest& request);

// The u32 at byte 24 of a 32-byte property (channel, port or rate index).
ULONG PropertyIndex(const ControlRequest& request);
