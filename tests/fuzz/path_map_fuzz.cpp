// Arbitrary peer paths resolved beneath the served folders, under ASan and
// UBSan, by openat2 and step by step: whatever resolves is the folder its
// parts name inside the drive's folder, so no link of a tree whose links
// lead in, out, up and round in circles was ever followed.
//
// Input: a first byte whose lowest bit chooses the way of resolving, then
// bytes of the code page (CP932) as the wire carries them; the bytes
// 0x01..0x0F stand for the tree's names and for separators, so that the
// fuzzer walks the links without having to guess their names.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "linux/host/codec.h"
#include "linux/host/path_map.h"

namespace fs = std::filesystem;
using namespace quorbel;
using namespace quorbel::posix;

namespace {

const char* const kTokens[] = {"C:\\", "\\", "..", ".", "in", "out", "up", "parent", "slash",
                               "sub", "deep", "loop", "/", "D:\\", "x"};

fs::path g_base;
PathMap g_maps[2] = {PathMap(false), PathMap(true)};
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
    for (PathMap& map : g_maps)
        if (!map.AddDrive('C', r, why)) std::abort();
    if (!g_codec.Open("CP932")) std::abort();
    std::atexit([] { fs::remove_all(g_base); });
    return fs::canonical(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string root = MakeTree();
    if (size == 0) return 0;
    std::string bytes;
    for (std::size_t i = 1; i < size; ++i)
        bytes += data[i] >= 1 && data[i] <= 15 ? kTokens[data[i] - 1] : std::string(1, char(data[i]));
    const u16 path = g_codec.FromAnsi(bytes);
    int error = 0;
    const std::optional<Place> place = g_maps[data[0] & 1].Locate(path, error);
    if (!place) return 0;
    // The parts the path names: each but the last must be a folder there.
    std::vector<std::string> parts;
    for (std::size_t at = 3; at <= path.size();) {
        const std::size_t end = std::min(path.find(u'\\', at), path.size());
        if (end > at) parts.push_back(ToUtf8(path.substr(at, end - at)).value_or("/"));
        at = end + 1;
    }
    std::string lexical = root;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) lexical += "/" + parts[i];
    const std::optional<std::string> real = RealPath("/proc/self/fd/" + std::to_string(place->folder.Get()));
    const std::string name = parts.empty() ? "." : parts.back();
    const bool plain = parts.empty() || (name.find('/') == name.npos && name.find_first_not_of('.') != name.npos);
    if (!real || *real != lexical || place->name != name || !plain) std::abort();
    return 0;
}
