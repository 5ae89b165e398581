// What one side answers to each message in each operation state.
#include <gtest/gtest.h>

#include <cstring>

#include "fake_host.h"

using namespace quorbel;
using namespace quorbel::testing;

namespace {

class Dispatch : public ::testing::Test {
protected:
    std::unique_ptr<Peer> peer = std::make_unique<Peer>();
    FakeHost& host = peer->host;
    ProtocolState& st = peer->state();

    void Feed(const std::string& m) { peer->protocol.Receive(m.data(), static_cast<int32_t>(m.size())); }
    void SetState(int32_t s) { st.operationState = s; }
    std::string LastSent() const { return host.sent.empty() ? std::string() : host.sent.back(); }
    // Asserts the side answered "NAK" alone and fell back to Waiting.
    void ExpectRefused(const std::string& why) {
        ASSERT_EQ(host.sent.size(), 1u) << why;
        EXPECT_EQ(host.sent[0], "NAK") << why;
        EXPECT_EQ(peer->op(), Waiting) << why;
        EXPECT_EQ(host.BoxesWithCaption(u"SEND-NAK").size(), 1u) << why;
    }
    void Reset() {
        host.sent.clear();
        host.outbox.clear();
        host.boxes.clear();
        host.refreshes = 0;
    }
};

TEST(OperationStateNames, AreTheStatusTexts) {
    const char16_t* names[] = {u"Waiting", u"CallDIR", u"RequestDIR", u"CallCopyTO", u"RequestCopyTO",
                               u"CallCopyFrom", u"RequestCopyFrom", u"FolderTO", u"FolderFrom",
                               u"StopTO", u"StopFrom"};
    for (int32_t i = 0; i <= 10; ++i) EXPECT_EQ(u16(OperationStateName(i)), names[i]);
    EXPECT_EQ(u16(OperationStateName(-1)), u"Unknown");
    EXPECT_EQ(u16(OperationStateName(11)), u"Unknown");
    EXPECT_EQ(u16(OperationStateName(INT32_MIN)), u"Unknown");
}

TEST_F(Dispatch, WaitingServesListingRequest) {
    host.folders[u"C:\\data"] = {Entry(u"a.txt", kAttrArchive, 12)};
    Feed("DDC:\\data");
    EXPECT_EQ(host.listedFolders, std::vector<u16>{u"C:\\data"});
    EXPECT_EQ(peer->op(), RequestDIR);
    EXPECT_GE(host.refreshes, 1);
    ASSERT_EQ(host.sent.size(), 1u);
    EXPECT_EQ(host.sent[0], "DR000000a.txt,2024/03/05 09:07,12,8");
    EXPECT_EQ(st.dirSendIndex.load(), 1);
    EXPECT_EQ(st.dirCount.load(), 2);
}

TEST_F(Dispatch, WaitingAcceptsCopyToAndRemembersThePath) {
    Feed("FDC:\\in\\report.txt");
    EXPECT_EQ(host.sent, std::vector<std::string>{"ACK"});
    EXPECT_EQ(peer->op(), RequestCopyTO);
    EXPECT_STREQ(st.requestName, "C:\\in\\report.txt");
}

TEST_F(Dispatch, WaitingServesCopyFromWithItsFirstBlock) {
    host.files[u"C:\\x.bin"].data = Pattern(1500);
    Feed("FCC:\\x.bin");
    ASSERT_EQ(host.sent.size(), 1u);
    EXPECT_EQ(host.sent[0], "FB000000" + Pattern(1500).substr(0, 1000));
    EXPECT_EQ(peer->op(), RequestCopyFrom);
    EXPECT_EQ(st.blockCounter.load(), 1);
    EXPECT_EQ(u16(st.sourceName), u"C:\\x.bin");
}

TEST_F(Dispatch, CopyFromAFileThatCannotBeOpenedIsRefused) {
    host.unopenable.insert(u"C:\\locked.bin");
    Feed("FCC:\\locked.bin");
    ExpectRefused("unopenable");
    EXPECT_TRUE(host.BoxesWithCaption(u"SizeOver").empty());
}

TEST_F(Dispatch, CopyFromAFileOverTheLimitIsRefusedWithoutSizeBox) {
    host.files[u"C:\\big.iso"].data = "x";
    host.reportedSizes[u"C:\\big.iso"] = 999997001ULL;
    Feed("FCC:\\big.iso");
    ExpectRefused("over the limit");
    EXPECT_TRUE(host.BoxesWithCaption(u"SizeOver").empty());  // only the side whose user copies sees it
    EXPECT_FALSE(host.openPath.has_value());
}

TEST_F(Dispatch, CreateFolderIsAnsweredAckEvenWhenItExists) {
    for (int round = 0; round < 2; ++round) {
        Reset();
        Feed("CDC:\\data\\new");
        EXPECT_EQ(host.sent, std::vector<std::string>{"ACK"});
        EXPECT_EQ(peer->op(), Waiting);
        EXPECT_GE(host.refreshes, 2);  // FolderFrom, then Waiting
    }
    EXPECT_EQ(host.createdFolders, (std::vector<u16>{u"C:\\data\\new", u"C:\\data\\new"}));
}

TEST_F(Dispatch, CutClosesTheClientAndIsRefusedByTheServer) {
    SetState(Waiting);
    Feed("CUT");
    EXPECT_TRUE(host.sent.empty());
    EXPECT_EQ(host.closeTimers, std::vector<uint32_t>{100});
    EXPECT_EQ(peer->op(), Waiting);

    Reset();
    st.serverMode = 1;
    Feed("CUT");
    ExpectRefused("CUT at the Server");
    EXPECT_EQ(host.closeTimers.size(), 1u);

    // A Client that is busy handles "CUT" by that state's table.
    Reset();
    st.serverMode = 0;
    SetState(CallDIR);
    Feed("CUT");
    ExpectRefused("CUT in CallDIR");
    EXPECT_EQ(host.closeTimers.size(), 1u);
}

TEST_F(Dispatch, WaitingRefusesWhatItDoesNotServe) {
    const std::string cases[] = {
        "ACK", "", std::string("\0\0\0", 3), "DDC:", "FDC:", "FCab", "CD", "PW", "CUTS", "CU",
        "DR000000a,b,c,1", "FR000000data", "XYZZY", "dd C:\\", std::string("DD\0C:\\data", 10),
    };
    for (const std::string& m : cases) {
        Reset();
        SetState(Waiting);
        Feed(m);
        ExpectRefused("message: " + m);
    }
}

TEST_F(Dispatch, PathsThatDoNotFitAreRefused) {
    const std::string p259 = "C:\\" + std::string(256, 'p');
    const std::string p260 = p259 + "q";
    for (const char* kind : {"DD", "FD", "FC", "CD"}) {
        Reset();
        Feed(kind + p260);
        ExpectRefused(std::string(kind) + " 260");
        EXPECT_TRUE(host.createdFolders.empty());
        EXPECT_TRUE(host.listedFolders.empty());
    }
    Reset();
    Feed("FD" + p259);
    EXPECT_EQ(host.sent, std::vector<std::string>{"ACK"});
    EXPECT_EQ(std::string(st.requestName), p259);
    Reset();
    SetState(Waiting);
    Feed("CD" + p259);
    EXPECT_EQ(host.sent, std::vector<std::string>{"ACK"});
    EXPECT_EQ(host.createdFolders.back().size(), 259u);
}

TEST_F(Dispatch, ReceivedNakEndsAnyStateWithoutAnswer) {
    for (int32_t s = Waiting; s <= StopFrom; ++s) {
        Reset();
        SetState(s);
        Feed("NAK");
        EXPECT_TRUE(host.sent.empty()) << s;
        EXPECT_EQ(peer->op(), Waiting) << s;
        EXPECT_TRUE(host.boxes.empty()) << s;
    }
}

TEST_F(Dispatch, CallDirTurnsRecordsIntoRows) {
    SetState(CallDIR);
    Feed("DR000000d:\\,,,3");
    Feed("DR000001notes.txt,2024/03/05 09:07,10K,8");
    EXPECT_EQ(host.sent, (std::vector<std::string>{"ACK", "ACK"}));
    ASSERT_EQ(host.rows.size(), 2u);
    EXPECT_EQ(host.rows[0].name, u"d:\\");
    EXPECT_EQ(host.rows[0].image, 3);
    EXPECT_EQ(host.rows[1].position, 1);
    EXPECT_EQ(host.rows[1].param, 1);
    EXPECT_EQ(host.rows[1].date, u"2024/03/05 09:07");
    EXPECT_EQ(host.rows[1].size, u"10K");
    EXPECT_EQ(host.rows[1].image, 8);
    EXPECT_EQ(peer->op(), CallDIR);

    Reset();
    Feed("DR999999");
    EXPECT_TRUE(host.sent.empty());
    EXPECT_EQ(peer->op(), Waiting);
    EXPECT_EQ(host.refreshes, 1);
}

TEST_F(Dispatch, CallDirRefusesMalformedRecords) {
    const std::string cases[] = {
        "DR000001nocommas.txt",  // no commas
        "DR000001,a,b,1",        // empty name
        "DR00000",               // too short
        "DR0000a1x,y,z,1",       // number not six digits
        "ACK", "FR000000abcd",
        "DR000001" + std::string(260, 'n') + ",d,s,1",  // name over 259 bytes
        "DR000001n," + std::string(64, 'd') + ",s,1",   // date over 63 bytes
    };
    for (const std::string& m : cases) {
        Reset();
        host.rows.clear();
        SetState(CallDIR);
        Feed(m);
        ExpectRefused("record: " + m);
        EXPECT_TRUE(host.rows.empty());
    }
}

TEST_F(Dispatch, RequestDirSendsOneRecordPerAck) {
    host.folders[u"C:\\d"] = {Entry(u"a", kAttrArchive, 1), Entry(u"b", kAttrArchive, 2)};
    Feed("DDC:\\d");
    Reset();
    Feed("ACK");
    EXPECT_EQ(host.sent, std::vector<std::string>{"DR000001b,2024/03/05 09:07,2,8"});
    EXPECT_EQ(peer->op(), RequestDIR);
    Feed("ACK");
    EXPECT_EQ(host.sent.back(), "DR999999");
    EXPECT_EQ(peer->op(), Waiting);

    // As the Client no listing request of its own follows.
    EXPECT_TRUE(host.sleeps.empty());
    EXPECT_EQ(host.sent.size(), 2u);

    // Once the end record has gone, an ACK is a stray message.
    Reset();
    SetState(RequestDIR);
    Feed("ACK");
    EXPECT_TRUE(host.sent.empty());
    EXPECT_EQ(peer->op(), RequestDIR);
    Feed("DDC:\\d");
    ExpectRefused("DD while serving a listing");
}

TEST_F(Dispatch, ServerListsThePeerOnceAfterItsFirstListing) {
    st.serverMode = 1;
    peer->protocol.SetRemoteFolderPath(u"D:\\work");
    host.folders[u"C:\\d"] = {Entry(u"a", kAttrArchive, 1)};
    Feed("DDC:\\d");
    Feed("ACK");
    EXPECT_EQ(host.sent.back(), "DDD:\\work");
    EXPECT_EQ(host.sleeps, std::vector<uint32_t>{500});
    EXPECT_EQ(peer->op(), CallDIR);
    EXPECT_EQ(st.autoListing.load(), 1);

    Reset();
    SetState(Waiting);
    Feed("DDC:\\d");
    Feed("ACK");
    EXPECT_EQ(host.sent.back(), "DR999999");
    EXPECT_EQ(peer->op(), Waiting);
    EXPECT_EQ(host.sleeps.size(), 1u);

    // A new peer is listed again.
    peer->protocol.OnConnectionLost();
    EXPECT_EQ(st.autoListing.load(), 0);
}

TEST_F(Dispatch, SendingSideActsOnTheStopFlag) {
    for (BlockKind kind : {BlockKind::FR, BlockKind::FB}) {
        const bool fr = kind == BlockKind::FR;
        Reset();
        host.files[u"C:\\s"].data = Pattern(3000);
        CopyBounded<char16_t>(st.sourceName, kPathUnits, u"C:\\s");
        SetState(fr ? CallCopyTO : RequestCopyFrom);
        st.stopFlag = 0;
        ASSERT_EQ(peer->protocol.SendFileBlock(kind, 0), kBlockSent);
        st.blockCounter = 1;
        Feed("ACK");
        EXPECT_EQ(host.sent.back().substr(0, 8), fr ? "FR000001" : "FB000001");
        EXPECT_EQ(st.blockCounter.load(), 2);

        st.stopFlag = 1;
        Feed("ACK");
        EXPECT_EQ(host.sent.back(), fr ? "FRDTSTOP" : "FBDTSTOP");
        EXPECT_EQ(st.stopFlag.load(), 2);
        EXPECT_FALSE(host.openPath.has_value());
        EXPECT_EQ(peer->op(), fr ? CallCopyTO : RequestCopyFrom);

        std::size_t sentBefore = host.sent.size();
        Feed("ACK");
        EXPECT_EQ(host.sent.size(), sentBefore);
        EXPECT_EQ(st.stopFlag.load(), 0);
        EXPECT_EQ(peer->op(), Waiting);
    }
}

TEST_F(Dispatch, SendingSideRefusesAnythingButAck) {
    host.files[u"C:\\s"].data = Pattern(3000);
    CopyBounded<char16_t>(st.sourceName, kPathUnits, u"C:\\s");
    SetState(CallCopyTO);
    ASSERT_EQ(peer->protocol.SendFileBlock(BlockKind::FR, 0), kBlockSent);
    Reset();
    Feed("FR000000xx");
    ExpectRefused("block to a sender");
    // The source is not left open (and locked) after the refusal.
    EXPECT_FALSE(host.openPath.has_value());
}

TEST_F(Dispatch, FailedBlockEndsCopyToWithNakAndCopyFromSilently) {
    for (BlockKind kind : {BlockKind::FR, BlockKind::FB}) {
        Reset();
        host.failRead = false;
        host.files[u"C:\\s"].data = Pattern(3000);
        CopyBounded<char16_t>(st.sourceName, kPathUnits, u"C:\\s");
        SetState(kind == BlockKind::FR ? CallCopyTO : RequestCopyFrom);
        st.stopFlag = 0;
        ASSERT_EQ(peer->protocol.SendFileBlock(kind, 0), kBlockSent);
        st.blockCounter = 1;
        host.failRead = true;
        Feed("ACK");
        EXPECT_EQ(peer->op(), Waiting);
        EXPECT_FALSE(host.openPath.has_value());
        if (kind == BlockKind::FR)
            EXPECT_EQ(host.sent.back(), "NAK");
        else
            EXPECT_EQ(host.sent.back().substr(0, 8), "FB000000");
    }
    host.failRead = false;
}

TEST_F(Dispatch, ReceivingSideWritesAcknowledgesAndFinishes) {
    for (BlockKind kind : {BlockKind::FR, BlockKind::FB}) {
        const bool fr = kind == BlockKind::FR;
        Reset();
        host.files.clear();
        if (fr) {
            Feed("FDC:\\in\\a.txt");
        } else {
            ASSERT_EQ(peer->protocol.StartCopyFrom(u"D:\\a.txt", u"C:\\in\\a.txt"), 0);
        }
        Reset();
        const std::string k = fr ? "FR" : "FB";
        Feed(k + "000000" + "hello ");
        EXPECT_EQ(host.sent, std::vector<std::string>{"ACK"});
        EXPECT_TRUE(host.files.count(u"C:\\in\\a.$TEMP"));
        Feed(k + "000001" + "world");
        FileTimes t{0x0102030405060708ULL, 0x1112131415161718ULL, 0x2122232425262728ULL};
        Feed(EncodeEndRecord(kind, t));
        EXPECT_EQ(host.sent.size(), 2u);  // nothing answers the end record
        EXPECT_EQ(peer->op(), Waiting);
        EXPECT_EQ(host.files[u"C:\\in\\a.txt"].data, "hello world");
        EXPECT_EQ(host.files[u"C:\\in\\a.txt"].times.lastWrite, t.lastWrite);
        EXPECT_FALSE(host.files.count(u"C:\\in\\a.$TEMP"));
        EXPECT_FALSE(host.openPath.has_value());
    }
}

TEST_F(Dispatch, ReceivingSideRefusesOtherKindsAndBadNumbers) {
    const std::string cases[] = {"FB000000data", "FR00x000data", "FR", "FR00000", "ACK", "DDC:\\x"};
    for (const std::string& m : cases) {
        Reset();
        host.files.clear();
        SetState(Waiting);
        Feed("FDC:\\t.dat");
        Feed("FR000000first");
        ASSERT_TRUE(host.openPath.has_value());
        Reset();
        Feed(m);
        ExpectRefused("receiving: " + m);
        // The half-received file is dropped and not left open.
        EXPECT_FALSE(host.openPath.has_value());
        EXPECT_FALSE(host.files.count(u"C:\\t.$TEMP"));
        EXPECT_FALSE(host.files.count(u"C:\\t.dat"));
    }
}

TEST_F(Dispatch, StopRecordDropsTheTemporaryFileAndKeepsTheOldOne) {
    host.files[u"C:\\t.dat"].data = "old";
    Feed("FDC:\\t.dat");
    Feed("FR000000new data");
    Reset();
    Feed("FRDTSTOP");
    EXPECT_EQ(host.sent, std::vector<std::string>{"ACK"});
    EXPECT_EQ(peer->op(), Waiting);
    EXPECT_FALSE(host.files.count(u"C:\\t.$TEMP"));
    EXPECT_EQ(host.files[u"C:\\t.dat"].data, "old");
    EXPECT_EQ(st.transferState.load(), TransferDone);
}

TEST_F(Dispatch, WriteFailureAnswersNakAndLeavesTheTemporaryFileClosed) {
    Feed("FDC:\\t.dat");
    host.failWriteAfter = 1;
    Feed("FR000000one");
    Reset();
    Feed("FR000001two");
    ExpectRefused("write failure");
    EXPECT_EQ(st.transferState.load(), TransferFailed);
    EXPECT_FALSE(host.openPath.has_value());
    EXPECT_EQ(host.files[u"C:\\t.$TEMP"].data, "one");
    EXPECT_FALSE(host.files.count(u"C:\\t.dat"));
}

TEST_F(Dispatch, FolderToListsAgainOnAckAndIgnoresTheRest) {
    peer->protocol.SetRemoteFolderPath(u"C:\\");
    ASSERT_EQ(peer->protocol.StartCreateFolder(u"C:\\\\neu"), 0);
    EXPECT_EQ(host.sent.back(), "CDC:\\\\neu");
    EXPECT_EQ(peer->op(), FolderTO);
    Reset();
    Feed("DR000000x,,,1");
    Feed("CUT");
    EXPECT_TRUE(host.sent.empty());
    EXPECT_EQ(peer->op(), FolderTO);
    EXPECT_TRUE(host.closeTimers.empty());
    Feed("ACK");
    EXPECT_EQ(host.sent, std::vector<std::string>{"DDC:\\"});
    EXPECT_EQ(peer->op(), CallDIR);
    EXPECT_EQ(host.refreshes, 2);
}

TEST_F(Dispatch, StatesNobodyServesRefuseEverything) {
    for (int32_t s : {int32_t(FolderFrom), int32_t(StopTO), int32_t(StopFrom), int32_t(42), int32_t(-7)}) {
        for (const char* m : {"ACK", "DDC:\\x", "DR999999"}) {
            Reset();
            SetState(s);
            Feed(m);
            ExpectRefused(std::string("state ") + std::to_string(s) + " " + m);
        }
    }
}

TEST_F(Dispatch, SendNakBoxShowsTheTableProgress) {
    host.folders[u"C:\\d"] = {Entry(u"a", kAttrArchive, 1), Entry(u"b", kAttrArchive, 2)};
    Feed("DDC:\\d");
    Reset();
    Feed("XX");
    auto boxes = host.BoxesWithCaption(u"SEND-NAK");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"CONT=1/3\r\nDR000001b,2024/03/05 09:07,2,8");

