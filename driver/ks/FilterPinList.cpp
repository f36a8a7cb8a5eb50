#include "ks/FilterPinList.h"

#include "common/InStackLock.h"

bool ListFilterPin(const FilterPinListRef& list, PKSPIN pin, ULONG tag)
{
    auto* node = static_cast<FilterPinNode*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(FilterPinNode), tag));
    if (node == nullptr) {
        return false;
    }
    node->pin = pin;
    InStackLock hold(list.lock);
    node->next = *list.head;
    *list.head = node;
    ++*list.openPins;
    return true;
}

void UnlistFilterPin(const FilterPinListRef& list, PKSPIN pin, ULONG tag)
{
    FilterPinNode* removed = nullptr;
    {
        InStackLock hold(list.lock);
        for (FilterPinNode** link = list.head; *link != nullptr; link = &(*link)->next) {
            if ((*link)->pin == pin) {
                removed = *link;
                *link = removed->next;
                --*list.openPins;
                break;
            }
        }
    }
    if (removed != nullptr) {
        ExFreePoolWithTag(removed, tag);
    }
}
