// The library's exported functions: argument checks and the text protocol, over OpenFiles.
#include <charconv>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>

#include "IniDocument.h"
#include "OpenFiles.h"
#include "Praxen.h"

using Praxen::IniDocument;
using Praxen::IniSection;
using Praxen::OpenFiles;

namespace {

// Copies text and its NUL to the caller's buffer, or asks for a larger one.
int CopyOut(std::string_view text, char* buffer, int bufferSize, int* needed, int okResult)
{
    if (text.size() >= static_cast<size_t>(INT_MAX)) {
        return PRAXEN_E_INVALID_ARGUMENT;
    }
    const int required = static_cast<int>(text.size()) + 1;
    if (needed != nullptr) {
        *needed = required;
    }
    if (buffer == nullptr || bufferSize < required) {
        if (buffer != nullptr && bufferSize > 0) {
            buffer[0] = '\0';
        }
        return PRAXEN_E_BUFFER_TOO_SMALL;
    }
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return okResult;
}

bool IsValueNode(const char* node)
{
    return node != nullptr && Praxen::IsValidNodePath(node, false);
}

// Nodes whose keys or items are listed may also be the root, "".
bool IsListNode(const char* node)
{
    return node != nullptr && Praxen::IsValidNodePath(node, true);
}

const std::vector<std::string>* ItemsOf(const IniDocument& document, const char* node)
{
    const IniSection* section = document.FindSection(node);
    return section != nullptr ? &section->items : nullptr;
}

int ItemCount(const IniDocument& document, const char* node)
{
    const std::vector<std::string>* items = ItemsOf(document, node);
    return items != nullptr ? static_cast<int>(items->size()) : 0;
}

// GetKeyCount and GetArrayCount: *count = counter(document), 0 on every failure.
template <class Counter>
int ReadCount(int handle, const char* node, int* count, const Counter& counter)
{
    if (count == nullptr) {
        return PRAXEN_E_INVALID_ARGUMENT;
    }
    *count = 0;
    if (!IsListNode(node)) {
        return PRAXEN_E_INVALID_ARGUMENT;
    }
    return OpenFiles::Instance().Read(handle, [&](const IniDocument& document) {
        *count = counter(document);
        return PRAXEN_OK;
    });
}

}  // namespace

PRAXEN_EXPORT int OpenIniFile(const char* path, const char* version, const char* product,
                              int* handle)
{
    return OpenFiles::Instance().Open(path, version, product, handle);
}

PRAXEN_EXPORT int WriteIniFile(int handle)
{
    return OpenFiles::Instance().Write(handle);
}

PRAXEN_EXPORT int CloseIniFile(int handle, int flag)
{
    return OpenFiles::Instance().Close(handle, flag != 0);
}

PRAXEN_EXPORT bool DoesNodeExist(int handle, const char* node)
{
    if (!IsListNode(node)) {
        return false;
    }
    bool exists = false;
    OpenFiles::Instance().Read(handle, [&](const IniDocument& document) {
        exists = document.NodeExists(node);
        return PRAXEN_OK;
    });
    return exists;
}

PRAXEN_EXPORT int GetIniValueInt(int handle, const char* node, int defaultValue, int* value)
{
    if (value == nullptr) {
        return PRAXEN_E_INVALID_ARGUMENT;
    }
    *value = defaultValue;
    if (!IsValueNode(node)) {
        return PRAXEN_E_INVALID_ARGUMENT;
    }
    return OpenFiles::Instance().Read(handle, [&](const IniDocument& document) {
        const std::string* text = document.FindValue(node);
        if (text == nullptr) {
            return PRAXEN_DEFAULT_USED;
        }
        int parsed = 0;
        const char* end = text->data() + text->size();
        const auto [stop, error] = std::from_chars(text->data(), end, parsed);
        if (text->empty() || error != std::errc() || stop != end) {
            return PRAXEN_E_NOT_AN_INTEGER;
        }
        *value = parsed;
        return PRAXEN_OK;
    });
}

PRAXEN_EXPORT int SetIniValueInt(int handle, const char* node, int value)
{
    if (!IsValueNode(node)) {
        return PRAXEN_E_INVALID_ARGUMENT;
    }
    return OpenFiles::Instance().Change(handle, [&](IniDocument& document) {
        document.SetValue(node, std::to_string(value));
        return PRAXEN_OK;
    });
}

