#pragma once
// The generated module of the streaming and AC-3 status (ids 9-10) (see GeneratedModule.h).

#include "GeneratedModule.h"

class LAudioStatus : public LGeneratedModule<IAudioStatus>
{
public:
    static constexpr int32_t kParamCount = 2;

    LAudioStatus();
};
