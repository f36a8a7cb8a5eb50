// The persisted transfers-ahead value in the machine registry, for the simulated device.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ProductModelFixture.h"

namespace {

// The simulated device: VID 0x2B7E, PID 0x5C19, each written from its lowest byte up, and its
// place on the bus (controller 0:20.0, root port 3, first hub port 1).
const std::u16string kSettingKey =
    std::u16string(kDriverKeyPath) + u"\\010203047E2B0000195C0000DECAFBAD";
const std::u16string kValueName = u"0.20.0.3.1.0.0.0.0";

class PersistedSettingTest : public ProductModelFixture
{
protected:
    void SetUp() override
    {
        ProductModelFixture::SetUp();
        device_ = PlugIn(false);
        ASSERT_NE(device_, nullptr);
        engine_ = Engine();
        ASSERT_NE(Context(device_)->hardwareIdPrefix, nullptr);
        oldName_ = std::u16string(Context(device_)->hardwareIdPrefix) + u"." + kValueName;
    }

    ULONG TransfersAheadAfterStart()
    {
        EXPECT_EQ(device_->Send(Platform::Ks::PnpRequest::Start), STATUS_SUCCESS);
        ULONG value = 0;
        EXPECT_EQ(Model()->GetCallbackDelay(&value), STATUS_SUCCESS);
        return value;
    }

