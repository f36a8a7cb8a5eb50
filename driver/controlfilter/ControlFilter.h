// The private control filter's parts that its descriptor names: the dispatch (Create and Close),
// the automation table of four property sets and three event sets, the one pin that is never
// instantiated, and the component id. The descriptor itself is assembled with the product.
#pragma once

#include <ks.h>
#include <ksmedia.h>

extern const KSFILTER_DISPATCH kControlFilterDispatch;
extern const KSAUTOMATION_TABLE kControlFilterAutomation;
extern const KSPIN_DESCRIPTOR_EX kControlFilterPins[1];
extern const KSCOMPONENTID kControlFilterComponentId;
extern const GUID kControlFilterReferenceGuid;
