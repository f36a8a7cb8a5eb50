// The kernel services a WDM driver calls. Driver code includes this (or <ntddk.h>) only.
#pragma once

#include "wdm/Dispatcher.h"
#include "wdm/Interlocked.h"
#include "wdm/Io.h"
#include "wdm/Irp.h"
#include "wdm/Irql.h"
#include "wdm/NtStatus.h"
#include "wdm/NtTypes.h"
#include "wdm/Pool.h"
#include "wdm/PnpPower.h"
#include "wdm/ReadWrite.h"
#include "wdm/Processor.h"
#include "wdm/Registry.h"
#include "wdm/Rtl.h"
#include "wdm/UserObjects.h"
