// The POSIX layer in-process: the mapping of peer paths into the served
// folders, the code page's refusal of what it cannot hold exactly, and file
// times at their ends.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "posix/codec.h"
#include "posix/path_map.h"

namespace fs = std::filesystem;
using namespace quorbel;
using namespace quorbel::posix;

TEST(PathMap, MapsOnlyPathsThatStayInsideTheirDrive) {
    char name[] = "/tmp/quorbel_map_XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    const fs::path base = name, root = base / "root";
    fs::create_directories(root / "sub");
    fs::create_directory(base / "outside");
    std::ofstream(root / "sub" / "f") << "f";
    fs::create_directory_symlink(root / "sub", root / "in");
    fs::create_directory_symlink(base / "outside", root / "out");
    fs::create_directory_symlink("../outside", root / "back");
    fs::create_symlink(root / "loop", root / "loop");
    fs::create_symlink(base / "nowhere", root / "dangling");

    PathMap map;
    std::string why;
    EXPECT_FALSE(map.AddDrive('1', root, why));
    EXPECT_FALSE(map.AddDrive('D', root / "sub" / "f", why)) << "a file is no drive";
    ASSERT_TRUE(map.AddDrive('C', root, why)) << why;
    EXPECT_FALSE(map.AddDrive('c', base, why)) << "a letter serves once";
    const std::string r = fs::canonical(root);
    const std::pair<u16, std::string> cases[] = {
        {u"C:\\", r}, {u"c:\\sub\\f", r + "/sub/f"}, {u"C:\\\\sub\\\\f\\", r + "/sub/f"},
        {u"C:\\in\\f", r + "/sub/f"}, {u"C:\\in", r + "/in"}, {u"C:\\new\\deeper\\x", r + "/new/deeper/x"},
        {u"C:\\日本語", r + "/日本語"},
        // Refused: up and out, links leading out (also relative ones),
        // links that lead nowhere, other drives and other forms.
        {u"C:\\..", ""}, {u"C:\\sub\\..\\..\\outside", ""}, {u"C:\\.", ""}, {u"C:\\...", ""},
        {u"C:\\sub/../../outside", ""}, {u"C:\\out", ""}, {u"C:\\out\\secret", ""}, {u"C:\\back\\x", ""},
        {u"C:\\dangling", ""}, {u"C:\\dangling\\x", ""}, {u"C:\\loop\\x", ""}, {u"D:\\sub", ""},
        {u"C:sub", ""}, {u"\\\\host\\share", ""}, {u"", ""}, {u"C:\\a\uFFFD", ""}, {u"C:\\a\nb", ""},
        {u16(u"C:\\a\0b", 6), ""},
    };
    for (const auto& [path, want] : cases)
        EXPECT_EQ(map.Map(path).value_or(""), want) << ToUtf8Lossy(path);
    fs::remove_all(base);
}

TEST(FileTimes, ClampWhereTheOtherSideEnds) {
    EXPECT_EQ(ToFileTime(0, 100), 116444736000000001u);
    EXPECT_EQ(FromFileTime(116444736000000001u).tv_nsec, 100);
    // The year 31000 and past any end, and before 1601; 0 is "not known".
    EXPECT_EQ(ToFileTime(915'000'000'000, 999'999'999), uint64_t(INT64_MAX));
    EXPECT_EQ(ToFileTime(INT64_MAX, 0), uint64_t(INT64_MAX));
    EXPECT_EQ(ToFileTime(INT64_MIN, 0), 0u);
    EXPECT_EQ(FromFileTime(UINT64_MAX).tv_sec, FromFileTime(INT64_MAX).tv_sec);
    EXPECT_EQ(FromFileTime(0).tv_nsec, UTIME_OMIT);
}

TEST(IconvCodec, HoldsOnlyWhatComesBackUnchanged) {
    IconvCodec codec;
    EXPECT_FALSE(codec.Open("NO-SUCH-PAGE"));
    ASSERT_TRUE(codec.Open("932"));
    EXPECT_EQ(codec.Name(), "CP932");
    EXPECT_EQ(codec.ToAnsi(u"日本語.txt"), "\x93\xfa\x96\x7b\x8c\xea.txt");
    EXPECT_EQ(codec.FromAnsi("\x93\xfa\x96\x7b\x8c\xea.txt"), u"日本語.txt");
    // Nothing, not a look-alike: U+00A5 would come back as the backslash,
    // U+301C as U+FF5E; an emoji and a lone surrogate have no byte at all.
    for (const u16& text : {u16(u"a\u00a5b"), u16(u"\u301c"), u16(u"😀"), u16(1, char16_t(0xD800))}) {
        EXPECT_FALSE(codec.Holds(text));
        EXPECT_EQ(codec.ToAnsi(text), "");
    }
    // Bytes the code page does not define, and a cut pair, become U+FFFD.
    EXPECT_EQ(codec.FromAnsi("a\x80z\x93"), u"a\uFFFDz\uFFFD");
    EXPECT_FALSE(FromUtf8("\xC0\x80").has_value()) << "overlong";
    EXPECT_FALSE(FromUtf8("\xED\xA0\x80").has_value()) << "a surrogate";
    EXPECT_EQ(FromUtf8("\xF0\x9F\x98\x80").value_or(u""), u"😀") << "a pair";
}
