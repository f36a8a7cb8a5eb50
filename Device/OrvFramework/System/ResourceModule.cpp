#include "System/ResourceModule.h"

namespace Orv {

namespace {
HMODULE resourceModule = nullptr;  // UI thread only, like every loader that reads it
}

HMODULE GetResourceModule()
{
    return resourceModule != nullptr ? resourceModule : GetProgramModuleHandle();
}

void SetResourceModule(HMODULE module)
{
    resourceModule = module;
}

bool IsResourceName(const WideString& name)
{
    const char16_t* text = name.GetText();
    return text[0] == u':' && text[1] == u':';
}

WideString ResourceNameOf(const WideString& name)
{
    WideString resource = name.Mid(2).ToUpper();
    resource.ReplaceChars(u". ", u'_');
    return resource;
}

}  // namespace Orv
