// The product's static data, shared by all devices: its two stream configurations, the buffer
// granularity per configuration and rate, the latency table and the supported rates.
#pragma once

#include <wdm.h>

#include "StreamConfiguration.h"

inline constexpr ULONG kProductConfigurationCount = 2;
inline constexpr ULONG kMaxConfigurationRates = 3;

// Fills *record (zeroed first) from configuration index; false for an unknown index.
bool CopyProductConfiguration(ULONG index, StreamConfiguration* record);

// The granularity table: kMaxConfigurationRates entries per configuration.
ULONG ProductBufferGranularity(ULONG configurationIndex, ULONG rateIndex);

struct LatencyRow
{
    ULONG rate;    // Hz
    ULONG first;   // frames added to the first latency
    ULONG second;  // frames added to the second latency
};

// Latency rows in table order, and the supported rates (the table's rate column).
const LatencyRow* ProductLatencyTable(ULONG* count);
const ULONG* ProductSupportedRates(ULONG* count);
