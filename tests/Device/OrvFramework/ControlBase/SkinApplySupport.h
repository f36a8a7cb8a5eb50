#pragma once
// Small skin documents for the skin-application tests: a fixture that reads them into the
// factory and builds a top-level control from the current skin.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ControlTestSupport.h"

namespace SkinApplyTest {

inline std::string Document(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Document>\n" + body + "\n</Document>\n";
}

// One SubControl element; params are CreateParam pairs.
inline std::string SubControl(const std::string& name, const std::string& attributes,
                              const std::string& inside = "",
                              const std::string& className = "Test.Base",
                              const std::vector<std::pair<std::string, std::string>>& params = {})
{
    std::string element =
        "<SubControl Class=\"" + className + "\" Name=\"" + name + "\" " + attributes + ">";
    if (!params.empty()) {
        element += "<CreateParamList>";
        for (const auto& [id, text] : params) {
            element += "<CreateParam ID=\"" + id + "\">" + text + "</CreateParam>";
        }
        element += "</CreateParamList>";
    }
    return element + inside + "</SubControl>";
}

inline std::string Skin(const std::string& name, const std::string& attributes,
                        const std::string& inside)
{
    return "<Skin Name=\"" + name + "\" " + attributes + ">" + inside + "</Skin>";
}

class SkinApplyFixture : public ControlTest::ControlFixture
{
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        RegisterBase(u"Test.Base");
    }

    void ParseSkins(const std::string& skins)
    {
        const std::string document = Document(skins);
        ASSERT_EQ(factory->ParseXml(document.data(), document.size()), 0)
            << ControlTest::Narrow(factory->GetLastErrorText());
    }

    Orv::RCPtr<Orv::LControl> BuildTop(const std::string& skins)
    {
        ParseSkins(skins);
        // The reader leaves the index at the last skin it read; the application starts at 0.
        factory->currentSkinIndex = 0;
        return factory->CreateControlByName(u"top", nullptr);
    }

    // One top-level skin "name" whose control "top" holds the children.
    static std::string SkinWithTop(const std::string& name, const std::string& children,
                                   const std::string& topAttributes = "",
                                   const std::string& topSkin = "")
    {
        return Skin(name, "", SubControl("top", topAttributes, Skin("top", topSkin, children)));
    }
};

}  // namespace SkinApplyTest
