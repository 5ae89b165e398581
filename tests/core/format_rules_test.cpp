#include <gtest/gtest.h>

#include "core/format_rules.h"

using namespace quorbel;

TEST(SizeText, EachUnitStartsAtTenOfIt) {
    const std::pair<uint64_t, const char16_t*> cases[] = {
        {0, u"0"}, {10239, u"10239"}, {10240, u"10K"}, {10485759, u"10239K"},
        {10485760, u"10M"}, {10737418239ULL, u"10239M"}, {10737418240ULL, u"10G"},
        {10995116277759ULL, u"10239G"}, {10995116277760ULL, u"10T"},
        {~0ULL, u"16777215T"},
    };
    for (auto& [n, text] : cases) EXPECT_EQ(FormatSizeText(n), text) << n;
}

TEST(DateText, FourDigitYearAndLeadingZeros) {
    EXPECT_EQ(FormatDateText({2024, 3, 5, 9, 7}), u"2024/03/05 09:07");
    EXPECT_EQ(FormatDateText({1601, 12, 31, 23, 59}), u"1601/12/31 23:59");
}

TEST(RowImage, TestsRunInTheirOrder) {
    EXPECT_EQ(RowImageIndex(kAttrDirectory, u"."), 0);
    EXPECT_EQ(RowImageIndex(kAttrDirectory, u".."), 0);
    EXPECT_EQ(RowImageIndex(kAttrDirectory | kAttrArchive, u"dir"), 1);
    EXPECT_EQ(RowImageIndex(kAttrCompressed | kAttrArchive, u"a.z"), 8);
    EXPECT_EQ(RowImageIndex(kAttrCompressed, u"a.z"), 7);
    EXPECT_EQ(RowImageIndex(kAttrArchive, u"a.txt"), 8);
    EXPECT_EQ(RowImageIndex(0x80, u"plain"), 9);
    EXPECT_EQ(DriveImageIndex(kDriveFixed), 2);
    EXPECT_EQ(DriveImageIndex(kDriveCdrom), 3);
    EXPECT_EQ(DriveImageIndex(kDriveRemovable), 4);
    EXPECT_EQ(DriveImageIndex(kDriveRemote), 5);
    EXPECT_EQ(DriveImageIndex(kDriveRamdisk), 6);
    EXPECT_EQ(DriveImageIndex(kDriveUnknown), -1);
    EXPECT_EQ(DriveImageIndex(kDriveNoRootDir), -1);
}

TEST(SizeColumn, EmptyOnlyForDotsAndPlainFolders) {
    EXPECT_TRUE(SizeTextIsEmpty(kAttrDirectory, u".."));
    EXPECT_TRUE(SizeTextIsEmpty(kAttrDirectory, u"plain"));
    EXPECT_FALSE(SizeTextIsEmpty(kAttrDirectory | 0x2, u"hidden"));  // 18
    EXPECT_FALSE(SizeTextIsEmpty(kAttrArchive, u"file"));
}

TEST(CompareNoCase, FoldsOnlyAsciiLetters) {
    EXPECT_EQ(CompareNoCase(u"ABC", u"abc"), 0);
    EXPECT_LT(CompareNoCase(u"", u"a"), 0);
    EXPECT_LT(CompareNoCase(u"100", u"10K"), 0);
    EXPECT_LT(CompareNoCase(u"10K", u"9"), 0);
    EXPECT_NE(CompareNoCase(u"\u00C4", u"\u00E4"), 0);       // Ä is not folded
    EXPECT_LT(CompareNoCase(u"_", u"a"), 0);  // "_" (0x5F) sorts before folded "a" (0x61)
}

TEST(ParseLeadingInt, BehavesLikeWtoi) {
    EXPECT_EQ(ParseLeadingInt(u""), 0);
    EXPECT_EQ(ParseLeadingInt(u" "), 0);
    EXPECT_EQ(ParseLeadingInt(u"abc"), 0);
    EXPECT_EQ(ParseLeadingInt(u"123"), 123);
    EXPECT_EQ(ParseLeadingInt(u"  -1x"), -1);
    EXPECT_EQ(ParseLeadingInt(u"+7"), 7);
    EXPECT_EQ(ParseLeadingInt(u"99999999999"), 2147483647);
    EXPECT_EQ(ParseLeadingInt(u"-99999999999"), -2147483647 - 1);
}

TEST(SizeTextBytes, UnitsAndLimits) {
    EXPECT_EQ(SizeTextBytes(u""), 0u);
    EXPECT_EQ(SizeTextBytes(u"953M"), 999292928u);
    EXPECT_EQ(SizeTextBytes(u"954M"), 1000341504u);
    EXPECT_EQ(SizeTextBytes(u"3000M"), 3000ULL << 20);
    EXPECT_EQ(SizeTextBytes(u"15G"), 15ULL << 30);
    EXPECT_EQ(SizeTextBytes(u"12T"), 12ULL << 40);
    EXPECT_EQ(SizeTextBytes(u"10239"), 10239u);
    EXPECT_EQ(SizeTextBytes(u"10K"), 10240u);
}

TEST(IsDriveRoot, ExactlyLetterColonBackslash) {
    EXPECT_TRUE(IsDriveRoot(u"C:\\"));
    EXPECT_TRUE(IsDriveRoot(u"d:\\"));
    EXPECT_FALSE(IsDriveRoot(u"C:"));
    EXPECT_FALSE(IsDriveRoot(u"C:\\a"));
    EXPECT_FALSE(IsDriveRoot(u"C:/"));
    EXPECT_FALSE(IsDriveRoot(u"C\\:"));
    EXPECT_FALSE(IsDriveRoot(u""));
}
