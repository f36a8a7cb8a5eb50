#pragma once
// The application object, factory and GDI+ a control tree needs, for one test at a time; and
// small descriptors built by hand.

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Application/ControlCreateFunction.h"
#include "Application/FrameworkApp.h"
#include "ControlBase/Control.h"
#include "ControlBase/ControlFactory.h"
#include "ControlBase/DocumentBytes.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/Look.h"
#include "ControlBase/VisualPart.h"
#include "System/DebugOutput.h"
#include "Utilities/Graphics/Bitmap.h"
#include "gdiplus.h"

namespace ControlTest {

inline std::string Narrow(const Orv::WideString& text)
{
    return text.ToNarrow().GetText();
}

// Everything that holds controls, looks, parts or bitmaps is gone.
inline void ExpectNothingAlive()
{
    EXPECT_EQ(Orv::LControl::GetLiveCount(), 0);
    EXPECT_EQ(Orv::LLook::GetLiveCount(), 0);
    EXPECT_EQ(Orv::LVisualPart::GetLiveCount(), 0);
    EXPECT_EQ(Orv::GetBitmapCacheCount(), 0);
}

// An application with a factory of its own, and GDI+ for the parts' images.
class ControlFixture : public testing::Test
{
protected:
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr), Gdiplus::Ok);
        application = Orv::RCPtr<Orv::LFrameworkApp>(new Orv::LFrameworkApp());
        factory = Orv::RCPtr<Orv::LControlFactory>(new Orv::LControlFactory(u"Quorvel"));
        application->SetControlFactory(factory);
    }

    void TearDown() override
    {
        ExpectNothingAlive();
        application->SetControlFactory(nullptr);
        factory = nullptr;
        application = nullptr;
        Gdiplus::GdiplusShutdown(gdiplusToken);
    }

    void RegisterBase(const char16_t* className)
    {
        factory->RegisterControlCreateFunction(className,
                                               &Orv::ControlCreateFunction<Orv::LControl>);
    }

    // The program's skins and string tables, with every class they name made as a plain control.
    void LoadProductSkinAsBaseControls()
    {
        ASSERT_EQ(factory->LoadSkinsAndStrings(u"::", 0x0409), 0);
        std::vector<uint8_t> bytes;
        ASSERT_EQ(Orv::ReadDocumentBytes(u"::APP_SKINS", bytes), Orv::DocumentRead::Done);
        const std::string document(bytes.begin(), bytes.end());
        const std::regex classAttribute("Class=\"([^\"]+)\"");
        std::set<std::string> classes;
        for (std::sregex_iterator it(document.begin(), document.end(), classAttribute), end;
             it != end; ++it) {
            classes.insert((*it)[1].str());
        }
        ASSERT_GT(classes.size(), 5u);
        for (const std::string& className : classes) {
            RegisterBase(Orv::WideString(className.c_str()).GetText());
        }
    }

    ULONG_PTR gdiplusToken = 0;
    Orv::RCPtr<Orv::LFrameworkApp> application;
    Orv::RCPtr<Orv::LControlFactory> factory;
};

// What the debug channel says while it lives.
class DebugCapture
{
public:
    DebugCapture() : saved(Orv::GetDebugLogTarget().narrowOutput)
    {
        Orv::GetDebugLogTarget().narrowOutput = &captured;
    }
    ~DebugCapture() { Orv::GetDebugLogTarget().narrowOutput = saved; }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    std::string Text() const { return captured.str(); }

private:
    std::ostringstream captured;
    std::ostream* saved;
};

}  // namespace ControlTest
