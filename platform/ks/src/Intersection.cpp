// Data intersection on a filter's pin factory: the caller's ranges against the pin's, through the
// pin's intersection handler. The ranges come from user mode: copied, and every size checked.
#include <KernelTestApi.h>

#include <cstring>

#include "KsInternal.h"

namespace Platform::Ks::Internal {
namespace {

constexpr ULONG kRangesTag = Platform::Kernel::MakeTag("KsIx");
constexpr ULONG kMaxRangesBytes = 0x10000;

bool Probe(struct _IRP* irp, PVOID address, ULONG size)
{
    return UserBufferInProcess(irp->RequestorMode == UserMode, address, size);
}

// Each caller range with each matching pin range, in order; the first answer that is not
// STATUS_NO_MATCH ends the walk.
NTSTATUS Intersect(const KSPIN_DESCRIPTOR_EX& pin, struct _IRP* irp, UCHAR* ranges, ULONG count,
                   ULONG rangesBytes, PVOID output, ULONG outputSize, ULONG_PTR* information)
{
    ULONG offset = 0;
    for (ULONG i = 0; i < count; ++i) {
        KSDATARANGE caller;
        if (rangesBytes - offset < sizeof caller) {
            return STATUS_INVALID_BUFFER_SIZE;
        }
        std::memcpy(&caller, ranges + offset, sizeof caller);
        if (caller.FormatSize < sizeof caller || caller.FormatSize > rangesBytes - offset) {
            return STATUS_INVALID_BUFFER_SIZE;
        }
        auto* callerRange = reinterpret_cast<PKSDATARANGE>(ranges + offset);
        for (ULONG r = 0; r < pin.PinDescriptor.DataRangesCount; ++r) {
            PKSDATARANGE own = pin.PinDescriptor.DataRanges[r];
            // The handler judges the subformat (a caller may ask with a wildcard).
            if (!IsEqualGUIDAligned(caller.MajorFormat, own->MajorFormat) ||
                !IsEqualGUIDAligned(caller.Specifier, own->Specifier)) {
                continue;
            }
            ULONG size = 0;
            const NTSTATUS status = pin.IntersectHandler(
                nullptr, irp, const_cast<PKSPIN_DESCRIPTOR>(&pin.PinDescriptor), callerRange, own,
                outputSize, output, &size);
            if (status != STATUS_NO_MATCH) {
                *information = size;
                return status;
            }
        }
        offset += (caller.FormatSize + 7) & ~7u;
        if (offset > rangesBytes) {
            offset = rangesBytes;
        }
    }
    return STATUS_NO_MATCH;
}

}  // namespace

bool HandleDataIntersection(FilterImpl* filter, struct _IRP* irp, NTSTATUS* status,
                            ULONG_PTR* information)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PVOID input = stack->Parameters.DeviceIoControl.Type3InputBuffer;
    const ULONG inputSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    KSP_PIN property;
    if (inputSize < sizeof(KSPROPERTY) || !Probe(irp, input, sizeof(KSPROPERTY))) {
        return false;
    }
    std::memcpy(&property, input, sizeof(KSPROPERTY));
    if (!IsEqualGUIDAligned(property.Property.Set, KSPROPSETID_Pin) ||
        property.Property.Id != KSPROPERTY_PIN_DATAINTERSECTION ||
        property.Property.Flags != KSPROPERTY_TYPE_GET) {
        return false;
    }
    *information = 0;
    const KSFILTER_DESCRIPTOR* descriptor = filter->filter.Descriptor;
    const ULONG header = sizeof(KSP_PIN) + sizeof(KSMULTIPLE_ITEM);
    if (inputSize < header || inputSize - sizeof(KSP_PIN) > kMaxRangesBytes ||
        !Probe(irp, input, inputSize)) {
        *status = inputSize < header ? STATUS_INVALID_BUFFER_SIZE : STATUS_ACCESS_VIOLATION;
        return true;
    }
    std::memcpy(&property, input, sizeof property);
    KSMULTIPLE_ITEM items;
    std::memcpy(&items, static_cast<UCHAR*>(input) + sizeof property, sizeof items);
    const ULONG available = inputSize - static_cast<ULONG>(sizeof property);
    if (items.Size < sizeof items || items.Size > available) {
        *status = STATUS_INVALID_BUFFER_SIZE;
        return true;
    }
    if (property.PinId >= descriptor->PinDescriptorsCount) {
        *status = STATUS_INVALID_PARAMETER;
        return true;
    }
    const auto* pin = reinterpret_cast<const KSPIN_DESCRIPTOR_EX*>(
        reinterpret_cast<const UCHAR*>(descriptor->PinDescriptors) +
        static_cast<SIZE_T>(property.PinId) * descriptor->PinDescriptorSize);
    const ULONG outputSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    if (pin->IntersectHandler == nullptr || !Probe(irp, irp->UserBuffer, outputSize)) {
        *status = pin->IntersectHandler == nullptr ? STATUS_NOT_FOUND : STATUS_ACCESS_VIOLATION;
        return true;
    }
    const ULONG rangesBytes = items.Size - static_cast<ULONG>(sizeof items);
    auto* ranges = static_cast<UCHAR*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, rangesBytes + outputSize + 8, kRangesTag));
    if (ranges == nullptr) {
        *status = STATUS_INSUFFICIENT_RESOURCES;
        return true;
    }
    std::memcpy(ranges, static_cast<UCHAR*>(input) + header, rangesBytes);
    UCHAR* output = ranges + ((rangesBytes + 7) & ~7u);
    *status =
        Intersect(*pin, irp, ranges, items.Count, rangesBytes, output, outputSize, information);
    if (NT_SUCCESS(*status) && *information <= outputSize) {
        std::memcpy(irp->UserBuffer, output, *information);
    }
    ExFreePoolWithTag(ranges, kRangesTag);
    return true;
}

}  // namespace Platform::Ks::Internal
