// The kernel's registry routines on the machine registry.
#include <KernelTestApi.h>
#include <Registry/MachineRegistry.h>
#include <wdm.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "KernelTestFixture.h"

namespace {

using namespace Platform::Kernel;
using Platform::Registry::Hive;
using Platform::Registry::MachineRegistry;

constexpr const char16_t* kDriverKey =
    u"\\Registry\\Machine\\Software\\Wow6432Node\\Tervolt\\Audio\\Drivers";

class RegistryRoutines : public Testing::KernelTest
{
protected:
    void SetUp() override
    {
        KernelTest::SetUp();
        ASSERT_EQ(MachineRegistry::Instance().CreateKeyPath(
                      Hive::LocalMachine, u"Software\\Wow6432Node\\Tervolt\\Audio\\Drivers"),
                  Platform::Registry::Result::Ok);
    }

    NTSTATUS Open(const char16_t* name, ACCESS_MASK access, HANDLE* handle)
    {
        UNICODE_STRING text;
        RtlInitUnicodeString(&text, name);
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                                   nullptr, nullptr);
        return ZwOpenKey(handle, access, &attributes);
    }

    NTSTATUS Create(const char16_t* name, ACCESS_MASK access, HANDLE* handle,
                    ULONG* disposition = nullptr)
    {
        UNICODE_STRING text;
        RtlInitUnicodeString(&text, name);
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                                   nullptr, nullptr);
        return ZwCreateKey(handle, access, &attributes, 0, nullptr, REG_OPTION_NON_VOLATILE,
                           disposition);
    }

    NTSTATUS SetDword(HANDLE key, const char16_t* name, ULONG value)
    {
        UNICODE_STRING text;
        RtlInitUnicodeString(&text, name);
        return ZwSetValueKey(key, &text, 0, REG_DWORD, &value, sizeof value);
    }
};

TEST_F(RegistryRoutines, CreateKeyMakesTheLastComponentOnlyAndFailsUnderAMissingParent)
{
    HANDLE key = nullptr;
    EXPECT_EQ(Create(u"\\Registry\\Machine\\Software\\Wow6432Node\\Tervolt\\Missing\\Setting",
                     KEY_SET_VALUE, &key),
              STATUS_OBJECT_NAME_NOT_FOUND);
    ULONG disposition = 0;
    std::u16string path = std::u16string(kDriverKey) + u"\\{6242F6B0}";
    ASSERT_EQ(Create(path.c_str(), KEY_SET_VALUE, &key, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, static_cast<ULONG>(REG_CREATED_NEW_KEY));
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
    ASSERT_EQ(Create(path.c_str(), KEY_SET_VALUE, &key, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, static_cast<ULONG>(REG_OPENED_EXISTING_KEY));
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(key), STATUS_INVALID_HANDLE);
}

TEST_F(RegistryRoutines, TheSizeProbeReportsTheFullSizeThenTheValueFits)
{
    HANDLE key;
    ASSERT_EQ(Open(kDriverKey, KEY_READ | KEY_SET_VALUE, &key), STATUS_SUCCESS);
    ASSERT_EQ(SetDword(key, u"CallbackDelay", 5), STATUS_SUCCESS);
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"CallbackDelay");

    ULONG size = 0;
    EXPECT_EQ(ZwQueryValueKey(key, &name, KeyValueFullInformation, nullptr, 0, &size),
              STATUS_BUFFER_TOO_SMALL);
    const ULONG fixed = offsetof(KEY_VALUE_FULL_INFORMATION, Name);
    const ULONG dataOffset = (fixed + 26 + 7) & ~7u;
    EXPECT_EQ(size, dataOffset + 4);

    std::vector<ULONGLONG> storage(size / 8 + 1);
    auto* info = reinterpret_cast<KEY_VALUE_FULL_INFORMATION*>(storage.data());
    ULONG again = 0;
    EXPECT_EQ(ZwQueryValueKey(key, &name, KeyValueFullInformation, info, fixed, &again),
              STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(again, size);
    EXPECT_EQ(info->Type, static_cast<ULONG>(REG_DWORD));
    EXPECT_EQ(info->DataLength, 4u);

    ASSERT_EQ(ZwQueryValueKey(key, &name, KeyValueFullInformation, info, size, &again),
              STATUS_SUCCESS);
    EXPECT_EQ(info->DataOffset, dataOffset);
    EXPECT_EQ(info->NameLength, 26u);
    EXPECT_EQ(std::u16string(info->Name, 13), u"CallbackDelay");
    ULONG value;
    std::memcpy(&value, reinterpret_cast<UCHAR*>(info) + info->DataOffset, 4);
    EXPECT_EQ(value, 5u);

    KEY_VALUE_PARTIAL_INFORMATION partial[2];
    ASSERT_EQ(
        ZwQueryValueKey(key, &name, KeyValuePartialInformation, partial, sizeof partial, &again),
        STATUS_SUCCESS);
    EXPECT_EQ(again, offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data) + 4);
    std::memcpy(&value, partial[0].Data, 4);
    EXPECT_EQ(value, 5u);

    UNICODE_STRING absent;
    RtlInitUnicodeString(&absent, u"Nothing");
    EXPECT_EQ(ZwQueryValueKey(key, &absent, KeyValueFullInformation, nullptr, 0, &size),
              STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(ZwDeleteValueKey(key, &name), STATUS_SUCCESS);
    EXPECT_EQ(ZwQueryValueKey(key, &name, KeyValueFullInformation, nullptr, 0, &size),
              STATUS_OBJECT_NAME_NOT_FOUND);
    ZwClose(key);
}

TEST_F(RegistryRoutines, AHandleAllowsOnlyWhatItWasOpenedFor)
{
    HANDLE key;
    ASSERT_EQ(Open(kDriverKey, KEY_READ, &key), STATUS_SUCCESS);
    EXPECT_EQ(SetDword(key, u"X", 1), STATUS_ACCESS_DENIED);
    ZwClose(key);
    ASSERT_EQ(Open(kDriverKey, KEY_SET_VALUE, &key), STATUS_SUCCESS);
    ULONG size;
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"X");
    EXPECT_EQ(ZwQueryValueKey(key, &name, KeyValuePartialInformation, nullptr, 0, &size),
              STATUS_ACCESS_DENIED);
    ZwClose(key);
    EXPECT_EQ(SetDword(key, u"X", 1), STATUS_INVALID_HANDLE);
}

