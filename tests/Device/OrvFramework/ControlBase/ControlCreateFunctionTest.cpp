// The creation sequence every control class shares: a failed Initialize still yields a created
// control, nothing reaches a control's handlers before its created mark, and a child that throws
// leaves its parent's creation with the exception unchanged.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "Notification/Notification.h"
#include "ObjectBase/Exception.h"
#include "SkinApplySupport.h"

namespace {

using Orv::LControl;
using Orv::LControlDescriptor;
using Orv::RCPtr;
using Orv::WideString;
using SkinApplyTest::SkinApplyFixture;
using SkinApplyTest::SubControl;

// What the steps of every probe saw, in order.
std::vector<std::string> steps;

class FailingInitialize : public LControl
{
public:
    FailingInitialize(const RCPtr<LControl>& parent, const WideString& name)
        : LControl(parent, name)
    {
    }
    Orv::ORVRESULT Initialize() override
    {
        LControl::Initialize();
        steps.push_back("initialize " + ControlTest::Narrow(GetName()));
        return E_FAIL;
    }
    Orv::ORVRESULT OnCreated() override
    {
        steps.push_back(std::string("created hook, mark ") + (IsCreated() ? "set" : "clear"));
        return E_FAIL;
    }
};

// Binds a direct handler in Initialize and offers itself a notification in the created hook.
class EarlyListener : public LControl
{
public:
    EarlyListener(const RCPtr<LControl>& parent, const WideString& name) : LControl(parent, name) {}
    Orv::ORVRESULT Initialize() override
    {
        LControl::Initialize();
        GetNotificationHandler()->AddDirectHandler(
            static_cast<Orv::NotificationCallback<LControl>>(&EarlyListener::OnPing),
            u"NID_TEST_PING");
        return S_OK;
    }
    Orv::ORVRESULT OnCreated() override
    {
        answerBeforeMark = Ping();
        return S_OK;
    }
    int Ping()
    {
        return OnNotification(nullptr, Orv::CreateNotification(u"NID_TEST_PING", nullptr));
    }
    int OnPing(const RCPtr<Orv::LNotificationDistributor>&, const RCPtr<Orv::LNotification>&)
    {
        ++pings;
        return 1;
    }
    int answerBeforeMark = -1;
    int pings = 0;
};

class ThrowingChild : public LControl
{
public:
    ThrowingChild(const RCPtr<LControl>& parent, const WideString& name) : LControl(parent, name) {}
    Orv::ORVRESULT Initialize() override { throw std::logic_error("child cannot start"); }
};

// Builds a parent whose CreateChildren lets a child's exception through, as a class may.
class StrictParent : public LControl
{
public:
    StrictParent(const RCPtr<LControl>& parent, const WideString& name) : LControl(parent, name) {}
    Orv::ORVRESULT CreateChildren(const RCPtr<LControlDescriptor>& descriptor) override
    {
        steps.push_back("children");
        for (uint32_t index = 0; index < descriptor->subControls.GetCount(); ++index) {
            RCPtr<LControl> child;
            Orv::ControlCreateFunction<ThrowingChild>(child, RCPtr<LControl>(this),
                                                      descriptor->subControls.GetData()[index]);
        }
        return S_OK;
    }
    Orv::ORVRESULT Initialize() override
    {
        steps.push_back("parent initialize");
        return LControl::Initialize();
    }
};

class ControlCreateFunctionTest : public SkinApplyFixture
{
protected:
    void SetUp() override
    {
        SkinApplyFixture::SetUp();
        steps.clear();
        factory->RegisterControlCreateFunction(u"Test.FailingInitialize",
                                               &Orv::ControlCreateFunction<FailingInitialize>);
        factory->RegisterControlCreateFunction(u"Test.EarlyListener",
                                               &Orv::ControlCreateFunction<EarlyListener>);
        factory->RegisterControlCreateFunction(u"Test.StrictParent",
                                               &Orv::ControlCreateFunction<StrictParent>);
    }
};

TEST_F(ControlCreateFunctionTest, AFailedInitializeStillGivesACreatedAttachedControl)
{
    RCPtr<LControl> top = BuildTop(
        "<Skins>" + SkinWithTop("Default", SubControl("child", "", "", "Test.FailingInitialize")) +
        "</Skins>");
    ASSERT_TRUE(top);
    const RCPtr<LControl> child = top->FindChild(u"child");
    ASSERT_TRUE(child);
    EXPECT_TRUE(child->IsCreated());
    EXPECT_EQ(child->GetParent().Get(), top.Get());
    // The hook ran after Initialize and before the mark.
    EXPECT_EQ(steps, (std::vector<std::string>{"initialize child", "created hook, mark clear"}));
    top = nullptr;
}

TEST_F(ControlCreateFunctionTest, NothingReachesTheHandlersBeforeTheCreatedMark)
{
    RCPtr<LControl> top = BuildTop(
        "<Skins>" + SkinWithTop("Default", SubControl("child", "", "", "Test.EarlyListener")) +
        "</Skins>");
    ASSERT_TRUE(top);
    auto* listener = dynamic_cast<EarlyListener*>(top->FindChild(u"child").Get());
    ASSERT_NE(listener, nullptr);
    EXPECT_EQ(listener->answerBeforeMark, 0);
    EXPECT_EQ(listener->pings, 0);
    EXPECT_EQ(listener->Ping(), 1);
    EXPECT_EQ(listener->pings, 1);
    top = nullptr;
}

TEST_F(ControlCreateFunctionTest, AChildsThrowPassesUnchangedAndStopsTheParentsSequence)
{
    ParseSkins("<Skins>" +
               SkinApplyTest::Skin(
                   "Default", "",
                   SubControl("top", "", SkinApplyTest::Skin("top", "", SubControl("bad", "")),
                              "Test.StrictParent")) +
               "</Skins>");
    EXPECT_THROW(
        {
            try {
                factory->CreateControlByName(u"top", nullptr);
            } catch (const std::logic_error& failure) {
                EXPECT_STREQ(failure.what(), "child cannot start");
                throw;
            }
        },
        std::logic_error);
    // The parent never reached its Initialize; the dropped references took the whole tree.
    EXPECT_EQ(steps, std::vector<std::string>{"children"});
    EXPECT_EQ(LControl::GetLiveCount(), 0);
}

TEST_F(ControlCreateFunctionTest, ANullDescriptorThrowsRatherThanReturningNothing)
{
    RCPtr<LControl> result;
    EXPECT_THROW(Orv::ControlCreateFunction<LControl>(result, nullptr, nullptr),
                 Orv::ExceptionBase);
    EXPECT_FALSE(result);
}

}  // namespace
