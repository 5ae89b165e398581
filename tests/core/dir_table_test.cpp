// Directory records: building the table and reading records into rows.
#include <gtest/gtest.h>

#include "fake_host.h"

using namespace quorbel;
using namespace quorbel::testing;

namespace {

std::vector<std::string> Table(const ProtocolState& st) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < st.dirCount.load(); ++i) out.emplace_back(st.dirTable[i]);
    return out;
}

TEST(DirectoryTable, DriveRecordsComeFirstAndSkipTheListedDrive) {
    auto peer = std::make_unique<Peer>();
    peer->host.drives = {{u'c', kDriveFixed}, {u'd', kDriveCdrom}, {u'z', kDriveRemote},
                         {u'q', kDriveUnknown}, {u'r', kDriveNoRootDir}};
    peer->host.folders[u"C:\\"] = {Entry(u"boot.ini", kAttrArchive, 211)};
    peer->protocol.BuildDirectoryTable(u"C:\\");
    EXPECT_EQ(Table(peer->state()), (std::vector<std::string>{
                                        "DR000000d:\\,,,3",
                                        "DR000001z:\\,,,5",
                                        "DR000002boot.ini,2024/03/05 09:07,211,8",
                                        "DR999999",
                                    }));
    // Not a drive root: no drive records.
    peer->host.folders[u"C:\\data"] = {};
    peer->protocol.BuildDirectoryTable(u"C:\\data");
    EXPECT_EQ(Table(peer->state()), std::vector<std::string>{"DR999999"});
    EXPECT_EQ(peer->host.listedFolders.back(), u"C:\\data");
}

TEST(DirectoryTable, EntryKindsAndSizes) {
    auto peer = std::make_unique<Peer>();
    peer->host.folders[u"C:\\w"] = {
        Entry(u".", kAttrDirectory), Entry(u"..", kAttrDirectory),
        Entry(u"plain", kAttrDirectory, 4096), Entry(u"hidden", kAttrDirectory | 0x2, 0),
        Entry(u"a.log", kAttrArchive, 10240), Entry(u"z.cmp", kAttrCompressed, 5),
        Entry(u"raw", 0x80, 7),
    };
    FolderEntry unreadable = Entry(u"gone.txt", kAttrArchive, 99);
    unreadable.sizeKnown = false;
    peer->host.folders[u"C:\\w"].push_back(unreadable);
    peer->protocol.BuildDirectoryTable(u"C:\\w");
    EXPECT_EQ(Table(peer->state()), (std::vector<std::string>{
                                        "DR000000.,2024/03/05 09:07,,0",
                                        "DR000001..,2024/03/05 09:07,,0",
                                        "DR000002plain,2024/03/05 09:07,,1",
                                        "DR000003hidden,2024/03/05 09:07,0,1",
                                        "DR000004a.log,2024/03/05 09:07,10K,8",
                                        "DR000005z.cmp,2024/03/05 09:07,5,7",
                                        "DR000006raw,2024/03/05 09:07,7,9",
                                        "DR000007gone.txt,2024/03/05 09:07,,8",
                                        "DR999999",
                                    }));
}

TEST(DirectoryTable, AtMost1023RecordsThenTheEndRecord) {
    auto peer = std::make_unique<Peer>();
    std::vector<FolderEntry> entries;
    for (int i = 0; i < 2000; ++i) entries.push_back(Entry(u"n" + FromAscii(std::to_string(i)), kAttrArchive, 1));
    peer->host.folders[u"C:\\"] = entries;
    for (char16_t d = u'd'; d <= u'z'; ++d) peer->host.drives[d] = kDriveFixed;  // 23 drive records
    peer->protocol.BuildDirectoryTable(u"C:\\");
    const ProtocolState& st = peer->state();
    ASSERT_EQ(st.dirCount.load(), 1024);
    EXPECT_STREQ(st.dirTable[22], "DR000022z:\\,,,2");
    EXPECT_STREQ(st.dirTable[23], "DR000023n0,2024/03/05 09:07,1,8");
    EXPECT_STREQ(st.dirTable[1022], "DR001022n999,2024/03/05 09:07,1,8");
    EXPECT_STREQ(st.dirTable[1023], "DR999999");
}