TEST_F(RegistryRoutines, NamesOutsideTheMachineHiveAreRefused)
{
    HANDLE key;
    EXPECT_EQ(Open(u"\\Registry\\User\\Software", KEY_READ, &key), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(Open(u"Software", KEY_READ, &key), STATUS_OBJECT_PATH_SYNTAX_BAD);
    EXPECT_EQ(Open(u"\\Registry\\MachineX", KEY_READ, &key), STATUS_OBJECT_NAME_NOT_FOUND);
    UNICODE_STRING odd{3, 4, const_cast<PWCH>(u"ab")};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &odd, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    EXPECT_EQ(ZwOpenKey(&key, KEY_READ, &attributes), STATUS_INVALID_PARAMETER);
}

TEST_F(RegistryRoutines, The32BitViewOfSoftwareIsWow6432Node)
{
    HANDLE key;
    ASSERT_EQ(Open(u"\\Registry\\Machine\\Software\\Tervolt\\Audio\\Drivers",
                   KEY_READ | KEY_WOW64_32KEY, &key),
              STATUS_SUCCESS);
    ZwClose(key);
    EXPECT_EQ(Open(u"\\Registry\\Machine\\Software\\Tervolt\\Audio\\Drivers", KEY_READ, &key),
              STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(RegistryRoutines, EnumerateKeyListsSubkeysUntilNoMoreEntries)
{
    MachineRegistry::Instance().CreateKeyPath(
        Hive::LocalMachine, u"Software\\Wow6432Node\\Tervolt\\Audio\\Drivers\\Beta");
    MachineRegistry::Instance().CreateKeyPath(
        Hive::LocalMachine, u"Software\\Wow6432Node\\Tervolt\\Audio\\Drivers\\alpha");
    HANDLE key;
    ASSERT_EQ(Open(kDriverKey, KEY_READ, &key), STATUS_SUCCESS);
    std::vector<std::u16string> names;
    ULONGLONG storage[64];
    auto* info = reinterpret_cast<KEY_BASIC_INFORMATION*>(storage);
    ULONG size;
    NTSTATUS status;
    for (ULONG index = 0; (status = ZwEnumerateKey(key, index, KeyBasicInformation, info,
                                                   sizeof storage, &size)) == STATUS_SUCCESS;
         ++index) {
        names.emplace_back(info->Name, info->NameLength / 2);
    }
    EXPECT_EQ(status, STATUS_NO_MORE_ENTRIES);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"alpha", u"Beta"}));
    EXPECT_EQ(ZwEnumerateKey(key, 0, KeyBasicInformation, info, 4, &size), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, offsetof(KEY_BASIC_INFORMATION, Name) + 10);
    ZwClose(key);
}

