#pragma once
// The settings store as the application sees it: the fifteen operations of the outside settings
// library "Praxen.dll" on wide strings, plus loading and unloading the library. Settings files are
// named by the int handle that OpenIniFile gives; 0 is no file.
//
// While the library is not loaded every operation fails quietly: E_FAIL (false for
// DoesNodeExist), with the outputs preset to the default, 0 or the empty string. Otherwise each
// returns the library's result unchanged.

#include <cstdint>

#include "ObjectBase/OrvResult.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

class IPraxen
{
public:
    // Loads "Praxen.dll" from directory (empty: the program's own folder). 1 when already loaded.
    virtual ORVRESULT Load(const WideString& directory) = 0;
    // 1 when not loaded.
    virtual ORVRESULT Unload() = 0;
    // *handle is 0 unless the file was opened.
    virtual ORVRESULT OpenIniFile(const WideString& path, const WideString& version,
                                  const WideString& product, int32_t* handle) = 0;
    virtual ORVRESULT WriteIniFile(int32_t handle) = 0;
    virtual bool DoesNodeExist(int32_t handle, const WideString& node) = 0;
    virtual ORVRESULT CloseIniFile(int32_t handle, int32_t flag) = 0;
    virtual ORVRESULT GetIniValueInt(int32_t handle, const WideString& node, int32_t defaultValue,
                                     int32_t* value) = 0;
    virtual ORVRESULT SetIniValueInt(int32_t handle, const WideString& node, int32_t value) = 0;
    virtual ORVRESULT GetIniValueStr(int32_t handle, const WideString& node,
                                     const WideString& defaultValue, WideString& value) = 0;
    virtual ORVRESULT SetIniValueStr(int32_t handle, const WideString& node,
                                     const WideString& value) = 0;
    virtual ORVRESULT GetKeyCount(int32_t handle, const WideString& node, int32_t* count) = 0;
    virtual ORVRESULT GetKeyNameAt(int32_t handle, const WideString& node, int32_t index,
                                   WideString& name) = 0;
    virtual ORVRESULT GetArrayCount(int32_t handle, const WideString& node, int32_t* count) = 0;
    virtual ORVRESULT SetArrayCount(int32_t handle, const WideString& node, int32_t count) = 0;
    virtual ORVRESULT GetArrayItemAt(int32_t handle, const WideString& node, int32_t index,
                                     WideString& item) = 0;
    virtual ORVRESULT SetArrayItemAt(int32_t handle, const WideString& node, int32_t index,
                                     const WideString& item) = 0;
    virtual ORVRESULT RemoveArrayItemAt(int32_t handle, const WideString& node, int32_t index) = 0;

protected:
    // Never deleted through this interface.
    ~IPraxen() = default;
};

}  // namespace Orv
