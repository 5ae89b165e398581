// File blocks: layouts, limits, temporary names and both ends of a copy.
#include <gtest/gtest.h>

#include "fake_host.h"

using namespace quorbel;
using namespace quorbel::testing;

namespace {

TEST(FileBlockRules, BlockCountsAndSizeLimit) {
    EXPECT_EQ(BlockCountForSize(0), 0u);
    EXPECT_EQ(BlockCountForSize(1), 1u);
    EXPECT_EQ(BlockCountForSize(2500), 3u);
    EXPECT_EQ(BlockCountForSize(3000), 3u);
    EXPECT_EQ(BlockCountForSize(999997000ULL), 999997u);  // blocks 0 to 999,996
    EXPECT_TRUE(TransferSizeAllowed(0));
    EXPECT_TRUE(TransferSizeAllowed(999997000ULL));
    EXPECT_FALSE(TransferSizeAllowed(999997001ULL));
    EXPECT_FALSE(TransferSizeAllowed(~0ULL));
}

TEST(FileBlockRules, TemporaryNames) {
    EXPECT_EQ(TemporaryName(u"D:\\data\\report.txt"), u"D:\\data\\report.$TEMP");
    EXPECT_EQ(TemporaryName(u"report.txt"), u"report.$TEMP");
    EXPECT_EQ(TemporaryName(u"D:\\old.data\\readme"), u"D:\\old.$TEMP");
    EXPECT_EQ(TemporaryName(u"C:\\in\\archive.tar.gz"), u"C:\\in\\archive.tar.$TEMP");
    EXPECT_EQ(TemporaryName(u"C:\\in\\README"), u"C:\\in\\README.$TEMP");
    EXPECT_EQ(TemporaryName(u"C:\\in\\.profile"), u"C:\\in\\.$TEMP");
}

TEST(FileBlockRules, BlockAndEndRecordLayouts) {
    EXPECT_EQ(EncodeFileBlock(BlockKind::FR, 0, "abc", 3), "FR000000abc");
    EXPECT_EQ(EncodeFileBlock(BlockKind::FB, 999996, "z", 1), "FB999996z");
    EXPECT_EQ(EncodeFileBlock(BlockKind::FR, 5, std::string(1200, 'q').data(), 1200).size(), 1008u);

    const FileTimes t{0x0102030405060708ULL, 0x1112131415161718ULL, 0xA1A2A3A4A5A6A7A8ULL};
    const std::string rec = EncodeEndRecord(BlockKind::FR, t);
    ASSERT_EQ(rec.size(), 32u);
    EXPECT_EQ(rec.substr(0, 8), "FR999999");
    // Each time: low 32-bit half first, each half little-endian.
    const unsigned char expected[24] = {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,
                                        0x18, 0x17, 0x16, 0x15, 0x14, 0x13, 0x12, 0x11,
                                        0xA8, 0xA7, 0xA6, 0xA5, 0xA4, 0xA3, 0xA2, 0xA1};
    for (int i = 0; i < 24; ++i) EXPECT_EQ(static_cast<unsigned char>(rec[8 + i]), expected[i]) << i;
    EXPECT_EQ(EncodeEndRecord(BlockKind::FB, t).substr(0, 8), "FB999999");

    FileTimes back = ParseEndRecordTimes(rec.data() + 8, 24);
    EXPECT_EQ(back.creation, t.creation);
    EXPECT_EQ(back.lastAccess, t.lastAccess);
    EXPECT_EQ(back.lastWrite, t.lastWrite);
    // A short end record reads the missing bytes as zero.
    FileTimes part = ParseEndRecordTimes(rec.data() + 8, 10);
    EXPECT_EQ(part.creation, t.creation);
    EXPECT_EQ(part.lastAccess, 0x1718ULL);
    EXPECT_EQ(part.lastWrite, 0u);
    EXPECT_EQ(ParseEndRecordTimes(nullptr, 24).creation, 0u);

    EXPECT_EQ(ParseHeaderNumber("000042"), 42);
    EXPECT_EQ(ParseHeaderNumber("999999"), 999999);
    EXPECT_EQ(ParseHeaderNumber("-00001"), -1);
    EXPECT_EQ(ParseHeaderNumber("00 001"), -1);
}

class Blocks : public ::testing::Test {
protected:
    std::unique_ptr<Peer> peer = std::make_unique<Peer>();
    FakeHost& host = peer->host;
    ProtocolState& st = peer->state();
    Protocol& p = peer->protocol;

