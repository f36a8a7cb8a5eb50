// A settings library that lacks one export ("RemoveArrayItemAt"). A caller must refuse it whole:
// every export it does have stops the program if it is ever called.
#include <cstdint>
#include <cstdlib>

#define INCOMPLETE_EXPORT extern "C" __attribute__((visibility("default")))

INCOMPLETE_EXPORT int32_t OpenIniFile(const char*, const char*, const char*, int32_t*)
{
    std::abort();
}
INCOMPLETE_EXPORT int32_t WriteIniFile(int32_t)
{
    std::abort();
}
INCOMPLETE_EXPORT int32_t CloseIniFile(int32_t, int32_t)
{
    std::abort();
}
INCOMPLETE_EXPORT bool DoesNodeExist(int32_t, const char*)
{
    std::abort();
}
INCOMPLETE_EXPORT int32_t GetIniValueInt(int32_t, const char*, int32_t, int32_t*)
{
    std::abort();
}
INCOMPLETE_EXPORT int32_t SetIniValueInt(int32_t, const char*, int32_t)
{
    std::abort();
}
INCOMPLETE_EXPORT int32_t GetIniValueStr(int32_t, const char*, const char*, char*, int32_t,
                                         int32_t*)
{
    std::abort();
}
INCOMPLETE_EXPORT int32_t SetIniValueStr(int32_t, const char*, const char*)
{
    std::abort();
}
INCOMPLETE_EXPORT int32_t GetKeyCount(int32_t, const char*, int32_t*)
{
    std::abort();
}
INCOMPLETE_EXPORT int32_t GetKeyNameAt(int32_t, const char*, int32_t, char*, int32_t, int32_t*)
{
    std::abort();
}
INCOMPLETE_EXPORT int32_t GetArrayCount(int32_t, const char*, int32_t*)
{
    std::abort();
}
INCOMPLETE_EXPORT int32_t SetArrayCount(int32_t, const char*, int32_t)
{
    std::abort();
}
INCOMPLETE_EXPORT int32_t GetArrayItemAt(int32_t, const char*, int32_t, char*, int32_t, int32_t*)
{
    std::abort();
}
INCOMPLETE_EXPORT int32_t SetArrayItemAt(int32_t, const char*, int32_t, const char*)
{
    std::abort();
}
