// An in-memory front end: it records what the core sends, shows and
// inserts, keeps files in a map and converts text with a small double-byte
// code page (ASCII and Latin-1 as one byte, U+3000..U+30FF as two).
#pragma once

#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "core/protocol/client_login.h"
#include "core/protocol/protocol.h"

namespace quorbel::testing {

class FakeCodec : public AnsiCodec {
public:
    std::string ToAnsi(u16view text) const override {
        std::string out;
        for (char16_t c : text) {
            if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
                out.push_back(static_cast<char>(c));
            } else if (c >= 0x3000 && c <= 0x30FF) {
                out.push_back(static_cast<char>(c < 0x3080 ? 0x82 : 0x83));
                out.push_back(static_cast<char>(0x80 + (c & 0x7F)));
            } else {
                out.push_back('?');  // no best fit
            }
        }
        return out;
    }
    u16 FromAnsi(std::string_view bytes) const override {
        u16 out;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const unsigned char b = static_cast<unsigned char>(bytes[i]);
            if ((b == 0x82 || b == 0x83) && i + 1 < bytes.size()) {
                const unsigned trail = static_cast<unsigned char>(bytes[++i]) & 0x7F;
                out.push_back(static_cast<char16_t>(0x3000 + (b == 0x83 ? 0x80 : 0) + trail));
            } else {
                out.push_back(b >= 0x80 && b < 0xA0 ? u'?' : static_cast<char16_t>(b));
            }
        }
        return out;
    }
};

// A secure session that is no cryptography, only its flow: shares and
// confirmations hang on the stretched text (another pair fails), each
// frame's tag on its direction, number, header and bytes, which stay readable.
struct FakeSecureSession : SecureSession {
    FakeSecureSession(Role role, std::string stretched, unsigned serial)
        : own(role == Role::Client ? 'A' : 'B'), peer(own ^ 3), secret(std::move(stretched)),
          share(own + Hash("share" + std::to_string(serial), kShareBytes - 1)) {}
    static std::string Hash(const std::string& seed, std::size_t n) {
        std::string out;
        while (out.size() < n) out += std::to_string(std::hash<std::string>()(seed + char(out.size())));
        return out.substr(0, n);
    }
    std::string OwnShare() const override { return share; }
    bool TakePeerShare(const char* s, std::size_t n) override {
        const std::string other(s, n);
        // One peer share per exchange, as the real one takes.
        if (n != kShareBytes || s[0] != peer || !key.empty()) return false;
        return key = Hash(secret + std::min(share, other) + std::max(share, other), 32), true;
    }
    std::string OwnConfirmation() const override { return Hash(key + own, kConfirmationBytes); }
    bool PeerConfirms(const char* c, std::size_t n) override {
        return confirmed = !key.empty() && std::string(c, n) == Hash(key + peer, kConfirmationBytes);
    }
    bool Seal(char* data, std::size_t n, const char* aad, std::size_t aadLength) override {
        const std::string tag = Tag(own, sent++, data, n, aad, aadLength);
        return confirmed && (std::copy(tag.begin(), tag.end(), data + n), true);
    }
    bool Open(char* data, std::size_t n, const char* aad, std::size_t aadLength) override {
        const std::string tag(data + n - kTagBytes, kTagBytes);
        broken = broken || !confirmed || Tag(peer, opened++, data, n - kTagBytes, aad, aadLength) != tag;
        return !broken;
    }
    std::string Tag(char from, uint64_t number, const char* data, std::size_t n, const char* aad, std::size_t m) const {
        return Hash(key + from + std::to_string(number) + std::string(aad, m) + std::string(data, n), kTagBytes);
    }
    char own, peer;
    std::string secret, share, key;
    bool confirmed = false, broken = false;
    uint64_t sent = 0, opened = 0;
};

struct FakeFile {
    std::string data;
    FileTimes times;
    uint64_t reportedSize = ~0ULL;  // the size an open reports, when not the data's
};

struct Row {
    PaneRow row;
    int32_t number;
};

struct Box {
    u16 text, caption;
};

// Every interface the core asks of a front end, in memory.
class FakeHost : public PeerLink, public UserSeat, public FileStore, public Cryptography {
public:
    // What the core did.
    std::deque<std::string> outbox;  // sent, not yet delivered
    std::vector<std::string> sent;   // every send, in order
    std::vector<Box> boxes;          // as the Windows program shows the events, SEND-NAK notes included
    int refreshes = 0;
    std::vector<uint32_t> closeTimers, sleeps;
    std::vector<Row> rows;
    std::vector<u16> createdFolders, listedFolders;
    std::vector<OperationReport> reports;

