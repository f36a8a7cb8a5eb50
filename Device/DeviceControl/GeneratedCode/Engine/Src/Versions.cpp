#include "Versions.h"

#include "ObjectBase/SourceName.h"

namespace {

const GeneratedModuleTexts kTexts{
    .className = "LVersions",
    .sourceFile = ORV_THIS_FILE,
    .offset = 0,
    .setFirstLine = 72,
    .getLocalLine = 96,
    .setLocalLine = 170,
    .defaultLine = 224,
};

}  // namespace

LVersions::LVersions() : LGeneratedModule<IVersions>(kTexts, kParamCount) {}
