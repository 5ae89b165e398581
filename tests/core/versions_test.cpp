// Every pair of versions, the plain protocol and each version of the fast
// mode as Client and as Server: both sides agree on what the older one
// knows, and each capability shows on the wire exactly where both have it.
#include <gtest/gtest.h>

#include "fake_host.h"

using namespace quorbel;
using namespace quorbel::testing;

namespace {

// What a Client of `client` and a Server of `server` speak: the secure
// offers go down to the Server's newest and fall back to the plain login;
// an older offer is taken up to the Server's version, else answered plainly.
int Agreed(int client, int server) {
    if (CapabilitiesOf(client).secure) return CapabilitiesOf(server).secure ? std::min(client, server) : 0;
    return client <= server ? client : 0;
}

class Versions : public ::testing::TestWithParam<std::tuple<int, int>> {
protected:
    // A Link of these versions, logged in, and the file and folder the
    // scenario moves.
    static void Prepare(Link& link, int client, int server) {
        for (Peer* p : {link.client.get(), link.server.get()}) p->protocol.BuildLoginText(u"id", u"pw");
        link.client->protocol.SetHighestVersion(client);
        link.server->protocol.SetHighestVersion(server);
        ASSERT_EQ(link.Login(), LoginResult::Accepted);
        link.server->host.folders[u"C:\\d"] = {Entry(u".", kAttrDirectory), Entry(u"a.bin", kAttrArchive, 1500)};
    }
    // A listing, and the file each way: what the wire saw.
    static std::vector<std::string> Run(Link& link, const std::string& data) {
        link.client->host.files[u"C:\\up.bin"] = FakeFile{data, {4, 5, 6}};
        link.server->host.files[u"C:\\d\\a.bin"] = FakeFile{data, {1, 2, 3}};
        link.client->protocol.StartListing(u"C:\\d");
        link.Pump();
        link.client->protocol.StartCopyFrom(u"C:\\d\\a.bin", u"C:\\got.bin");
        link.Pump();
        link.client->protocol.StartCopyTo(u"C:\\up.bin", u"C:\\d\\up.bin");
        std::size_t inFlight = 0;
        while (link.Step()) inFlight = std::max(inFlight, link.client->host.outbox.size());
        link.transcript.push_back("in flight " + std::to_string(inFlight));
        return link.transcript;
    }
};

TEST_P(Versions, BothSidesKeepToWhatTheOlderKnows) {
    const auto [client, server] = GetParam();
    const int agreed = Agreed(client, server);
    const Capabilities& has = CapabilitiesOf(agreed);
    Link link;
    Prepare(link, client, server);
    Peer &c = *link.client, &s = *link.server;
    EXPECT_EQ(c.protocol.FastVersion() * 10 + s.protocol.FastVersion(), agreed * 11);
    EXPECT_EQ(link.reconnects, CapabilitiesOf(client).secure && !has.secure) << "the plain login on a new connection";
    EXPECT_TRUE(c.protocol.Secure() == has.secure && s.protocol.Secure() == has.secure);
    EXPECT_EQ(c.protocol.MaxCopyBytes(), has.framed ? kMaxFastCopyBytes : kMaxPlainCopyBytes);

    const std::size_t block = has.framed ? kFastBlockBytes : kPlainBlockBytes;
    const std::string data = Pattern(2 * block + block / 2, 7);
    const std::vector<std::string> wire = Run(link, data);
    auto seen = [&](const std::string& head) {
        return std::any_of(wire.begin(), wire.end(), [&](const std::string& m) { return m.rfind(head, 0) == 0; });
    };
    EXPECT_EQ(seen("S:DP0"), has.exactListing);
    EXPECT_EQ(!c.host.rows.empty() && c.host.rows[0].row.exact, has.exactListing);
    EXPECT_EQ(c.host.files[u"C:\\got.bin"].data, data);
    EXPECT_EQ(c.host.files[u"C:\\got.bin"].times.lastWrite, 3u);
    EXPECT_EQ(s.host.files[u"C:\\d\\up.bin"].data, data);
    EXPECT_EQ(s.host.files[u"C:\\d\\up.bin"].times.lastWrite, 6u);
    // A copy's end record is answered, and its source described first, only where both know it.
    EXPECT_EQ(wire[wire.size() - 2], has.endRecordsAnswered ? "S:ACK" : "C:" + EncodeEndRecord(Way::To, {4, 5, 6}));
    EXPECT_EQ(seen("S:FBSOURCE") + seen("C:FRSOURCE"), 2 * has.resume);
    EXPECT_EQ(wire.back(), "in flight " + std::to_string(has.blocksInFlight ? 2 : 1));
    if (agreed == 0) {
        // A plain peer sees exactly the plain protocol's bytes.
        Link plain;
        Prepare(plain, 0, 0);
        EXPECT_EQ(Run(plain, data), wire);
    }

    // A copy cut after its first block goes on after it where both resume.
    c.protocol.StartCopyTo(u"C:\\up.bin", u"C:\\d\\cut.bin");
    auto kept = [&] {
        for (const u16& name : {u16(u"C:\\d\\cut.bin.$PART"), u16(u"C:\\d\\cut.$TEMP")})
            if (s.host.files.count(name) && !s.host.files[name].data.empty()) return true;
        return false;
    };
    while (!kept() && link.Step()) {
    }
    for (Peer* p : {&c, &s}) p->protocol.OnConnectionLost(), p->host.outbox.clear(), p->protocol.OnConnectionStarted();
    ASSERT_EQ(link.Login(), LoginResult::Accepted);
    c.protocol.StartCopyTo(u"C:\\up.bin", u"C:\\d\\cut.bin");
    link.Pump();
    EXPECT_EQ(c.protocol.ResumedAt(), has.resume ? block : 0);
    EXPECT_EQ(s.host.files[u"C:\\d\\cut.bin"].data, data);

    // What may be asked for ahead of its turn.
    c.protocol.StartCopyTo(u"C:\\up.bin", u"C:\\d\\q.bin");
    while (!c.protocol.CanQueueCopyTo() && link.Step()) {
    }
    EXPECT_EQ(c.protocol.CanQueueCopyTo(), has.requestBeforeEndAnswer);
    link.Pump();
    c.protocol.StartCopyFrom(u"C:\\d\\a.bin", u"C:\\q.bin");
    EXPECT_EQ(c.protocol.CanQueueCopyFrom(), has.heldRequests);
    link.Pump();
}

TEST(VersionTable, GivesNothingOutsideIt) {
    EXPECT_FALSE(CapabilitiesOf(kFastVersion + 1).framed || CapabilitiesOf(-1).framed || CapabilitiesOf(0).framed);
    EXPECT_TRUE(Marker(0).empty() && Marker(kFastVersion + 1).empty());
}

INSTANTIATE_TEST_SUITE_P(EveryPair, Versions,
                         ::testing::Combine(::testing::Range(0, kFastVersion + 1), ::testing::Range(0, kFastVersion + 1)),
                         [](const auto& info) {
                             return "Client" + std::to_string(std::get<0>(info.param)) + "Server" +
                                    std::to_string(std::get<1>(info.param));
                         });

}  // namespace
