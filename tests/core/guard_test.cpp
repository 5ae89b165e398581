// What a guess at the pair costs, whichever way its exchange ends: the
// guard's penalties with a clock of the test's own, and the exchanges of
// each version through it.
#include <gtest/gtest.h>

#include "core/protocol/guard.h"
#include "fake_host.h"

using namespace quorbel;
using namespace quorbel::testing;

namespace {

using F = GuardFigures;

TEST(LoginGuard, EachFailureDelaysItsSourceAndTheBudgetAll) {
    LoginGuard guard;
    int64_t wait = -1;
    // One source, guessing as fast as it is answered: each failure in a row
    // waits one step longer, whether it hangs up at once or after a wrong
    // pair's second; 5 answers in 30 s.
    for (const int64_t hangUp : {int64_t(0), int64_t(1000)}) {
        const std::string source = "10.0.0." + std::to_string(hangUp);
        int answered = 0;
        for (int64_t now = 0; now < 30'000;) {
            ASSERT_TRUE(guard.Admit(source, now, wait));
            EXPECT_EQ(wait, answered * F::kPenaltyStepMs);
            now += wait;
            if (now >= 30'000) break;
            ++answered;
            now += hangUp;
            guard.Settle(source, false, now);
        }
        EXPECT_EQ(answered, 5) << hangUp;
    }
    // One exchange of a source at a time; a login forgives what it did.
    ASSERT_TRUE(guard.Admit("a", 0, wait));
    EXPECT_FALSE(guard.Admit("a", 0, wait));
    EXPECT_TRUE(guard.Admit("b", 0, wait) && wait == 0) << "another source is not held";
    guard.Settle("a", false, 100);
    EXPECT_EQ(guard.PenaltyLeft("a", 100), F::kPenaltyStepMs);
    EXPECT_TRUE(guard.Admit("a", 100, wait) && wait == F::kPenaltyStepMs);
    guard.Settle("a", true, 200);
    EXPECT_TRUE(guard.Admit("a", 200, wait) && wait == 0);
    guard.Settle("a", false, 300);
    EXPECT_EQ(guard.PenaltyLeft("a", 300), F::kPenaltyStepMs) << "a login starts the count again";
    LocalGate hurried{guard, "a", [] { return int64_t(300); }, [](int64_t) { return false; }};
    EXPECT_FALSE(hurried.AwaitTurn());
    EXPECT_EQ(guard.PenaltyLeft("a", 300), F::kPenaltyStepMs) << "a connection that cannot wait it out costs nothing";
    // The penalty grows up to its bound and runs down with the time; a
    // source quiet long enough after it starts again at one step.
    int64_t now = 0;
    for (int64_t i = 0; i <= F::kMaxPenaltyMs / F::kPenaltyStepMs; ++i) {
        ASSERT_TRUE(guard.Admit("z", now, wait));
        guard.Settle("z", false, now += wait);
    }
    EXPECT_EQ(guard.PenaltyLeft("z", now), F::kMaxPenaltyMs);
    EXPECT_EQ(guard.PenaltyLeft("z", now + F::kMaxPenaltyMs - 5), 5);
    guard.Settle("z", false, now += F::kMaxPenaltyMs + F::kForgetMs - 1);
    EXPECT_EQ(guard.PenaltyLeft("z", now), F::kMaxPenaltyMs) << "not yet forgotten";
    ASSERT_TRUE(guard.Admit("z", now += F::kMaxPenaltyMs + F::kForgetMs, wait));
    guard.Settle("z", false, now);
    EXPECT_EQ(guard.PenaltyLeft("z", now), F::kPenaltyStepMs);

    // Many sources do not multiply the rate: past the budget those that
    // failed before are answered one at a time, and one that never failed
    // waits within what a Client of the first release allows.
    LoginGuard all;
    for (int i = 0; i < F::kBudget; ++i) {
        ASSERT_TRUE(all.Admit("s" + std::to_string(i), 0, wait));
        all.Settle("s" + std::to_string(i), false, 0);
    }
    EXPECT_TRUE(all.Admit("new", 0, wait) && wait == F::kBudgetWaitMs);
    EXPECT_LT(F::kBudgetWaitMs + 1000, 3000);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(all.Admit("s" + std::to_string(i), 0, wait));
        EXPECT_EQ(wait, F::kPenaltyStepMs + i * F::kBudgetRefillMs) << i;
    }
    EXPECT_TRUE(all.Admit("later", F::kBudgetRefillMs, wait) && wait == 0);

    // A full table forgets the least penalised source, never the worst one.
    LoginGuard table;
    for (int i = 0; i < 3; ++i) table.Settle("worst", false, 0);
    for (std::size_t i = 0; i < F::kSources + 10; ++i) table.Settle("f" + std::to_string(i), false, 0);
    EXPECT_EQ(table.PenaltyLeft("worst", 0), 3 * F::kPenaltyStepMs);

    EXPECT_EQ(SourceOfAddress((const uint8_t*)"\x0a\x00\x00\x01", 4), "10.0.0.1");
    const uint8_t v6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 1, 0, 2, 9, 9, 9, 9, 9, 9, 9, 9};
    const uint8_t mapped[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 10, 0, 0, 1};
    EXPECT_EQ(SourceOfAddress(v6, 16), "2001:db8:1:2::/64");
    EXPECT_EQ(SourceOfAddress(mapped, 16), "10.0.0.1");
}

// A Link whose Server passes every exchange through a guard of the test's
// clock; its sleeps move that clock.
struct Guarded : Link {
    LoginGuard guard;
    int64_t now = 0;
    LocalGate gate{guard, "10.0.0.9", [this] { return now; }, [this](int64_t ms) { return now += ms, true; }};
    Guarded() {
        server->protocol.SetLoginGate(&gate);
        for (Peer* p : {client.get(), server.get()}) p->protocol.BuildLoginText(u"id", u"pw");
    }
    void Reconnect() {
        for (Peer* p : {client.get(), server.get()})
            p->protocol.OnConnectionLost(), p->host.outbox.clear(), p->protocol.OnConnectionStarted();
    }
};

TEST(LoginGuard, EveryVersionsGuessIsCountedHoweverItEnds) {
    for (int version : {0, 3, 4, 5, kFastVersion}) {
        Guarded l;
        l.client->protocol.SetHighestVersion(version);
        l.client->protocol.BuildLoginText(u"id", u"px");
        EXPECT_EQ(l.Login(), LoginResult::Rejected) << version;
        l.Reconnect();
        const int64_t first = l.guard.PenaltyLeft("10.0.0.9", l.now);
        EXPECT_EQ(first, F::kPenaltyStepMs) << version;
        // Abandoned after the Server's answer: counted as well, and the
        // next answer waits for it.
        l.client->protocol.SendLoginRequest(version);
        const std::string offer = l.client->host.outbox.back();
        l.server->protocol.Receive(offer.data(), int32_t(offer.size()));
        EXPECT_EQ(l.now, first) << "answered once the penalty ran out: " << version;
        l.Reconnect();
        EXPECT_GT(l.guard.PenaltyLeft("10.0.0.9", l.now), 0) << version;
        EXPECT_EQ(l.server->host.reports.back().outcome, version >= 4 ? Outcome::Lost : Outcome::Refused) << version;
        // The pair logs in, and what the address did is forgiven.
        l.client->protocol.BuildLoginText(u"id", u"pw");
        EXPECT_EQ(l.Login(), LoginResult::Accepted) << version;
        EXPECT_EQ(l.guard.PenaltyLeft("10.0.0.9", l.now), 0) << version;
    }
}

}  // namespace
