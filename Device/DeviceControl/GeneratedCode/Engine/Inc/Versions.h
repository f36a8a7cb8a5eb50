#pragma once
// The generated module of the versions of driver and firmware (ids 0-1) (see GeneratedModule.h).

#include "GeneratedModule.h"

class LVersions : public LGeneratedModule<IVersions>
{
public:
    static constexpr int32_t kParamCount = 2;

    LVersions();
};
