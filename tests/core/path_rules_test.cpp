#include <gtest/gtest.h>

#include "core/path_rules.h"

using namespace quorbel;

namespace {

RowOpenResult Open(u16view path, u16view name) { return OpenRowPath(path, name); }

}  // namespace

TEST(ParentPath, WalksUpToTheDriveRoot) {
    EXPECT_EQ(ParentPath(u"C:\\data\\work"), u"C:\\data");
    EXPECT_EQ(ParentPath(u"C:\\data"), u"C:\\");
    EXPECT_EQ(ParentPath(u"C:\\"), u"C:\\");  // the root has no ".." row, but stays put
    EXPECT_EQ(ParentPath(u"d:\\a\\b\\c"), u"d:\\a\\b");
}

TEST(ParentPath, FirstCharacterIsNeverExamined) {
    EXPECT_EQ(ParentPath(u"\\data"), u"");
    EXPECT_EQ(ParentPath(u"\\"), u"");
    EXPECT_EQ(ParentPath(u"data"), u"");
    EXPECT_EQ(ParentPath(u"C:"), u"");
    EXPECT_EQ(ParentPath(u""), u"");
    EXPECT_EQ(ParentPath(u"\\\\srv"), u"\\");  // only the first character is left
}

TEST(LooksLikeFile, DotAmongTheLastFourCharacters) {
    EXPECT_TRUE(LooksLikeFile(u"report.txt"));
    EXPECT_TRUE(LooksLikeFile(u"app.old"));
    EXPECT_TRUE(LooksLikeFile(u"a.b"));
    EXPECT_TRUE(LooksLikeFile(u".x"));
    EXPECT_TRUE(LooksLikeFile(u"ab."));
    EXPECT_TRUE(LooksLikeFile(u"x.abc"));   // dot is the fourth from the end
    EXPECT_FALSE(LooksLikeFile(u"x.abcd"));  // dot is the fifth from the end
    EXPECT_FALSE(LooksLikeFile(u"page.html"));
    EXPECT_FALSE(LooksLikeFile(u"README"));
    EXPECT_FALSE(LooksLikeFile(u"new"));
    EXPECT_FALSE(LooksLikeFile(u""));
}

TEST(JoinIntoFolder, SeparatorDependsOnTheOldPathLength) {
    EXPECT_EQ(JoinIntoFolder(u"C:\\", u"new"), u"C:\\new");
    EXPECT_EQ(JoinIntoFolder(u"C:\\data", u"new"), u"C:\\data\\new");
    EXPECT_EQ(JoinIntoFolder(u"C:", u"new"), u"C:\\new");
    EXPECT_EQ(JoinIntoFolder(u"C", u"new"), u"C:\\new");
    EXPECT_EQ(JoinIntoFolder(u"", u"new"), u"new");
    EXPECT_EQ(JoinIntoFolder(u"abcd", u"x"), u"abcd\\x");
}

TEST(JoinIntoFolder, RefusesPathsOver259Characters) {
    u16 base = u"C:\\" + u16(250, u'a');  // 253 characters
    EXPECT_EQ(JoinIntoFolder(base, u"12345")->size(), 259u);
    EXPECT_FALSE(JoinIntoFolder(base, u"123456").has_value());
}

TEST(OpenRowPath, UpAndDownTheTree) {
    auto r = Open(u"C:\\data\\work", u"..");
    EXPECT_EQ(r.outcome, RowOpenOutcome::kNewPath);
    EXPECT_EQ(r.path, u"C:\\data");
    r = Open(r.path, u"..");
    EXPECT_EQ(r.path, u"C:\\");
    r = Open(u"C:\\", u"d:\\");
    EXPECT_EQ(r.outcome, RowOpenOutcome::kNewPath);
    EXPECT_EQ(r.path, u"d:\\");  // written as the row shows it
    r = Open(u"C:\\", u"new");
    EXPECT_EQ(r.outcome, RowOpenOutcome::kNewPath);
    EXPECT_EQ(r.path, u"C:\\new");
    r = Open(u"C:\\data", u"new");
    EXPECT_EQ(r.path, u"C:\\data\\new");
}

TEST(OpenRowPath, SingleDotGoesUpLikeTwo) {
    EXPECT_EQ(Open(u"C:\\data\\work", u".").path, u"C:\\data");
    EXPECT_EQ(Open(u"C:\\data", u".").path, u"C:\\");
    EXPECT_EQ(Open(u"C:\\data", u".").outcome, RowOpenOutcome::kNewPath);
}

TEST(OpenRowPath, FileLikeNamesWarnAndKeepThePath) {
    for (u16view name : {u16view(u"report.txt"), u16view(u"app.old")}) {
        auto r = Open(u"C:\\data", name);
        EXPECT_EQ(r.outcome, RowOpenOutcome::kFileWarning);
        EXPECT_EQ(r.path, u"C:\\data");
    }
    // A file without a dot near its end is entered like a folder.
    auto r = Open(u"C:\\data", u"README");
    EXPECT_EQ(r.outcome, RowOpenOutcome::kNewPath);
    EXPECT_EQ(r.path, u"C:\\data\\README");
}

TEST(OpenRowPath, DriveRowNeedsAllThreeMarks) {
    EXPECT_EQ(Open(u"C:\\", u"e:\\").path, u"e:\\");
    // Not a drive row: "ab\" is entered as a folder name.
    EXPECT_EQ(Open(u"C:\\", u"ab\\").path, u"C:\\ab\\");
}

TEST(OpenRowPath, OverlongJoinLeavesThePaneWhereItWas) {
    u16 base = u"C:\\" + u16(250, u'a');
    auto r = Open(base, u"folder");  // 253 + 1 + 6 = 260
    EXPECT_EQ(r.outcome, RowOpenOutcome::kTooLong);
    EXPECT_EQ(r.path, base);
    r = Open(base, u"fold");  // 258
    EXPECT_EQ(r.outcome, RowOpenOutcome::kNewPath);
    EXPECT_EQ(r.path.size(), 258u);
}

TEST(OpenRowPath, EmptyNameIsIgnored) {
    auto r = Open(u"C:\\data", u"");
    EXPECT_EQ(r.outcome, RowOpenOutcome::kIgnored);
    EXPECT_EQ(r.path, u"C:\\data");
}

TEST(JoinEntryPath, BackslashOnlyWhenMissing) {
    EXPECT_EQ(JoinEntryPath(u"C:\\", u"a.txt"), u"C:\\a.txt");
    EXPECT_EQ(JoinEntryPath(u"C:\\data", u"a.txt"), u"C:\\data\\a.txt");
    EXPECT_EQ(JoinEntryPath(u"", u"a.txt"), u"\\a.txt");
    u16 folder = u"C:\\" + u16(250, u'a');
    EXPECT_EQ(JoinEntryPath(folder, u"12345")->size(), 259u);
    EXPECT_FALSE(JoinEntryPath(folder, u"123456").has_value());
}

TEST(ListingPattern, AppendsDirectly) {
    EXPECT_EQ(ListingPattern(u"C:\\"), u"C:\\\\*");
    EXPECT_EQ(ListingPattern(u"C:\\data"), u"C:\\data\\*");
    EXPECT_EQ(ListingPattern(u16(257, u'a'))->size(), 259u);
    EXPECT_FALSE(ListingPattern(u16(258, u'a')).has_value());
}
