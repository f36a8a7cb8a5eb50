// The open pins of an open filter: lists under the filter's pin-list lock, with their count,
// which the device walks from other threads to ask whether a pin runs or to deliver to it.
#pragma once

#include <wdm.h>

#include <ks.h>

struct FilterPinNode
{
    FilterPinNode* next;
    PKSPIN pin;
};

// One list of a filter's pins and what guards and counts it.
struct FilterPinListRef
{
    PKSPIN_LOCK lock;  // the filter's pin-list lock (in-stack queued)
    FilterPinNode** head;
    LONG* openPins;  // the filter's count over all its lists
};

// Puts the pin on the list and counts it; false when the node cannot be had. The pin must be
// whole before: walkers reach it as soon as it is listed.
bool ListFilterPin(const FilterPinListRef& list, PKSPIN pin, ULONG tag);
// Once unlisted, no walk under the pin-list lock reaches the pin.
void UnlistFilterPin(const FilterPinListRef& list, PKSPIN pin, ULONG tag);
