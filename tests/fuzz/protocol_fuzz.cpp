// Arbitrary peer bytes in every reachable operation state, both roles, both
// framings, under ASan and UBSan.
//
// Input: byte 0 picks the role, monitor recording, the login requirement and
// the fast mode (an older one, or the secure session); byte 1 the operation
// under way and a stop; then chunks of [length high, length low, bytes...],
// each handed over as one receive: one plain message, or a piece of the
// fast mode's frame stream. A chunk whose high length bit is set starts
// with a word of the wire, picked from its table by the chunk's first byte.
// In a secure session a chunk is one frame the peer sealed, unless the
// next bit of its length says it comes as it is.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "../core/fake_host.h"

using namespace quorbel;
using namespace quorbel::testing;

namespace {

// Every folder lists a few awkward entries.
class FuzzHost : public FakeHost {
public:
    static std::vector<FolderEntry> Entries() {
        return {
            Entry(u".", kAttrDirectory), Entry(u"a,b.txt", kAttrArchive, 12),
            Entry(u16(120, u'\u3042'), kAttrArchive, 1), Entry(u16(240, u'n'), kAttrDirectory | 2, 0),
        };
    }
    bool ListFolder(u16view folder, const std::function<bool(const FolderEntry&)>& visit) override {
        listedFolders.emplace_back(folder);
        for (const FolderEntry& e : Entries())
            if (!visit(e)) break;
        return true;
    }
    std::unique_ptr<FolderCursor> OpenFolder(u16view folder) override {
        folders[u16(folder)] = Entries();
        return FakeHost::OpenFolder(folder);
    }
};

void Check(bool ok) {
    if (!ok) std::abort();
}

// A frame of the given bytes, as a peer sends it before its session seals.
std::string PlainFrame(const std::string& message) {
    std::string frame(kFrameHeaderBytes, '\0');
    PutFrameHeader(frame.data(), uint32_t(message.size()));
    return frame + message;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    auto host = std::make_unique<FuzzHost>();
    auto protocol = std::make_unique<Protocol>(*host, *host, *host, *host);
    const uint8_t mode = data[0], start = data[1];
    host->files[u"C:\\src.bin"] = FakeFile{Pattern(2600), {}};
    host->files[u"C:\\in\\r.txt"] = FakeFile{"old", {}};
    protocol->SetRole(mode & 1 ? Role::Server : Role::Client);
    protocol->SetMonitorRecording((mode >> 1) & 1);
    protocol->SetLoginRequired((mode >> 2) & 1);
    protocol->BuildLoginText(u"id", u"pw");
    const bool fast = (mode >> 3) & 1;
    // The peer's side of a secure session, which seals what it sends.
    std::unique_ptr<FakeSecureSession> peer;
    if (fast && (mode >> 5) & 1) {
        // The exchange of the newest version: the Server's salt and share
        // first, then the Client's share and confirmation, then the Server's.
        const bool server = mode & 1;
        const std::string salt(kServerSaltBytes, 's');
        const std::string head = WordText(Kind::Ack) + '\0' + std::string(Marker(kFastVersion));
        peer = std::make_unique<FakeSecureSession>(server ? Role::Client : Role::Server,
                                                   "idpw|" + std::string(Marker(kFastVersion)) + salt, 1);
        if (server) {
            protocol->SetServerSalt(salt);
            const std::string offer = std::string("PW", 3) + std::string(Marker(kFastVersion));
            protocol->Receive(offer.data(), static_cast<int32_t>(offer.size()));
            const std::string answer = host->outbox.back();
            Check(answer.size() == head.size() + salt.size() + SecureSession::kShareBytes);
            Check(peer->TakePeerShare(answer.data() + head.size() + salt.size(), SecureSession::kShareBytes));
            const std::string first = PlainFrame(peer->OwnShare() + peer->OwnConfirmation());
            Check(Deliver(*protocol, first.data(), first.size()));
            const std::string confirmation = host->outbox.back();
            Check(peer->PeerConfirms(confirmation.data() + kFrameHeaderBytes, SecureSession::kConfirmationBytes));
        } else {
            protocol->SendLoginRequest(kFastVersion);
            const std::string answer = head + salt + peer->OwnShare();
            Check(protocol->TakeLoginAnswer(answer.data(), int32_t(answer.size())) == LoginAnswer::ConfirmationSent);
            const std::string first = host->outbox.back();
            Check(peer->TakePeerShare(first.data() + kFrameHeaderBytes, SecureSession::kShareBytes));
            Check(peer->PeerConfirms(first.data() + kFrameHeaderBytes + SecureSession::kShareBytes,
                                     SecureSession::kConfirmationBytes));
            const std::string confirmation = PlainFrame(peer->OwnConfirmation());
            Check(protocol->TakeLoginAnswer(confirmation.data(), int32_t(confirmation.size())) ==
                  LoginAnswer::Accepted);
        }
        Check(protocol->Secure());
        host->outbox.clear();
    } else if (fast) {
        // Our Server turns on the fast mode of the release before, or of the one before that.
        const std::string offer =
            std::string("PWidpw", 7) + std::string(Marker((mode >> 4) & 1 ? 1 : 3));
        protocol->Receive(offer.data(), static_cast<int32_t>(offer.size()));
    }
    switch (start % 7) {
        case 1: protocol->StartListing(u"D:\\"); break;
        case 2: protocol->StartCopyTo(u"C:\\src.bin", u"D:\\x"); break;
        case 3: protocol->StartCopyFrom(u"D:\\x", u"C:\\in\\r.txt"); break;
        case 4: protocol->StartCreateFolder(u"D:\\\\n"); break;
        case 5: protocol->Receive("FDC:\\in\\r.txt", 13); break;
        case 6: protocol->Receive("FCC:\\src.bin", 12); break;
        default: break;
    }
    if ((start >> 3) & 1) protocol->RequestStop();

    const std::size_t largest = fast ? 4 + 8 + kFastBlockBytes + SecureSession::kTagBytes
                                     : std::size_t(kMaxPlainMessageBytes);
    bool open = true;
    for (std::size_t pos = 2; open && pos + 2 <= size;) {
        const bool worded = data[pos] & 0x80, asItIs = data[pos] & 0x40;
        std::size_t length = ((std::size_t(data[pos] & 0x7F) << 8) | data[pos + 1]) % 1100;
        pos += 2;
        if (length > size - pos) length = size - pos;
        std::string chunk;
        if (worded && length > 0) chunk = WordText(kWireWords[data[pos] % kWireWordCount].kind);
        chunk.append(reinterpret_cast<const char*>(data + pos) + (worded && length > 0), length - (worded && length > 0));
        if (peer && !asItIs && !chunk.empty()) {
            std::string frame(kFrameHeaderBytes, '\0');
            frame += chunk;
            frame.resize(frame.size() + SecureSession::kTagBytes);
            PutFrameHeader(frame.data(), uint32_t(frame.size() - kFrameHeaderBytes));
            peer->Seal(&frame[kFrameHeaderBytes], chunk.size(), frame.data(), kFrameHeaderBytes);
            chunk = frame;
        }
        open = Deliver(*protocol, chunk.data(), chunk.size());
        pos += length;
        const int32_t state = protocol->OperationState();
        Check(state >= Waiting && state <= StopFrom);
        for (const std::string& m : host->sent) Check(m.size() <= largest);
        host->sent.clear();
        host->outbox.clear();
    }
    char table[kDirSlots][kDirSlotBytes];
    protocol->CopyDirectoryTable(table);
    for (const auto& slot : table) Check(BoundedLength(slot, kDirSlotBytes) < std::size_t(kDirSlotBytes));

    // The end of the connection leaves no file open and no temporary file.
    protocol->OnConnectionLost();
    Check(!host->AnyOpen() && protocol->IsWaiting());
    for (const auto& [name, file] : host->files) Check(name.find(u".$TEMP") == u16::npos);
    return 0;
}
