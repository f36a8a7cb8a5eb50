#pragma once
// What the engine's tests share: the client-library stand-in's control side, a receiver that
// records what reaches it, and a machine registry that names (or does not name) the library.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>

#include "DeviceCommunicationReceiver.h"
#include "LibraryValues.h"
#include "MachineRootFolder.h"
#include "UlvaneTest/UlvaneControl.h"
#include "Utilities/Storage/ParamLists.h"

// The stand-in's control, through a handle of its own on the library at `path`: reset when taken
// and when given back, so that every test starts from an empty world.
class UlvaneWorld
{
public:
    explicit UlvaneWorld(const std::u16string& path = u"Ulvane.dll")
        : module(LoadLibraryW(path.c_str()))
    {
        const auto entry = module != nullptr
                               ? reinterpret_cast<UlvaneTest::ControlFn>(
                                     GetProcAddress(module, UlvaneTest::kControlExport))
                               : nullptr;
        control = entry != nullptr ? entry() : nullptr;
        if (control != nullptr) {
            control->Reset();
        }
    }
    ~UlvaneWorld()
    {
        if (control != nullptr) {
            control->Reset();
        }
        if (module != nullptr) {
            FreeLibrary(module);
        }
    }
    UlvaneWorld(const UlvaneWorld&) = delete;
    UlvaneWorld& operator=(const UlvaneWorld&) = delete;

    bool IsReady() const { return control != nullptr; }
    UlvaneTest::IUlvaneControl* operator->() const { return control; }

    // The calls that take values, with the program's variants.
    Orv::Variant AddDevice(const char* name, bool remote = false) const
    {
        Orv::Variant id;
        control->AddDevice(name, remote, AsLibraryValue(id));
        return id;
    }
    bool PushValue(const char* name, int32_t parameterId, const Orv::Variant& value) const
    {
        return control->PushValue(name, parameterId, AsLibraryValue(value));
    }
    bool PushList(const char* name, const Orv::Variant& list) const
    {
        return control->PushList(name, AsLibraryValue(list));
    }
    bool GetDeviceValue(const char* name, int32_t parameterId, Orv::Variant& value) const
    {
        return control->GetDeviceValue(name, parameterId, AsLibraryValue(value));
    }

private:
    HMODULE module;
    UlvaneTest::IUlvaneControl* control = nullptr;
};

// Keeps every batch it receives; a test can hold deliveries back with Hold/Release.
class RecordingReceiver : public DeviceCommunicationReceiver
{
public:
    void OnParamValuesReceived(const Orv::ParamValues& values) override
    {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [this] { return !holding; });
        batches.push_back(values);
        inside = true;
        changed.notify_all();
    }

    Orv::ORVRESULT ReceiveOther(int32_t, const Orv::Variant*, void*) override { return E_FAIL; }

    // The next delivery waits until Release.
    void Hold()
    {
        const std::lock_guard<std::mutex> guard(lock);
        holding = true;
    }
    void Release()
    {
        {
            const std::lock_guard<std::mutex> guard(lock);
            holding = false;
        }
        changed.notify_all();
    }

    // Waits (on the wall clock) until `count` batches have arrived; the batches so far.
    std::vector<Orv::ParamValues> WaitFor(size_t count,
                                          std::chrono::seconds limit = std::chrono::seconds(20))
    {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait_for(guard, limit, [this, count] { return batches.size() >= count; });
        return batches;
    }
    std::vector<Orv::ParamValues> Batches()
    {
        const std::lock_guard<std::mutex> guard(lock);
        return batches;
    }

private:
    std::mutex lock;
    std::condition_variable changed;
    bool holding = false;
    bool inside = false;
    std::vector<Orv::ParamValues> batches;
};

// The one value of a single-value batch, with its id; id -1 when the batch is not one.
inline Orv::Variant OnlyValue(const Orv::ParamValues& batch, int32_t& id)
{
    Orv::Variant value;
    Orv::Variant subIndex;
    id = -1;
    if (batch.GetListItemCount() != 1) {
        return value;
    }
    batch.GetParamValueItem(0, value, id, subIndex);
    return value;
}

inline Orv::Variant Int32Value(int32_t v)
{
    Orv::Variant value;
    value.SetInt32(v);
    return value;
}

// The machine registry of one test, naming the library's folder and file (no key when both are
// null).
class EngineRegistry
{
public:
    EngineRegistry(const char* softwarePath, const char* libraryName)
    {
        std::string text = "Windows Registry Editor Version 5.00\n\n";
        if (softwarePath != nullptr || libraryName != nullptr) {
            // The panel is a 32-bit program: it reads the 32-bit view.
            text +=
                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Tervolt\\Audio\\Drivers\\"
                "{6242F6B0-04E7-497F-AE8D-287E12D19420}]\n";
            if (softwarePath != nullptr) {
                text += "\"SoftwarePath\"=\"" + Escaped(softwarePath) + "\"\n";
            }
            if (libraryName != nullptr) {
                text += "\"DeviceInterfaceLib\"=\"" + Escaped(libraryName) + "\"\n";
            }
        }
        const std::filesystem::path file = root.Path() / "engine.reg";
        std::ofstream(file) << text;
        loadError = root.LoadRegistry(file);
    }

    const std::string& LoadError() const { return loadError; }

private:
    static std::string Escaped(const std::string& text)
    {
        std::string out;
        for (const char c : text) {
            out += c == '\\' ? std::string("\\\\") : std::string(1, c);
        }
        return out;
    }

    MachineRootFolder root;
    std::string loadError;
};
