// The secure session the core asks its host for: SPAKE2 over the stretched
// login text, then one sealed channel per direction from its session key.
#include "crypto/session.h"

#include <cstring>
#include <mutex>

#include "crypto/crypto.h"
#include "crypto/kdf.h"
#include "crypto/sealed.h"
#include "crypto/spake2.h"

namespace quorbel::crypto {

namespace {

static_assert(SecureSession::kShareBytes == Spake2::kShareBytes, "the core sizes the share");
static_assert(SecureSession::kConfirmationBytes == Spake2::kConfirmationBytes, "the core sizes the confirmation");
static_assert(SecureSession::kTagBytes == SealedChannel::kTagBytes, "the core sizes the frames");

const uint8_t* Bytes(const char* data) { return reinterpret_cast<const uint8_t*>(data); }
uint8_t* Bytes(char* data) { return reinterpret_cast<uint8_t*>(data); }

class Spake2Session final : public SecureSession {
public:
    Spake2Session(Role role, const Scalar& w)
        : role_(role), exchange_(role == Role::Client ? Spake2Role::kA : Spake2Role::kB, w) {}

    bool Ok() const { return exchange_.Ok(); }

    std::string OwnShare() const override {
        return std::string(reinterpret_cast<const char*>(exchange_.OwnShare().data()), kShareBytes);
    }
    bool TakePeerShare(const char* share, std::size_t length) override {
        return exchange_.TakePeerShare(Bytes(share), length);
    }
    std::string OwnConfirmation() const override {
        return std::string(reinterpret_cast<const char*>(exchange_.OwnConfirmation().data()), kConfirmationBytes);
    }
    bool PeerConfirms(const char* confirmation, std::size_t length) override {
        if (!exchange_.HasKeys() || !exchange_.PeerConfirms(Bytes(confirmation), length)) return false;
        const bool client = role_ == Role::Client;
        const Spake2::Key& ke = exchange_.SessionKey();
        send_ = std::make_unique<SealedChannel>(ke, client ? Direction::kClientToServer : Direction::kServerToClient);
        receive_ = std::make_unique<SealedChannel>(ke, client ? Direction::kServerToClient : Direction::kClientToServer);
        return send_->Ok() && receive_->Ok();
    }
    bool Seal(char* data, std::size_t length, const char* aad, std::size_t aadLength) override {
        return send_ && send_->Seal(Bytes(data), length, Bytes(data), Bytes(aad), aadLength);
    }
    bool Open(char* data, std::size_t length, const char* aad, std::size_t aadLength) override {
        return receive_ && receive_->Open(Bytes(data), length, Bytes(data), Bytes(aad), aadLength);
    }

private:
    Role role_;
    Spake2 exchange_;
    std::unique_ptr<SealedChannel> send_, receive_;
};

// A Server stretches its own pair once for each salt it offers (one for
// each older version, one its own): an offer from anyone then costs it two
// point multiplications, not the stretch's memory and time, so that offers
// in a row cannot keep it busy, however they alternate. The values are
// worth no more than the pair it keeps anyway.
bool StretchedServerPair(const std::string& loginText, const std::string& salt, Scalar& w) {
    static constexpr std::size_t kSalts = 4;
    static std::mutex lock;
    static std::string stretched[kSalts];  // salt, NUL, pair
    static Scalar values[kSalts]{};
    static std::size_t next = 0;
    const std::string wanted = salt + '\0' + loginText;
    std::lock_guard<std::mutex> guard(lock);
    for (std::size_t i = 0; i < kSalts; ++i) {
        if (stretched[i] != wanted) continue;
        w = values[i];
        return true;
    }
    const std::size_t slot = next++ % kSalts;
    stretched[slot].clear();
    if (!StretchPassword(loginText, salt, &values[slot])) return false;
    stretched[slot] = wanted;
    w = values[slot];
    return true;
}

}  // namespace

std::unique_ptr<SecureSession> NewSecureSession(Role role, const std::string& loginText, const std::string& salt) {
    Scalar w{};
    if (!Start()) return nullptr;
    if (!(role == Role::Server ? StretchedServerPair(loginText, salt, w) : StretchPassword(loginText, salt, &w)))
        return nullptr;
    auto session = std::make_unique<Spake2Session>(role, w);
    std::memset(w.data(), 0, w.size());
    if (!session->Ok()) return nullptr;
    return session;
}

std::unique_ptr<SecureSession> Library::NewSecureSession(Role role, const std::string& loginText,
                                                       const std::string& salt) {
    return crypto::NewSecureSession(role, loginText, salt);
}

std::unique_ptr<PartHash> Library::NewPartHash() { return crypto::NewPartHash(); }

bool Library::IsShare(const char* share, std::size_t length) { return Spake2::IsShare(Bytes(share), length); }

}  // namespace quorbel::crypto