TEST_F(RegistryRoutines, WriteRegistryValueCreatesTheLastKeyAndQueryReadsItDirectly)
{
    const char16_t* key = u"MediaCategories\\{6E7982E0-055C-4684-808A-6E481F5FA041}";
    const char16_t name[] = u"Line Out";
    ASSERT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_CONTROL, key, u"Name", REG_SZ,
                                    const_cast<char16_t*>(name), sizeof name),
              STATUS_SUCCESS);
    UCHAR display[4] = {};
    ASSERT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_CONTROL, key, u"Display", REG_BINARY, display, 4),
              STATUS_SUCCESS);
    UCHAR format[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    ASSERT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_CONTROL, key, u"Format", REG_BINARY, format, 12),
              STATUS_SUCCESS);
    EXPECT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_CONTROL, u"Missing\\Deeper", u"Name", REG_SZ,
                                    const_cast<char16_t*>(name), sizeof name),
              STATUS_OBJECT_NAME_NOT_FOUND);

    WCHAR text[32];
    UNICODE_STRING string{0, sizeof text, text};
    ULONG displayValue = 0xFFFFFFFF;
    LONG formatBuffer[16] = {-64};
    LONG tooSmall[4] = {-16};
    RTL_QUERY_REGISTRY_TABLE table[] = {
        {nullptr, RTL_QUERY_REGISTRY_DIRECT, const_cast<PWSTR>(u"Name"), &string, 0, nullptr, 0},
        {nullptr, RTL_QUERY_REGISTRY_DIRECT, const_cast<PWSTR>(u"Display"), &displayValue, 0,
         nullptr, 0},
        {nullptr, RTL_QUERY_REGISTRY_DIRECT, const_cast<PWSTR>(u"Format"), formatBuffer, 0, nullptr,
         0},
        {},
    };
    std::u16string absolute =
        std::u16string(u"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\") + key;
    ASSERT_EQ(
        RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, absolute.c_str(), table, nullptr, nullptr),
        STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(string.Buffer, string.Length / 2), u"Line Out");
    EXPECT_EQ(displayValue, 0u);
    EXPECT_EQ(formatBuffer[0], 12);          // length
    EXPECT_EQ(formatBuffer[1], REG_BINARY);  // type
    EXPECT_EQ(std::memcmp(&formatBuffer[2], format, 12), 0);

    table[0] = {
        nullptr, RTL_QUERY_REGISTRY_DIRECT, const_cast<PWSTR>(u"Format"), tooSmall, 0, nullptr, 0};
    table[1] = {};
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_CONTROL, key, table, nullptr, nullptr),
              STATUS_BUFFER_TOO_SMALL);
    table[0] = {nullptr,
                RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_REQUIRED,
                const_cast<PWSTR>(u"Absent"),
                &displayValue,
                0,
                nullptr,
                0};
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_CONTROL, key, table, nullptr, nullptr),
              STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_CONTROL, u"NoSuchKey", table, nullptr, nullptr),
              STATUS_OBJECT_NAME_NOT_FOUND);
}

