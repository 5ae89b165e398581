#include "core/protocol/client_login.h"

#include "core/base/limits.h"
#include "core/protocol/protocol.h"

namespace quorbel {

namespace {

// The plain login is answered after this pause, as a Server built to the
// plain protocol expects of its Clients.
constexpr uint32_t kPlainAnswerPauseMs = 100;

}  // namespace

ClientLogin::ClientLogin(Protocol& protocol, SecurePeerMemory& memory, Policy policy)
    : protocol_(protocol), memory_(memory), policy_(policy) {}

LoginNext ClientLogin::Done(LoginResult result, int error) {
    LoginNext next;
    next.result = result;
    next.error = error;
    return next;
}

LoginNext ClientLogin::Start() {
    if (policy_.commandMode) return Done(LoginResult::Skipped);
    return Send();
}

LoginNext ClientLogin::Send() {
    if (const int error = protocol_.SendLoginRequest()) return Done(LoginResult::SendFailed, error);
    LoginNext next;
    next.step = LoginStep::Receive;
    next.pauseMs = protocol_.SecureOffer() ? 0 : kPlainAnswerPauseMs;
    next.waitMs = kLoginAnswerWaitMs;
    return next;
}

LoginNext ClientLogin::Answer(const char* data, int32_t received) {
    switch (protocol_.TakeLoginAnswer(data, received)) {
        case LoginAnswer::Accepted:
            // A path that later drops the offer is told by this memory.
            if (protocol_.Secure()) memory_.Store(WithSecurePeer(memory_.Load(), memory_.Key()));
            return Done(LoginResult::Accepted);
        case LoginAnswer::OfferAgain: return Send();
        case LoginAnswer::Rejected: return Done(LoginResult::Rejected);
        case LoginAnswer::NotAPeer: return Done(LoginResult::NotAPeer);
        case LoginAnswer::PlainOnly:
            if (policy_.secureRequired) return Done(LoginResult::SecureRequired);
            // Where a secure session was had before, a path that drops the
            // offer must not get the pair in the clear unasked.
            if (KnowsSecurePeer(memory_.Load(), memory_.Key())) {
                LoginNext next;
                next.step = LoginStep::Ask;
                return next;
            }
            return Reply(true);
        case LoginAnswer::CommunicationError: break;
    }
    return Done(received == 0 ? LoginResult::PeerClosed : LoginResult::NoAnswer);
}

LoginNext ClientLogin::Reply(bool yes) {
    if (!yes) return Done(LoginResult::Declined);
    // The plain login goes on a new connection: this one saw an offer.
    protocol_.OnConnectionLost();
    protocol_.SetHighestVersion(0);
    LoginNext next;
    next.step = LoginStep::Reconnect;
    next.pauseMs = kPlainLoginPauseMs;
    return next;
}

LoginNext ClientLogin::Reconnected() {
    protocol_.OnConnectionStarted();
    return Send();
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

}  // namespace quorbel
