#include <gtest/gtest.h>

#include <climits>

#include "core/adapter_rules.h"
#include "core/companion_rules.h"

using namespace quorbel;

TEST(AdapterFilter, WifiDirectByDescriptionPrefixAnyCase) {
    EXPECT_TRUE(IsWifiDirectDescription(u"Microsoft Wi-Fi Direct Virtual Adapter"));
    EXPECT_TRUE(IsWifiDirectDescription(u"Microsoft Wi-Fi Direct Virtual Adapter #2"));
    EXPECT_TRUE(IsWifiDirectDescription(u"MICROSOFT WI-FI DIRECT VIRTUAL ADAPTER"));
    EXPECT_TRUE(IsWifiDirectDescription(u"microsoft wi-fi direct"));
    EXPECT_FALSE(IsWifiDirectDescription(u"Microsoft Wi-Fi Direc"));
    EXPECT_FALSE(IsWifiDirectDescription(u"Intel(R) Wi-Fi 6 AX201 (Microsoft Wi-Fi Direct)"));
    EXPECT_FALSE(IsWifiDirectDescription(u"Microsoft Wi Fi Direct"));
    EXPECT_FALSE(IsWifiDirectDescription(u""));
}

TEST(AdapterFilter, LoopbackByLastAddressPrefix) {
    EXPECT_TRUE(IsLoopbackAddressText(u"127.0.0.1"));
    EXPECT_TRUE(IsLoopbackAddressText(u"127.0.0.15"));
    EXPECT_FALSE(IsLoopbackAddressText(u"127.0.0.2"));
    EXPECT_FALSE(IsLoopbackAddressText(u"::1"));
    EXPECT_FALSE(IsLoopbackAddressText(u"192.168.1.10"));
    EXPECT_FALSE(IsLoopbackAddressText(u""));
}

TEST(AdapterFilter, ClassifiesRows) {
    EXPECT_EQ(ClassifyAdapter(u"Ethernet", u"Intel(R) Ethernet", u"192.168.1.10"), AdapterListing::kListed);
    EXPECT_EQ(ClassifyAdapter(u"Local Area Connection* 1", u"Microsoft Wi-Fi Direct Virtual Adapter", u""),
              AdapterListing::kWifiDirect);
    EXPECT_EQ(ClassifyAdapter(u"Loopback Pseudo-Interface 1", u"Software Loopback Interface 1", u"127.0.0.1"),
              AdapterListing::kLoopback);
    EXPECT_EQ(ClassifyAdapter(u"Odd", u"Something", u"127.0.0.15"), AdapterListing::kLoopback);
    // Only the last address is handed over: 127.0.0.1 followed by fe80::1 is listed.
    EXPECT_EQ(ClassifyAdapter(u"Dual", u"Something", u"fe80::1"), AdapterListing::kListed);
    EXPECT_EQ(ClassifyAdapter(u"Bare", u"No addresses", u""), AdapterListing::kListed);
    EXPECT_EQ(ClassifyAdapter(u"", u"Intel(R) Ethernet", u"192.168.1.10"), AdapterListing::kEmptyName);
    EXPECT_EQ(ClassifyAdapter(u16(511, u'n'), u"d", u""), AdapterListing::kListed);
    EXPECT_EQ(ClassifyAdapter(u16(512, u'n'), u"d", u""), AdapterListing::kNameTooLong);
    // A long description only matters through its prefix.
    EXPECT_EQ(ClassifyAdapter(u"n", u16(2000, u'd'), u""), AdapterListing::kListed);
}

TEST(Companion, NamesDefaultsAndKeyOrder) {
    const char16_t* expected[] = {u"moto_x", u"moto_y", u"id_time", u"pw_time", u"id_wcs", u"pw_wcs"};
    ASSERT_EQ(kCompanionKeyOrder.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) EXPECT_EQ(u16view(kCompanionKeyOrder[i]), expected[i]);
    EXPECT_EQ(u16view(kCompanionSection), u"Setting");
    EXPECT_EQ(u16view(kCompanionFileName), u"zelvane.ini");
    EXPECT_EQ(kDefaultIdTime, 5000);
    EXPECT_EQ(kDefaultPwTime, 5000);
    EXPECT_EQ(u16view(kDefaultAdminId), u"ID");
    EXPECT_EQ(u16view(kDefaultAdminPw), u"PW");
    EXPECT_EQ(kCompanionTextReadMaxChars, 249u);
}

TEST(Companion, PositionIsClampedAtZero) {
    auto p = CompanionPositionFor(100, 20);
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
    p = CompanionPositionFor(500, 300);
    EXPECT_EQ(p.x, 200);
    EXPECT_EQ(p.y, 250);
    p = CompanionPositionFor(300, 50);
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
    p = CompanionPositionFor(-2000, -2000);  // window on a monitor left of the primary one
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
    p = CompanionPositionFor(INT_MIN, INT_MIN);
    EXPECT_EQ(p.x, 0);
    p = CompanionPositionFor(INT_MAX, INT_MAX);
    EXPECT_EQ(p.x, INT_MAX - 300);
    EXPECT_EQ(p.y, INT_MAX - 50);
}

TEST(Companion, TimeFieldsReadLikeWtoi) {
    EXPECT_EQ(ReadCompanionTime(u"5000"), 5000);
    EXPECT_EQ(ReadCompanionTime(u"abc"), 0);
    EXPECT_EQ(ReadCompanionTime(u""), 0);
    EXPECT_EQ(ReadCompanionTime(u16(60, u' ') + u"7"), 7);
    EXPECT_EQ(ReadCompanionTime(u16(61, u' ') + u"7"), 0);  // past the edit's limit
}

TEST(Companion, FilePathBounded) {
    EXPECT_EQ(CompanionFilePath(u"C:\\Quorbel"), u"C:\\Quorbel\\zelvane.ini");
    EXPECT_EQ(CompanionFilePath(u16(259 - 12, u'f'))->size(), 259u);
    EXPECT_FALSE(CompanionFilePath(u16(259 - 11, u'f')).has_value());
}
