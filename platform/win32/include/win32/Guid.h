#pragma once
// GUID, the 16-byte identifier of interfaces and device classes.

#include <cstdint>

#ifndef GUID_DEFINED
#define GUID_DEFINED
typedef struct _GUID
{
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
#endif
