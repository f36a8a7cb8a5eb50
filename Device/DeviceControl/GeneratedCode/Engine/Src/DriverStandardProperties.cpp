#include "DriverStandardProperties.h"

#include "ObjectBase/SourceName.h"

namespace {

const GeneratedModuleTexts kTexts{
    .className = "LDriverStandardProperties",
    .sourceFile = ORV_THIS_FILE,
    .offset = 2,
    .setFirstLine = 72,
    .getLocalLine = 121,
    .setLocalLine = 220,
    .defaultLine = 320,
};

}  // namespace

LDriverStandardProperties::LDriverStandardProperties()
    : LGeneratedModule<IDriverStandardProperties>(kTexts, kParamCount)
{
}
