// Whole exchanges between a Client and a Server joined by their fake hosts.
#include <gtest/gtest.h>

#include "fake_host.h"

using namespace quorbel;
using namespace quorbel::testing;

namespace {

std::vector<std::string> Kinds(const std::vector<std::pair<char, std::string>>& transcript) {
    std::vector<std::string> out;
    for (const auto& [who, m] : transcript) {
        const std::string kind = m.substr(0, 2);
        std::string head = m.substr(0, kind == "DR" || kind == "FR" || kind == "FB" ? 8 : 3);
        out.push_back(std::string(1, who) + ":" + head);
    }
    return out;
}

class Sequence : public ::testing::Test {
protected:
    Link link;
    Peer& client = *link.client;
    Peer& server = *link.server;
};

TEST_F(Sequence, FirstListingsRunBothWaysAndTheServerAsksOnlyOnce) {
    server.host.folders[u"C:\\"] = {Entry(u"srv.txt", kAttrArchive, 5)};
    server.host.drives = {{u'c', kDriveFixed}};
    client.host.folders[u"C:\\"] = {Entry(u"cli1.txt", kAttrArchive, 1), Entry(u"cli2", kAttrDirectory)};

    ASSERT_EQ(client.protocol.StartListing(), 0);
    EXPECT_EQ(client.op(), CallDIR);
    link.Pump();

    EXPECT_EQ(Kinds(link.transcript),
              (std::vector<std::string>{"C:DDC", "S:DR000000", "C:ACK", "S:DR999999",
                                        "S:DDC", "C:DR000000", "S:ACK", "C:DR000001", "S:ACK", "C:DR999999"}));
    EXPECT_EQ(client.op(), Waiting);
    EXPECT_EQ(server.op(), Waiting);
    ASSERT_EQ(client.host.rows.size(), 1u);
    EXPECT_EQ(client.host.rows[0].name, u"srv.txt");
    ASSERT_EQ(server.host.rows.size(), 2u);
    EXPECT_EQ(server.host.rows[1].name, u"cli2");
    EXPECT_EQ(server.host.rows[1].size, u"");
    EXPECT_EQ(server.host.rows[1].image, 1);
    EXPECT_EQ(server.host.sleeps, std::vector<uint32_t>{500});

    // A later listing by the Client is served without a second request back.
    link.transcript.clear();
    client.protocol.StartListing();
    link.Pump();
    EXPECT_EQ(Kinds(link.transcript),
              (std::vector<std::string>{"C:DDC", "S:DR000000", "C:ACK", "S:DR999999"}));
    EXPECT_EQ(server.host.sleeps.size(), 1u);

    // After the peer has gone, the next peer's first listing is answered by one.
    server.protocol.OnConnectionLost();
    link.transcript.clear();
    client.protocol.StartListing();
    link.Pump();
    EXPECT_EQ(server.host.sleeps.size(), 2u);
    EXPECT_EQ(client.op(), Waiting);
    EXPECT_EQ(server.op(), Waiting);
}

TEST_F(Sequence, EmptyOrUnreadableFolderEndsBothSidesInWaiting) {
    client.protocol.SetRemoteFolderPath(u"C:\\missing");
    client.protocol.StartListing();
    link.Pump();
    EXPECT_EQ(Kinds(link.transcript)[1], "S:DR999999");
    EXPECT_TRUE(client.host.rows.empty());
    EXPECT_EQ(client.op(), Waiting);
    // The Server, having sent its only record, is free again (and asked back).
    EXPECT_EQ(server.host.sleeps.size(), 1u);
    EXPECT_EQ(server.op(), Waiting);
}

TEST_F(Sequence, ListingOf2000EntriesGives1023Rows) {
    std::vector<FolderEntry> entries;
    for (int i = 0; i < 2000; ++i) entries.push_back(Entry(u"f" + FromAscii(std::to_string(i)), kAttrArchive, i));
    server.host.folders[u"D:\\many"] = entries;
    server.state().autoListing = 1;
    client.protocol.SetRemoteFolderPath(u"D:\\many");
    client.protocol.StartListing();
    link.Pump();
    EXPECT_EQ(server.state().dirCount.load(), 1024);
    EXPECT_STREQ(server.state().dirTable[1023], "DR999999");
    ASSERT_EQ(client.host.rows.size(), 1023u);
    EXPECT_EQ(client.host.rows[1022].name, u"f1022");
    EXPECT_EQ(client.host.rows[1022].param, 1022);
    EXPECT_EQ(client.op(), Waiting);
    EXPECT_EQ(server.op(), Waiting);
}

TEST_F(Sequence, CopyToThePeerMovesBlocksAndTimes) {
    struct Case {
        std::size_t size;
        std::vector<std::string> kinds;
    };
    const Case cases[] = {
        {2500, {"C:FDC", "S:ACK", "C:FR000000", "S:ACK", "C:FR000001", "S:ACK", "C:FR000002", "S:ACK", "C:FR999999"}},
        {3000, {"C:FDC", "S:ACK", "C:FR000000", "S:ACK", "C:FR000001", "S:ACK", "C:FR000002", "S:ACK", "C:FR999999"}},
        {1, {"C:FDC", "S:ACK", "C:FR000000", "S:ACK", "C:FR999999"}},
    };
    for (const Case& c : cases) {
        link.transcript.clear();
        const FileTimes times{132000000000000001ULL, 132000000000000002ULL, 0xFFFFFFFF00000003ULL};
        client.host.files[u"C:\\data\\report.txt"] = FakeFile{Pattern(c.size, 5), times};
        server.host.files[u"C:\\report.txt"] = FakeFile{"older", {}};

        ASSERT_EQ(client.protocol.StartCopyTo(u"C:\\data\\report.txt", u"C:\\report.txt"), 0);
        EXPECT_EQ(client.op(), CallCopyTO);
        link.Pump();

        EXPECT_EQ(Kinds(link.transcript), c.kinds) << c.size;
        EXPECT_EQ(link.transcript.back().second.size(), 32u);
        const std::string& last = link.transcript[link.transcript.size() - 3].second;
        EXPECT_EQ(last.size(), 8 + (c.size % 1000 == 0 ? 1000 : c.size % 1000)) << c.size;
        EXPECT_EQ(server.host.files[u"C:\\report.txt"].data, Pattern(c.size, 5));
        const FileTimes& got = server.host.files[u"C:\\report.txt"].times;
        EXPECT_EQ(got.creation, times.creation);
        EXPECT_EQ(got.lastAccess, times.lastAccess);
        EXPECT_EQ(got.lastWrite, times.lastWrite);
        EXPECT_FALSE(server.host.files.count(u"C:\\report.$TEMP"));
        EXPECT_EQ(client.op(), Waiting);
        EXPECT_EQ(server.op(), Waiting);
        EXPECT_EQ(client.state().blockCounter.load(), static_cast<int32_t>(BlockCountForSize(c.size)));
        EXPECT_FALSE(client.host.openPath.has_value());
        EXPECT_FALSE(server.host.openPath.has_value());
        EXPECT_TRUE(client.host.BoxesWithCaption(u"SEND-NAK").empty());
        EXPECT_TRUE(server.host.BoxesWithCaption(u"SEND-NAK").empty());
    }
}

TEST_F(Sequence, CopyFromThePeer) {
    server.host.files[u"D:\\x.bin"] = FakeFile{Pattern(2500, 9), {1, 2, 3}};
    ASSERT_EQ(client.protocol.StartCopyFrom(u"D:\\x.bin", u"C:\\in\\x.bin"), 0);
    EXPECT_EQ(client.op(), CallCopyFrom);
    link.Pump();
    EXPECT_EQ(Kinds(link.transcript),
              (std::vector<std::string>{"C:FCD", "S:FB000000", "C:ACK", "S:FB000001", "C:ACK", "S:FB000002",
                                        "C:ACK", "S:FB999999"}));
    EXPECT_EQ(client.host.files[u"C:\\in\\x.bin"].data, Pattern(2500, 9));
    EXPECT_EQ(client.host.files[u"C:\\in\\x.bin"].times.lastWrite, 3u);
    EXPECT_EQ(client.op(), Waiting);
    EXPECT_EQ(server.op(), Waiting);
    EXPECT_EQ(server.state().blockCounter.load(), 3);
}

TEST_F(Sequence, EmptyFileArrivesEmptyWithItsTimesBothWays) {
    const FileTimes times{11, 22, 33};
    // To the peer: the end record is the only message.
    client.host.files[u"C:\\empty.txt"] = FakeFile{"", times};
    server.host.files[u"C:\\in\\empty.txt"] = FakeFile{"stale", {}};
    client.protocol.StartCopyTo(u"C:\\empty.txt", u"C:\\in\\empty.txt");
    link.Pump();
    EXPECT_EQ(Kinds(link.transcript), (std::vector<std::string>{"C:FDC", "S:ACK", "C:FR999999"}));
    ASSERT_TRUE(server.host.files.count(u"C:\\in\\empty.txt"));
    EXPECT_EQ(server.host.files[u"C:\\in\\empty.txt"].data, "");
    EXPECT_EQ(server.host.files[u"C:\\in\\empty.txt"].times.lastWrite, 33u);
    EXPECT_FALSE(server.host.files.count(u"C:\\in\\empty.$TEMP"));

    // From the peer: only the end record, no NAK after it, no box.
    link.transcript.clear();
    server.host.files[u"D:\\e.log"] = FakeFile{"", times};
    client.protocol.StartCopyFrom(u"D:\\e.log", u"C:\\in\\e.log");
    link.Pump();
    EXPECT_EQ(Kinds(link.transcript), (std::vector<std::string>{"C:FCD", "S:FB999999"}));
    EXPECT_EQ(client.host.files[u"C:\\in\\e.log"].data, "");
    EXPECT_EQ(client.host.files[u"C:\\in\\e.log"].times.creation, 11u);
    EXPECT_TRUE(server.host.boxes.empty());
    EXPECT_TRUE(client.host.boxes.empty());
    EXPECT_EQ(client.op(), Waiting);
    EXPECT_EQ(server.op(), Waiting);

    // A missing source is created empty by its open and travels as empty.
    link.transcript.clear();
    client.protocol.StartCopyFrom(u"D:\\none", u"C:\\in\\none");
    link.Pump();
    EXPECT_EQ(client.host.files[u"C:\\in\\none"].data, "");
}

TEST_F(Sequence, StopDuringCopyToThePeer) {
    client.host.files[u"C:\\big.dat"] = FakeFile{Pattern(5000), {}};
    server.host.files[u"C:\\big.dat"] = FakeFile{"keep me", {}};
    client.protocol.StartCopyTo(u"C:\\big.dat", u"C:\\big.dat");
    // FD, ACK, block 0 and its ACK are delivered; block 1 is in flight.
    for (int i = 0; i < 4; ++i) link.Step();
    client.state().stopFlag = 1;
    link.Pump();
    EXPECT_EQ(Kinds(link.transcript),
              (std::vector<std::string>{"C:FDC", "S:ACK", "C:FR000000", "S:ACK", "C:FR000001", "S:ACK",
                                        "C:FRDTSTOP", "S:ACK"}));
    EXPECT_EQ(client.op(), Waiting);
    EXPECT_EQ(server.op(), Waiting);
    EXPECT_EQ(client.state().stopFlag.load(), 0);
    EXPECT_EQ(server.host.files[u"C:\\big.dat"].data, "keep me");
    EXPECT_FALSE(server.host.files.count(u"C:\\big.$TEMP"));
    EXPECT_FALSE(client.host.openPath.has_value());
    EXPECT_FALSE(server.host.openPath.has_value());
}

TEST_F(Sequence, NakEndsTheOperationOnBothSidesAndFreesTheFiles) {
    // The receiver cannot create its temporary file.
    client.host.files[u"C:\\a.txt"] = FakeFile{Pattern(2500), {}};
    server.host.uncreatable.insert(u"C:\\out\\a.$TEMP");
    client.protocol.StartCopyTo(u"C:\\a.txt", u"C:\\out\\a.txt");
    link.Pump();
    EXPECT_EQ(Kinds(link.transcript), (std::vector<std::string>{"C:FDC", "S:ACK", "C:FR000000", "S:NAK"}));
    EXPECT_EQ(client.op(), Waiting);
    EXPECT_EQ(server.op(), Waiting);
    EXPECT_EQ(server.host.BoxesWithCaption(u"SEND-NAK").size(), 1u);
    EXPECT_TRUE(client.host.boxes.empty());
    // The source is closed, so it is not locked against its user.
    EXPECT_FALSE(client.host.openPath.has_value());
    EXPECT_TRUE(client.host.RemoveFile(u"C:\\a.txt"));

    // The sender's source vanishes mid-copy: the sender refuses and the
    // receiver drops its half-written temporary file.
    link.transcript.clear();
    client.host.files[u"C:\\b.txt"] = FakeFile{Pattern(2500), {}};
    client.protocol.StartCopyTo(u"C:\\b.txt", u"C:\\out\\b.txt");
    for (int i = 0; i < 3; ++i) link.Step();  // FD, ACK, block 0
    client.host.failRead = true;
    link.Pump();
    EXPECT_EQ(Kinds(link.transcript).back(), "C:NAK");
    EXPECT_EQ(client.op(), Waiting);
    EXPECT_EQ(server.op(), Waiting);
    EXPECT_FALSE(server.host.openPath.has_value());
    EXPECT_FALSE(server.host.files.count(u"C:\\out\\b.$TEMP"));
    EXPECT_FALSE(server.host.files.count(u"C:\\out\\b.txt"));
}

TEST_F(Sequence, OversizedSourceIsRefusedOnEitherSide) {
    client.host.files[u"C:\\huge.iso"] = FakeFile{"x", {}};
    client.host.reportedSizes[u"C:\\huge.iso"] = 999997001ULL;
    client.protocol.StartCopyTo(u"C:\\huge.iso", u"C:\\huge.iso");
    link.Pump();
    EXPECT_EQ(Kinds(link.transcript), (std::vector<std::string>{"C:FDC", "S:ACK", "C:NAK"}));
    auto boxes = client.host.BoxesWithCaption(u"SizeOver");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"953Mbyteは出来ません");
    EXPECT_EQ(client.op(), Waiting);
    EXPECT_EQ(server.op(), Waiting);

