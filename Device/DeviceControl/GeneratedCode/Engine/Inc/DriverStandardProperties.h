#pragma once
// The generated module of the driver settings (ids 2-8) (see GeneratedModule.h).

#include "GeneratedModule.h"

class LDriverStandardProperties : public LGeneratedModule<IDriverStandardProperties>
{
public:
    static constexpr int32_t kParamCount = 7;

    LDriverStandardProperties();
};
