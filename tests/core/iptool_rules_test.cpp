// The IP tool's batch files and which adapters it offers.
#include <gtest/gtest.h>

#include "core/iptool/adapter_rules.h"
#include "core/iptool/ipbatch.h"

using namespace quorbel;

namespace {

// One byte per unit, "?" for what has none; past ASCII two bytes (a
// double-byte code page) when `wide` is set; nothing at all when `fail`.
class TestCodec : public AnsiCodec {
public:
    bool wide = false, fail = false;
    std::string ToAnsi(u16view text) const override {
        std::string out;
        if (fail) return out;
        for (char16_t c : text) {
            if (wide && c >= 0x80) out.append("\x82\xA0");
            else out.push_back(c <= 0xFF ? char(c) : '?');
        }
        return out;
    }
    u16 FromAnsi(std::string_view bytes) const override { return u16(bytes.begin(), bytes.end()); }
};

const u16view kStartup = u"C:\\Quorbel";

std::array<u16view, 8> Fields(u16view a, u16view b, u16view c, u16view d, u16view m1 = u"255") {
    return {a, b, c, d, m1, u"255", u"255", u"0"};
}

TEST(IpBatch, FixedAndDhcpFiles) {
    TestCodec codec;
    auto f = MakeIpBatchFile(kStartup, u"Ethernet", false, Fields(u"192", u"168", u"1", u"10"), codec);
    ASSERT_EQ(f.status, BatchStatus::kOk);
    EXPECT_EQ(f.path, u"C:\\Quorbel\\ipaddress\\Ethernet_192_168_1_10.bat");
    EXPECT_EQ(f.bytes, "netsh interface ip set address \"Ethernet\" static 192.168.1.10 255.255.255.0\r\n");
    EXPECT_EQ(f.bytes.size(), 77u);
    f = MakeIpBatchFile(kStartup, u"Ethernet", true, Fields(u"", u"", u"", u"", u""), codec);
    EXPECT_EQ(f.fileName, u"Ethernet_auto.bat");
    EXPECT_EQ(f.bytes, "netsh interface ip set address \"Ethernet\" dhcp\r\n");
    EXPECT_EQ(f.bytes.size(), 48u);
    // Fields as read: three characters like _wtoi; the mask is not in the name.
    f = MakeIpBatchFile(kStartup, u"Wi-Fi", false, Fields(u"1234", u"ab", u" ", u"-1", u"300"), codec);
    EXPECT_EQ(f.fileName, u"Wi-Fi_123_0_0_-1.bat");
    EXPECT_EQ(f.bytes, "netsh interface ip set address \"Wi-Fi\" static 123.0.0.-1 300.255.255.0\r\n");
    f = MakeIpBatchFile(kStartup, u"E", false, {u"10", u"0", u"0", u"1", u"255", u"254", u"128", u"0"}, codec);
    EXPECT_EQ(f.bytes, "netsh interface ip set address \"E\" static 10.0.0.1 255.254.128.0\r\n");
    EXPECT_EQ(ReadOctetField(u"   7"), 0);
    EXPECT_EQ(ReadOctetField(u"  7"), 7);
    // The name stays UTF-16, the line goes through the code page.
    f = MakeIpBatchFile(kStartup, u"Ethernet \u00E9\u3042", true, {}, codec);
    EXPECT_EQ(f.fileName, u"Ethernet \u00E9\u3042_auto.bat");
    EXPECT_EQ(f.bytes, "netsh interface ip set address \"Ethernet \xE9?\" dhcp\r\n");
}

TEST(IpBatch, RefusalsComeBeforeAnyFile) {
    TestCodec codec;
    for (std::size_t i = 0; i < 8; ++i) {
        auto fields = Fields(u"192", u"168", u"1", u"10");
        fields[i] = u"";
        EXPECT_EQ(MakeIpBatchFile(kStartup, u"Ethernet", false, fields, codec).status, BatchStatus::kMissingField);
    }
    EXPECT_EQ(MakeIpBatchFile(kStartup, u"", true, {}, codec).status, BatchStatus::kNoAdapter);
    EXPECT_EQ(MakeIpBatchFile(u"C:", u16(256, u'n'), true, {}, codec).status, BatchStatus::kNameTooLong);
    const std::size_t dhcpRoom = kBatchLineMaxBytes - 40;  // the DHCP line around the name
    EXPECT_EQ(MakeIpBatchFile(u"C:", u16(dhcpRoom, u'n'), true, {}, codec).bytes.size(), 255u);
    EXPECT_EQ(MakeIpBatchFile(u"C:", u16(dhcpRoom + 1, u'n'), true, {}, codec).status, BatchStatus::kLineTooLong);
    const u16 folder(259 - 11 - 10, u'f');  // "\ipaddress\" and "x_auto.bat"
    EXPECT_EQ(MakeIpBatchFile(folder, u"x", true, {}, codec).path.size(), 259u);
    EXPECT_EQ(MakeIpBatchFile(folder + u"f", u"x", true, {}, codec).status, BatchStatus::kPathTooLong);
    codec.wide = true;
    EXPECT_EQ(MakeIpBatchFile(u"C:", u16(128, u'\u3042'), true, {}, codec).status, BatchStatus::kNameTooLong);
    codec.fail = true;
    EXPECT_EQ(MakeIpBatchFile(kStartup, u"Ethernet", true, {}, codec).status, BatchStatus::kNoAdapter);
    EXPECT_EQ(u16(BatchStatusMessage(BatchStatus::kMissingField).box.text), u"Please enter all addresses.");
    EXPECT_FALSE(BatchStatusMessage(BatchStatus::kMissingField).warningIcon);
    EXPECT_TRUE(BatchStatusMessage(BatchStatus::kNoAdapter).warningIcon);
    EXPECT_EQ(BatchFilePath(kStartup, u"*.bat"), u"C:\\Quorbel\\ipaddress\\*.bat");
}

TEST(Adapters, WifiDirectAndLoopbackAreLeftOut) {
    EXPECT_EQ(ClassifyAdapter(u"Ethernet", u"Intel(R) Ethernet", u"192.168.1.10"), AdapterListing::kListed);
    for (const char16_t* d : {u"Microsoft Wi-Fi Direct Virtual Adapter #2", u"MICROSOFT WI-FI DIRECT", u"microsoft wi-fi direct"})
        EXPECT_EQ(ClassifyAdapter(u"n", d, u""), AdapterListing::kWifiDirect) << d;
    for (const char16_t* d : {u"Microsoft Wi-Fi Direc", u"Intel (Microsoft Wi-Fi Direct)", u"Microsoft Wi Fi Direct"})
        EXPECT_EQ(ClassifyAdapter(u"n", d, u""), AdapterListing::kListed) << d;
    EXPECT_EQ(ClassifyAdapter(u"lo", u"Software Loopback", u"127.0.0.1"), AdapterListing::kLoopback);
    EXPECT_EQ(ClassifyAdapter(u"odd", u"x", u"127.0.0.15"), AdapterListing::kLoopback);  // a prefix test
    EXPECT_EQ(ClassifyAdapter(u"two", u"x", u"127.0.0.2"), AdapterListing::kListed);
    EXPECT_EQ(ClassifyAdapter(u"v6", u"x", u"::1"), AdapterListing::kListed);
    EXPECT_EQ(ClassifyAdapter(u"", u"x", u"192.168.1.10"), AdapterListing::kEmptyName);
    EXPECT_EQ(ClassifyAdapter(u16(511, u'n'), u"d", u""), AdapterListing::kListed);
    EXPECT_EQ(ClassifyAdapter(u16(512, u'n'), u"d", u""), AdapterListing::kNameTooLong);
}

}  // namespace
