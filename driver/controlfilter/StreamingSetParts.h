// The streaming set's items that read the device's configuration.
#pragma once

#include "ControlFilterRequest.h"
#include "ControlFilterWire.h"

// The name and group of one channel (index at byte 24 of the property); 0xC0000001 for an index
// past the direction's channel count.
NTSTATUS FillChannelName(const ControlRequest& request, bool output, NameRecord* record);
NTSTATUS FillBufferSizeRange(const ControlRequest& request, void* answer, const void* data);
// Success when this handle may switch to the rate now, else 0xC0000001.
NTSTATUS IsRateUsableFor(const ControlRequest& request, ULONG rate);
// Copies a UTF-16 name into a record's text: at most 32 characters, the rest stays zero.
void CopyRecordName(NameRecord* record, PCWSTR name);
