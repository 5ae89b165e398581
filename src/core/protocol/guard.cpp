#include "core/protocol/guard.h"

#include <algorithm>
#include <cstdio>

namespace quorbel {

std::string SourceOfAddress(const uint8_t* a, std::size_t length) {
    static constexpr uint8_t kMappedV4[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (length == 16 && std::equal(a, a + 12, kMappedV4)) a += 12, length = 4;
    char text[48];
    if (length == 4) {
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
        return text;
    }
    if (length == 16) {
        std::snprintf(text, sizeof text, "%x:%x:%x:%x::/64", a[0] << 8 | a[1], a[2] << 8 | a[3], a[4] << 8 | a[5],
                      a[6] << 8 | a[7]);
        return text;
    }
    return "?";
}

void LoginGuard::Refill(int64_t nowMs) {
    if (refilledAt_ < 0 || budget_ >= GuardFigures::kBudget) {
        refilledAt_ = nowMs;
        return;
    }
    const int64_t gained = (nowMs - refilledAt_) / GuardFigures::kBudgetRefillMs;
    if (gained <= 0) return;
    budget_ = int(std::min<int64_t>(GuardFigures::kBudget, budget_ + gained));
    refilledAt_ += gained * GuardFigures::kBudgetRefillMs;
}

void LoginGuard::MakeRoom(int64_t nowMs) {
    if (sources_.size() < GuardFigures::kSources) return;
    // The least penalty left goes first: new sources cannot push out a
    // penalised one before all that have less.
    auto least = sources_.end();
    for (auto it = sources_.begin(); it != sources_.end(); ++it) {
        if (it->second.underWay) continue;
        if (it->second.until + GuardFigures::kForgetMs <= nowMs) {
            least = it;
            break;
        }
        if (least == sources_.end() || it->second.until < least->second.until) least = it;
    }
    if (least != sources_.end()) sources_.erase(least);
}

bool LoginGuard::Admit(const std::string& source, int64_t nowMs, int64_t& waitMs) {
    std::lock_guard<std::mutex> guard(lock_);
    Refill(nowMs);
    auto it = sources_.find(source);
    if (it != sources_.end() && it->second.underWay) return false;
    if (it == sources_.end()) {
        MakeRoom(nowMs);
        it = sources_.emplace(source, Entry{}).first;
    }
    Entry& e = it->second;
    waitMs = std::max<int64_t>(0, e.until - nowMs);
    if (budget_ <= 0) {
        const bool failedBefore = e.strikes > 0 && nowMs - e.until < GuardFigures::kForgetMs;
        if (failedBefore) {
            const int64_t turn = std::max(queueFreeAt_, nowMs + waitMs);
            queueFreeAt_ = turn + GuardFigures::kBudgetRefillMs;
            waitMs = turn - nowMs;
        } else {
            waitMs += GuardFigures::kBudgetWaitMs;
        }
    }
    e.underWay = true;
    return true;
}

void LoginGuard::Settle(const std::string& source, bool loggedIn, int64_t nowMs) {
    std::lock_guard<std::mutex> guard(lock_);
    Refill(nowMs);
    auto it = sources_.find(source);
    if (it == sources_.end()) {
        if (loggedIn) return;
        MakeRoom(nowMs);
        it = sources_.emplace(source, Entry{}).first;
    }
    Entry& e = it->second;
    e.underWay = false;
    if (loggedIn) {
        // It knew the pair: what its address did before is forgiven.
        e.until = 0, e.strikes = 0;
        return;
    }
    if (nowMs - e.until >= GuardFigures::kForgetMs) e.strikes = 0;
    ++e.strikes;
    e.until = nowMs + std::min(GuardFigures::kPenaltyStepMs * e.strikes, GuardFigures::kMaxPenaltyMs);
    if (budget_ > 0) --budget_;
}

int64_t LoginGuard::PenaltyLeft(const std::string& source, int64_t nowMs) const {
    std::lock_guard<std::mutex> guard(lock_);
    const auto it = sources_.find(source);
    return it == sources_.end() ? 0 : std::max<int64_t>(0, it->second.until - nowMs);
}

bool LocalGate::AwaitTurn() {
    // The source's penalty runs out before it is admitted: a connection that
    // cannot wait that long ends unanswered and costs nothing more.
    int64_t wait = 0;
    for (;;) {
        const int64_t penalty = guard_.PenaltyLeft(source_, now_());
        if (penalty == 0 && guard_.Admit(source_, now_(), wait)) break;
        if (!sleep_(penalty > 0 ? penalty : kAskAgainMs)) return false;
    }
    if (wait > 0 && !sleep_(wait)) {
        // Never answered: it did not log in.
        guard_.Settle(source_, false, now_());
        return false;
    }
    return true;
}

}  // namespace quorbel
