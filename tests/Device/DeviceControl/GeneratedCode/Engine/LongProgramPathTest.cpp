// A program whose path does not fit the binding's 261-character buffer: the cut path would end in
// a parent folder that holds a library, and the binding must not load that one.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "UlvaneInterface.h"

namespace {

TEST(LongProgramPath, ALibraryInTheFolderOfACutPathIsNotLoaded)
{
    char16_t path[Orv::UlvaneInterface::kPathCapacity] = {};
    ASSERT_EQ(GetModuleFileNameW(nullptr, path, Orv::UlvaneInterface::kPathCapacity),
              Orv::UlvaneInterface::kPathCapacity)
        << "the program path must be too long for the test to mean anything";
    ASSERT_TRUE(std::filesystem::exists(DECOY_ULVANE_DIR "/libUlvane.so"));

    Orv::UlvaneInterface binding;
    EXPECT_FALSE(binding.IsLoaded());
    Orv::Variant ids;
    EXPECT_EQ(binding.FindDevices(nullptr, 0, &ids), -1);
}

}  // namespace
