#include "linux/peer/messages.h"

#include <cstdio>

#include "linux/host/codec.h"

namespace quorbel::peer {

namespace {

bool g_quiet = false, g_verbose = false;

}  // namespace

void Error(const std::string& text) { std::fprintf(stderr, "quorbel-peer: %s\n", text.c_str()); }
void Note(const std::string& text) {
    if (!g_quiet) Error(text);
}
void SetQuiet(bool quiet) { g_quiet = quiet; }
bool Quiet() { return g_quiet; }
void SetVerbose(bool verbose) { g_verbose = verbose; }
void Detail(const std::string& text) {
    if (g_verbose) Error(text);
}

std::string BoxLine(u16view caption, u16view text) {
    return posix::ToUtf8Lossy(caption) + ": " + posix::ToUtf8Lossy(text.substr(0, text.find_first_of(u"\r\n")));
}

}  // namespace quorbel::peer