    // With the index past the last slot the box still shows (no entry text).
    st.dirSendIndex = kDirSlots;
    Reset();
    Feed("XX");
    boxes = host.BoxesWithCaption(u"SEND-NAK");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"CONT=1024/3\r\n");
}

TEST_F(Dispatch, FailedSendShowsTheErrorAndStateChangesAnyway) {
    host.sendError = 10054;
    Feed("FDC:\\a.txt");
    auto boxes = host.BoxesWithCaption(u"WSAGetLastError");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"ERR=10054:C0/S1=0:Sel=0\r\nACK");
    EXPECT_EQ(peer->op(), RequestCopyTO);

    st.serverMode = 1;
    host.boxes.clear();
    EXPECT_EQ(peer->protocol.SendFrame("DDC:\\\0zz", 8), 10054);
    EXPECT_EQ(host.boxes.at(0).text, u"ERR=10054:C0/S1=1:Sel=0\r\nDDC:\\");
}

TEST_F(Dispatch, ReceiveBufferLengthIsBoundedWhateverItClaims) {
    std::memset(st.recvBuf, 'A', sizeof st.recvBuf);
    std::memcpy(st.recvBuf, "CD", 2);
    for (int32_t claimed : {-5, 0, 1025, 1040, 5000, INT32_MAX, INT32_MIN}) {
        Reset();
        SetState(Waiting);
        st.recvLength = claimed;
        peer->protocol.DispatchReceived();
        EXPECT_EQ(peer->op(), Waiting);
        ASSERT_EQ(host.sent.size(), 1u);
        EXPECT_EQ(host.sent[0], "NAK");  // 1022 bytes of path do not fit
    }
}

