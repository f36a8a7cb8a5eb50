// The display names of the endpoints: each format is tried in turn and the next is taken only
// when the name did not fit in the endpoint's 31 characters; the last one is kept even if cut.
#pragma once

#include <wdm.h>

#include "ks/WaveEndpoint.h"

inline constexpr char16_t kMakerWord[] = u"Corvane";

void NameDescribedEndpoint(WaveEndpoint* endpoint, PCWSTR product, PCWSTR endpointName);
// first and last are 1-based channel numbers.
void NamePairEndpoint(WaveEndpoint* endpoint, PCWSTR product, bool capture, ULONG first,
                      ULONG last);
void NameMultichannelEndpoint(WaveEndpoint* endpoint, PCWSTR product, bool capture);
