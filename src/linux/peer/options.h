// The command line of quorbel-peer.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/base/limits.h"
#include "core/copy/skip_rule.h"

namespace quorbel::peer {

// A logged-in peer of the Server may stay silent this long unless --idle-timeout says otherwise.
constexpr int kDefaultIdleSeconds = 600;

struct Options {
    std::string verb;                  // serve, ls, get, put, mkdir
    std::vector<std::string> operands; // what follows the verb
    std::string host = "127.0.0.1";
    uint16_t port = kDefaultPort;
    bool hasLogin = false;             // --id and --pw given
    std::string id, pw;
    bool cmd = false, allowCmdClients = false, plain = false, quiet = false, tsv = false;
    bool requireSecure = false;        // no plain login: serve refuses it, a Client never falls back
    bool recursive = false;            // get -r, put -r: a folder with its whole tree
    bool noResume = false;             // a cut copy starts over; its partial file is removed
    SkipRule skip = SkipRule::None;    // get -r, put -r: which existing files are left as they are
    int modifyWindow = 0;              // seconds two last-write times may differ and count as the same
    std::string name;                  // put: the one file's name on the peer ("-" needs it)
    std::vector<std::pair<char, std::string>> drives;  // --root is drive C
    int idleSeconds = kDefaultIdleSeconds;  // serve: --idle-timeout
    bool readOnly = false;             // serve: neither files nor folders are made
    std::string bind;                  // serve: the IPv4 address to listen on, "" for all
    std::string codePage = "CP932";
    int timeout = 60;                  // Client: seconds an operation may go without a message
    bool help = false, version = false;
    bool verbose = false;              // the connection's and the login's steps on stderr
};

// A listing may take --timeout, and this share of it more for each record:
// one that a Server trickles ends after about eleven times --timeout.
constexpr int kListingRecordsPerTimeout = 100;

// False with the reason when the command line cannot be used.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);
std::string Usage();
// The lines of one verb, or all of Usage() for no or an unknown verb.
std::string VerbUsage(const std::string& verb);
extern const char kVersion[];

}  // namespace quorbel::peer
