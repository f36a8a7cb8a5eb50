// The application's profile in the registry.

#include <cstring>

#include "Registry/MachineRegistry.h"
#include "mfc/WinApp.h"

using Platform::Registry::Hive;
using Platform::Registry::MachineRegistry;
using Platform::Registry::Result;
using Platform::Registry::Value;

namespace {

// Empty when the application has no registry key: the profile is kept in the registry only.
std::u16string SectionPath(const CWinApp& app, LPCWSTR section)
{
    if (app.m_pszRegistryKey == nullptr || section == nullptr || section[0] == 0) {
        return {};
    }
    return std::u16string(u"Software\\") + app.m_pszRegistryKey + u"\\" + app.m_pszProfileName +
           u"\\" + section;
}

}  // namespace

void CWinApp::SetRegistryKey(LPCWSTR key)
{
    registryKey_ = key != nullptr ? key : u"";
    m_pszRegistryKey = registryKey_.empty() ? nullptr : registryKey_.c_str();
}

BOOL CWinApp::WriteProfileBinary(LPCWSTR section, LPCWSTR entry, const BYTE* data, UINT bytes)
{
    const std::u16string path = SectionPath(*this, section);
    if (path.empty() || entry == nullptr || (data == nullptr && bytes != 0)) {
        return FALSE;
    }
    MachineRegistry& registry = MachineRegistry::Instance();
    if (registry.CreateKeyPath(Hive::CurrentUser, path) != Result::Ok) {
        return FALSE;
    }
    Value value;
    value.type = Platform::Registry::kRegBinary;
    value.data.assign(data, data + bytes);
    return registry.SetValue(Hive::CurrentUser, path, entry, value) == Result::Ok ? TRUE : FALSE;
}

BOOL CWinApp::GetProfileBinary(LPCWSTR section, LPCWSTR entry, BYTE** data, UINT* bytes)
{
    if (data == nullptr || bytes == nullptr) {
        return FALSE;
    }
    *data = nullptr;
    *bytes = 0;
    const std::u16string path = SectionPath(*this, section);
    if (path.empty() || entry == nullptr) {
        return FALSE;
    }
    Value value;
    if (MachineRegistry::Instance().GetValue(Hive::CurrentUser, path, entry,
                                             Platform::Registry::View::Native,
                                             &value) != Result::Ok ||
        value.type != Platform::Registry::kRegBinary) {
        return FALSE;
    }
    *data = new BYTE[value.data.size() > 0 ? value.data.size() : 1];
    if (!value.data.empty()) {
        std::memcpy(*data, value.data.data(), value.data.size());
    }
    *bytes = static_cast<UINT>(value.data.size());
    return TRUE;
}
