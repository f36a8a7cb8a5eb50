// A GoogleTest fixture for code that runs on the kernel layer. Each test starts on a fresh
// virtual-time kernel with bug checks turned into test failures, and fails when it ends with
// pool outstanding (each leaked block is named by its tag), a mutex still held, a bug check on a
// system thread, or a fault another layer's tear-down check found (a simulated USB device's
// violation ...).
#pragma once

#include <gtest/gtest.h>

namespace Platform::Kernel::Testing {

class KernelTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
};

// What KernelTest does after each test, for fixtures that cannot derive from it: reports every
// leak as a test failure, then reclaims it and resets the layer.
void BeginKernelTest();
void EndKernelTest();

}  // namespace Platform::Kernel::Testing
