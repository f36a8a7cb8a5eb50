#include "Application/Application.h"

#include <exception>

LApplication::~LApplication()
{
    engine = nullptr;
}

Orv::ORVRESULT LApplication::RunApplicationStartup()
{
    const Orv::ORVRESULT base = Orv::LFrameworkApp::RunApplicationStartup();
    if (base < 0) {
        return base;
    }
    try {
        engine = LRootModuleEngine::Create();
        engine->Initialize(0);
    } catch (const std::exception&) {
        return E_FAIL;
    }
    return S_OK;
}

Orv::RCPtr<LRootModuleEngine> GetRootModuleEngine()
{
    const auto* application = dynamic_cast<LApplication*>(Orv::GetFrameworkApp());
    return application != nullptr ? application->GetRootModuleEngine()
                                  : Orv::RCPtr<LRootModuleEngine>();
}
