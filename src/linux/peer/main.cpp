// quorbel-peer: the Quorbel protocol from the Linux command line, as Server
// ("serve") or as Client (ls, get, put, mkdir).
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "crypto/crypto.h"
#include "linux/peer/exit_codes.h"
#include "linux/peer/messages.h"
#include "linux/peer/peer.h"
#include "linux/peer/waits.h"

namespace {

// What went to standard output must have arrived there (a full disk, a
// closed pipe): a script must not take a cut listing for a whole one.
int Flushed(int code) {
    const bool failedBefore = std::ferror(stdout) != 0;
    errno = 0;
    const bool failedNow = std::fclose(stdout) != 0;
    if (!failedBefore && !failedNow) return code;
    std::fprintf(stderr, "quorbel-peer: cannot write to standard output%s%s\n", errno ? ": " : "",
                 errno ? std::strerror(errno) : "");
    return code == quorbel::peer::kExitDone ? quorbel::peer::kExitLocal : code;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quorbel::peer;
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "quorbel-peer: %s\nTry 'quorbel-peer --help'.\n", error.c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(VerbUsage(options.verb).c_str(), stdout);
        return Flushed(kExitDone);
    }
    if (options.version) {
        std::puts(kVersion);
        return Flushed(kExitDone);
    }
    if (!quorbel::crypto::Start()) {
        std::fputs("quorbel-peer: the libgcrypt it runs with is older than the one it was built for\n", stderr);
        return kExitLocal;
    }
    SetQuiet(options.quiet);
    SetVerbose(options.verbose && !options.quiet);
    InstallSignals();
    return Flushed(options.verb == "serve" ? RunServer(options) : RunClient(options));
}