    // The world it sees.
    int sendError = 0;
    std::map<char16_t, int> drives;  // lower-case letter -> drive type
    std::map<u16, std::vector<FolderEntry>> folders;
    std::map<u16, FakeFile> files;
    std::set<u16> unopenable, uncreatable, refusedPaths, missingFolders;
    std::set<u16> othersFiles;  // another local user's: not OwnedHere
    int connectionsEnded = 0;
    int writesBeforeFailure = -1;
    bool failRead = false;
    std::multiset<u16> open;  // the files with a handle, which are not shared
    FakeCodec codec;
    bool secureSessions = true;  // this side has cryptography
    std::vector<std::string> stretched;  // the texts and salts of the sessions made
    FakeSecureSession* session = nullptr;  // the last one made

    bool AnyOpen() const { return !open.empty(); }

    std::unique_ptr<SecureSession> NewSecureSession(Role role, const std::string& text, const std::string& salt) override {
        if (!secureSessions) return nullptr;
        stretched.push_back(text + "|" + salt);
        auto made = std::make_unique<FakeSecureSession>(role, stretched.back(), unsigned(stretched.size()));
        return session = made.get(), std::move(made);
    }

    int SendBytes(const char* data, std::size_t length) override {
        sent.emplace_back(data, length);
        if (sendError != 0) return sendError;
        outbox.emplace_back(data, length);
        return 0;
    }
    void SendFailed(const SendFailure& f) override { boxes.push_back({SendFailureText(f), u"WSAGetLastError"}); }
    void PeerRefused(const RefusalNote& note) override { boxes.push_back({RefusalNoteText(note), u"SEND-NAK"}); }
    void SourceTooLarge(uint64_t limit) override { boxes.push_back({SourceTooLargeText(limit), u"SizeOver"}); }
    void StateChanged() override { ++refreshes; }
    void CloseAfter(uint32_t ms) override { closeTimers.push_back(ms); }
    void SleepMs(uint32_t ms) override { sleeps.push_back(ms); }
    void ClearRemoteRows() override { rows.clear(); }
    void AddRemoteRow(const PaneRow& row, int32_t number) override { rows.push_back({row, number}); }
    bool AcceptsPeerRequest(Kind, u16view path) override { return !refusedPaths.count(u16(path)); }
    void OperationEnded(const OperationReport& report) override { reports.push_back(report); }
    bool CreateFolder(u16view path) override {
        createdFolders.emplace_back(path);
        return !missingFolders.count(u16(path));
    }
    bool FileExists(u16view path) override { return files.count(u16(path)) > 0; }
    bool FolderExists(u16view path) override { return !missingFolders.count(u16(path)); }
    void EndConnection() override { ++connectionsEnded; }
    int DriveTypeOf(u16view root) override {
        auto it = drives.find(root.empty() ? u'\0' : root[0]);
        return it == drives.end() ? kDriveNoRootDir : it->second;
    }
    bool ListFolder(u16view folder, const std::function<bool(const FolderEntry&)>& visit) override {
        listedFolders.emplace_back(folder);
        auto it = folders.find(u16(folder));
        if (it == folders.end()) return false;
        for (const FolderEntry& e : it->second)
            if (!visit(e)) break;
        return true;
    }
    // The entries a search reads one at a time, as they are read.
    std::size_t entriesRead = 0;
    std::unique_ptr<FolderCursor> OpenFolder(u16view folder) override {
        struct Cursor : FolderCursor {
            FakeHost& host;
            const std::vector<FolderEntry>& entries;
            std::size_t next = 0;
            Cursor(FakeHost& h, const std::vector<FolderEntry>& e) : host(h), entries(e) {}
            bool Next(FolderEntry& entry) override {
                if (next == entries.size()) return false;
                entry = entries[next++];
                return ++host.entriesRead, true;
            }
        };
        listedFolders.emplace_back(folder);
        auto it = folders.find(u16(folder));
        return it == folders.end() ? nullptr : std::make_unique<Cursor>(*this, it->second);
    }
    // A handle keeps its file open until it goes.
    struct Handle {
        FakeHost& host;
        u16 path;
        Handle(FakeHost& h, u16view p) : host(h), path(p) { host.open.insert(path); }
        ~Handle() { host.open.erase(host.open.find(path)); }
    };
    struct Source : SourceFile, Handle {
        using Handle::Handle;
        std::size_t pos = 0;
        int64_t Read(char* buffer, std::size_t maxBytes) override {
            if (host.failRead) return -1;
            const std::string& d = host.files[path].data;
            // A read gives what one piece of storage holds, as disks and pipes may.
            const std::size_t n = std::min({maxBytes, d.size() - pos, kPlainBlockBytes});
            std::copy(d.data() + pos, d.data() + pos + n, buffer);
            pos += n;
            return static_cast<int64_t>(n);
        }
        bool Times(FileTimes& times) override { return times = host.files[path].times, true; }
        bool OwnedHere() const override { return !host.othersFiles.count(path); }
    };
    struct Target : TargetFile, Handle {
        using Handle::Handle;
        bool Write(const char* data, std::size_t length) override {
            if (host.writesBeforeFailure == 0) return false;
            if (host.writesBeforeFailure > 0) --host.writesBeforeFailure;
            host.files[path].data.append(data, length);
            return true;
        }
        bool Finish(const FileTimes& times) override { return host.files[path].times = times, true; }
        bool OwnedHere() const override { return !host.othersFiles.count(path); }
    };
    std::unique_ptr<SourceFile> OpenForRead(u16view path, uint64_t& size) override {
        auto it = files.find(u16(path));
        if (it == files.end() || unopenable.count(u16(path))) return nullptr;
        size = it->second.reportedSize != ~0ULL ? it->second.reportedSize : it->second.data.size();
        return std::make_unique<Source>(*this, path);
    }
    std::unique_ptr<TargetFile> CreateNew(u16view path) override {
        if (uncreatable.count(u16(path)) || files.count(u16(path))) return nullptr;
        files[u16(path)] = FakeFile{};
        return std::make_unique<Target>(*this, path);
    }
    // The resume check needs both sides to agree, nothing more: a digest
    // the standard library's hash makes, spread to the wire's 64 digits.
    struct FakeHash : PartHash {
        std::string bytes;
        void Add(const char* data, std::size_t length) override { bytes.append(data, length); }
        std::string FinishHex() override {
            char digits[17];
            std::snprintf(digits, sizeof digits, "%016llx",
                          static_cast<unsigned long long>(std::hash<std::string>()(bytes)));
            return std::string(digits) + digits + digits + digits;
        }
    };
    std::unique_ptr<PartHash> NewPartHash() override { return std::make_unique<FakeHash>(); }
    bool IsShare(const char* share, std::size_t length) override {
        return length == SecureSession::kShareBytes && (share[0] == 'A' || share[0] == 'B');
    }
    std::unique_ptr<TargetFile> OpenForAppend(u16view path, uint64_t& size) override {
        if (!files.count(u16(path))) return nullptr;
        size = files[u16(path)].data.size();
        return std::make_unique<Target>(*this, path);
    }
    bool RemoveFile(u16view path) override {
        if (open.count(u16(path))) return false;  // opened without sharing
        return files.erase(u16(path)) > 0;
    }
    bool MoveIntoPlace(u16view from, u16view to) override {
        if (open.count(u16(from)) || open.count(u16(to)) || !files.count(u16(from))) return false;
        files[u16(to)] = files[u16(from)];
        files.erase(u16(from));
        return true;
    }
    const AnsiCodec& Codec() const override { return codec; }

