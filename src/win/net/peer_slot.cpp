#include "win/net/peer_slot.h"

#include <string>
#include <utility>

// The guard's gate in this process, which also notes how far the peer came
// with its login.
class PeerSlot::Gate : public quorbel::LoginGate {
public:
    Gate(quorbel::LoginGuard& guard, std::string source, std::function<bool(int64_t)> wait)
        : inner_(guard, std::move(source), [] { return static_cast<int64_t>(GetTickCount64()); }, std::move(wait)) {}
    bool AwaitTurn() override {
        begun = true;
        return inner_.AwaitTurn();
    }
    void Ended(bool loggedIn) override {
        if (loggedIn) this->loggedIn = true;
        inner_.Ended(loggedIn);
    }
    bool begun = false, loggedIn = false;

private:
    quorbel::LocalGate inner_;
};

PeerSlot::PeerSlot() : closing_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

PeerSlot::~PeerSlot() {
    if (closing_) CloseHandle(closing_);
}

quorbel::LoginGate* PeerSlot::Began(const sockaddr_in& address) {
    since_ = heardAt_ = GetTickCount64();
    const std::string source =
        quorbel::SourceOfAddress(reinterpret_cast<const uint8_t*>(&address.sin_addr), sizeof address.sin_addr);
    gate_ = std::make_unique<Gate>(guard_, source, [this](int64_t ms) { return Wait(ms); });
    return gate_.get();
}

bool PeerSlot::LoggedIn() const { return gate_ && gate_->loggedIn; }

bool PeerSlot::TimeIsUp() const { return !LoggedIn() && GetTickCount64() - since_ >= quorbel::kLoginTimeMs; }

bool PeerSlot::GivesWay() const {
    return !LoggedIn() && !(gate_ && gate_->begun) && GetTickCount64() - heardAt_ >= kSilentPeerMs;
}

bool PeerSlot::Wait(int64_t ms) {
    if (ms < 0 || GetTickCount64() + static_cast<ULONGLONG>(ms) > since_ + quorbel::kLoginTimeMs) return false;
    return WaitForSingleObject(closing_, static_cast<DWORD>(ms)) == WAIT_TIMEOUT;
}