PRAXEN_EXPORT int GetIniValueStr(int handle, const char* node, const char* defaultValue,
                                 char* buffer, int bufferSize, int* needed)
{
    if (!IsValueNode(node)) {
        return PRAXEN_E_INVALID_ARGUMENT;
    }
    return OpenFiles::Instance().Read(handle, [&](const IniDocument& document) {
        const std::string* text = document.FindValue(node);
        if (text == nullptr) {
            return CopyOut(defaultValue != nullptr ? defaultValue : "", buffer, bufferSize, needed,
                           PRAXEN_DEFAULT_USED);
        }
        return CopyOut(*text, buffer, bufferSize, needed, PRAXEN_OK);
    });
}

PRAXEN_EXPORT int SetIniValueStr(int handle, const char* node, const char* value)
{
    if (!IsValueNode(node) || value == nullptr) {
        return PRAXEN_E_INVALID_ARGUMENT;
    }
    return OpenFiles::Instance().Change(handle, [&](IniDocument& document) {
        document.SetValue(node, value);
        return PRAXEN_OK;
    });
}

PRAXEN_EXPORT int GetKeyCount(int handle, const char* node, int* count)
{
    return ReadCount(handle, node, count, [node](const IniDocument& document) {
        const IniSection* section = document.FindSection(node);
        return section != nullptr ? static_cast<int>(section->entries.size()) : 0;
    });
}

PRAXEN_EXPORT int GetKeyNameAt(int handle, const char* node, int index, char* buffer,
                               int bufferSize, int* needed)
{
    if (!IsListNode(node)) {
        return PRAXEN_E_INVALID_ARGUMENT;
    }
    return OpenFiles::Instance().Read(handle, [&](const IniDocument& document) {
        const IniSection* section = document.FindSection(node);
        if (section == nullptr || index < 0 ||
            static_cast<size_t>(index) >= section->entries.size()) {
            return PRAXEN_E_NO_SUCH_ITEM;
        }
        return CopyOut(section->entries[static_cast<size_t>(index)].key, buffer, bufferSize, needed,
                       PRAXEN_OK);
    });
}

PRAXEN_EXPORT int GetArrayCount(int handle, const char* node, int* count)
{
    return ReadCount(handle, node, count,
                     [node](const IniDocument& document) { return ItemCount(document, node); });
}

PRAXEN_EXPORT int SetArrayCount(int handle, const char* node, int count)
{
    if (!IsListNode(node) || count < 0 || count > kPraxenMaxArrayCount) {
        return PRAXEN_E_INVALID_ARGUMENT;
    }
    return OpenFiles::Instance().Change(handle, [&](IniDocument& document) {
        document.ObtainSection(node).items.resize(static_cast<size_t>(count));
        return PRAXEN_OK;
    });
}

PRAXEN_EXPORT int GetArrayItemAt(int handle, const char* node, int index, char* buffer,
                                 int bufferSize, int* needed)
{
    if (!IsListNode(node)) {
        return PRAXEN_E_INVALID_ARGUMENT;
    }
    return OpenFiles::Instance().Read(handle, [&](const IniDocument& document) {
        const std::vector<std::string>* items = ItemsOf(document, node);
        if (items == nullptr || index < 0 || static_cast<size_t>(index) >= items->size()) {
            return PRAXEN_E_NO_SUCH_ITEM;
        }
        return CopyOut((*items)[static_cast<size_t>(index)], buffer, bufferSize, needed, PRAXEN_OK);
    });
}

PRAXEN_EXPORT int SetArrayItemAt(int handle, const char* node, int index, const char* item)
{
    if (!IsListNode(node) || item == nullptr) {
        return PRAXEN_E_INVALID_ARGUMENT;
    }
    return OpenFiles::Instance().Change(handle, [&](IniDocument& document) {
        const int count = ItemCount(document, node);
        if (index < 0 || index > count || (index == count && count == kPraxenMaxArrayCount)) {
            return PRAXEN_E_NO_SUCH_ITEM;
        }
        std::vector<std::string>& items = document.ObtainSection(node).items;
        if (index == count) {
            items.emplace_back(item);
        } else {
            items[static_cast<size_t>(index)] = item;
        }
        return PRAXEN_OK;
    });
}

PRAXEN_EXPORT int RemoveArrayItemAt(int handle, const char* node, int index)
{
    if (!IsListNode(node)) {
        return PRAXEN_E_INVALID_ARGUMENT;
    }
    return OpenFiles::Instance().Change(handle, [&](IniDocument& document) {
        if (index < 0 || index >= ItemCount(document, node)) {
            return PRAXEN_E_NO_SUCH_ITEM;
        }
        std::vector<std::string>& items = document.ObtainSection(node).items;
        items.erase(items.begin() + index);
        return PRAXEN_OK;
    });
}