// A DIRECT entry with RTL_QUERY_REGISTRY_TYPECHECK takes a value only of the type in the top
// byte of its DefaultType; any other type (a stored value or the entry's own default) stops the
// query with STATUS_OBJECT_TYPE_MISMATCH and leaves the destination as it was. A missing value with
// no default is skipped whatever the type asked.
TEST_F(RegistryRoutines, TypeCheckTakesOnlyTheExpectedType)
{
    struct Case
    {
        const char* name;
        ULONG storedType;  // REG_NONE: no value stored
        std::vector<uint8_t> stored;
        ULONG expectedType;
        ULONG defaultType;  // low bits of DefaultType
        NTSTATUS status;
        bool delivered;
    };
    const std::vector<uint8_t> dword = {0x44, 0xAC, 0, 0};
    const std::vector<uint8_t> text = {'A', 0, 'B', 0, 0, 0};
    const std::vector<uint8_t> binary = {1, 2, 3, 4, 5, 6, 7, 8};
    const Case cases[] = {
        {"dword as dword", REG_DWORD, dword, REG_DWORD, REG_NONE, STATUS_SUCCESS, true},
        {"dword as binary", REG_DWORD, dword, REG_BINARY, REG_NONE, STATUS_OBJECT_TYPE_MISMATCH,
         false},
        {"binary as binary", REG_BINARY, binary, REG_BINARY, REG_NONE, STATUS_SUCCESS, true},
        {"binary as dword", REG_BINARY, binary, REG_DWORD, REG_NONE, STATUS_OBJECT_TYPE_MISMATCH,
         false},
        {"string as binary", REG_SZ, text, REG_BINARY, REG_NONE, STATUS_OBJECT_TYPE_MISMATCH,
         false},
        {"expandable string as string", REG_EXPAND_SZ, text, REG_SZ, REG_NONE,
         STATUS_OBJECT_TYPE_MISMATCH, false},
        {"multi-string as string", REG_MULTI_SZ, text, REG_SZ, REG_NONE,
         STATUS_OBJECT_TYPE_MISMATCH, false},
        {"string as string", REG_SZ, text, REG_SZ, REG_NONE, STATUS_SUCCESS, true},
        // Up to four bytes go in place: an empty value copies nothing.
        {"empty binary as binary", REG_BINARY, {}, REG_BINARY, REG_NONE, STATUS_SUCCESS, false},
        {"missing, no default", REG_NONE, {}, REG_BINARY, REG_NONE, STATUS_SUCCESS, false},
        {"missing, default of the type", REG_NONE, {}, REG_DWORD, REG_DWORD, STATUS_SUCCESS, true},
        {"missing, default of another type",
         REG_NONE,
         {},
         REG_BINARY,
         REG_DWORD,
         STATUS_OBJECT_TYPE_MISMATCH,
         false},
    };
    const char16_t* key = u"TypeCheck";
    const std::u16string absolute =
        std::u16string(u"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\") + key;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UCHAR marker[8] = {};
        ASSERT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_CONTROL, key, u"Marker", REG_BINARY, marker,
                                        sizeof marker),
                  STATUS_SUCCESS);
        MachineRegistry::Instance().DeleteValue(
            Hive::LocalMachine, u"SYSTEM\\CurrentControlSet\\Control\\TypeCheck", u"Value");
        if (c.storedType != REG_NONE) {
            ASSERT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_CONTROL, key, u"Value", c.storedType,
                                            const_cast<uint8_t*>(c.stored.data()),
                                            static_cast<ULONG>(c.stored.size())),
                      STATUS_SUCCESS);
        }
        // Every destination is a buffer of the DIRECT forms: counted (negative length first)
        // for binary data, a caller-owned string, or four bytes in place.
        LONG counted[8] = {-static_cast<LONG>(sizeof(counted)), 0x5A5A5A5A, 0x5A5A5A5A};
        WCHAR textBuffer[8] = {u'#', u'#', u'#', 0};
        UNICODE_STRING string{6, sizeof textBuffer, textBuffer};
        ULONG defaultValue = 0xBB80;
        PVOID destination = counted;
        if (c.expectedType == REG_SZ) {
            destination = &string;
        }
        RTL_QUERY_REGISTRY_TABLE table[3] = {};
        table[0].Flags = RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_TYPECHECK;
        table[0].Name = const_cast<PWSTR>(u"Value");
        table[0].EntryContext = destination;
        table[0].DefaultType =
            (c.expectedType << RTL_QUERY_REGISTRY_TYPECHECK_SHIFT) | c.defaultType;
        table[0].DefaultData = c.defaultType == REG_NONE ? nullptr : &defaultValue;
        table[0].DefaultLength = c.defaultType == REG_NONE ? 0 : sizeof defaultValue;
        // A later entry is read only when the check passed.
        LONG after[4] = {-static_cast<LONG>(sizeof(after)), 0x77};
        table[1].Flags = RTL_QUERY_REGISTRY_DIRECT;
        table[1].Name = const_cast<PWSTR>(u"Marker");
        table[1].EntryContext = after;
        EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, absolute.c_str(), table, nullptr,
                                         nullptr),
                  c.status);
        EXPECT_EQ(after[1] == REG_BINARY, NT_SUCCESS(c.status)) << "the entry after it";

        if (c.expectedType == REG_SZ) {
            EXPECT_EQ(string.Length != 6 || textBuffer[0] != u'#', c.delivered);
            continue;
        }
        const bool touched = counted[0] != -static_cast<LONG>(sizeof(counted)) ||
                             counted[1] != 0x5A5A5A5A || counted[2] != 0x5A5A5A5A;
        EXPECT_EQ(touched, c.delivered);
        if (c.delivered && c.expectedType == REG_BINARY) {
            EXPECT_EQ(counted[0], static_cast<LONG>(c.stored.size()));
            EXPECT_EQ(counted[1], REG_BINARY);
            EXPECT_EQ(std::memcmp(&counted[2], c.stored.data(), c.stored.size()), 0);
        }
        if (c.delivered && c.expectedType == REG_DWORD) {
            const ULONG expected = c.storedType == REG_DWORD ? 0xAC44u : defaultValue;
            EXPECT_EQ(static_cast<ULONG>(counted[0]), expected);
        }
    }
}

