#include "core/protocol/client_login.h"

#include <utility>

#include "core/base/limits.h"
#include "core/protocol/protocol.h"

namespace quorbel {

namespace {

// The plain login is answered after this pause, as a Server built to the
// plain protocol expects of its Clients.
constexpr uint32_t kPlainAnswerPauseMs = 100;

}  // namespace

ClientLogin::ClientLogin(Protocol& protocol, SecurePeerMemory& memory, Policy policy)
    : protocol_(protocol), memory_(memory), policy_(policy), version_(protocol.HighestVersion()) {}

LoginNext ClientLogin::Done(LoginResult result, int error) {
    LoginNext next;
    next.result = result;
    next.error = error;
    return next;
}

bool ClientLogin::HadSecureSession() {
    const std::string list = memory_.Load();
    for (const std::string& key : memory_.Keys())
        if (KnowsSecurePeer(list, key)) return true;
    return false;
}

LoginNext ClientLogin::Start() {
    // The command mode never logs in, so it can never be secure.
    if (policy_.commandMode) return Done(policy_.secureRequired ? LoginResult::SecureRequired : LoginResult::Skipped);
    // Set to the plain login: the pair would go at once.
    if (version_ == 0) return BeforePlain(false);
    return Send();
}

LoginNext ClientLogin::Send() {
    if (const int error = protocol_.SendLoginRequest(version_)) {
        // A Server that closed after refusing the last offer: the next one
        // goes on a new connection.
        if (afterRefusal_ && !std::exchange(reconnectedAfterRefusal_, true)) return Reconnect(kPlainLoginPauseMs);
        return Done(LoginResult::SendFailed, error);
    }
    LoginNext next;
    next.step = LoginStep::Receive;
    next.pauseMs = protocol_.SecureOffer() ? 0 : kPlainAnswerPauseMs;
    next.waitMs = kLoginAnswerWaitMs;
    return next;
}

LoginNext ClientLogin::BeforePlain(bool newConnection) {
    if (policy_.secureRequired) return Done(LoginResult::SecureRequired);
    plainNeedsConnection_ = newConnection;
    // Where a secure session was had before, a path that drops the offer
    // must not get the pair in the clear unasked.
    if (!policy_.plainChosen && HadSecureSession()) {
        LoginNext next;
        next.step = LoginStep::Ask;
        return next;
    }
    return Reply(true);
}

LoginNext ClientLogin::Reply(bool yes) {
    if (!yes) return Done(LoginResult::Declined);
    version_ = 0;
    // The plain login goes on a new connection where this one saw an offer.
    return plainNeedsConnection_ ? Reconnect(kPlainLoginPauseMs) : Send();
}

LoginNext ClientLogin::Reconnect(uint32_t pauseMs) {
    protocol_.OnConnectionLost();
    LoginNext next;
    next.step = LoginStep::Reconnect;
    next.pauseMs = pauseMs;
    return next;
}

LoginNext ClientLogin::Reconnected() {
    protocol_.OnConnectionStarted();
    plainNeedsConnection_ = false;
    return Send();
}

LoginNext ClientLogin::Answer(const char* data, int32_t received) {
    const bool afterRefusal = std::exchange(afterRefusal_, false);
    switch (protocol_.TakeLoginAnswer(data, received)) {
        case LoginAnswer::Accepted:
            // A path that later drops the offer is told by this memory.
            if (protocol_.Secure()) {
                std::string list = memory_.Load();
                for (const std::string& key : memory_.Keys()) list = WithSecurePeer(list, key);
                memory_.Store(list);
            }
            return Done(LoginResult::Accepted);
        case LoginAnswer::ConfirmationSent: {
            LoginNext next;
            next.step = LoginStep::Receive;
            next.waitMs = kLoginAnswerWaitMs;
            return next;
        }
        case LoginAnswer::OfferRefused:
            // A Server of an older release knows the older offers only;
            // once the oldest is refused, it knows no secure session.
            afterRefusal_ = true;
            reconnectedAfterRefusal_ = false;
            if (CapabilitiesOf(version_ - 1).secure) {
                --version_;
                return Send();
            }
            return BeforePlain(true);
        case LoginAnswer::Rejected: return Done(LoginResult::Rejected);
        case LoginAnswer::NotAPeer: return Done(LoginResult::NotAPeer);
        case LoginAnswer::CommunicationError: break;
    }
    // A Server that closed after refusing the last offer: the next one goes
    // on a new connection.
    if (afterRefusal && received <= 0 && !std::exchange(reconnectedAfterRefusal_, true))
        return Reconnect(kPlainLoginPauseMs);
    return Done(received == 0 ? LoginResult::PeerClosed : LoginResult::NoAnswer);
}

bool KnowsSecurePeer(std::string_view list, std::string_view key) {
    while (!list.empty()) {
        const std::size_t end = list.find(';');
        if (list.substr(0, end) == key) return true;
        if (end == std::string_view::npos) break;
        list.remove_prefix(end + 1);
    }
    return false;
}

std::string WithSecurePeer(std::string_view list, std::string_view key) {
    std::string out = std::string(key) + ';';
    std::size_t kept = 1;
    while (!list.empty() && kept < kMaxSecurePeers) {
        const std::size_t end = list.find(';');
        const std::string_view entry = list.substr(0, end);
        if (!entry.empty() && entry != key) {
            out.append(entry).push_back(';');
            ++kept;
        }
        if (end == std::string_view::npos) break;
        list.remove_prefix(end + 1);
    }
    return out;
}

std::vector<std::string> SecurePeerKeys(std::string_view given, std::string_view address, uint16_t port) {
    std::vector<std::string> keys{SecurePeerKey(given, port)};
    if (!address.empty() && SecurePeerKey(address, port) != keys[0]) keys.push_back(SecurePeerKey(address, port));
    return keys;
}

std::string SecurePeerKey(std::string_view nameOrAddress, uint16_t port) {
    while (!nameOrAddress.empty() && nameOrAddress.back() == '.') nameOrAddress.remove_suffix(1);
    std::string key;
    for (char c : nameOrAddress) {
        // The list's separator cannot be part of a key.
        if (c == ';') c = '_';
        key.push_back(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c);
    }
    return key + ':' + std::to_string(port);
}

}  // namespace quorbel