    std::size_t Count(u16view caption) const {
        return std::count_if(boxes.begin(), boxes.end(), [&](const Box& b) { return b.caption == caption; });
    }
};

// Bytes of one received stream, handed over as a front end's receive loop
// does: into the space the protocol offers, one message per recv in the
// plain mode. False once the stream holds a frame that cannot be.
inline bool Deliver(Protocol& protocol, const char* data, std::size_t n) {
    do {
        const std::size_t take = std::min(n, protocol.ReceiveSpaceBytes());
        if (take == 0 && n > 0) return false;
        std::copy(data, data + take, protocol.ReceiveSpace());
        if (!protocol.Received(take)) return false;
        if (!protocol.FastMode()) return true;  // the rest of a plain message is lost, as in a recv
        data += take;
        n -= take;
    } while (n > 0);
    return true;
}

// One side: a host and the protocol bound to it.
struct Peer {
    FakeHost host;
    Protocol protocol{host, host, host, host};
    int32_t op() const { return protocol.OperationState(); }
};

// Two peers joined by their outboxes: Step delivers one send at a time, in
// order, as the stop-and-wait exchange keeps them; the transcript holds the
// messages as sent (frame headers of the fast mode removed).
struct Link {
    std::unique_ptr<Peer> client = std::make_unique<Peer>();
    std::unique_ptr<Peer> server = std::make_unique<Peer>();
    std::vector<std::string> transcript;  // "C:" or "S:" and the bytes

    Link() {
        server->protocol.SetRole(Role::Server);
        server->protocol.SetServerSalt(std::string(kServerSaltBytes, 's'));
    }

