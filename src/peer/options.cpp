#include "peer/options.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>

#include "core/base/version.h"

namespace quorbel::peer {

const char kVersion[] = "quorbel-peer " QUORBEL_VERSION_TEXT;

// The defaults it names are those of a default-constructed Options.
std::string Usage() {
    const Options d;
    return "Usage:\n"
        "  quorbel-peer serve --root DIR [--drive D=DIR ...] [--port " + std::to_string(d.port) +
        "] [--id ID --pw PW]\n"
        "                     [--allow-cmd-clients] [--read-only] [--bind ADDRESS]\n"
        "                     [--idle-timeout SECONDS] [--codepage CP] [--plain] [--require-secure]\n"
        "                     [--no-resume] [--quiet]\n"
        "  quorbel-peer [--host H] [--port P] [--cmd | --id ID --pw PW] [--root DIR]\n"
        "               [--codepage CP] [--plain] [--require-secure] [--no-resume] [--quiet] [--tsv]\n"
        "               [--timeout S] VERB ...\n"
        "\n"
        "Verbs of the Client:\n"
        "  ls 'C:\\path'                       list a folder of the peer\n"
        "  get 'C:\\remote\\file'... LOCALDIR   copy files from the peer\n"
        "  get -r 'C:\\remote\\dir' LOCALDIR    copy a folder with its whole tree from the peer\n"
        "  put LOCALFILE... 'C:\\remote\\dir'   copy files to the peer\n"
        "  put -r LOCALDIR 'C:\\remote\\dir'    copy a folder with its whole tree to the peer\n"
        "  mkdir 'C:\\remote\\new'              create a folder on the peer\n"
        "\n"
        "Options:\n"
        "  --root DIR           serve DIR as drive C: (a Client lists it when the Server asks)\n"
        "  --drive D=DIR        serve DIR as drive D: as well\n"
        "  --port N             port to listen on or connect to (serve: 0 picks a free one)\n"
        "  --host H             the Server's name or IPv4 address (default " + d.host + ")\n"
        "  --id ID --pw PW      the login pair (serve: the pair a Client must send)\n"
        "  --cmd                connect without the login, as Quorbel.exe /CMD\n"
        "  --allow-cmd-clients  serve Clients that did not log in as well\n"
        "  --read-only          serve: refuse to receive files and to create folders\n"
        "  --bind ADDRESS       serve: listen on this IPv4 address only (default: all)\n"
        "  --idle-timeout S     serve: drop a logged-in peer that sends nothing for S seconds\n"
        "                       (default " + std::to_string(d.idleSeconds) + ")\n"
        "  --codepage CP        the Windows side's ANSI code page (default " + d.codePage + ")\n"
        "  --plain              keep to the plain protocol: no secure session, the pair and\n"
        "                       the files cross the network in the clear (by default two\n"
        "                       programs of ours prove the pair without sending it and\n"
        "                       seal everything after it; a Client falls back to the plain\n"
        "                       login with a peer that has no secure session, but not\n"
        "                       unasked where it had one before)\n"
        "  --require-secure     serve: refuse plain logins and serve nothing before a secure\n"
        "                       one; Client: never fall back to the plain login\n"
        "  --no-resume          start a cut copy over instead of going on after the part\n"
        "                       received before, and remove that part (by default a copy\n"
        "                       between two programs of ours that a lost connection cut\n"
        "                       keeps it as NAME.$PART and goes on after it next time)\n"
        "  --quiet              no progress, no log, errors only\n"
        "  --tsv                ls: tab-separated name, date, size, kind; in the fast mode\n"
        "                       name, last-write time (UTC, 2026-12-07T14:01:03.1234567Z),\n"
        "                       size in bytes (files only), kind\n"
        "  --timeout S          end an operation that gets no message for S seconds, and a\n"
        "                       listing that takes longer than S plus S/" + std::to_string(kListingRecordsPerTimeout) +
        " per record\n"
        "                       (default " + std::to_string(d.timeout) + ")\n"
        "  --help, --version\n"
        "\n"
        "Exit codes: 0 done, 2 bad usage, 3 connection refused, lost or timed out, or not a\n"
        "Quorbel peer, 4 login refused, 5 NAK from the peer or a file, folder or listing it\n"
        "did not make whole, 6 local I/O error, 129 SIGHUP, 130 SIGINT, 143 SIGTERM.\n";
}

namespace {

bool TakePort(const std::string& text, uint16_t& port) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 65535) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

bool TakeSeconds(const std::string& text, int& seconds) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 1 || value > 999999) return false;
    seconds = int(value);
    return true;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options& o, std::string& error) {
    bool optionsEnd = false, hasId = false, hasPw = false, hasHost = false, hasTimeout = false, serveOnly = false;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i], value;
        if (!optionsEnd && arg == "-r") {
            o.recursive = true;
            continue;
        }
        if (optionsEnd || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const bool inlineValue = equals != std::string::npos;
        if (inlineValue) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        }
        auto needValue = [&]() {
            if (inlineValue) return true;
            if (i + 1 >= argc) return false;
            value = argv[++i];
            return true;
        };
        auto flag = [&](bool& target) {
            target = true;
            return !inlineValue;
        };
        bool ok;
        in_addr address;
        if (arg == "--help") ok = flag(o.help);
        else if (arg == "--version") ok = flag(o.version);
        else if (arg == "--cmd") ok = flag(o.cmd);
        else if (arg == "--allow-cmd-clients") ok = flag(o.allowCmdClients);
        else if (arg == "--plain") ok = flag(o.plain);
        else if (arg == "--require-secure") ok = flag(o.requireSecure);
        else if (arg == "--no-resume") ok = flag(o.noResume);
        else if (arg == "--quiet") ok = flag(o.quiet);
        else if (arg == "--tsv") ok = flag(o.tsv);
        else if (arg == "--read-only") ok = flag(o.readOnly) && (serveOnly = true);
        else if (arg == "--bind")
            ok = needValue() && ::inet_pton(AF_INET, value.c_str(), &address) == 1 &&
                 (o.bind = value, serveOnly = true);
        else if (arg == "--idle-timeout") ok = needValue() && TakeSeconds(value, o.idleSeconds) && (serveOnly = true);
        else if (arg == "--host") ok = needValue() && !value.empty() && (o.host = value, hasHost = true);
        else if (arg == "--port") ok = needValue() && TakePort(value, o.port);
        else if (arg == "--timeout") ok = needValue() && TakeSeconds(value, o.timeout) && (hasTimeout = true);
        else if (arg == "--id") ok = needValue() && (o.id = value, hasId = true);
        else if (arg == "--pw") ok = needValue() && (o.pw = value, hasPw = true);
        else if (arg == "--codepage") ok = needValue() && !value.empty() && (o.codePage = value, true);
        else if (arg == "--root") ok = needValue() && !value.empty() && (o.drives.emplace_back('C', value), true);
        else if (arg == "--drive")
            ok = needValue() && value.size() > 2 && value[1] == '=' &&
                 (o.drives.emplace_back(value[0], value.substr(2)), true);
        else {
            error = "unknown option '" + arg + "'";
            return false;
        }
        if (!ok) {
            error = "bad or missing value for '" + arg + "'";
            return false;
        }
    }
    if (o.help || o.version) return true;
    if (positional.empty()) {
        error = "no verb given (serve, ls, get, put, mkdir)";
        return false;
    }
    o.verb = positional.front();
    o.operands.assign(positional.begin() + 1, positional.end());
    o.hasLogin = hasId && hasPw;
    if (hasId != hasPw) error = "--id and --pw go together";
    else if (o.cmd && o.hasLogin) error = "--cmd is a Client without login: no --id and --pw with it";
    else if (o.requireSecure && (o.plain || o.cmd || o.allowCmdClients))
        error = "--require-secure goes with none of --plain, --cmd and --allow-cmd-clients";
    if (!error.empty()) return false;

    const bool serve = o.verb == "serve";
    const std::size_t wanted = o.verb == "ls" || o.verb == "mkdir" ? 1 : (o.verb == "get" || o.verb == "put") ? 2 : 0;
    if (serve) {
        if (o.drives.empty()) error = "serve needs --root DIR";
        else if (hasHost || o.cmd || hasTimeout) error = "--host, --cmd and --timeout are for the Client verbs";
        else if (!o.hasLogin && !o.allowCmdClients) error = "serve needs --id and --pw, or --allow-cmd-clients";
        else if (!o.operands.empty()) error = "serve takes no operand ('" + o.operands[0] + "')";
        else if (o.recursive) error = "-r is for get and put";
    } else if (wanted == 0) {
        error = "unknown verb '" + o.verb + "'";
    } else if (o.allowCmdClients || serveOnly || o.drives.size() > 1 ||
               (!o.drives.empty() && o.drives[0].first != 'C')) {
        error = "--allow-cmd-clients, --drive, --read-only, --bind and --idle-timeout are for serve";
    } else if (!o.cmd && !o.hasLogin) {
        error = "give the login pair (--id ID --pw PW) or --cmd";
    } else if (o.port == 0) {
        error = "port 0 is only for serve";
    } else if (o.recursive && (wanted != 2 || o.operands.size() != 2)) {
        error = "-r is for get and put, with one folder and a destination";
    } else if (wanted == 1 ? o.operands.size() != 1 : o.operands.size() < 2) {
        error = o.verb + (wanted == 1 ? " takes one path" : " takes one or more files and a destination");
    }
    return error.empty();
}

}  // namespace quorbel::peer