    // Exactly at the limit the copy starts.
    link.transcript.clear();
    client.host.reportedSizes[u"C:\\huge.iso"] = 999997000ULL;
    client.protocol.StartCopyTo(u"C:\\huge.iso", u"C:\\huge.iso");
    link.Pump();
    EXPECT_EQ(Kinds(link.transcript)[2], "C:FR000000");

    // Served for the peer: "NAK" at once, no box on the serving side.
    link.transcript.clear();
    server.host.files[u"D:\\huge.iso"] = FakeFile{"x", {}};
    server.host.reportedSizes[u"D:\\huge.iso"] = 999997001ULL;
    client.protocol.StartCopyFrom(u"D:\\huge.iso", u"C:\\huge2.iso");
    link.Pump();
    EXPECT_EQ(Kinds(link.transcript), (std::vector<std::string>{"C:FCD", "S:NAK"}));
    EXPECT_TRUE(server.host.BoxesWithCaption(u"SizeOver").empty());
    EXPECT_EQ(client.op(), Waiting);
}

TEST_F(Sequence, CreateFolderOnThePeerListsItAgain) {
    client.protocol.SetRemoteFolderPath(u"C:\\");
    server.host.folders[u"C:\\"] = {Entry(u"new", kAttrDirectory)};
    server.state().autoListing = 1;
    client.protocol.StartCreateFolder(u"C:\\\\new");
    link.Pump();
    EXPECT_EQ(Kinds(link.transcript),
              (std::vector<std::string>{"C:CDC", "S:ACK", "C:DDC", "S:DR000000", "C:ACK", "S:DR999999"}));
    EXPECT_EQ(server.host.createdFolders, std::vector<u16>{u"C:\\\\new"});
    ASSERT_EQ(client.host.rows.size(), 1u);
    EXPECT_EQ(client.host.rows[0].name, u"new");
    EXPECT_EQ(client.op(), Waiting);
}

