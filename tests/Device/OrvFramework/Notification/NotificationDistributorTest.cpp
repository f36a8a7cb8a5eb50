// Registration, delivery order and the changes clients make while a send runs.
#include "Notification/NotificationDistributor.h"

#include "Notification/NotificationIdTexts.h"
#include "NotificationFixtures.h"

namespace OrvTest {
namespace {

using Orv::CreateNotification;
using Orv::NID_VALUE_CHANGE;

RCPtr<LRecordingClient> extra;

class Distributor : public NotificationTest
{
public:  // the rows of the table below reach into the fixture
    void SetUp() override
    {
        distributor = MakeDistributor();
        a = MakeClient("A", log);
        b = MakeClient("B", log);
        c = MakeClient("C", log);
        for (const auto& client : {a, b, c}) {
            ASSERT_NE(client->Register(distributor, NID_VALUE_CHANGE), nullptr);
        }
    }

    void TearDown() override
    {
        for (const auto& client : {a, b, c}) {
            client->UnregisterAll();
        }
        if (extra) {
            extra->UnregisterAll();
            extra = nullptr;
        }
        NotificationTest::TearDown();
    }

    Orv::ORVRESULT Send()
    {
        return distributor->SendNotification(CreateNotification(NID_VALUE_CHANGE));
    }

