#include <gtest/gtest.h>

#include "core/command_rules.h"
#include "core/format_rules.h"

using namespace quorbel;

TEST(CopySize, LimitSitsBetween953MAnd954M) {
    EXPECT_TRUE(CopySizeAllowed(u""));  // folder rows
    EXPECT_TRUE(CopySizeAllowed(u"0"));
    EXPECT_TRUE(CopySizeAllowed(u"10239K"));
    EXPECT_TRUE(CopySizeAllowed(u"953M"));
    EXPECT_TRUE(CopySizeAllowed(u"999997000"));
    EXPECT_FALSE(CopySizeAllowed(u"999997001"));
    EXPECT_FALSE(CopySizeAllowed(u"954M"));
    EXPECT_FALSE(CopySizeAllowed(u"3000M"));
    EXPECT_FALSE(CopySizeAllowed(u"15G"));
    EXPECT_FALSE(CopySizeAllowed(u"12T"));
    EXPECT_FALSE(CopySizeAllowed(u"99999999999T"));  // no overflow back under the limit
}

TEST(CopySelection, DriveRowsAreRecognised) {
    EXPECT_TRUE(IsDriveRoot(u"d:\\"));
    EXPECT_FALSE(IsDriveRoot(u"data"));
    EXPECT_FALSE(IsDriveRoot(u"a.b"));
}

TEST(FolderName, ChecksRunInOrder) {
    EXPECT_EQ(CheckFolderName(u"", 7), FolderNameCheck::kEmpty);
    EXPECT_EQ(CheckFolderName(u"new.folder", 7), FolderNameCheck::kBadCharacter);
    EXPECT_EQ(CheckFolderName(u"a\\b", 7), FolderNameCheck::kBadCharacter);
    EXPECT_EQ(CheckFolderName(u".x", 7), FolderNameCheck::kBadCharacter);
    // A bad character is reported before the length.
    EXPECT_EQ(CheckFolderName(u16(300, u'.'), 7), FolderNameCheck::kBadCharacter);
    EXPECT_EQ(CheckFolderName(u"new", 7), FolderNameCheck::kAccepted);
    EXPECT_EQ(CheckFolderName(u"   ", 7), FolderNameCheck::kAccepted);  // blanks pass
    EXPECT_EQ(CheckFolderName(u"a/b:c", 7), FolderNameCheck::kAccepted);  // only "." and "\" are checked
}

TEST(FolderName, LengthBudgetFollowsTheLocalPath) {
    const u16 cData = u"C:\\data";
    ASSERT_EQ(cData.size(), 7u);
    EXPECT_EQ(CheckFolderName(u16(241, u'n'), cData.size()), FolderNameCheck::kAccepted);
    EXPECT_EQ(CheckFolderName(u16(242, u'n'), cData.size()), FolderNameCheck::kTooLong);
    EXPECT_EQ(CheckFolderName(u16(245, u'n'), 3), FolderNameCheck::kAccepted);
    EXPECT_EQ(CheckFolderName(u16(246, u'n'), 3), FolderNameCheck::kTooLong);
    // A local path at or over the budget leaves room for nothing.
    EXPECT_EQ(CheckFolderName(u"n", 247), FolderNameCheck::kAccepted);
    EXPECT_EQ(CheckFolderName(u"n", 248), FolderNameCheck::kTooLong);
    EXPECT_EQ(CheckFolderName(u"n", 259), FolderNameCheck::kTooLong);
}

TEST(FolderName, Messages) {
    EXPECT_EQ(FolderNameMessage(FolderNameCheck::kEmpty), u"文字を入力して下さい");
    EXPECT_EQ(FolderNameMessage(FolderNameCheck::kBadCharacter), u"入力文字にエラー！");
    EXPECT_EQ(FolderNameMessage(FolderNameCheck::kTooLong), u"入力文字にエラー！");
    EXPECT_EQ(FolderNameMessage(FolderNameCheck::kAccepted), u"");
    EXPECT_EQ(u16view(kFolderNameCaption), u"Folder");
}

TEST(NewFolderPath, JoinsWithOneBackslashEvenAtARoot) {
    EXPECT_EQ(NewFolderPath(u"C:\\data", u"new"), u"C:\\data\\new");
    EXPECT_EQ(NewFolderPath(u"C:\\", u"new"), u"C:\\\\new");
    u16 folder = u"C:\\" + u16(250, u'a');  // 253
    EXPECT_EQ(NewFolderPath(folder, u"12345")->size(), 259u);
    EXPECT_FALSE(NewFolderPath(folder, u"123456").has_value());
}