TEST_F(Sequence, CutFromEitherRole) {
    server.protocol.SendCut();
    link.Pump();
    EXPECT_EQ(Kinds(link.transcript), std::vector<std::string>{"S:CUT"});
    EXPECT_EQ(client.host.closeTimers, std::vector<uint32_t>{100});

    link.transcript.clear();
    client.protocol.SendCut();
    link.Pump();
    EXPECT_EQ(Kinds(link.transcript), (std::vector<std::string>{"C:CUT", "S:NAK"}));
    EXPECT_TRUE(server.host.closeTimers.empty());
    EXPECT_EQ(client.op(), Waiting);
}

TEST_F(Sequence, ConnectionLostMidCopyLeavesNothingOpen) {
    client.host.files[u"C:\\a.bin"] = FakeFile{Pattern(5000), {}};
    client.protocol.StartCopyTo(u"C:\\a.bin", u"C:\\a.bin");
    for (int i = 0; i < 3; ++i) link.Step();  // FD, ACK, block 0 arrived
    ASSERT_TRUE(server.host.openPath.has_value());
    ASSERT_TRUE(client.host.openPath.has_value());
    server.protocol.OnConnectionLost();
    client.protocol.OnConnectionLost();
    EXPECT_FALSE(server.host.openPath.has_value());
    EXPECT_FALSE(server.host.files.count(u"C:\\a.$TEMP"));
    EXPECT_FALSE(client.host.openPath.has_value());
    EXPECT_TRUE(client.host.files.count(u"C:\\a.bin"));
    // The states stay as they were: the next message or connection moves them.
    EXPECT_EQ(client.op(), CallCopyTO);
    EXPECT_EQ(server.op(), RequestCopyTO);
}

