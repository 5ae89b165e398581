#include "linux/peer/options.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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
        "                     [--idle-timeout SECONDS] [--codepage CP] [--plain | --require-secure]\n"
        "                     [--no-resume] [-q|-v]\n"
        "  quorbel-peer [--host H] [--port P] [--cmd | --id ID --pw PW] [--root DIR]\n"
        "               [--codepage CP] [--plain | --require-secure] [--no-resume] [-q|-v] [--tsv]\n"
        "               [--timeout S] VERB ...\n"
        "\n"
        "Verbs of the Client:\n"
        "  ls 'C:\\path'                       list a folder of the peer\n"
        "  get 'C:\\remote\\file'... LOCALDIR   copy files from the peer\n"
        "  get 'C:\\remote\\file' LOCALFILE     one file to that name, '-' to standard output\n"
        "  get -r 'C:\\remote\\dir' LOCALDIR    copy a folder with its whole tree from the peer\n"
        "  put LOCALFILE... 'C:\\remote\\dir'   copy files to the peer\n"
        "  put - 'C:\\remote\\dir' --name NAME  standard input to the peer as NAME\n"
        "  put -r LOCALDIR 'C:\\remote\\dir'    copy a folder with its whole tree to the peer\n"
        "  mkdir 'C:\\remote\\new'              create a folder on the peer\n"
        "\n"
        "Options:\n"
        "  --root DIR           serve DIR as drive C: (a Client lists it when the Server asks)\n"
        "  --drive D=DIR        serve DIR as drive D: as well\n"
        "  -P, --port N         port to listen on or connect to (serve: 0 picks a free one)\n"
        "  --host H             the Server's name or IPv4 address (default " + d.host + ")\n"
        "  --id ID --pw PW      the login pair (serve: the pair a Client must send)\n"
        "  --pw-file FILE       the password from the first line of FILE or a pipe (mode\n"
        "                       600); with --id but no password, QUORBEL_PW, else asked on a\n"
        "                       terminal. Neither the ID nor the password may be empty.\n"
        "                       In cron and scripts use --pw-file or QUORBEL_PW: --pw is\n"
        "                       seen by every user in ps\n"
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
        "  -q, --quiet          no progress, no log, errors only (serve: and failed logins)\n"
        "  -v, --verbose        the steps of the connection and the login as well\n"
        "  --name NAME          put: the file's name on the peer (needed with '-')\n"
        "  -u, --update         get -r, put -r: leave a file that is newer on the receiving\n"
        "                       side, or of the same time and size\n"
        "  --ignore-existing    get -r, put -r: leave every file that exists there\n"
        "  --size-only          get -r, put -r: leave a file of the same size there\n"
        "  --skip-same          get -r, put -r: leave a file of the same size and last-write\n"
        "                       time there\n"
        "  -c, --checksum       get -r, put -r: leave a file of the same size and content\n"
        "                       there (both sides hash their files first; a peer of this\n"
        "                       release)\n"
        "  --modify-window S    with --update and --skip-same: times S seconds apart count\n"
        "                       as the same (2 for FAT)\n"
        "  --tsv                ls: tab-separated name, date, size, kind; in the fast mode\n"
        "                       name, last-write time (UTC, 2026-12-07T14:01:03.1234567Z),\n"
        "                       size in bytes (files only), kind\n"
        "  --timeout S          end an operation that gets no message for S seconds, and a\n"
        "                       listing that takes longer than S plus S/" + std::to_string(kListingRecordsPerTimeout) +
        " per record\n"
        "                       (default " + std::to_string(d.timeout) + ")\n"
        "  -h, --help           this text; after a verb, that verb's usage\n"
        "  -V, --version        the version\n"
        "\n"
        "Exit codes: 0 done, 2 bad usage, 3 connection refused, lost or timed out, or not a\n"
        "Quorbel peer, 4 login refused, 5 NAK from the peer or a file, folder or listing it\n"
        "did not make whole, 6 local I/O error, 129 SIGHUP, 130 SIGINT, 143 SIGTERM (serve: 0).\n";
}

