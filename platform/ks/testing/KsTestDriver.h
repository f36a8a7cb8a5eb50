// A small kernel-streaming minidriver for the layer's own tests and fuzz target: one filter whose
// factory the device descriptor lists, with a property set, an event set and a bag item per open
// filter.
#pragma once

#include <KsHostApi.h>
#include <ks.h>

#include <vector>

namespace KsTestDriver {

inline constexpr GUID kPropertySet = {
    0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
inline constexpr GUID kEventSet = {
    0x66666666, 0x7777, 0x8888, {0x99, 0x99, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}};
inline constexpr GUID kUnknownSet = {0xDEADBEEF, 0x0000, 0x0000, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr char16_t kReference[] = u"TESTFILTER";

// Property ids: 1 get and set (property 32 bytes, data 8), 2 set only (data 4), 3 a get that
// fails after writing its data buffer.
inline constexpr ULONG kValueId = 1;
inline constexpr ULONG kSetOnlyId = 2;
inline constexpr ULONG kFailingGetId = 3;
// 4: a get (data 8) that waits in a cancelable queue; 5: a set (data 8) that completes the oldest
// waiting get with its value (STATUS_NOT_FOUND when none waits).
inline constexpr ULONG kWaitId = 4;
inline constexpr ULONG kReleaseId = 5;

struct Record
{
    int handlerCalls = 0;
    int freedBagItems = 0;
    bool lastCallerWas32Bit = false;
    ULONG lastPropertyTail = 0;
    ULONGLONG value = 0;
    PKSDEVICE device = nullptr;
    std::vector<PKSFILTER> openFilters;
    LIST_ENTRY waitQueue;
    KSPIN_LOCK waitLock;
};
Record& State();

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

}  // namespace KsTestDriver