TEST(DirectoryTable, RecordThatWouldPass255BytesIsLeftOutWhole) {
    auto peer = std::make_unique<Peer>();
    // 120 two-byte characters: 120 wide units but 240 ANSI bytes, which with
    // header and fields pass 255.
    const u16 longName = u16(120, u'\u3042') + u".txt";
    // The longest name that still fits: 255 - 8 - ",2024/03/05 09:07,1,8".size().
    const std::size_t room = 255 - 8 - std::string(",2024/03/05 09:07,1,8").size();
    const u16 fits(room, u'f');
    peer->host.folders[u"C:\\w"] = {Entry(u"a", kAttrArchive, 1), Entry(longName, kAttrArchive, 1),
                                    Entry(fits, kAttrArchive, 1), Entry(fits + u"g", kAttrArchive, 1),
                                    Entry(u"b", kAttrArchive, 1)};
    peer->protocol.BuildDirectoryTable(u"C:\\w");
    auto table = Table(peer->state());
    ASSERT_EQ(table.size(), 4u);
    EXPECT_EQ(table[0], "DR000000a,2024/03/05 09:07,1,8");
    EXPECT_EQ(table[1].size(), 255u);
    EXPECT_EQ(table[1].substr(0, 9), "DR000001f");
    EXPECT_EQ(table[2], "DR000002b,2024/03/05 09:07,1,8");
    EXPECT_EQ(table[3], "DR999999");
}

TEST(DirectoryTable, TwoByteNamesTravelIntact) {
    Link link;
    link.server->state().autoListing = 1;
    const u16 name = u"\u3042\u30A2 memo.txt";
    link.server->host.folders[u"C:\\"] = {Entry(name, kAttrArchive, 3)};
    link.client->protocol.StartListing();
    link.Pump();
    ASSERT_EQ(link.client->host.rows.size(), 1u);
    EXPECT_EQ(link.client->host.rows[0].name, name);
}

TEST(RemoteRecord, CommaInANameShiftsTheFields) {
    FakeCodec codec;
    RemoteRow row;
    const std::string text = "a,b.txt,2024/03/05 09:07,153M,8";
    ASSERT_TRUE(ParseRemoteRecord(text.data(), text.size(), codec, row));
    EXPECT_EQ(row.name, u"a");
    EXPECT_EQ(row.date, u"b.txt");
    EXPECT_EQ(row.size, u"2024/03/05 09:07");
    EXPECT_EQ(row.kind, 153);  // leading digits of "153M,8"
}

TEST(RemoteRecord, FieldsAndLimits) {
    FakeCodec codec;
    RemoteRow row;
    auto parse = [&](const std::string& t) { return ParseRemoteRecord(t.data(), t.size(), codec, row); };
    EXPECT_TRUE(parse("d:\\,,,3"));
    EXPECT_EQ(row.name, u"d:\\");
    EXPECT_EQ(row.date, u"");
    EXPECT_EQ(row.kind, 3);
    EXPECT_TRUE(parse("x,,,"));
    EXPECT_EQ(row.kind, 0);
    EXPECT_TRUE(parse("x,,,abc"));
    EXPECT_EQ(row.kind, 0);
    EXPECT_TRUE(parse("x,,,99999999999999999"));
    EXPECT_EQ(row.kind, INT32_MAX);

    EXPECT_FALSE(parse(""));
    EXPECT_FALSE(parse("x,y,z"));
    EXPECT_FALSE(parse(",y,z,1"));
    EXPECT_TRUE(parse(std::string(259, 'n') + ",d,s,1"));
    EXPECT_FALSE(parse(std::string(260, 'n') + ",d,s,1"));
    EXPECT_TRUE(parse("n," + std::string(63, 'd') + "," + std::string(63, 's') + "," + std::string(63, '1')));
    EXPECT_FALSE(parse("n," + std::string(64, 'd') + ",s,1"));
    EXPECT_FALSE(parse("n,d," + std::string(64, 's') + ",1"));
    EXPECT_FALSE(parse("n,d,s," + std::string(64, '1')));

    // Only the given length is read.
    const std::string text = "n,d,s,1";
    EXPECT_FALSE(ParseRemoteRecord(text.data(), 5, codec, row));
}

TEST(RemoteRecord, RowGoesToTheLastRecordNumber) {
    auto peer = std::make_unique<Peer>();
    peer->state().lastRecordNumber = 17;
    const std::string text = "\x82\x80.txt,2024/01/02 03:04,9,9";
    EXPECT_TRUE(peer->protocol.AddRemoteRow(text.data(), static_cast<int32_t>(text.size())));
    ASSERT_EQ(peer->host.rows.size(), 1u);
    EXPECT_EQ(peer->host.rows[0].position, 17);
    EXPECT_EQ(peer->host.rows[0].param, 17);
    EXPECT_EQ(peer->host.rows[0].name, u"\u3000.txt");
    EXPECT_FALSE(peer->protocol.AddRemoteRow(text.data(), -1));
    EXPECT_FALSE(peer->protocol.AddRemoteRow(nullptr, 0));
}

TEST(RecordText, Layouts) {
    EXPECT_EQ(FormatDriveRecord(7, "e:\\", 4), "DR000007e:\\,,,4");
    EXPECT_EQ(FormatEntryRecord(1022, u"x y", u"2024/03/05 09:07", u"", 1), u"DR001022x y,2024/03/05 09:07,,1");
}

}  // namespace
