// A settings library whose answers are fixed by the test: every result is made from the
// arguments, so a test can see that each argument arrived and each result came back unchanged,
// and the text reads misbehave on request to exercise the caller's retry.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#define SCRIPTED_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// What the text reads answer, by node name:
//   "echo"          0, the node, "|" and the default (or the index)
//   "needed-<n>"    -2 with needed = n, and the same again on a second call
//   "grows-<n>"     -2 with needed = n; the second call fills the n bytes and ends the text only
//                   with the byte it cannot hold (no NUL), result 0
//   "second-fails"  -2 with needed = 3001; the second call writes text and fails with -7
//   "first-fails"   writes text and fails with -5
int32_t ScriptedText(std::string_view node, const std::string& echo, char* buffer, int32_t size,
                     int32_t* needed)
{
    const auto fill = [&](const std::string& text) {
        std::memcpy(buffer, text.c_str(), std::min<size_t>(text.size() + 1, size));
    };
    if (node == "echo") {
        *needed = static_cast<int32_t>(echo.size()) + 1;
        if (size < *needed) {
            return -2;
        }
        fill(echo);
        return 0;
    }
    if (node.starts_with("needed-")) {
        *needed = std::stoi(std::string(node.substr(7)));
        return -2;
    }
    if (node.starts_with("grows-")) {
        const int32_t wanted = std::stoi(std::string(node.substr(6)));
        if (size < wanted) {
            *needed = wanted;
            return -2;
        }
        std::memset(buffer, 'g', static_cast<size_t>(size));
        return 0;
    }
    if (node == "second-fails") {
        *needed = 3001;
        if (size < 3001) {
            return -2;
        }
        fill("partial");
        return -7;
    }
    if (node == "first-fails") {
        fill("garbage");
        return -5;
    }
    return -1;
}

}  // namespace

SCRIPTED_EXPORT int32_t OpenIniFile(const char* path, const char* version, const char* product,
                                    int32_t* handle)
{
    *handle = static_cast<int32_t>(std::strlen(path) + 10 * std::strlen(version) +
                                   100 * std::strlen(product));
    return 5;
}

SCRIPTED_EXPORT int32_t WriteIniFile(int32_t handle)
{
    return handle + 1000;
}

SCRIPTED_EXPORT int32_t CloseIniFile(int32_t handle, int32_t flag)
{
    return handle * 10 + flag;
}

SCRIPTED_EXPORT bool DoesNodeExist(int32_t, const char* node)
{
    return std::string_view(node) == "yes";
}

SCRIPTED_EXPORT int32_t GetIniValueInt(int32_t handle, const char* node, int32_t defaultValue,
                                       int32_t* value)
{
    *value = defaultValue * 2 + handle;
    return static_cast<int32_t>(std::strlen(node));
}

SCRIPTED_EXPORT int32_t SetIniValueInt(int32_t handle, const char*, int32_t value)
{
    return value - handle;
}

SCRIPTED_EXPORT int32_t GetIniValueStr(int32_t, const char* node, const char* defaultValue,
                                       char* buffer, int32_t size, int32_t* needed)
{
    return ScriptedText(node, std::string(node) + "|" + defaultValue, buffer, size, needed);
}

SCRIPTED_EXPORT int32_t SetIniValueStr(int32_t handle, const char* node, const char* value)
{
    return handle + static_cast<int32_t>(std::strlen(node) * 100 + std::strlen(value));
}

SCRIPTED_EXPORT int32_t GetKeyCount(int32_t handle, const char*, int32_t* count)
{
    *count = handle + 7;
    return 11;
}

SCRIPTED_EXPORT int32_t GetKeyNameAt(int32_t, const char* node, int32_t index, char* buffer,
                                     int32_t size, int32_t* needed)
{
    return ScriptedText(node, std::string(node) + "|" + std::to_string(index), buffer, size,
                        needed);
}

SCRIPTED_EXPORT int32_t GetArrayCount(int32_t handle, const char*, int32_t* count)
{
    *count = handle + 9;
    return 12;
}

SCRIPTED_EXPORT int32_t SetArrayCount(int32_t handle, const char*, int32_t count)
{
    return count - handle;
}

SCRIPTED_EXPORT int32_t GetArrayItemAt(int32_t, const char* node, int32_t index, char* buffer,
                                       int32_t size, int32_t* needed)
{
    return ScriptedText(node, std::string(node) + "|" + std::to_string(index), buffer, size,
                        needed);
}

SCRIPTED_EXPORT int32_t SetArrayItemAt(int32_t handle, const char* node, int32_t index,
                                       const char* item)
{
    return handle + index * 1000 + static_cast<int32_t>(std::strlen(node) + std::strlen(item));
}

SCRIPTED_EXPORT int32_t RemoveArrayItemAt(int32_t handle, const char*, int32_t index)
{
    return -(handle + index);
}