TEST_F(Sequence, AStopLeftByAnEndedTransferDoesNotCutTheNextOne) {
    // The stop record went out, but a NAK ended the transfer instead of its ACK.
    client.host.files[u"C:\\a.bin"] = FakeFile{Pattern(5000), {}};
    client.protocol.StartCopyTo(u"C:\\a.bin", u"C:\\a.bin");
    for (int i = 0; i < 4; ++i) link.Step();  // FD, ACK, block 0, ACK
    client.state().stopFlag = 2;
    client.protocol.Receive("NAK", 3);
    EXPECT_EQ(client.state().stopFlag.load(), 0);

    // A stop asked for during a transfer that the connection's end cut.
    client.state().stopFlag = 1;
    client.protocol.OnConnectionLost();
    EXPECT_EQ(client.state().stopFlag.load(), 0);

}

TEST_F(Sequence, APeerFetchRunsToItsEndAfterAStopThatANakEnded) {
    client.state().stopFlag = 2;  // left by a stopped copy that a NAK ended
    client.protocol.Receive("NAK", 3);
    client.host.files[u"C:\\b.bin"] = FakeFile{Pattern(2500), {}};
    server.protocol.StartCopyFrom(u"C:\\b.bin", u"C:\\got.bin");
    link.Pump();
    EXPECT_EQ(server.host.files[u"C:\\got.bin"].data, Pattern(2500));
    EXPECT_EQ(client.op(), Waiting);
    EXPECT_EQ(server.op(), Waiting);
}