    void Source(const u16& path) { CopyBounded<char16_t>(st.sourceName, kPathUnits, path); }
};

TEST_F(Blocks, SenderReadsUntilTheEndAndClosesTheFile) {
    host.files[u"C:\\s.bin"] = FakeFile{Pattern(2000), {5, 6, 7}};
    Source(u"C:\\s.bin");
    EXPECT_EQ(p.SendFileBlock(BlockKind::FB, 0), kBlockSent);
    EXPECT_EQ(p.SendFileBlock(BlockKind::FB, 1), kBlockSent);
    EXPECT_TRUE(host.openPath.has_value());
    EXPECT_EQ(p.SendFileBlock(BlockKind::FB, 2), kBlockEndSent);
    EXPECT_FALSE(host.openPath.has_value());
    EXPECT_EQ(st.transferState.load(), TransferDone);
    ASSERT_EQ(host.sent.size(), 3u);
    EXPECT_EQ(host.sent[2], EncodeEndRecord(BlockKind::FB, {5, 6, 7}));
    // After the end nothing more goes out.
    EXPECT_EQ(p.SendFileBlock(BlockKind::FB, 3), kBlockFailed);
    EXPECT_EQ(host.sent.size(), 3u);
}

TEST_F(Blocks, SenderFailures) {
    // Cannot open.
    host.unopenable.insert(u"C:\\locked");
    Source(u"C:\\locked");
    EXPECT_EQ(p.SendFileBlock(BlockKind::FR, 0), kBlockFailed);
    EXPECT_EQ(st.transferState.load(), TransferClosed);
    EXPECT_TRUE(host.sent.empty());

    // Size over: the box only for the side whose user copies.
    host.files[u"C:\\big"] = FakeFile{"x", {}};
    host.reportedSizes[u"C:\\big"] = 999997001ULL;
    Source(u"C:\\big");
    st.operationState = CallCopyTO;
    EXPECT_EQ(p.SendFileBlock(BlockKind::FR, 0), kBlockFailed);
    EXPECT_EQ(host.BoxesWithCaption(u"SizeOver").size(), 1u);
    EXPECT_FALSE(host.openPath.has_value());
    EXPECT_TRUE(host.sent.empty());

    // A failed send: error box, file closed, state Failed.
    host.reportedSizes.clear();
    host.files[u"C:\\s"] = FakeFile{Pattern(1500), {}};
    Source(u"C:\\s");
    host.sendError = 10053;
    EXPECT_EQ(p.SendFileBlock(BlockKind::FR, 0), kBlockFailed);
    EXPECT_EQ(st.transferState.load(), TransferFailed);
    EXPECT_FALSE(host.openPath.has_value());
    auto boxes = host.BoxesWithCaption(u"WSAGetLastError");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.substr(0, 33), u"ERR=10053:C0/S1=0:Sel=0\r\nFR000000");

    // Numbers that would not be a data block are never sent.
    host.sendError = 0;
    host.sent.clear();
    EXPECT_EQ(p.SendFileBlock(BlockKind::FR, 0), kBlockSent);
    EXPECT_EQ(p.SendFileBlock(BlockKind::FR, 999999), kBlockFailed);
    EXPECT_EQ(p.SendFileBlock(BlockKind::FR, -5), kBlockFailed);
    EXPECT_EQ(host.sent.size(), 1u);
    EXPECT_FALSE(host.openPath.has_value());
}

TEST_F(Blocks, BlockZeroClosesAFileLeftOpen) {
    host.files[u"C:\\a"] = FakeFile{Pattern(5000), {}};
    Source(u"C:\\a");
    ASSERT_EQ(p.SendFileBlock(BlockKind::FR, 0), kBlockSent);
    // The transfer ended without its file being closed; the next one starts.
    ASSERT_EQ(p.SendFileBlock(BlockKind::FR, 0), kBlockSent);
    EXPECT_EQ(host.opens, 2);
    EXPECT_EQ(host.closes, 1);
    EXPECT_EQ(host.sent[1], host.sent[0]);  // read again from the start

    // Stop: -1 only closes.
    EXPECT_EQ(p.SendFileBlock(BlockKind::FR, -1), kBlockFailed);
    EXPECT_FALSE(host.openPath.has_value());
    EXPECT_EQ(host.sent.size(), 2u);
}

TEST_F(Blocks, ReceiverWritesReplacesAndKeepsTheOldFileUntilTheEnd) {
    host.files[u"C:\\r.txt"] = FakeFile{"previous", {}};
    EXPECT_EQ(p.WriteFileBlock("C:\\r.txt", "abc", 3, 0), 1);
    EXPECT_EQ(host.files[u"C:\\r.txt"].data, "previous");
    EXPECT_EQ(p.WriteFileBlock("C:\\r.txt", "def", 3, 1), 1);
    EXPECT_EQ(host.files[u"C:\\r.$TEMP"].data, "abcdef");
    const std::string end = EncodeEndRecord(BlockKind::FR, {1, 2, 3});
    EXPECT_EQ(p.WriteFileBlock("C:\\r.txt", end.data() + 8, 24, kEndBlockNumber), 0);
    EXPECT_EQ(host.files[u"C:\\r.txt"].data, "abcdef");
    EXPECT_EQ(host.files[u"C:\\r.txt"].times.lastAccess, 2u);
    EXPECT_FALSE(host.files.count(u"C:\\r.$TEMP"));
    EXPECT_EQ(st.transferState.load(), TransferDone);
}

