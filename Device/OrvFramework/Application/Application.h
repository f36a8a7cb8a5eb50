#pragma once
// LApplication: the control panel's application class. It holds the one device parameter engine,
// created and initialised at start-up; the panels reach it through GetRootModuleEngine. The
// product's remaining answers (settings, renderer choice, control classes, skins) are added here
// as the application's subsystems arrive.

#include "Application/FrameworkApp.h"
#include "RootModuleEngine.h"

class LApplication : public Orv::LFrameworkApp
{
public:
    LApplication() = default;
    // Releases the engine, which disconnects the device and lets the client library go.
    ~LApplication() override;

    // Creates the engine and initialises it with first id 0 (its result is not needed: without
    // library the engine still serves the defaults). 0, or E_FAIL when the engine could not be
    // created.
    Orv::ORVRESULT RunApplicationStartup() override;
    Orv::RCPtr<LRootModuleEngine> GetRootModuleEngine() const { return engine; }

private:
    Orv::RCPtr<LRootModuleEngine> engine;
};

// The engine of the process's application; null before start-up created it.
Orv::RCPtr<LRootModuleEngine> GetRootModuleEngine();