TEST_F(RegistryRoutines, ValuesWrittenByTheDriverSurviveTheStoreBeingReopened)
{
    const auto root =
        std::filesystem::temp_directory_path() / ("kernel-registry-" + std::to_string(::getpid()));
    std::filesystem::remove_all(root);
    ASSERT_EQ(MachineRegistry::Instance().Open(root), "");
    MachineRegistry::Instance().CreateKeyPath(Hive::LocalMachine,
                                              u"Software\\Wow6432Node\\Tervolt\\Audio\\Drivers");
    HANDLE key;
    ASSERT_EQ(Open(kDriverKey, KEY_SET_VALUE, &key), STATUS_SUCCESS);
    ASSERT_EQ(SetDword(key, u"1.2.0.3.0.0.0.0.0", 7), STATUS_SUCCESS);
    ZwClose(key);

    ASSERT_EQ(MachineRegistry::Instance().Open(root), "");
    ASSERT_EQ(Open(kDriverKey, KEY_READ, &key), STATUS_SUCCESS);
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"1.2.0.3.0.0.0.0.0");
    KEY_VALUE_PARTIAL_INFORMATION info[2];
    ULONG size;
    ASSERT_EQ(ZwQueryValueKey(key, &name, KeyValuePartialInformation, info, sizeof info, &size),
              STATUS_SUCCESS);
    EXPECT_EQ(info[0].Type, static_cast<ULONG>(REG_DWORD));
    EXPECT_EQ(info[0].Data[0], 7);
    ZwClose(key);
    std::filesystem::remove_all(root);
}

TEST_F(RegistryRoutines, RegistryRoutinesAtDispatchLevelStopTheSystem)
{
    const auto stop = ExpectBugCheck([&] {
        KIRQL old;
        KeRaiseIrql(DISPATCH_LEVEL, &old);
        HANDLE key;
        Open(kDriverKey, KEY_READ, &key);
    });
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->code, kIrqlNotLessOrEqual);
    EXPECT_NE(stop->reason.find("ZwOpenKey"), std::string::npos);
}

TEST_F(RegistryRoutines, AHandleLeftOpenFailsTheTest)
{
    HANDLE key;
    ASSERT_EQ(Open(kDriverKey, KEY_READ, &key), STATUS_SUCCESS);
    EXPECT_NONFATAL_FAILURE(Testing::EndKernelTest(), "1 registry handle(s) left open");
}

}  // namespace
