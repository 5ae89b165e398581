// What a Server does against guessing of its pair: every login exchange it
// answers is admitted first, one at a time for each source, after the
// penalty that source's wrong and abandoned exchanges earned, and after a
// wait for everyone while more exchanges fail in all than a few sources
// would; what an exchange ended in is settled against its source. The
// time is the caller's, so that the rules are tested with a clock of their
// own. One guard serves all the Server's connections; a Client has none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

namespace quorbel {

// A source: an IPv4 address, or the /64 network of an IPv6 one, whose
// addresses one user holds by the thousand.
std::string SourceOfAddress(const uint8_t* address, std::size_t length);

// The rules' figures, one constant each (the manual states them).
struct GuardFigures {
    // The n-th wrong or abandoned exchange of a source in a row makes its
    // next one wait n times this...
    static constexpr int64_t kPenaltyStepMs = 2000;
    // ...up to this much; the penalty runs down as the time passes, and a
    // source that stays quiet this long after it ran out starts again at
    // one step.
    static constexpr int64_t kMaxPenaltyMs = 600'000;
    static constexpr int64_t kForgetMs = 600'000;
    // Failed exchanges over all sources: this many at once...
    static constexpr int kBudget = 32;
    // ...and one more each this often. While none is left, the sources
    // that failed before are answered one at a time, this often, so that
    // many of them guess no faster than one; a source that never failed
    // waits only this much, which a Client still takes within the 3 s that
    // the oldest Clients wait for the login's answer.
    static constexpr int64_t kBudgetRefillMs = 2000;
    static constexpr int64_t kBudgetWaitMs = 1500;
    // The sources remembered; the one with the least penalty left goes
    // first, so that filling the table with new sources does not empty it
    // of a penalised one.
    static constexpr std::size_t kSources = 4096;
};

class LoginGuard {
public:
    // `source` asks to have an exchange answered at `nowMs`: false while
    // another exchange of it is under way (ask again once that one is
    // settled); otherwise true, and `waitMs` is how long the answer must
    // wait first.
    bool Admit(const std::string& source, int64_t nowMs, int64_t& waitMs);
    // The exchange admitted for `source` ended: with a login, or without
    // (a wrong pair, or the connection ended before a valid confirmation).
    void Settle(const std::string& source, bool loggedIn, int64_t nowMs);
    // The penalty `source` has left at `nowMs` (0 for one never seen).
    int64_t PenaltyLeft(const std::string& source, int64_t nowMs) const;

private:
    struct Entry {
        int64_t until = 0;  // its next exchange is not answered before
        int64_t strikes = 0;  // failed exchanges in a row
        bool underWay = false;
    };
    void Refill(int64_t nowMs);
    void MakeRoom(int64_t nowMs);

    mutable std::mutex lock_;  // connections on their own threads share one guard
    std::unordered_map<std::string, Entry> sources_;
    int budget_ = GuardFigures::kBudget;
    int64_t refilledAt_ = -1;
    int64_t queueFreeAt_ = 0;  // the next failed-before source's turn, past the budget
};

// The guard as one connection sees it: its source, and the waits it is told
// to make. Each front end gives its own (in the same process, or asking
// the process that keeps the guard).
class LoginGate {
public:
    virtual ~LoginGate() = default;
    // Returns once this connection's exchange may be answered (after the
    // waits of its source and of the budget); false when the connection
    // must end instead (its side is shutting down).
    virtual bool AwaitTurn() = 0;
    // The exchange that AwaitTurn let through ended.
    virtual void Ended(bool loggedIn) = 0;
};

// The gate of a connection whose guard is in the same process: the clock
// and the sleep (false when it was cut short: the side shuts down) are the
// front end's.
class LocalGate : public LoginGate {
public:
    static constexpr int64_t kAskAgainMs = 50;  // while another exchange of the source is under way
    LocalGate(LoginGuard& guard, std::string source, std::function<int64_t()> nowMs,
              std::function<bool(int64_t)> sleepMs)
        : guard_(guard), source_(std::move(source)), now_(std::move(nowMs)), sleep_(std::move(sleepMs)) {}
    bool AwaitTurn() override;
    void Ended(bool loggedIn) override { guard_.Settle(source_, loggedIn, now_()); }

private:
    LoginGuard& guard_;
    std::string source_;
    std::function<int64_t()> now_;
    std::function<bool(int64_t)> sleep_;
};

}  // namespace quorbel
