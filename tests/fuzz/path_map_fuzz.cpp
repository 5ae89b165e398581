// Arbitrary peer paths through the mapping of the served folders, under
// ASan and UBSan: whatever maps must stay inside its drive's folder, through
// every link of a tree whose links lead in, out, up and round in circles.
//
// Input: bytes of the code page (CP932) as the wire carries them; the bytes
// 0x01..0x0F stand for the tree's names and for separators, so that the
// fuzzer walks the links without having to guess their names.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "posix/codec.h"
#include "posix/path_map.h"

namespace fs = std::filesystem;
using namespace quorbel;
using namespace quorbel::posix;

namespace {

const char* const kTokens[] = {"C:\\", "\\", "..", ".", "in", "out", "up", "parent", "slash",
                               "sub", "deep", "loop", "/", "D:\\", "x"};

fs::path g_base;
PathMap g_map;
IconvCodec g_codec;

// The served folder C: and its links; removed when the fuzzer ends.
std::string MakeTree() {
    char name[] = "/tmp/quorbel_map_fuzz_XXXXXX";
    const fs::path r = (g_base = ::mkdtemp(name)) / "root";
    fs::create_directories(r / "sub" / "deep");
    fs::create_directories(g_base / "outside" / "x");
    fs::create_directory_symlink(r / "sub", r / "in");
    fs::create_directory_symlink(g_base / "outside", r / "out");
    fs::create_directory_symlink("../../outside", r / "sub" / "up");
    fs::create_directory_symlink("..", r / "sub" / "parent");
    fs::create_directory_symlink("/", r / "slash");
    fs::create_symlink("loop", r / "loop");
    std::string why;
    if (!g_map.AddDrive('C', r, why) || !g_codec.Open("CP932")) std::abort();
    std::atexit([] { fs::remove_all(g_base); });
    return fs::canonical(r);
}

// The deepest part of a path that exists, resolved; no part may be "." or "..".
std::string ResolvedPrefix(std::string path) {
    for (std::size_t at = 0, end; at < path.size(); at = end) {
        end = std::min(path.find('/', at + 1), path.size());
        const std::string part = path.substr(at + 1, end - at - 1);
        if (part == "." || part == "..") std::abort();
    }
    for (;;) {
        if (std::optional<std::string> real = RealPath(path)) return *real;
        path.resize(path.rfind('/'));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string root = MakeTree();
    std::string bytes;
    for (std::size_t i = 0; i < size; ++i)
        bytes += data[i] >= 1 && data[i] <= 15 ? kTokens[data[i] - 1] : std::string(1, char(data[i]));
    const std::optional<std::string> mapped = g_map.Map(g_codec.FromAnsi(bytes));
    if (mapped && !IsWithin(ResolvedPrefix(*mapped), root)) std::abort();
    return 0;
}
