// quorbel-peer: the Quorbel protocol from the Linux command line, as Server
// ("serve") or as Client (ls, get, put, mkdir).
#include <cstdio>

#include "peer/peer.h"
#include "peer/session.h"

int main(int argc, char** argv) {
    using namespace quorbel::peer;
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "quorbel-peer: %s\nTry 'quorbel-peer --help'.\n", error.c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return kExitDone;
    }
    if (options.version) {
        std::puts(kVersion);
        return kExitDone;
    }
    SetQuiet(options.quiet);
    InstallSignals();
    return options.verb == "serve" ? RunServer(options) : RunClient(options);
}
