// The handlers of the control filter's property sets, as the automation table names them: one GET
// and one SET handler per set, each finding the property's item in the set's table.
#pragma once

#include <ks.h>
#include <wdm.h>

#include "device/StreamConfiguration.h"

class DeviceModel;

NTSTATUS GeneralGet(PIRP irp, PKSIDENTIFIER property, PVOID data);
NTSTATUS GeneralSet(PIRP irp, PKSIDENTIFIER property, PVOID data);
NTSTATUS StreamingGet(PIRP irp, PKSIDENTIFIER property, PVOID data);
NTSTATUS StreamingSet(PIRP irp, PKSIDENTIFIER property, PVOID data);
NTSTATUS RawGet(PIRP irp, PKSIDENTIFIER property, PVOID data);
NTSTATUS RawSet(PIRP irp, PKSIDENTIFIER property, PVOID data);
NTSTATUS MidiPortsGet(PIRP irp, PKSIDENTIFIER property, PVOID data);
NTSTATUS MidiPortsSet(PIRP irp, PKSIDENTIFIER property, PVOID data);

// The current configuration and rate index read until both name the same configuration.
// STATUS_UNSUCCESSFUL when they keep disagreeing (a configuration change storm).
NTSTATUS ReadSettledConfiguration(DeviceModel* model, StreamConfiguration* configuration,
                                  ULONG* rateIndex);