    CallLog log;
    RCPtr<LNotificationDistributor> distributor;
    RCPtr<LRecordingClient> a, b, c;
};

TEST_F(Distributor, NewestRegistrationHearsFirst)
{
    EXPECT_EQ(Send(), S_OK);
    EXPECT_EQ(log, (CallLog{"C:NID_VALUE_CHANGE", "B:NID_VALUE_CHANGE", "A:NID_VALUE_CHANGE"}));
    EXPECT_EQ(c->lastSender, distributor.Get());
}

TEST_F(Distributor, SendResults)
{
    EXPECT_EQ(distributor->SendNotification(nullptr), E_INVALIDARG);
    EXPECT_EQ(distributor->SendNotification(CreateNotification(u"NID_NOBODY_LISTENS")), S_FALSE);
    for (const auto& client : {a, b, c}) {
        client->UnregisterAll();
    }
    // The pool stays, empty.
    EXPECT_TRUE(distributor->FindClientPool(Orv::InternNotificationId(NID_VALUE_CHANGE)));
    EXPECT_EQ(Send(), S_FALSE);
    EXPECT_TRUE(log.empty());
}

// Rows: what B does when it is called; what the send and the next one deliver.
struct ChangeDuringSend
{
    const char* name;
    std::function<void(Distributor&)> change;
    CallLog first;
    CallLog second;
};

class DistributorChangeDuringSend : public Distributor,
                                    public ::testing::WithParamInterface<ChangeDuringSend>
{
};

TEST_P(DistributorChangeDuringSend, NoClientIsSkippedOrCalledTwice)
{
    b->action = [this, done = false](const auto&, const auto&) mutable {
        if (!done) {
            done = true;
            GetParam().change(*this);
        }
    };
    Send();
    EXPECT_EQ(log, GetParam().first);
    log.clear();
    Send();
    EXPECT_EQ(log, GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DistributorChangeDuringSend,
    ::testing::Values(
        ChangeDuringSend{"BUnregistersA",
                         [](Distributor& t) { t.a->Unregister(t.distributor, NID_VALUE_CHANGE); },
                         {"C:NID_VALUE_CHANGE", "B:NID_VALUE_CHANGE"},
                         {"C:NID_VALUE_CHANGE", "B:NID_VALUE_CHANGE"}},
        ChangeDuringSend{"BUnregistersItself",
                         [](Distributor& t) { t.b->Unregister(t.distributor, NID_VALUE_CHANGE); },
                         {"C:NID_VALUE_CHANGE", "B:NID_VALUE_CHANGE", "A:NID_VALUE_CHANGE"},
                         {"C:NID_VALUE_CHANGE", "A:NID_VALUE_CHANGE"}},
        ChangeDuringSend{"BUnregistersC",
                         [](Distributor& t) { t.c->Unregister(t.distributor, NID_VALUE_CHANGE); },
                         {"C:NID_VALUE_CHANGE", "B:NID_VALUE_CHANGE", "A:NID_VALUE_CHANGE"},
                         {"B:NID_VALUE_CHANGE", "A:NID_VALUE_CHANGE"}},
        ChangeDuringSend{"BRegistersD",
                         [](Distributor& t) {
                             extra = MakeClient("D", t.log);
                             extra->Register(t.distributor, NID_VALUE_CHANGE);
                         },
                         {"C:NID_VALUE_CHANGE", "B:NID_VALUE_CHANGE", "A:NID_VALUE_CHANGE"},
                         {"D:NID_VALUE_CHANGE", "C:NID_VALUE_CHANGE", "B:NID_VALUE_CHANGE",
                          "A:NID_VALUE_CHANGE"}},
        ChangeDuringSend{"BDisconnectsEveryone",
                         [](Distributor& t) { t.distributor->DisconnectAllClients(); },
                         {"C:NID_VALUE_CHANGE", "B:NID_VALUE_CHANGE"},
                         {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Distributor, NestedSendOfTheSamePoolKeepsEachCursor)
{
    // C, the first to hear, sends again from inside its call; in that inner send B unregisters A.
    // Each send keeps its own position: the inner one does not make the outer one skip B, and A,
    // removed before the outer send reached it, is not called by it.
    int depth = 0;
    c->action = [&](const auto&, const auto&) {
        if (depth == 0) {
            ++depth;
            log.push_back("inner");
            Send();
            log.push_back("outer");
            --depth;
        }
    };
    b->action = [&](const auto&, const auto&) {
        if (depth > 0) {
            a->Unregister(distributor, NID_VALUE_CHANGE);
        }
    };
    Send();
    EXPECT_EQ(log, (CallLog{"C:NID_VALUE_CHANGE", "inner", "C:NID_VALUE_CHANGE",
                            "B:NID_VALUE_CHANGE", "outer", "B:NID_VALUE_CHANGE"}));
}

TEST_F(Distributor, NestedSendOfTheSamePoolLetsTheOuterSendFinish)
{
    int depth = 0;
    c->action = [&](const auto&, const auto&) {
        if (depth++ == 0) {
            Send();
        }
    };
    Send();
    EXPECT_EQ(log, (CallLog{"C:NID_VALUE_CHANGE", "C:NID_VALUE_CHANGE", "B:NID_VALUE_CHANGE",
                            "A:NID_VALUE_CHANGE", "B:NID_VALUE_CHANGE", "A:NID_VALUE_CHANGE"}));
}

TEST_F(Distributor, DispatchToClientReachesOneRegistration)
{
    const auto pool = distributor->FindClientPool(Orv::InternNotificationId(NID_VALUE_CHANGE));
    ASSERT_TRUE(pool);
    const auto notification = CreateNotification(NID_VALUE_CHANGE);
    EXPECT_EQ(pool->DispatchToClient(distributor, 1, notification), 0);
    EXPECT_EQ(log, CallLog{"B:NID_VALUE_CHANGE"});
    EXPECT_EQ(pool->DispatchToClient(distributor, 3, notification), E_INVALIDARG);
    EXPECT_EQ(pool->DispatchToClient(distributor, -1, notification), E_INVALIDARG);
    EXPECT_EQ(pool->DispatchToClient(distributor, 0, nullptr), E_INVALIDARG);
}

TEST_F(Distributor, RegisteringTwiceCountsOnceAndReplacesTheFlags)
{
    const int32_t references = distributor->GetRefCount();
    const auto d = MakeClient("D", log);
    EXPECT_EQ(distributor->RegisterClient(d, NID_VALUE_CHANGE, 0), S_OK);
    EXPECT_EQ(distributor->RegisterClient(d, NID_VALUE_CHANGE, 6), S_FALSE);
    Orv::NotificationRegistrationFlags flags = -1;
    EXPECT_EQ(distributor->GetClientFlags(d, NID_VALUE_CHANGE, flags), S_OK);
    EXPECT_EQ(flags, 6);
    EXPECT_EQ(distributor->GetRefCount(), references + 1);
    EXPECT_EQ(distributor->UnregisterClient(d, NID_VALUE_CHANGE), S_OK);
    EXPECT_EQ(distributor->UnregisterClient(d, NID_VALUE_CHANGE), S_FALSE);
    EXPECT_EQ(distributor->GetRefCount(), references);
    EXPECT_EQ(distributor->GetClientFlags(d, NID_VALUE_CHANGE, flags), E_FAIL);
    EXPECT_EQ(distributor->GetClientFlags(d, u"NID_NEVER_SEEN_HERE", flags), E_FAIL);
}

TEST_F(Distributor, ArgumentErrors)
{
    EXPECT_EQ(distributor->RegisterClient(nullptr, NID_VALUE_CHANGE, 0), E_INVALIDARG);
    EXPECT_EQ(distributor->RegisterClient(a, u"", 0), S_FALSE);
    EXPECT_EQ(distributor->UnregisterClient(nullptr, NID_VALUE_CHANGE), E_INVALIDARG);
    EXPECT_EQ(distributor->UnregisterClient(a, u""), E_INVALIDARG);
    EXPECT_EQ(distributor->UnregisterClient(a, nullptr), E_INVALIDARG);
    EXPECT_EQ(distributor->UnregisterClientFromAll(nullptr), E_INVALIDARG);
    EXPECT_EQ(a->Register(nullptr, NID_VALUE_CHANGE), nullptr);
    EXPECT_EQ(a->Register(distributor, u""), nullptr);
    EXPECT_EQ(a->Unregister(nullptr, NID_VALUE_CHANGE), E_INVALIDARG);
    EXPECT_EQ(a->Unregister(distributor, nullptr), E_INVALIDARG);
    const auto idle = MakeClient("idle", log);
    EXPECT_EQ(idle->Unregister(distributor, NID_VALUE_CHANGE), S_FALSE);
    EXPECT_EQ(idle->UnregisterAll(), 0);
}

TEST_F(Distributor, CountsAndActiveListFollowRegistrations)
{
    EXPECT_EQ(distributor->GetRegistrationCount(), 3);
    // Three registrations and the active list, each a reference and a back reference.
    EXPECT_EQ(distributor->GetBackReferenceCount(), 4);
    EXPECT_EQ(distributor->GetRefCount(), 5);
    EXPECT_EQ(Orv::ActiveDistributors().IndexOf(distributor.Get()), 0);
    EXPECT_EQ(a->GetRegistrationCount(), 1);
    EXPECT_EQ(a->GetBackReferenceCount(), 1);
    EXPECT_TRUE(distributor->IsClientRegistered(a));
    EXPECT_EQ(distributor->UnregisterClientFromAll(a), 1);
    for (const auto& client : {b, c}) {
        client->UnregisterAll();
    }
    EXPECT_EQ(distributor->GetRegistrationCount(), 0);
    EXPECT_EQ(distributor->GetBackReferenceCount(), 0);
    EXPECT_EQ(distributor->GetRefCount(), 1);
    EXPECT_EQ(Orv::ActiveDistributors().IndexOf(distributor.Get()), -1);
}

TEST_F(NotificationTest, ClientsLastReleaseUnregistersItEverywhere)
{
    CallLog log;
    bool destroyed = false;
    const auto first = MakeDistributor();
    const auto second = MakeDistributor();
    {
        auto client = MakeClient("X", log, &destroyed);
        client->Register(first, NID_VALUE_CHANGE);
        client->Register(first, u"NID_LEFT_CLICK");
        client->Register(second, NID_VALUE_CHANGE);
        EXPECT_EQ(client->GetRefCount(), 4);
        EXPECT_EQ(client->GetBackReferenceCount(), 3);
        EXPECT_EQ(first->GetRefCount(), 4);
    }
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(first->GetRegistrationCount(), 0);
    EXPECT_EQ(second->GetRegistrationCount(), 0);
    EXPECT_EQ(first->GetRefCount(), 1);
    EXPECT_EQ(second->GetRefCount(), 1);
    EXPECT_EQ(first->SendNotification(CreateNotification(NID_VALUE_CHANGE)), S_FALSE);
}

TEST_F(NotificationTest, ClientMayDropItsLastReferenceDuringItsCall)
{
    CallLog log;
    bool destroyed = false;
    const auto distributor = MakeDistributor();
    auto client = MakeClient("X", log, &destroyed);
    client->Register(distributor, NID_VALUE_CHANGE);
    client->action = [&](const auto&, const auto&) { client = nullptr; };
    EXPECT_EQ(distributor->SendNotification(CreateNotification(NID_VALUE_CHANGE)), S_OK);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(distributor->GetRegistrationCount(), 0);
}

TEST_F(NotificationTest, DistributorHeldOnlyByRegistrationsLivesUntilTheLastGoes)
{
    CallLog log;
    const auto client = MakeClient("X", log);
    auto distributor = MakeDistributor();
    const LNotificationDistributor* raw = distributor.Get();
    client->Register(distributor, NID_VALUE_CHANGE);
    distributor = nullptr;
    // Still reachable through the registration.
    EXPECT_EQ(raw->GetRegistrationCount(), 1);
    EXPECT_EQ(client->UnregisterAll(), 1);
    EXPECT_EQ(client->GetRegistrationCount(), 0);
    EXPECT_EQ(client->GetBackReferenceCount(), 0);
}

TEST_F(Distributor, DisconnectAllClientsAsksEachClientToUnregister)
{
    b->Register(distributor, u"NID_LEFT_CLICK");
    EXPECT_EQ(distributor->DisconnectAllClients(), S_OK);
    EXPECT_EQ(distributor->GetRegistrationCount(), 0);
    for (const RCPtr<LRecordingClient>* client : {&a, &b, &c}) {
        EXPECT_EQ((*client)->GetRegistrationCount(), 0);
        EXPECT_EQ((*client)->GetBackReferenceCount(), 0);
        EXPECT_EQ((*client)->GetRefCount(), 1);
    }
    EXPECT_EQ(distributor->GetRefCount(), 1);
}

TEST_F(NotificationTest, DeliverNotificationCallsTheReceiverWithoutSender)
{
    CallLog log;
    const auto client = MakeClient("X", log);
    client->lastSender = reinterpret_cast<const LNotificationDistributor*>(&log);
    EXPECT_EQ(Orv::DeliverNotification(client, u"NID_SIMULATE_CLICK", IntParam(7)), S_OK);
    EXPECT_EQ(log, CallLog{"X:NID_SIMULATE_CLICK:7"});
    EXPECT_EQ(client->lastSender, nullptr);
    EXPECT_EQ(Orv::DeliverNotification(client, u""), E_INVALIDARG);
    EXPECT_EQ(Orv::DeliverNotification(nullptr, u"NID_SIMULATE_CLICK"), E_INVALIDARG);
    EXPECT_EQ(log.size(), 1u);
}

}  // namespace
}  // namespace OrvTest
