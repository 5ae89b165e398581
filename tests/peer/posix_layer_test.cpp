// The POSIX layer in-process: peer paths beneath the served folders, the
// code page's refusal of what it cannot hold, file times, signals and waits.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>

#include "linux/host/codec.h"
#include "linux/host/net.h"
#include "linux/host/path_map.h"

namespace fs = std::filesystem;
using namespace quorbel;
using namespace quorbel::posix;

TEST(PathRaces, PathsResolveBeneathTheirDriveAndNeverThroughALink) {
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
    const std::string r = fs::canonical(root);

    for (const bool stepByStep : {false, true}) {
        PathMap map(stepByStep);
        std::string why;
        EXPECT_FALSE(map.AddDrive('1', root, why));
        EXPECT_FALSE(map.AddDrive('D', root / "sub" / "f", why)) << "a file is no drive";
        ASSERT_TRUE(map.AddDrive('C', root, why)) << why;
        EXPECT_FALSE(map.AddDrive('c', base, why)) << "a letter serves once";
        auto where = [&](u16view path, int error = 0) -> std::string {  // the real folder and name, or the error
            const std::optional<Place> place = map.Locate(path, error);
            const fs::path folder = "/proc/self/fd/" + std::to_string(place ? place->folder.Get() : -1);
            return place ? fs::read_symlink(folder).string() + "|" + place->name : strerrorname_np(error);
        };
        const std::pair<u16, std::string> cases[] = {
            {u"C:\\", r + "|."}, {u"c:\\sub\\f", r + "/sub|f"}, {u"C:\\\\sub\\\\f\\", r + "/sub|f"},
            {u"C:\\日本語", r + "|日本語"}, {u"C:\\new\\deeper\\x", "ENOENT"}, {u"C:\\sub\\f\\x", "ENOTDIR"},
            // A link as the last name is left to the caller, who looks at it
            // without following; on the way, a link is refused, in or out.
            {u"C:\\in", r + "|in"}, {u"C:\\in\\f", "ELOOP"}, {u"C:\\out\\x", "ELOOP"}, {u"C:\\back\\x", "ELOOP"},
            {u"C:\\loop\\x", "ELOOP"},
            // Up and out, other drives and other forms.
            {u"C:\\..", "EINVAL"}, {u"C:\\sub\\..\\..\\outside", "EINVAL"}, {u"C:\\.", "EINVAL"},
            {u"C:\\...", "EINVAL"}, {u"C:\\sub/../../outside", "EINVAL"}, {u"D:\\sub", "EINVAL"}, {u"C:sub", "EINVAL"},
            {u"\\\\host\\share", "EINVAL"}, {u"", "EINVAL"}, {u"C:\\a\uFFFD", "EINVAL"}, {u"C:\\a\nb", "EINVAL"},
            {u16(u"C:\\a\0b", 6), "EINVAL"},
        };
        for (const auto& [path, want] : cases) EXPECT_EQ(where(path), want) << ToUtf8Lossy(path) << stepByStep;
    }
    fs::remove_all(base);
}

TEST(FileTimes, ClampWhereTheOtherSideEnds) {
    // The year 31000 and past any end, and before 1601 (0: "not known").
    EXPECT_EQ(ToFileTime(915'000'000'000, 999'999'999), uint64_t(INT64_MAX));
    EXPECT_EQ(ToFileTime(INT64_MIN, 0), 0u);
    EXPECT_EQ(FromFileTime(UINT64_MAX).tv_sec, FromFileTime(INT64_MAX).tv_sec);
}

TEST(ServerLiveness, ASignalEndsAWaitThatBeginsAfterIt) {
    CatchSignals();
    ::raise(SIGHUP);
    EXPECT_EQ(WaitFor(-1, 0, 60'000), Ready::Signal);
    EXPECT_EQ(CaughtSignal(), SIGHUP);
    ForgetCaughtSignal();
    EXPECT_EQ(WaitFor(-1, 0, 1), Ready::TimedOut) << "nothing is left of the signal";
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
