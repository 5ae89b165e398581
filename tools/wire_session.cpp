// Plays one scripted session between two cores, in the plain protocol and
// in each version of the fast mode, and prints every message that crosses the wire as it
// crosses it: who sent it, its length, a hash of all of it and its first
// bytes. The build compares the output with tests/core/wire_session.txt, so
// that a change of the code that changes a byte on the wire is seen.
#include <cstdio>
#include <string>

#include "core/fake_host.h"

using namespace quorbel;
using namespace quorbel::testing;

namespace {

void Print(const char* who, const std::string& m) {
    uint64_t hash = 1469598103934665603ULL;
    for (unsigned char c : m) hash = (hash ^ c) * 1099511628211ULL;
    std::string head;
    for (std::size_t i = 0; i < m.size() && i < 40; ++i) {
        const unsigned char c = static_cast<unsigned char>(m[i]);
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        head += c >= 0x20 && c < 0x7F && c != '\\' ? std::string(1, char(c)) : std::string(hex);
    }
    std::printf("%s %zu %016llx %s\n", who, m.size(), static_cast<unsigned long long>(hash), head.c_str());
}

struct Session {
    Link link;
    Peer& client = *link.client;
    Peer& server = *link.server;

    // Delivers up to `count` sends (all of them by default), printing each.
    void Pump(int count = 1 << 30) {
        for (int i = 0; i < count; ++i) {
            Peer* from = !client.host.outbox.empty() ? &client : !server.host.outbox.empty() ? &server : nullptr;
            if (from == nullptr) return;
            Peer* to = from == &client ? &server : &client;
            const std::string m = from->host.outbox.front();
            from->host.outbox.pop_front();
            Print(from == &client ? "C:" : "S:", m);
            Deliver(to->protocol, m.data(), m.size());
        }
    }
    // The Client's login as its policy leads it, every message printed as it crosses.
    void Login(u16view pw) {
        client.protocol.BuildLoginText(u"admin", pw);
        Link::Memory memory;
        ClientLogin login(client.protocol, memory, {});
        for (LoginNext next = login.Start(); next.step == LoginStep::Receive;) {
            for (; !client.host.outbox.empty(); client.host.outbox.pop_front()) {
                const std::string& m = client.host.outbox.front();
                Print("C:", m);
                if (client.protocol.FastMode()) Deliver(server.protocol, m.data(), m.size());
                else server.protocol.Receive(m.data(), static_cast<int32_t>(m.size()));
            }
            std::string answer;
            if (!server.host.outbox.empty()) {
                answer = server.host.outbox.front();
                server.host.outbox.pop_front();
                Print("S:", answer);
            }
            next = login.Answer(answer.data(), static_cast<int32_t>(answer.size()));
        }
        Pump();  // the secure session's confirmation
    }
    void Reconnect() {
        for (Peer* p : {&client, &server}) {
            p->protocol.OnConnectionLost();
            p->host.outbox.clear();
            p->protocol.OnConnectionStarted();
        }
    }
    void Connect(bool secure) {
        client.protocol.OnConnectionStarted();
        server.protocol.OnConnectionStarted();
        Login(u"guess");
        // A wrong pair ends a secure session's connection.
        if (secure) Reconnect();
        Login(u"secret");
    }
};

void Play(int version) {
    if (version == 0) std::printf("== plain protocol\n");
    else std::printf("== fast mode %d\n", version);
    const bool fast = version > 0;
    Session s;
    const std::size_t block = fast ? kFastBlockBytes : kPlainBlockBytes;
    for (Peer* p : {&s.client, &s.server}) {
        p->protocol.SetHighestVersion(version);
        p->host.drives = {{u'c', kDriveFixed}, {u'd', kDriveRemovable}};
        p->host.folders[u"C:\\data"] = {Entry(u".", 0x10), Entry(u"..", 0x10), Entry(u"sub", 0x10),
                                        Entry(u"b.bin", 0x20, 5000), Entry(u"ノート.txt", 0x20, 12)};
        p->host.folders[u"C:\\"] = {Entry(u"data", 0x10), Entry(u"local", 0x10)};
    }
    s.server.protocol.BuildLoginText(u"admin", u"secret");
    s.server.protocol.SetLoginRequired(true);
    s.client.host.files[u"C:\\local\\a.bin"] = FakeFile{Pattern(block * 2 + block / 2, 1), {1, 2, 3}};
    s.client.host.files[u"C:\\local\\empty"] = FakeFile{"", {4, 5, 6}};
    s.server.host.files[u"C:\\data\\b.bin"] = FakeFile{Pattern(block * 3, 2), {7, 8, 9}};
    s.server.host.files[u"C:\\data\\ノート.txt"] = FakeFile{"12 bytes....", {10, 11, 12}};

    s.Connect(CapabilitiesOf(version).secure);
    std::printf("-- listing, and the Server's own listing after it\n");
    s.client.protocol.StartListing(u"C:\\data");
    s.Pump();
    std::printf("-- copies both ways, an empty file, a missing one\n");
    s.client.protocol.StartCopyTo(u"C:\\local\\a.bin", u"C:\\data\\a.bin");
    s.Pump();
    s.client.protocol.StartCopyFrom(u"C:\\data\\b.bin", u"C:\\local\\b.bin");
    s.Pump();
    s.client.protocol.StartCopyFrom(u"C:\\data\\ノート.txt", u"C:\\local\\ノート.txt");
    s.Pump();
    s.client.protocol.StartCopyTo(u"C:\\local\\empty", u"C:\\data\\empty");
    s.Pump();
    s.client.protocol.StartCopyFrom(u"C:\\data\\gone.bin", u"C:\\local\\gone.bin");
    s.Pump();
    std::printf("-- stops both ways\n");
    s.client.protocol.StartCopyTo(u"C:\\local\\a.bin", u"C:\\data\\a2.bin");
    s.Pump(3);
    s.client.protocol.RequestStop();
    s.Pump();
    s.client.protocol.StartCopyFrom(u"C:\\data\\b.bin", u"C:\\local\\b2.bin");
    s.Pump(3);
    s.client.protocol.RequestStop();
    s.Pump();
    std::printf("-- a folder, and the listing after it\n");
    s.client.protocol.StartCreateFolder(u"C:\\data\\新しい");
    s.Pump();
    std::printf("-- the Server's copy to the Client, cut in the middle\n");
    s.server.protocol.StartCopyFrom(u"C:\\local\\a.bin", u"C:\\data\\a3.bin");
    s.Pump(fast ? 4 : 2);
    s.client.protocol.OnConnectionLost();
    s.server.protocol.OnConnectionLost();
    s.client.host.outbox.clear();
    s.server.host.outbox.clear();
    std::printf("-- a new connection, a request before the login, the Server's CUT\n");
    s.client.protocol.OnConnectionStarted();
    s.server.protocol.OnConnectionStarted();
    s.server.protocol.Receive("DDC:\\data", 9);
    Print("S:", s.server.host.outbox.back());
    s.server.host.outbox.clear();
    s.Login(u"secret");
    if (fast) {
        std::printf("-- that copy again: on after the block that arrived, once both hashes of it agree\n");
        s.server.protocol.StartCopyFrom(u"C:\\local\\a.bin", u"C:\\data\\a3.bin");
        s.Pump();
        std::printf("-- small files each way, each next one asked for before the last one's answers\n");
        s.server.host.files[u"C:\\data\\c.txt"] = FakeFile{"c", {13, 14, 15}};
        s.client.host.files[u"C:\\local\\d.txt"] = FakeFile{"dd", {16, 17, 18}};
        s.client.protocol.StartCopyFrom(u"C:\\data\\ノート.txt", u"C:\\local\\n1.txt");
        s.client.protocol.QueueCopyFrom(u"C:\\data\\c.txt", u"C:\\local\\c.txt");
        s.Pump();
        s.client.protocol.StartCopyTo(u"C:\\local\\d.txt", u"C:\\data\\d1.txt");
        s.Pump(2);  // the request and its answer: the file and its end record leave
        s.client.protocol.QueueCopyTo(u"C:\\local\\d.txt", u"C:\\data\\d2.txt");
        s.Pump();
    }
    s.server.protocol.SendCut();
    s.Pump();
}

}  // namespace

int main() {
    for (int version = 0; version <= kFastVersion; ++version) Play(version);
    return 0;
}