TEST_F(Blocks, ReceiverHandlesNamesWithoutADotAndDotsInFolders) {
    EXPECT_EQ(p.WriteFileBlock("D:\\old.data\\readme", "x", 1, 0), 1);
    EXPECT_TRUE(host.files.count(u"D:\\old.$TEMP"));
    p.WriteFileBlock("D:\\old.data\\readme", nullptr, 0, kEndBlockNumber);
    EXPECT_EQ(host.files[u"D:\\old.data\\readme"].data, "x");
    EXPECT_FALSE(host.files.count(u"D:\\old.$TEMP"));

    EXPECT_EQ(p.WriteFileBlock("C:\\in\\Makefile", "y", 1, 0), 1);
    EXPECT_TRUE(host.files.count(u"C:\\in\\Makefile.$TEMP"));
    p.WriteFileBlock("C:\\in\\Makefile", nullptr, 0, kEndBlockNumber);
    EXPECT_EQ(host.files[u"C:\\in\\Makefile"].data, "y");
}

TEST_F(Blocks, ReceiverRefusesNamesWhoseTemporaryNameWouldNotFit) {
    // 255 characters + ".c": the temporary name would have 261.
    const std::string name = "C:\\" + std::string(252, 'n') + ".c";
    ASSERT_EQ(name.size(), 257u);
    EXPECT_EQ(p.WriteFileBlock(name, "x", 1, 0), 0);
    EXPECT_EQ(st.transferState.load(), TransferClosed);
    EXPECT_FALSE(host.openPath.has_value());
    EXPECT_EQ(p.WriteFileBlock("", "x", 1, 0), 0);
}

TEST_F(Blocks, ReceiverIgnoresBlocksWithoutAnOpenFile) {
    EXPECT_EQ(p.WriteFileBlock("C:\\a.txt", "x", 1, 5), 0);
    EXPECT_EQ(p.WriteFileBlock("C:\\a.txt", "x", 1, -1), 0);
    EXPECT_EQ(p.WriteFileBlock("C:\\a.txt", "x", 1, 1000000), 0);
    EXPECT_TRUE(host.files.empty());
    // A sending file that happens to be open is not written to.
    host.files[u"C:\\src"] = FakeFile{Pattern(3000), {}};
    CopyBounded<char16_t>(st.sourceName, kPathUnits, u"C:\\src");
    ASSERT_EQ(p.SendFileBlock(BlockKind::FR, 0), kBlockSent);
    EXPECT_EQ(p.WriteFileBlock("C:\\src", "x", 1, 1), 0);
    EXPECT_EQ(host.files[u"C:\\src"].data, Pattern(3000));
}

TEST_F(Blocks, EndRecordAfterAFailedWriteCreatesNothing) {
    host.failWriteAfter = 0;
    EXPECT_EQ(p.WriteFileBlock("C:\\f.txt", "x", 1, 0), 0);
    EXPECT_EQ(st.transferState.load(), TransferFailed);
    p.WriteFileBlock("C:\\f.txt", nullptr, 0, kEndBlockNumber);
    EXPECT_FALSE(host.files.count(u"C:\\f.txt"));
}

TEST_F(Blocks, EmptyFileIsCreatedThroughTheTemporaryName) {
    host.files[u"C:\\e.txt"] = FakeFile{"old", {}};
    const std::string end = EncodeEndRecord(BlockKind::FB, {7, 8, 9});
    EXPECT_EQ(p.WriteFileBlock("C:\\e.txt", end.data() + 8, 24, kEndBlockNumber), 0);
    EXPECT_EQ(host.files[u"C:\\e.txt"].data, "");
    EXPECT_EQ(host.files[u"C:\\e.txt"].times.creation, 7u);
    EXPECT_FALSE(host.files.count(u"C:\\e.$TEMP"));
    EXPECT_FALSE(host.openPath.has_value());

    // The temporary file cannot be created: the old file stays.
    host.files[u"C:\\k.txt"] = FakeFile{"old", {}};
    host.uncreatable.insert(u"C:\\k.$TEMP");
    p.WriteFileBlock("C:\\k.txt", end.data() + 8, 24, kEndBlockNumber);
    EXPECT_EQ(host.files[u"C:\\k.txt"].data, "old");
}

}  // namespace