    bool Step() {
        for (auto [from, to, who] : {std::tuple{client.get(), server.get(), "C:"},
                                     std::tuple{server.get(), client.get(), "S:"}}) {
            if (from->host.outbox.empty()) continue;
            const std::string m = from->host.outbox.front();
            from->host.outbox.pop_front();
            // A sealed frame's tag is left out: the fake seal keeps the bytes readable.
            const std::size_t tag = from->protocol.Secure() ? SecureSession::kTagBytes : 0;
            transcript.push_back(who + (from->protocol.FastMode() ? m.substr(4, m.size() - 4 - tag) : m));
            return Deliver(to->protocol, m.data(), m.size());  // the exchange stops at a broken stream
        }
        return false;
    }
    void Pump() {
        for (int i = 0; i < 200000 && Step(); ++i) {
        }
    }
    // The Client's memory of its secure Servers, and what its user answers.
    struct Memory : SecurePeerMemory {
        std::string list;
        std::string Load() override { return list; }
        void Store(const std::string& l) override { list = l; }
        std::vector<std::string> keys = {"server:1050", "10.0.0.9:1050"};
        std::vector<std::string> Keys() override { return keys; }
    } memory;
    bool userSaysYes = true;
    bool closesAfterNak = false;  // the Server closes the connection after each "NAK" (as some plain ones do)
    int questions = 0, reconnects = 0;
    // The Client's login as the front ends run it: each step of the policy,
    // the answer taken from the Server's dispatch as the Client's own recv
    // would; a new connection starts both sides afresh.
    LoginResult Login(ClientLogin::Policy policy = {}) {
        ClientLogin login(client->protocol, memory, policy);
        bool closed = false;
        for (LoginNext next = login.Start();;) {
            switch (next.step) {
                case LoginStep::Receive: {
                    if (closed) {
                        client->host.outbox.clear();
                        next = login.Answer("", 0);
                        break;
                    }
                    // The offer, or (from the Server's own salt on) the Client's share and confirmation.
                    for (; !client->host.outbox.empty(); client->host.outbox.pop_front()) {
                        const std::string& m = client->host.outbox.front();
                        if (client->protocol.FastMode()) Deliver(server->protocol, m.data(), m.size());
                        else server->protocol.Receive(m.data(), static_cast<int32_t>(m.size()));
                    }
                    if (server->host.outbox.empty()) {
                        next = login.Answer("", 0);
                        break;
                    }
                    const std::string answer = server->host.outbox.back();
                    server->host.outbox.pop_back();
                    closed = closesAfterNak && answer == "NAK";
                    next = login.Answer(answer.data(), static_cast<int32_t>(answer.size()));
                    break;
                }
                case LoginStep::Ask: ++questions, next = login.Reply(userSaysYes); break;
                case LoginStep::Reconnect:
                    ++reconnects;
                    closed = false;
                    server->protocol.OnConnectionLost();
                    server->host.outbox.clear();
                    server->protocol.OnConnectionStarted();
                    next = login.Reconnected();
                    break;
                case LoginStep::Done:
                    // The Client's confirmation follows its login at once.
                    if (!client->host.outbox.empty()) {
                        const std::string confirmation = client->host.outbox.front();
                        client->host.outbox.pop_front();
                        Deliver(server->protocol, confirmation.data(), confirmation.size());
                    }
                    return next.result;
            }
        }
    }
    // A frame of `from` with these bytes, sealed as its protocol would once
    // its session is secure (a test's own message in its stream).
    static std::string Frame(Peer& from, const std::string& message) {
        const bool sealed = from.protocol.Secure();
        std::string frame(kFrameHeaderBytes, '\0');
        frame += message;
        frame.resize(frame.size() + (sealed ? SecureSession::kTagBytes : 0));
        PutFrameHeader(frame.data(), uint32_t(frame.size() - kFrameHeaderBytes));
        if (sealed) from.host.session->Seal(&frame[kFrameHeaderBytes], message.size(), frame.data(), kFrameHeaderBytes);
        return frame;
    }
    // Message heads of the transcript: kind and record or block number.
    std::vector<std::string> Heads() const {
        std::vector<std::string> out;
        for (const std::string& m : transcript) {
            const std::string kind = m.substr(2, 2);
            out.push_back(m.substr(0, 2 + (kind == "DR" || kind == "FR" || kind == "FB" ? 8 : 3)));
        }
        return out;
    }
};

inline FolderEntry Entry(u16 name, uint32_t attributes, uint64_t size = 0) {
    FolderEntry e;
    e.name = std::move(name);
    e.attributes = attributes;
    e.lastWrite = {2024, 3, 5, 9, 7};
    e.lastWriteKnown = true;
    e.sizeOnDisk = size;
    e.sizeKnown = true;
    e.bytes = size;
    e.lastWriteTime = 133540000000000000ULL + size;
    return e;
}

inline std::string Pattern(std::size_t n, unsigned seed = 1) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + seed * 7 + i / 997) & 0xFF);
    return s;
}

}  // namespace quorbel::testing
