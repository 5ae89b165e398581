#include <gtest/gtest.h>

#include "core/ipbatch.h"

using namespace quorbel;

namespace {

// Latin-1: one byte per unit, "?" for what has no byte.
class Latin1Codec : public AnsiCodec {
public:
    std::string ToAnsi(u16view text) const override {
        std::string out;
        for (char16_t c : text) out.push_back(c <= 0xFF ? char(c) : '?');
        return out;
    }
    u16 FromAnsi(std::string_view bytes) const override {
        u16 out;
        for (unsigned char b : bytes) out.push_back(char16_t(b));
        return out;
    }
};

// Two bytes for everything past ASCII, like a double-byte code page.
class DoubleByteCodec : public Latin1Codec {
public:
    std::string ToAnsi(u16view text) const override {
        std::string out;
        for (char16_t c : text) {
            if (c < 0x80) out.push_back(char(c));
            else out.append("\x82\xA0");
        }
        return out;
    }
};

// A codec that cannot convert anything.
class FailingCodec : public Latin1Codec {
public:
    std::string ToAnsi(u16view) const override { return {}; }
};

const Latin1Codec kLatin1;
const u16view kStartup = u"C:\\Quorbel";

std::array<u16view, 8> Fields(u16view a, u16view b, u16view c, u16view d, u16view m1 = u"255",
                              u16view m2 = u"255", u16view m3 = u"255", u16view m4 = u"0") {
    return {a, b, c, d, m1, m2, m3, m4};
}

}  // namespace

TEST(OctetField, FirstThreeCharactersLikeWtoi) {
    EXPECT_EQ(ReadOctetField(u"192"), 192);
    EXPECT_EQ(ReadOctetField(u"1234"), 123);
    EXPECT_EQ(ReadOctetField(u"abc"), 0);
    EXPECT_EQ(ReadOctetField(u" "), 0);  // present, not missing
    EXPECT_EQ(ReadOctetField(u"-1"), -1);
    EXPECT_EQ(ReadOctetField(u"300"), 300);
    EXPECT_EQ(ReadOctetField(u"  7"), 7);
    EXPECT_EQ(ReadOctetField(u"   7"), 0);  // the digit is past the third character
    EXPECT_EQ(ReadOctetField(u"12x"), 12);
    EXPECT_FALSE(ReadOctetField(u"").has_value());
}

TEST(IpBatch, FixedAddressNameAndBytes) {
    auto f = MakeIpBatchFile(kStartup, u"Ethernet", false, Fields(u"192", u"168", u"1", u"10"), kLatin1);
    ASSERT_EQ(f.status, BatchStatus::kOk);
    EXPECT_EQ(f.fileName, u"Ethernet_192_168_1_10.bat");
    EXPECT_EQ(f.path, u"C:\\Quorbel\\ipaddress\\Ethernet_192_168_1_10.bat");
    EXPECT_EQ(f.bytes, "netsh interface ip set address \"Ethernet\" static 192.168.1.10 255.255.255.0\r\n");
    EXPECT_EQ(f.bytes.size(), 77u);
}

TEST(IpBatch, DhcpNameAndBytesIgnoreTheFields) {
    auto f = MakeIpBatchFile(kStartup, u"Ethernet", true, Fields(u"", u"", u"", u"", u"", u"", u"", u""), kLatin1);
    ASSERT_EQ(f.status, BatchStatus::kOk);
    EXPECT_EQ(f.fileName, u"Ethernet_auto.bat");
    EXPECT_EQ(f.path, u"C:\\Quorbel\\ipaddress\\Ethernet_auto.bat");
    EXPECT_EQ(f.bytes, "netsh interface ip set address \"Ethernet\" dhcp\r\n");
    EXPECT_EQ(f.bytes.size(), 48u);
}

TEST(IpBatch, FieldValuesAsRead) {
    auto f = MakeIpBatchFile(kStartup, u"Wi-Fi", false, Fields(u"1234", u"ab", u" ", u"-1", u"300"), kLatin1);
    ASSERT_EQ(f.status, BatchStatus::kOk);
    EXPECT_EQ(f.fileName, u"Wi-Fi_123_0_0_-1.bat");
    EXPECT_EQ(f.bytes, "netsh interface ip set address \"Wi-Fi\" static 123.0.0.-1 300.255.255.0\r\n");
}

TEST(IpBatch, MaskIsNotInTheName) {
    auto a = MakeIpBatchFile(kStartup, u"Ethernet", false, Fields(u"10", u"0", u"0", u"5"), kLatin1);
    auto b = MakeIpBatchFile(kStartup, u"Ethernet", false,
                             Fields(u"10", u"0", u"0", u"5", u"255", u"0", u"0", u"0"), kLatin1);
    EXPECT_EQ(a.fileName, b.fileName);
    EXPECT_NE(a.bytes, b.bytes);
}

