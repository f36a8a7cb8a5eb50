#include <gtest/gtest.h>

#include <windows.h>

#include "Win32Test/HeadlessWindow.h"

namespace {

TEST(Window, DeviceContextsAreCountedAndReleasedOnce)
{
    HWND window = Win32Test::CreateHeadlessWindow(5, 3);
    ASSERT_TRUE(IsWindow(window));
    HDC first = GetDC(window);
    HDC second = GetDC(window);
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(Win32Test::GetOpenDeviceContextCount(window), 2);
    EXPECT_EQ(GetDeviceCaps(first, LOGPIXELSX), 96);
    EXPECT_EQ(GetDeviceCaps(first, LOGPIXELSY), 96);
    EXPECT_EQ(GetDeviceCaps(first, HORZRES), 5);
    EXPECT_EQ(GetDeviceCaps(first, 12345), 0);
    EXPECT_EQ(ReleaseDC(window, first), 1);
    EXPECT_EQ(ReleaseDC(window, first), 0) << "released twice";
    EXPECT_EQ(GetDeviceCaps(first, LOGPIXELSX), 0) << "a released context is not followed";
    EXPECT_EQ(ReleaseDC(nullptr, second), 0) << "not the screen's";
    EXPECT_EQ(Win32Test::GetOpenDeviceContextCount(window), 1);
    EXPECT_EQ(ReleaseDC(window, second), 1);
    EXPECT_EQ(Win32Test::GetOpenDeviceContextCount(window), 0);

    RECT client{};
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.right * 10 + client.bottom, 53);
    EXPECT_EQ(Win32Test::GetWindowPixel(window, 4, 2), 0xFF000000u);
    Win32Test::FillWindow(window, 0x102030);
    EXPECT_EQ(Win32Test::GetWindowPixel(window, 0, 0), 0xFF102030u);
    EXPECT_EQ(Win32Test::GetWindowPixel(window, 5, 0), 0u) << "outside";

    HDC screen = GetDC(nullptr);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSX), 96);
    EXPECT_EQ(ReleaseDC(nullptr, screen), 1);

    HDC left = GetDC(window);
    Win32Test::DestroyHeadlessWindow(window);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(GetDC(window), nullptr);
    EXPECT_EQ(ReleaseDC(window, left), 0) << "gone with its window";
    EXPECT_FALSE(GetClientRect(window, &client));
}

TEST(GlobalMemory, BlocksAndStreams)
{
    HGLOBAL block = GlobalAlloc(GHND, 4);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalSize(block), 4u);
    auto* bytes = static_cast<BYTE*>(GlobalLock(block));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes[3], 0);
    bytes[0] = 'a';
    bytes[1] = 'b';
    bytes[2] = 'c';
    bytes[3] = 'd';
    EXPECT_EQ(GlobalUnlock(block), FALSE);
    EXPECT_EQ(GlobalUnlock(block), FALSE) << "not locked";

    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(block, FALSE, &stream), S_OK);
    char read[8] = {};
    ULONG count = 0;
    EXPECT_EQ(stream->Read(read, 3, &count), S_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(stream->Read(read + 3, 5, &count), S_FALSE) << "short read at the end";
    EXPECT_EQ(count, 1u);
    EXPECT_STREQ(read, "abcd");
    ULONGLONG position = 0;
    EXPECT_EQ(stream->Seek(-2, STREAM_SEEK_END, &position), S_OK);
    EXPECT_EQ(position, 2u);
    EXPECT_EQ(stream->Seek(-3, STREAM_SEEK_CUR, &position), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stream->Seek(0, 7, &position), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stream->Write("XYZ", 3, &count), S_OK);
    EXPECT_EQ(GlobalSize(block), 5u) << "writing past the end grows the block";
    EXPECT_EQ(stream->SetSize(1), S_OK);
    EXPECT_EQ(GlobalSize(block), 1u);
    stream->AddRef();
    EXPECT_EQ(stream->Release(), 1u);
    EXPECT_EQ(stream->Release(), 0u);
    EXPECT_EQ(GlobalFree(block), nullptr) << "the stream did not own the block";
    EXPECT_EQ(GlobalFree(block), block) << "freed twice";
    EXPECT_EQ(GlobalLock(block), nullptr);

    EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, SIZE_T{1} << 40), nullptr);
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, nullptr), E_INVALIDARG);
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    EXPECT_EQ(stream->Write("x", 1, nullptr), S_OK);
    EXPECT_EQ(stream->Release(), 0u);
}

}  // namespace
