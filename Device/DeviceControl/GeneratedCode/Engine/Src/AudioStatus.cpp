#include "AudioStatus.h"

#include "ObjectBase/SourceName.h"

namespace {

const GeneratedModuleTexts kTexts{
    .className = "LAudioStatus",
    .sourceFile = ORV_THIS_FILE,
    .offset = 9,
    .setFirstLine = 72,
    .getLocalLine = 96,
    .setLocalLine = 170,
    .defaultLine = 224,
};

}  // namespace

LAudioStatus::LAudioStatus() : LGeneratedModule<IAudioStatus>(kTexts, kParamCount) {}