TEST(IpBatch, AnyEmptyFieldRefusesAFixedAddress) {
    for (std::size_t i = 0; i < 8; ++i) {
        auto fields = Fields(u"192", u"168", u"1", u"10");
        fields[i] = u"";
        auto f = MakeIpBatchFile(kStartup, u"Ethernet", false, fields, kLatin1);
        EXPECT_EQ(f.status, BatchStatus::kMissingField) << i;
        EXPECT_TRUE(f.bytes.empty());
    }
}

TEST(IpBatch, NoRowOrNoAnsiForm) {
    EXPECT_EQ(MakeIpBatchFile(kStartup, u"", true, {}, kLatin1).status, BatchStatus::kNoAdapter);
    EXPECT_EQ(MakeIpBatchFile(kStartup, u"Ethernet", true, {}, FailingCodec()).status, BatchStatus::kNoAdapter);
}

TEST(IpBatch, AdapterNameGoesThroughTheCodec) {
    auto f = MakeIpBatchFile(kStartup, u"Ethernet \u00E9\u3042", true, {}, kLatin1);
    ASSERT_EQ(f.status, BatchStatus::kOk);
    EXPECT_EQ(f.fileName, u"Ethernet \u00E9\u3042_auto.bat");  // the name stays UTF-16
    EXPECT_EQ(f.bytes, "netsh interface ip set address \"Ethernet \xE9?\" dhcp\r\n");
}

TEST(IpBatch, LimitsRefuseInsteadOfCutting) {
    // Row text: 255 characters pass the row limit, 256 do not.
    EXPECT_EQ(MakeIpBatchFile(u"C:", u16(256, u'n'), true, {}, kLatin1).status, BatchStatus::kNameTooLong);
    // ANSI bytes: 128 characters of two bytes each are over 255 bytes.
    EXPECT_EQ(MakeIpBatchFile(u"C:", u16(128, u'\u3042'), true, {}, DoubleByteCodec()).status,
              BatchStatus::kNameTooLong);
    // Line: "netsh ... \"" + name + "\" dhcp\r\n" is 40 bytes plus the name.
    const std::size_t dhcpRoom = kBatchLineMaxBytes - 40;
    EXPECT_EQ(MakeIpBatchFile(u"C:", u16(dhcpRoom, u'n'), true, {}, kLatin1).status, BatchStatus::kOk);
    EXPECT_EQ(MakeIpBatchFile(u"C:", u16(dhcpRoom, u'n'), true, {}, kLatin1).bytes.size(), 255u);
    EXPECT_EQ(MakeIpBatchFile(u"C:", u16(dhcpRoom + 1, u'n'), true, {}, kLatin1).status,
              BatchStatus::kLineTooLong);
    // Path: start-up folder + "\ipaddress\" (11) + name; "x_auto.bat" is 10.
    const u16 folder(259 - 11 - 10, u'f');
    EXPECT_EQ(MakeIpBatchFile(folder, u"x", true, {}, kLatin1).status, BatchStatus::kOk);
    EXPECT_EQ(MakeIpBatchFile(folder, u"x", true, {}, kLatin1).path.size(), 259u);
    EXPECT_EQ(MakeIpBatchFile(folder + u"f", u"x", true, {}, kLatin1).status, BatchStatus::kPathTooLong);
}

TEST(IpBatch, Messages) {
    EXPECT_EQ(BatchStatusMessage(BatchStatus::kNoAdapter).text, u"Please select an item.");
    EXPECT_EQ(BatchStatusMessage(BatchStatus::kNoAdapter).caption, u"listbox");
    EXPECT_TRUE(BatchStatusMessage(BatchStatus::kNoAdapter).warningIcon);
    EXPECT_EQ(BatchStatusMessage(BatchStatus::kMissingField).text, u"Please enter all addresses.");
    EXPECT_EQ(BatchStatusMessage(BatchStatus::kMissingField).caption, u"input");
    EXPECT_FALSE(BatchStatusMessage(BatchStatus::kMissingField).warningIcon);
    for (auto s : {BatchStatus::kNameTooLong, BatchStatus::kLineTooLong, BatchStatus::kPathTooLong})
        EXPECT_FALSE(BatchStatusMessage(s).text.empty());
    EXPECT_TRUE(BatchStatusMessage(BatchStatus::kOk).text.empty());
}

TEST(IpBatch, FolderPaths) {
    EXPECT_EQ(BatchFolderPath(kStartup), u"C:\\Quorbel\\ipaddress");
    EXPECT_EQ(BatchSearchPattern(kStartup), u"C:\\Quorbel\\ipaddress\\*.bat");
    EXPECT_EQ(BatchFilePath(kStartup, u"a.bat"), u"C:\\Quorbel\\ipaddress\\a.bat");
    // "\ipaddress\*.bat" is 16 characters.
    EXPECT_EQ(BatchSearchPattern(u16(259 - 16, u'f'))->size(), 259u);
    EXPECT_FALSE(BatchSearchPattern(u16(259 - 15, u'f')).has_value());
}

TEST(IpBatch, RunAsFailureTextKeepsTheWholePath) {
    const u16 path = u"C:\\" + u16(250, u'p');
    const u16 text = RunAsFailureText(path);
    EXPECT_EQ(text, path + u" could not be started as administrator");
}
