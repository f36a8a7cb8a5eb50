// Member-function bindings, forwarding across class levels and the scope guard that silences one.
#include "Notification/NotificationHandler.h"

#include <type_traits>

#include "Notification/NotificationForwarder.h"
#include "Notification/NotificationIdTexts.h"
#include "NotificationFixtures.h"

namespace OrvTest {
namespace {

using Orv::CAutoNotificationDisabler;
using Orv::CreateNotification;
using Orv::LNotificationHandler;
using Orv::NID_SIMULATE_CLICK;
using Orv::NID_VALUE_CHANGE;
using Orv::ORVRESULT;

// A class chain of up to three handling levels, as the controls have: Base, Middle, Derived. Each
// level's callback logs and answers what the test set for it.
class LBase : public virtual LNotificationClient
{
public:
    explicit LBase(CallLog& log) : log(log) {}

    int OnNotification(const RCPtr<LNotificationDistributor>& sender,
                       const RCPtr<LNotification>& notification) override
    {
        return Orv::NotificationForwarder(created, sender, notification, baseHandler);
    }
    ORVRESULT Unregister(const RCPtr<LNotificationDistributor>& source,
                         const char16_t* idText) override
    {
        return Orv::UnregisterForwarder(*this, source, idText, baseHandler);
    }

    int OnBase(const RCPtr<LNotificationDistributor>&, const RCPtr<LNotification>&)
    {
        log.push_back("base");
        return baseAnswer;
    }

    void Initialize()
    {
        baseHandler = RCPtr<LNotificationHandler<LBase>>(new LNotificationHandler<LBase>(this));
    }

    CallLog& log;
    bool created = true;
    int baseAnswer = 1;
    RCPtr<LNotificationHandler<LBase>> baseHandler;
};

class LMiddle : public LBase
{
public:
    using LBase::LBase;
    int OnNotification(const RCPtr<LNotificationDistributor>& sender,
                       const RCPtr<LNotification>& notification) override
    {
        return Orv::NotificationForwarder(created, sender, notification, middleHandler,
                                          baseHandler);
    }
    ORVRESULT Unregister(const RCPtr<LNotificationDistributor>& source,
                         const char16_t* idText) override
    {
        return Orv::UnregisterForwarder(*this, source, idText, middleHandler, baseHandler);
    }
    int OnMiddle(const RCPtr<LNotificationDistributor>&, const RCPtr<LNotification>&)
    {
        log.push_back("middle");
        return middleAnswer;
    }
    void Initialize()
    {
        LBase::Initialize();
        middleHandler =
            RCPtr<LNotificationHandler<LMiddle>>(new LNotificationHandler<LMiddle>(this));
    }

    int middleAnswer = 1;
    RCPtr<LNotificationHandler<LMiddle>> middleHandler;
};

class LDerived : public LMiddle
{
public:
    using LMiddle::LMiddle;
    int OnNotification(const RCPtr<LNotificationDistributor>& sender,
                       const RCPtr<LNotification>& notification) override
    {
        return Orv::NotificationForwarder(created, sender, notification, derivedHandler,
                                          middleHandler, baseHandler);
    }
    ORVRESULT Unregister(const RCPtr<LNotificationDistributor>& source,
                         const char16_t* idText) override
    {
        return Orv::UnregisterForwarder(*this, source, idText, derivedHandler, middleHandler,
                                        baseHandler);
    }
    int OnDerived(const RCPtr<LNotificationDistributor>&, const RCPtr<LNotification>&)
    {
        log.push_back("derived");
        return derivedAnswer;
    }
    void Initialize()
    {
        LMiddle::Initialize();
        derivedHandler =
            RCPtr<LNotificationHandler<LDerived>>(new LNotificationHandler<LDerived>(this));
    }

    int derivedAnswer = 1;
    RCPtr<LNotificationHandler<LDerived>> derivedHandler;
};

class Handlers : public NotificationTest
{
protected:
    void SetUp() override { owner->Initialize(); }
    void TearDown() override
    {
        owner->UnregisterAll();
        NotificationTest::TearDown();
    }

    void BindAllLevels()
    {
        ASSERT_EQ(owner->derivedHandler->AddHandler(&LDerived::OnDerived, source, NID_VALUE_CHANGE),
                  S_OK);
        ASSERT_EQ(owner->middleHandler->AddHandler(&LMiddle::OnMiddle, source, NID_VALUE_CHANGE),
                  S_OK);
        ASSERT_EQ(owner->baseHandler->AddHandler(&LBase::OnBase, source, NID_VALUE_CHANGE), S_OK);
    }
    void Send() { source->SendNotification(CreateNotification(NID_VALUE_CHANGE)); }

