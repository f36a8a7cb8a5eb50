// The general set's rate items, which read the configuration, the stream manager and every open
// handle together.
#pragma once

#include "ControlFilterRequest.h"

NTSTATUS FillRateStatus(const ControlRequest& request, void* answer, const void* data);
NTSTATUS FillRateByIndex(const ControlRequest& request, void* answer, const void* data);
NTSTATUS ApplySampleRate(const ControlRequest& request, void* data);

// The stream manager's running count is not zero (false without a stream manager).
bool IsAnyStreamRunningOn(DeviceContext* device);