// ---- Monitor rings ----------------------------------------------------------

TEST_F(Dispatch, RingsKeepTheLast31MessagesAndTheEndMarker) {
    st.monitorRecording = 1;
    for (int i = 1; i <= 40; ++i) {
        std::string m = "DDmessage" + std::to_string(i);
        peer->protocol.SendFrame(m.data(), static_cast<int32_t>(m.size()));
        SetState(CallDIR);
        std::string r = "DR" + std::to_string(i);
        Feed(r);  // refused in CallDIR; the NAK goes to the send ring too
    }
    // Send ring: 40 requests and 40 NAKs alternate, 80 messages in all.
    char sendCopy[kRingSlots][kRingSlotBytes];
    peer->protocol.CopySendRing(sendCopy);
    EXPECT_EQ(st.sendRingPos, 80 % 32);
    EXPECT_STREQ(sendCopy[80 % 32], "***** WRITE-END *****");

    char recv[kRingSlots][kRingSlotBytes];
    peer->protocol.CopyReceiveRing(recv);
    for (int slot = 0; slot <= 7; ++slot) EXPECT_EQ(std::string(recv[slot]), "DR" + std::to_string(33 + slot));
    EXPECT_STREQ(recv[8], "***** READ-END *****");
    for (int k = std::strlen("***** READ-END *****"); k < kRingSlotBytes; ++k) ASSERT_EQ(recv[8][k], 0);
    for (int slot = 9; slot <= 31; ++slot) EXPECT_EQ(std::string(recv[slot]), "DR" + std::to_string(1 + slot));
    EXPECT_EQ(st.recvRingPos, 8);
}

