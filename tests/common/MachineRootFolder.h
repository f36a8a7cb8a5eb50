#pragma once
// A fresh machine root folder for one test, with the folder of drive C: $QUORVEL_ROOT points at it while the test runs, and it
// is removed afterwards. LoadRegistry fills the machine registry from a .reg file of the fixtures.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <Registry/MachineRegistry.h>

class MachineRootFolder
{
public:
    MachineRootFolder()
    {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(test->test_suite_name()) + "-" + test->name();
        for (char& c : name) {
            c = c == '/' ? '_' : c;  // parameterised names hold slashes: keep the folder flat
        }
        root_ = std::filesystem::temp_directory_path() /
                ("quorvel-root-" + std::to_string(::getpid()) + "-" + name);
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "C");  // the system drive
        ::setenv("QUORVEL_ROOT", root_.c_str(), 1);
    }

    ~MachineRootFolder()
    {
        ::unsetenv("QUORVEL_ROOT");
        std::filesystem::remove_all(root_);
    }

    MachineRootFolder(const MachineRootFolder&) = delete;
    MachineRootFolder& operator=(const MachineRootFolder&) = delete;

    const std::filesystem::path& Path() const { return root_; }

    // Serves the machine registry from a copy of the fixture; empty text when it loaded.
    std::string LoadRegistry(const std::filesystem::path& regFile) const
    {
        std::filesystem::copy_file(regFile, root_ / "Registry.reg",
                                   std::filesystem::copy_options::overwrite_existing);
        return Platform::Registry::MachineRegistry::Instance().Open(root_);
    }

private:
    std::filesystem::path root_;
};