    Platform::Ks::Device* device_ = nullptr;
    StandInEngine* engine_ = nullptr;
    std::u16string oldName_;
};

TEST_F(PersistedSettingTest, NamesComeFromTheIdsAndTheUsbLocation)
{
    EXPECT_EQ(std::u16string(GetSettingKeyPath(engine_)), kSettingKey);
    EXPECT_EQ(std::u16string(GetSettingValueName(engine_)), kValueName);
    WCHAR old[kOldSettingNameCharacters];
    ASSERT_EQ(GetOldSettingValueName(engine_, old, kOldSettingNameCharacters), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(old), oldName_);
    EXPECT_EQ(oldName_.substr(0, 21), u"USB\\VID_2B7E&PID_5C19");
}

TEST_F(PersistedSettingTest, WithoutAUsbLocationTheValueIsCalledCallbackDelay)
{
    engine_->failUsbLocation = true;
    const ULONG old = 6;
    ASSERT_EQ(WriteValue(kDriverKeyPath, oldName_, REG_DWORD, &old, sizeof old), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(GetSettingValueName(engine_)), u"CallbackDelay");
    WCHAR name[kOldSettingNameCharacters];
    EXPECT_FALSE(NT_SUCCESS(GetOldSettingValueName(engine_, name, kOldSettingNameCharacters)));
    EXPECT_EQ(LoadPersistedValue(engine_), 3u);  // the older name cannot be formed
    ASSERT_EQ(StorePersistedValue(engine_, 2), STATUS_SUCCESS);
    ULONG value = 0;
    EXPECT_EQ(ReadDword(kSettingKey, u"CallbackDelay", &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 2u);
    EXPECT_EQ(LoadPersistedValue(engine_), 2u);
}

TEST_F(PersistedSettingTest, NothingStoredReadsThreeAndWritesNothing)
{
    EXPECT_EQ(TransfersAheadAfterStart(), 3u);
    ULONG value = 0;
    EXPECT_EQ(ReadDword(kSettingKey, kValueName, &value), STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(PersistedSettingTest, AStoredValueRoundTrips)
{
    ASSERT_EQ(StorePersistedValue(engine_, 5), STATUS_SUCCESS);
    ULONG value = 0;
    ASSERT_EQ(ReadDword(kSettingKey, kValueName, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 5u);
    EXPECT_EQ(LoadPersistedValue(engine_), 5u);
    EXPECT_EQ(TransfersAheadAfterStart(), 5u);
}

TEST_F(PersistedSettingTest, AnOldValueMovesToTheNewNameAndIsDeleted)
{
    const ULONG stored = 6;
    ASSERT_EQ(WriteValue(kDriverKeyPath, oldName_, REG_DWORD, &stored, sizeof stored),
              STATUS_SUCCESS);
    EXPECT_EQ(TransfersAheadAfterStart(), 6u);
    ULONG value = 0;
    ASSERT_EQ(ReadDword(kSettingKey, kValueName, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 6u);
    EXPECT_EQ(ReadDword(kDriverKeyPath, oldName_, &value), STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(PersistedSettingTest, AnOldValueStaysWhenItCannotBeStoredUnderTheNewName)
{
    const ULONG stored = 6;
    ASSERT_EQ(WriteValue(kDriverKeyPath, oldName_, REG_DWORD, &stored, sizeof stored),
              STATUS_SUCCESS);
    // A setting key that cannot be created: its path is not the one it would be created at.
    engine_->SettingNames()->built = 1;
    std::u16string unreachable = std::u16string(kDriverKeyPath) + u"\\missing\\key";
    std::copy(unreachable.begin(), unreachable.end(), engine_->SettingNames()->keyPath);
    engine_->SettingNames()->keyPath[unreachable.size()] = 0;
    std::copy(kValueName.begin(), kValueName.end(), engine_->SettingNames()->valueName);
    engine_->SettingNames()->valueName[kValueName.size()] = 0;

    EXPECT_EQ(LoadPersistedValue(engine_), 6u);
    ULONG value = 0;
    EXPECT_EQ(ReadDword(kDriverKeyPath, oldName_, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 6u);
}

TEST_F(PersistedSettingTest, OnlyAFourByteDwordInRangeIsTaken)
{
    struct Row
    {
        const char* name;
        ULONG type;
        std::vector<UCHAR> data;
        ULONG expected;
    };
    const Row rows[] = {
        {"dword", REG_DWORD, {7, 0, 0, 0}, 7},
        {"zero", REG_DWORD, {0, 0, 0, 0}, 0},
        {"above eight", REG_DWORD, {100, 0, 0, 0}, 8},
        {"negative", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}, 0},
        {"largest positive", REG_DWORD, {0xFF, 0xFF, 0xFF, 0x7F}, 8},
        {"string", REG_SZ, {'5', 0, 0, 0}, 3},
        {"binary of four bytes", REG_BINARY, {5, 0, 0, 0}, 3},
        {"qword", REG_QWORD, {5, 0, 0, 0, 0, 0, 0, 0}, 3},
        {"short dword", REG_DWORD, {5, 0}, 3},
        {"empty", REG_DWORD, {}, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(WriteValue(kSettingKey, kValueName, row.type, row.data.data(),
                             static_cast<ULONG>(row.data.size())),
                  STATUS_SUCCESS);
        EXPECT_EQ(LoadPersistedValue(engine_), row.expected);
    }
}

// Another writer may change the value between the query for its size and the query for its
// data: a value whose size is then not the size first reported is not taken.
TEST_F(PersistedSettingTest, AValueThatChangesSizeBetweenTheQueriesIsIgnored)
{
    struct Row
    {
        const char* name;
        ULONG firstType;
        std::vector<UCHAR> first;
        std::vector<UCHAR> second;  // a REG_DWORD written just before the second query
        ULONG expected;
    };
    const Row rows[] = {
        {"same size, new value", REG_DWORD, {6, 0, 0, 0}, {5, 0, 0, 0}, 5},
        {"shrinks to a dword", REG_BINARY, {1, 2, 3, 4, 5, 6, 7, 8}, {5, 0, 0, 0}, 3},
        {"grows past the buffer", REG_DWORD, {6, 0, 0, 0}, {5, 0, 0, 0, 0, 0, 0, 0}, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(WriteValue(kSettingKey, kValueName, row.firstType, row.first.data(),
                             static_cast<ULONG>(row.first.size())),
                  STATUS_SUCCESS);
        int queries = 0;
        Platform::Kernel::SetValueQueryHook([&](std::u16string_view, std::u16string_view name) {
            if (name == kValueName && ++queries == 2) {
                EXPECT_EQ(WriteValue(kSettingKey, kValueName, REG_DWORD, row.second.data(),
                                     static_cast<ULONG>(row.second.size())),
                          STATUS_SUCCESS);
            }
        });
        EXPECT_EQ(LoadPersistedValue(engine_), row.expected);
        Platform::Kernel::SetValueQueryHook(nullptr);
        EXPECT_GE(queries, 2);
    }
}

TEST_F(PersistedSettingTest, WithoutTheDriversKeyNothingIsWritten)
{
    // P is the installation's; the driver never creates it.
    const std::u16string missing = std::u16string(kDriverKeyPath) + u"Missing";
    InitializeSettingNames(engine_->SettingNames(), missing.c_str());
    EXPECT_EQ(StorePersistedValue(engine_, 4), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(LoadPersistedValue(engine_), 3u);
}

}  // namespace

namespace {

TEST(DecodeStoredValueTest, TheDataMustLieInsideTheRecord)
{
    struct Row
    {
        const char* name;
        ULONG dataOffset;
        ULONG recordSize;
        bool taken;
    };
    const Row rows[] = {
        {"inside", 24, 28, true},
        {"one byte short", 24, 27, false},
        {"offset at the end", 28, 28, false},
        {"offset far past the end", 0xFFFFFFF0, 28, false},
        {"record shorter than its header", 24, 12, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // Unaligned on purpose: the registry's answer is taken as bytes.
        std::vector<UCHAR> bytes(1 + 64, 0);
        UCHAR* record = bytes.data() + 1;
        const ULONG header[5] = {0, REG_DWORD, row.dataOffset, 4, 0};
        std::memcpy(record, header, sizeof header);
        const ULONG stored = 6;
        std::memcpy(record + 24, &stored, sizeof stored);
        ULONG value = 99;
        EXPECT_EQ(DecodeStoredValue(record, row.recordSize, &value), row.taken);
        EXPECT_EQ(value, row.taken ? 6u : 99u);
    }
}

}  // namespace