std::string VerbUsage(const std::string& verb) {
    const std::string all = Usage();
    std::string lines;
    const std::string line = "  " + verb + " ", synopsis = "  quorbel-peer " + verb + " ";
    if (verb.empty()) return all;
    bool synopsisGoesOn = false;  // its wrapped lines
    for (std::size_t at = 0, end; at < all.size(); at = end + 1) {
        end = all.find('\n', at);
        const std::string one = all.substr(at, end - at);
        synopsisGoesOn = one.compare(0, synopsis.size(), synopsis) == 0 ||
                         (synopsisGoesOn && one.find_first_not_of(' ') >= synopsis.size());
        if (synopsisGoesOn || one.compare(0, line.size(), line) == 0) lines += one + "\n";
    }
    if (lines.empty()) return all;
    if (verb != "serve")
        lines = "  quorbel-peer [--host H] [-P PORT] [--cmd | --id ID --pw PW] [OPTION...] VERB ...\n" + lines;
    return "Usage:\n" + lines + "\nThe options: quorbel-peer --help\n";
}

namespace {

// A password: the longest first line of a password file that is read, how
// long a pipe's writer has to give it, and how long the prompt waits for
// one typed.
constexpr int kMaxPasswordLineBytes = 1024;
constexpr int kPasswordPipeMs = 30'000;
constexpr int kPasswordPromptMs = 300'000;

bool TakePort(const std::string& text, uint16_t& port) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 65535) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

// The rule of one of the skip options; false for a second one.
bool TakeSkipRule(const std::string& option, SkipRule& rule) {
    if (rule != SkipRule::None) return false;
    rule = option == "--update"            ? SkipRule::Update
           : option == "--ignore-existing" ? SkipRule::IgnoreExisting
           : option == "--size-only"       ? SkipRule::SizeOnly
           : option == "--checksum"        ? SkipRule::Checksum
                                           : SkipRule::SameSizeAndTime;
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

namespace {

// Where an option belongs; one given elsewhere is refused by its own name.
enum class Scope { Any, Serve, Client, Ls, Copy, Put };

const char* ScopeText(Scope scope) {
    switch (scope) {
        case Scope::Serve: return "serve";
        case Scope::Client: return "the Client verbs (ls, get, put, mkdir)";
        case Scope::Ls: return "ls";
        case Scope::Copy: return "get and put";
        case Scope::Put: return "put";
        default: return "";
    }
}

bool Fits(Scope scope, const std::string& verb) {
    switch (scope) {
        case Scope::Serve: return verb == "serve";
        case Scope::Client: return verb != "serve";
        case Scope::Ls: return verb == "ls";
        case Scope::Copy: return verb == "get" || verb == "put";
        case Scope::Put: return verb == "put";
        default: return true;
    }
}

// The first line of a file or a pipe only its owner can read. A FIFO
// without a writer neither holds the open nor the read: it gives nothing.
bool ReadPasswordFile(const std::string& path, std::string& pw, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat st{};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode))) {
        error = "cannot read the password file '" + path + "'" +
                (fd < 0 ? std::string(": ") + std::strerror(errno) : ": neither a file nor a pipe");
        if (fd >= 0) ::close(fd);
        return false;
    }
    if (st.st_mode & 077) {
        ::close(fd);
        error = "the password file '" + path + "' can be read by others: chmod 600 it";
        return false;
    }
    char text[kMaxPasswordLineBytes];
    std::size_t got = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPasswordPipeMs);
    pollfd p{fd, POLLIN, 0};
    while (got < sizeof text && std::memchr(text, '\n', got) == nullptr) {
        const ssize_t n = ::read(fd, text + got, sizeof text - got);
        if (n > 0) {
            got += std::size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            error = "cannot read the password file '" + path + "': " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        // The end, or a pipe whose writer gave nothing more in time: what came is all.
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (n == 0 || left <= 0 || ::poll(&p, 1, int(left)) <= 0) break;
    }
    ::close(fd);
    pw.assign(text, got);
    pw.resize(std::min(pw.find_first_of("\r\n"), pw.size()));
    return true;
}

// The terminal as it was, for a signal that ends the prompt.
termios g_savedTerminal;

void RestoreTerminalAndDie(int signal) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Asks on the terminal without echo; a signal leaves the echo on.
bool PromptPassword(std::string& pw, std::string& error) {
    termios quiet{};
    if (::tcgetattr(STDIN_FILENO, &g_savedTerminal) != 0) {
        error = std::string("cannot ask for the password on the terminal: ") + std::strerror(errno);
        return false;
    }
    quiet = g_savedTerminal;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(signal, RestoreTerminalAndDie);
    std::fputs("Password: ", stderr);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    pollfd p{STDIN_FILENO, POLLIN, 0};
    char text[kMaxPasswordLineBytes] = {};
    const bool typed = ::poll(&p, 1, kPasswordPromptMs) > 0 && ::read(STDIN_FILENO, text, sizeof text - 1) > 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(signal, SIG_DFL);
    std::fputs("\n", stderr);
    pw = text;
    pw.resize(std::min(pw.find_first_of("\r\n"), pw.size()));
    if (!typed) error = "no password typed";
    return typed;
}