    CallLog log;
    RCPtr<LNotificationDistributor> source = MakeDistributor();
    RCPtr<LDerived> owner{new LDerived(log)};
};

// Rows: what each level answers; which levels run.
struct ForwardingRow
{
    const char* name;
    int derived, middle, base;
    CallLog expected;
};

class Forwarding : public Handlers, public ::testing::WithParamInterface<ForwardingRow>
{
};

TEST_P(Forwarding, StopsAtTheFirstNonZeroResult)
{
    BindAllLevels();
    owner->derivedAnswer = GetParam().derived;
    owner->middleAnswer = GetParam().middle;
    owner->baseAnswer = GetParam().base;
    Send();
    EXPECT_EQ(log, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Forwarding,
    ::testing::Values(ForwardingRow{"DerivedTakesIt", 1, 1, 1, {"derived"}},
                      ForwardingRow{"MiddleTakesIt", 0, 1, 1, {"derived", "middle"}},
                      ForwardingRow{"BaseTakesIt", 0, 0, 1, {"derived", "middle", "base"}},
                      ForwardingRow{"NobodyTakesIt", 0, 0, 0, {"derived", "middle", "base"}},
                      ForwardingRow{"NegativeAlsoStops", -1, 1, 1, {"derived"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Handlers, TwoLevelsOfTheSameChain)
{
    // LMiddle forwards over two tables only.
    const RCPtr<LMiddle> middle(new LMiddle(log));
    middle->Initialize();
    middle->middleHandler->AddHandler(&LMiddle::OnMiddle, source, NID_VALUE_CHANGE);
    middle->baseHandler->AddHandler(&LBase::OnBase, source, NID_VALUE_CHANGE);
    middle->middleAnswer = 0;
    Send();
    EXPECT_EQ(log, (CallLog{"middle", "base"}));
    log.clear();
    middle->middleAnswer = 2;
    Send();
    EXPECT_EQ(log, CallLog{"middle"});
    middle->UnregisterAll();
}

TEST_F(Handlers, AbsentLevelIsSkipped)
{
    BindAllLevels();
    owner->derivedHandler = nullptr;
    owner->middleAnswer = 0;
    Send();
    EXPECT_EQ(log, (CallLog{"middle", "base"}));
}

TEST_F(Handlers, NothingUntilTheOwnerIsCreated)
{
    BindAllLevels();
    owner->created = false;
    Send();
    EXPECT_TRUE(log.empty());
    owner->created = true;
    Send();
    EXPECT_EQ(log, CallLog{"derived"});
}

TEST_F(Handlers, UnregisterRemovesTheBindingFromEveryLevel)
{
    BindAllLevels();
    EXPECT_EQ(owner->Unregister(source, NID_VALUE_CHANGE), S_OK);
    EXPECT_FALSE(owner->derivedHandler->HasHandler(source, NID_VALUE_CHANGE));
    EXPECT_FALSE(owner->middleHandler->HasHandler(source, NID_VALUE_CHANGE));
    EXPECT_FALSE(owner->baseHandler->HasHandler(source, NID_VALUE_CHANGE));
    EXPECT_EQ(owner->GetRegistrationCount(), 0);
    Send();
    EXPECT_TRUE(log.empty());
}

TEST_F(Handlers, DisconnectingTheSourceLeavesNoBindingBehind)
{
    BindAllLevels();
    source->DisconnectAllClients();
    EXPECT_FALSE(owner->baseHandler->HasHandler(source, NID_VALUE_CHANGE));
    EXPECT_EQ(owner->GetRegistrationCount(), 0);
    EXPECT_EQ(owner->GetRefCount(), 1);
}

TEST_F(Handlers, DirectHandlersAnswerOnlyDirectDelivery)
{
    auto& handler = owner->derivedHandler;
    EXPECT_EQ(handler->AddDirectHandler(&LDerived::OnDerived, NID_SIMULATE_CLICK), S_OK);
    EXPECT_EQ(handler->AddDirectHandler(&LDerived::OnDerived, u""), E_FAIL);
    owner->Register(source, NID_SIMULATE_CLICK);
    source->SendNotification(CreateNotification(NID_SIMULATE_CLICK));
    EXPECT_TRUE(log.empty());
    Orv::DeliverNotification(owner, NID_SIMULATE_CLICK);
    EXPECT_EQ(log, CallLog{"derived"});
    EXPECT_TRUE(handler->HasHandler(nullptr, NID_SIMULATE_CLICK));
}

TEST_F(Handlers, AddHandlerResultsAndTheFirstBindingStays)
{
    auto& handler = owner->derivedHandler;
    EXPECT_EQ(handler->AddHandler(&LDerived::OnDerived, nullptr, NID_VALUE_CHANGE), E_INVALIDARG);
    EXPECT_EQ(handler->AddHandler(&LDerived::OnDerived, source, u""), E_FAIL);
    EXPECT_EQ(owner->GetRegistrationCount(), 0);
    EXPECT_EQ(handler->AddHandler(&LDerived::OnDerived, source, NID_VALUE_CHANGE), S_OK);
    // A second binding keeps the first callback; the registration takes the new flags.
    EXPECT_EQ(handler->AddHandler(&LDerived::OnMiddle, source, NID_VALUE_CHANGE, 4), S_OK);
    Send();
    EXPECT_EQ(log, CallLog{"derived"});
    LNotificationHandler<LDerived>::Callback callback = nullptr;
    Orv::NotificationRegistrationFlags flags = 0;
    EXPECT_EQ(handler->FindHandler(source, NID_VALUE_CHANGE, callback, flags), S_OK);
    EXPECT_EQ(callback, &LDerived::OnDerived);
    EXPECT_EQ(flags, 4);
    EXPECT_EQ(handler->FindHandler(source, u"NID_UNBOUND", callback, flags), E_FAIL);
    EXPECT_FALSE(handler->RemoveHandler(source, u"NID_UNBOUND"));
    EXPECT_TRUE(handler->RemoveHandler(source, NID_VALUE_CHANGE));
    EXPECT_FALSE(handler->RemoveHandler(source, NID_VALUE_CHANGE));
    // The registration is the caller's to drop: it is still there.
    EXPECT_EQ(owner->GetRegistrationCount(), 1);
}

TEST_F(Handlers, HandleNotificationOfAnUnboundKeyIsZero)
{
    EXPECT_EQ(
        owner->derivedHandler->HandleNotification(source, CreateNotification(NID_VALUE_CHANGE)), 0);
    EXPECT_EQ(owner->derivedHandler->HandleNotification(source, nullptr), 0);
    EXPECT_TRUE(log.empty());
}

TEST_F(Handlers, DisablerSilencesTheBindingAndRestoresItsFlags)
{
    ASSERT_EQ(owner->derivedHandler->AddHandler(&LDerived::OnDerived, source, NID_VALUE_CHANGE, 6),
              S_OK);
    {
        const CAutoNotificationDisabler<LDerived> disabler(owner->derivedHandler, source,
                                                           NID_VALUE_CHANGE);
        EXPECT_FALSE(owner->derivedHandler->HasHandler(source, NID_VALUE_CHANGE));
        EXPECT_EQ(owner->GetRegistrationCount(), 0);
        Send();
        EXPECT_TRUE(log.empty());
    }
    EXPECT_TRUE(owner->derivedHandler->HasHandler(source, NID_VALUE_CHANGE));
    Orv::NotificationRegistrationFlags flags = 0;
    EXPECT_EQ(source->GetClientFlags(owner, NID_VALUE_CHANGE, flags), S_OK);
    EXPECT_EQ(flags, 6);
    Send();
    EXPECT_EQ(log, CallLog{"derived"});
}

TEST_F(Handlers, DisablerOnAMissingBindingThrows)
{
    try {
        const CAutoNotificationDisabler<LDerived> disabler(owner->derivedHandler, source,
                                                           NID_VALUE_CHANGE);
        FAIL() << "no exception";
    } catch (const Orv::Exception<Orv::FailedResultException>& failure) {
        const std::string text = failure.what();
        EXPECT_EQ(text.rfind("Failed Result : ORVRESULT = 80004005 : ", 0), 0u) << text;
        EXPECT_NE(
            text.find("::CAutoNotificationDisabler : Notification\\NotificationHandler : Line "),
            std::string::npos)
            << text;
    }
    // A direct binding has no source to be unregistered from: refused the same way.
    owner->derivedHandler->AddDirectHandler(&LDerived::OnDerived, NID_VALUE_CHANGE);
    EXPECT_THROW(
        CAutoNotificationDisabler<LDerived>(owner->derivedHandler, nullptr, NID_VALUE_CHANGE),
        Orv::Exception<Orv::FailedResultException>);
}

TEST_F(Handlers, DisablerNeverThrowsFromItsDestructor)
{
    static_assert(std::is_nothrow_destructible_v<CAutoNotificationDisabler<LDerived>>);
    ASSERT_EQ(owner->derivedHandler->AddHandler(&LDerived::OnDerived, source, NID_VALUE_CHANGE),
              S_OK);
    {
        const CAutoNotificationDisabler<LDerived> disabler(owner->derivedHandler, source,
                                                           NID_VALUE_CHANGE);
        // The source is torn down meanwhile; restoring still binds and registers again.
        source->DisconnectAllClients();
    }
    EXPECT_TRUE(owner->derivedHandler->HasHandler(source, NID_VALUE_CHANGE));
}

}  // namespace
}  // namespace OrvTest
