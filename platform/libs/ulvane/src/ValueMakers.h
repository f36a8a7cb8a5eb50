#pragma once
// Values made in one expression, for the device's tables and the library's tests.

#include <vector>

#include "UlvaneAbi.h"

namespace Ulvane {

inline Value Int32Value(int32_t number)
{
    Value value;
    value.SetInt32(number);
    return value;
}

inline Value TextValue(const char* text)
{
    Value value;
    value.SetText(text);
    return value;
}

inline Value ListValue(const std::vector<Value>& items)
{
    Value list;
    list.SetList(items);
    return list;
}

}  // namespace Ulvane