TEST_F(Sequence, RequestsThatDoNotFitAreNotSent) {
    const u16 longWide(258, u'p');
    EXPECT_EQ(client.protocol.StartCopyTo(u"C:\\a", longWide), kRequestTooLong);
    EXPECT_EQ(client.protocol.StartCopyFrom(longWide, u"C:\\a"), kRequestTooLong);
    // 130 two-byte characters: 260 ANSI bytes.
    const u16 wideJapanese(130, u'\u3042');
    EXPECT_EQ(client.protocol.StartCreateFolder(wideJapanese), kRequestTooLong);
    client.protocol.SetRemoteFolderPath(wideJapanese);
    EXPECT_EQ(client.protocol.StartListing(), kRequestTooLong);
    EXPECT_TRUE(client.host.sent.empty());
    EXPECT_EQ(client.op(), Waiting);
    EXPECT_EQ(client.host.refreshes, 0);

    // A listing request started elsewhere with CallDIR falls back to Waiting.
    client.state().operationState = CallDIR;
    EXPECT_EQ(client.protocol.SendListingRequest(), kRequestTooLong);
    EXPECT_EQ(client.op(), Waiting);

    // 129 of them fit and arrive whole.
    client.protocol.SetRemoteFolderPath(u16(129, u'\u3042'));
    server.host.folders[u16(129, u'\u3042')] = {};
    server.state().autoListing = 1;
    EXPECT_EQ(client.protocol.StartListing(), 0);
    link.Pump();
    ASSERT_EQ(server.host.listedFolders.size(), 1u);
    EXPECT_EQ(server.host.listedFolders[0], u16(129, u'\u3042'));
}

}  // namespace