TEST_F(Dispatch, SendRingAfterFortyMessages) {
    st.monitorRecording = 1;
    for (int i = 1; i <= 40; ++i) {
        std::string m = "DDm" + std::to_string(i);
        peer->protocol.SendFrame(m.data(), static_cast<int32_t>(m.size()));
    }
    for (int slot = 0; slot <= 7; ++slot) EXPECT_EQ(std::string(st.sendRing[slot]), "DDm" + std::to_string(33 + slot));
    EXPECT_STREQ(st.sendRing[8], "***** WRITE-END *****");
    for (int slot = 9; slot <= 31; ++slot) EXPECT_EQ(std::string(st.sendRing[slot]), "DDm" + std::to_string(1 + slot));
}

TEST_F(Dispatch, RingsHoldOnlyRecordedMessages) {
    // Recording off: nothing changes.
    peer->protocol.SendFrame("ACK", 3);
    Feed("ACK");
    EXPECT_EQ(st.sendRingPos, 0);
    EXPECT_EQ(st.recvRingPos, 0);
    EXPECT_EQ(st.sendRing[0][0], 0);

    // File blocks and login answers never enter the send ring; every
    // received message does, cut to 272 bytes.
    st.monitorRecording = 1;
    host.files[u"C:\\s"].data = Pattern(1000, 3);
    CopyBounded<char16_t>(st.sourceName, kPathUnits, u"C:\\s");
    peer->protocol.SendFileBlock(BlockKind::FR, 0);
    peer->protocol.SendReply("ACK");
    EXPECT_EQ(st.sendRingPos, 0);
    SetState(RequestCopyTO);
    std::string block = "FR000000" + std::string(1000, 'z');
    Feed(block);
    EXPECT_EQ(st.recvRingPos, 1);
    EXPECT_EQ(std::string(st.recvRing[0], kRingSlotBytes), block.substr(0, kRingSlotBytes));
    EXPECT_EQ(st.sendRingPos, 1);  // the NAK to the stray block
    EXPECT_STREQ(st.sendRing[0], "NAK");
}

}  // namespace