const char* ShortOption(const std::string& arg) {
    if (arg == "-h") return "--help";
    if (arg == "-V") return "--version";
    if (arg == "-q") return "--quiet";
    if (arg == "-v") return "--verbose";
    if (arg == "-P") return "--port";
    if (arg == "-u") return "--update";
    if (arg == "-c") return "--checksum";
    return nullptr;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options& o, std::string& error) {
    bool optionsEnd = false, hasId = false, hasPw = false;
    std::string pwFile;
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, Scope>> given;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i], value;
        if (!optionsEnd && arg == "-r") {
            o.recursive = true;
            given.emplace_back(arg, Scope::Copy);
            continue;
        }
        if (!optionsEnd && arg.size() == 2 && arg[0] == '-' && arg[1] != '-') {
            const char* longName = ShortOption(arg);
            if (!longName) {
                error = "unknown option '" + arg + "' (a name that starts with '-' goes after '--')";
                return false;
            }
            arg = longName;
        } else if (optionsEnd || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
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
        auto scoped = [&](Scope scope) {
            given.emplace_back(arg, scope);
            return true;
        };
        bool ok;
        in_addr address;
        if (arg == "--help") ok = flag(o.help);
        else if (arg == "--version") ok = flag(o.version);
        else if (arg == "--cmd") ok = flag(o.cmd) && scoped(Scope::Client);
        else if (arg == "--allow-cmd-clients") ok = flag(o.allowCmdClients) && scoped(Scope::Serve);
        else if (arg == "--plain") ok = flag(o.plain);
        else if (arg == "--require-secure") ok = flag(o.requireSecure);
        else if (arg == "--no-resume") ok = flag(o.noResume);
        else if (arg == "--update" || arg == "--ignore-existing" || arg == "--size-only" || arg == "--skip-same" ||
                 arg == "--checksum") {
            ok = !inlineValue && scoped(Scope::Copy);
            if (ok && !TakeSkipRule(arg, o.skip)) {
                error = "give one of --update, --ignore-existing, --size-only, --skip-same and --checksum";
                return false;
            }
        } else if (arg == "--modify-window")
            ok = needValue() && TakeSeconds(value, o.modifyWindow) && scoped(Scope::Copy);
        else if (arg == "--quiet") ok = flag(o.quiet);
        else if (arg == "--verbose") ok = flag(o.verbose);
        else if (arg == "--name") ok = needValue() && !value.empty() && (o.name = value, scoped(Scope::Put));
        else if (arg == "--tsv") ok = flag(o.tsv) && scoped(Scope::Ls);
        else if (arg == "--read-only") ok = flag(o.readOnly) && scoped(Scope::Serve);
        else if (arg == "--bind")
            ok = needValue() && ::inet_pton(AF_INET, value.c_str(), &address) == 1 &&
                 (o.bind = value, scoped(Scope::Serve));
        else if (arg == "--idle-timeout") ok = needValue() && TakeSeconds(value, o.idleSeconds) && scoped(Scope::Serve);
        else if (arg == "--host") ok = needValue() && !value.empty() && (o.host = value, scoped(Scope::Client));
        else if (arg == "--port") ok = needValue() && TakePort(value, o.port);
        else if (arg == "--timeout") ok = needValue() && TakeSeconds(value, o.timeout) && scoped(Scope::Client);
        else if (arg == "--id") ok = needValue() && (o.id = value, hasId = true);
        else if (arg == "--pw") ok = needValue() && (o.pw = value, hasPw = true);
        else if (arg == "--pw-file") ok = needValue() && !value.empty() && (pwFile = value, true);
        else if (arg == "--codepage") ok = needValue() && !value.empty() && (o.codePage = value, true);
        else if (arg == "--root") ok = needValue() && !value.empty() && (o.drives.emplace_back('C', value), true);
        else if (arg == "--drive")
            ok = needValue() && value.size() > 2 && value[1] == '=' &&
                 (o.drives.emplace_back(value[0], value.substr(2)), value[0] == 'C' || scoped(Scope::Serve));
        else {
            error = "unknown option '" + arg + "'";
            return false;
        }
        if (!ok) {
            error = "bad or missing value for '" + arg + "'";
            return false;
        }
    }
    if (o.help) {
        if (!positional.empty()) o.verb = positional.front();
        return true;
    }
    if (o.version) return true;
    if (positional.empty()) {
        error = "no verb given (serve, ls, get, put, mkdir)";
        return false;
    }
    o.verb = positional.front();
    o.operands.assign(positional.begin() + 1, positional.end());
    const bool serve = o.verb == "serve";
    const std::size_t wanted = o.verb == "ls" || o.verb == "mkdir" ? 1 : (o.verb == "get" || o.verb == "put") ? 2 : 0;
    if (!serve && wanted == 0) {
        error = "unknown verb '" + o.verb + "' (serve, ls, get, put, mkdir)";
        return false;
    }
    for (const auto& [name, scope] : given) {
        if (Fits(scope, o.verb)) continue;
        error = "'" + name + "' is for " + ScopeText(scope) + ", not " + o.verb;
        return false;
    }
    // The password: --pw, --pw-file, QUORBEL_PW, or asked on the terminal.
    const char* fromEnvironment = std::getenv("QUORBEL_PW");
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    o.hasLogin = hasId && (hasPw || !pwFile.empty() || fromEnvironment || terminal);
    if (hasPw && !pwFile.empty()) error = "--pw and --pw-file: give one";
    else if (!hasId && (hasPw || !pwFile.empty())) error = "--id and --pw go together";
    else if (hasId && !o.hasLogin)
        error = "--id needs a password: --pw-file FILE or QUORBEL_PW (or type it on a terminal)";
    else if (o.cmd && o.hasLogin) error = "--cmd is a Client without login: no --id and --pw with it";
    else if (o.requireSecure && (o.plain || o.cmd || o.allowCmdClients))
        error = "--require-secure goes with none of --plain, --cmd and --allow-cmd-clients";
    if (!error.empty()) return false;

    if (serve) {
        if (o.drives.empty()) error = "serve needs --root DIR";
        else if (!o.hasLogin && !o.allowCmdClients) error = "serve needs --id and --pw, or --allow-cmd-clients";
        else if (!o.operands.empty()) error = "serve takes no operand ('" + o.operands[0] + "')";
    } else if (o.drives.size() > 1) {
        error = "a Client has one --root";
    } else if (!o.cmd && !o.hasLogin) {
        error = "give the login pair (--id ID --pw PW) or --cmd";
    } else if (o.port == 0) {
        error = "port 0 is only for serve";
    } else if (o.skip != SkipRule::None && !o.recursive) {
        error = "--update, --ignore-existing, --size-only, --skip-same and --checksum go with -r";
    } else if (o.modifyWindow > 0 && o.skip != SkipRule::Update && o.skip != SkipRule::SameSizeAndTime) {
        error = "--modify-window goes with --update or --skip-same";
    } else if (o.recursive && o.operands.size() != 2) {
        error = "-r takes one folder and a destination";
    } else if (wanted == 1 ? o.operands.size() != 1 : o.operands.size() < 2) {
        error = o.verb + (wanted == 1 ? " takes one path" : " takes one or more files and a destination");
    } else if (!o.name.empty() && (o.recursive || o.operands.size() != 2)) {
        error = "--name names one file: put takes one LOCALFILE with it";
    } else if (o.verb == "put" && o.name.empty() && o.operands[0] == "-") {
        error = "put - needs --name NAME, the file's name on the peer";
    } else if (std::count(o.operands.begin(), o.operands.end() - 1, "-") > (o.verb == "put" ? 1 : 0)) {
        error = o.verb == "put" ? "standard input ('-') is one file" : "'-' is no path of the peer";
    }
    if (!error.empty() || !o.hasLogin) return error.empty();
    // A Server takes no login with an empty half, and serves none with one.
    if (o.id.empty()) {
        error = "the login ID given with --id is empty";
        return false;
    }
    std::string from = "given with --pw";
    if (!hasPw && !pwFile.empty()) {
        if (!ReadPasswordFile(pwFile, o.pw, error)) return false;
        from = "in the first line of '" + pwFile + "'";
    } else if (!hasPw && fromEnvironment) {
        o.pw = fromEnvironment;
        from = "in QUORBEL_PW";
    } else if (!hasPw) {
        if (!PromptPassword(o.pw, error)) return false;
        from = "typed";
    }
    if (o.pw.empty()) error = "the password " + from + " is empty";
    return error.empty();
}

}  // namespace quorbel::peer
