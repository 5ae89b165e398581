// The Client verbs: connect, log in (unless --cmd), run ls, get, put or
// mkdir, and serve the one listing request a Windows Server sends back.
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <tuple>

#include "core/base/path_rules.h"
#include "core/copy/tree_plan.h"
#include "core/panes/row_rules.h"
#include "linux/peer/peer.h"
#include "linux/peer/progress.h"
#include "linux/host/host.h"
#include "linux/host/net.h"

namespace quorbel::peer {

namespace {

constexpr auto kStopWait = std::chrono::seconds(5);
constexpr auto kServedListingLimit = std::chrono::seconds(30);
// The rows a listing can hold: the peer's table, less its end record.
constexpr std::size_t kMaxListedRows = kMaxDirRecords;
// A plain peer takes one message per read and answers neither an end
// record nor a refusal, so nothing it sends tells that it has read one: the
// next request leaves only after this pause, so that the two never arrive
// in one read, where the second would be lost.
constexpr auto kPlainEndRecordGap = std::chrono::milliseconds(kPlainGapMs);

std::string SkipText(TreeSkip reason, std::size_t maxEntries) {
    switch (reason) {
        case TreeSkip::Link: return "left out, a symbolic link";
        case TreeSkip::Special: return "left out, neither a file nor a folder";
        case TreeSkip::BadName: return "left out, not a plain file name";
        case TreeSkip::TooLong: return "left out, its path would pass " + std::to_string(kMaxPath) + " characters";
        case TreeSkip::Incomplete:
            if (maxEntries != kMaxListedRows)
                return "a tree copy takes the first " + std::to_string(maxEntries) +
                       " entries of a folder: more entries may exist";
            return "the listing fills the peer's table (" + std::to_string(kMaxListedRows) +
                   " entries): more entries may exist";
        case TreeSkip::Unlisted: return "not copied: it could not be listed";
        default: return "left out";
    }
}

const char* KindWord(int32_t image) {
    if (image == kImageDot || image == kImageFolder) return "dir";
    if (IsDriveImage(image)) return "drive";
    return "file";
}

// A FILETIME value as ISO 8601 in UTC, to its 100 ns; empty for 0 (unknown)
// or a time the calendar cannot show.
std::string IsoTime(uint64_t fileTime) {
    constexpr uint64_t kTicksPerSecond = 10000000;
    constexpr int64_t kSecondsTo1970 = 11644473600;
    const time_t seconds = time_t(int64_t(fileTime / kTicksPerSecond) - kSecondsTo1970);
    tm utc{};
    if (fileTime == 0 || ::gmtime_r(&seconds, &utc) == nullptr) return "";
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%07uZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, unsigned(fileTime % kTicksPerSecond));
    return text;
}

// One line of ls. An exact row's tab-separated form gives the full time
// and the size in bytes (of a file) in place of the two texts.
void PrintRow(const PaneRow& row, bool tsv) {
    const std::string name = Printable(row.name), date = Printable(row.date), size = Printable(row.size);
    const char* kind = KindWord(row.image);
    if (tsv && row.exact)
        std::printf("%s\t%s\t%s\t%s\n", name.c_str(), IsoTime(row.lastWriteTime).c_str(),
                    std::strcmp(kind, "file") == 0 ? std::to_string(row.bytes).c_str() : "", kind);
    else if (tsv)
        std::printf("%s\t%s\t%s\t%s\n", name.c_str(), date.c_str(), size.c_str(), kind);
    else
        std::printf("%-16s %7s  %-5s  %s\n", date.c_str(), size.c_str(), kind, name.c_str());
}

// A private folder under $TMPDIR for a copy through standard input or
// output: the file waits there whole, and goes with the run.
class Spool {
public:
    static constexpr const char* kFileName = "standard-input";
    Spool() = default;
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;
    ~Spool() {
        if (folder_.empty()) return;
        // What a copy left there (a cut one's part and note too).
        if (DIR* dir = ::opendir(folder_.c_str())) {
            while (const dirent* d = ::readdir(dir))
                if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0)
                    ::unlinkat(::dirfd(dir), d->d_name, 0);
            ::closedir(dir);
        }
        ::rmdir(folder_.c_str());
    }
    const std::string& Folder() const { return folder_; }

    int Make() {
        const char* tmp = std::getenv("TMPDIR");
        std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/quorbel-peer.XXXXXX";
        if (::mkdtemp(name.data()) == nullptr) {
            Error("cannot make a temporary folder in '" + name.substr(0, name.rfind('/')) + "': " +
                  std::strerror(errno));
            return kExitLocal;
        }
        folder_ = name;
        return kExitDone;
    }

    // All of `from` into the spool's file, at most `limit` bytes.
    int TakeFrom(int from, uint64_t limit, const std::string& shown) {
        const std::string path = folder_ + "/" + kFileName;
        const posix::Fd to(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!to) return Failed("cannot create", "'" + path + "'");
        uint64_t total = 0;
        for (;;) {
            const ssize_t n = Move(from, to.Get());
            if (n == 0) return kExitDone;
            if (n < 0) return PendingSignal() ? SignalExitCode(PendingSignal()) : Failed("cannot copy", shown);
            if ((total += uint64_t(n)) > limit) {
                Error(shown + " holds more than the " + std::to_string(limit) + " bytes a copy can move");
                return kExitUsage;
            }
        }
    }

    // The file at `path` whole to `to`.
    int CopyTo(const std::string& path, int to, const std::string& shown) {
        const posix::Fd from(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        // An empty file, where the peer sent its end alone, is not made.
        if (!from) return errno == ENOENT ? kExitDone : Failed("cannot read", "'" + path + "'");
        for (;;) {
            const ssize_t n = Move(from.Get(), to);
            if (n == 0) return kExitDone;
            if (n < 0) return PendingSignal() ? SignalExitCode(PendingSignal()) : Failed("cannot write to", shown);
        }
    }

private:
    static int Failed(const std::string& what, const std::string& shown) {
        Error(what + " " + shown + ": " + std::strerror(errno));
        return kExitLocal;
    }

    // One read and its whole write: the bytes moved, 0 at the end, -1 on a
    // failure or a signal. A pipe's wait ends with a signal, not a time: no
    // peer waits meanwhile.
    static ssize_t Move(int from, int to) {
        char buffer[1 << 16];
        ssize_t n;
        do {
            if (!Ready(from, POLLIN)) return -1;
        } while ((n = ::read(from, buffer, sizeof buffer)) < 0 && (errno == EINTR || errno == EAGAIN));
        for (ssize_t done = 0; n > 0 && done < n;) {
            if (!Ready(to, POLLOUT)) return -1;
            const ssize_t w = ::write(to, buffer + done, std::size_t(n - done));
            if (w < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (w <= 0) return -1;
            done += w;
        }
        return n;
    }
    static bool Ready(int fd, short events) {
        for (;;) {
            if (PendingSignal()) return false;
            if (posix::WaitFor(fd, events, kTickMs) == posix::Ready::Yes) return true;
        }
    }

    std::string folder_;
};

class Client : public posix::HostListener {
public:
    explicit Client(const Options& options) : o_(options) {}
    int Run();

private:
    // A file of this run that the peer kept or lost: its name on the peer,
    // and what was sent.
    struct Arrival {
        u16 name;
        std::string target;
        uint64_t bytes;
    };

    void Note(const std::string& line) override { peer::Note(line); }
    // The answer that a full listing no longer gets fails on purpose.
    void Box(const std::string& line) override {
        if (!full_) Error(line);
    }
    void OperationEnded(const OperationReport& report) override;
    void ClearRemoteRows() override {
        rows_.clear();
        listedRows_ = 0;
    }
    void AddRemoteRow(const PaneRow& row, int32_t) override;
    void CloseAfter(uint32_t) override { cut_ = true; }

    bool RemotePath(const std::string& text, std::size_t maxBytes, u16& path);
    int Open();
    int SendFailed(int error);
    void Disconnect();
    // Before an operation starts: it ends with this side's report of
    // `until`, or of `first` when that does not end as done.
    void Expect(Operation first, Operation until);
    // Runs the operation just started until it ends, the connection does,
    // or the peer has been silent or slow for too long.
    OperationReport Await(Progress* progress);
    // A refusal of `peerPath` (a copy's file) is told apart by what the
    // peer lists there; without one it is named as a refusal alone.
    int Finish(const OperationReport& report, const std::string& what, int& status,
               const u16* peerPath = nullptr);
    // What one listing of its folder tells of a path the peer refused.
    enum class Presence { Unknown, NoFolder, Absent, Present };
    Presence Look(const u16& path);
    std::string RefusalText(const std::string& what, const u16* peerPath);
    // One file of get or put, begun by `start` and followed to its end: 0 to
    // go on with the next file, else the exit code.
    int CopyOne(Progress& progress, const std::string& label, uint64_t size, Operation operation,
                const std::function<int()>& start, const std::string& what, int& status, const u16& peerPath,
                OperationReport* ended = nullptr);
    // The peer's listing of `folder` into rows_, as Finish.
    int ListInto(const u16& folder, const std::string& what, int& status);
    int CheckArrived(const u16& folder, const std::vector<Arrival>& arrived, int& status);
    // A signal not yet acted on, or the one that came while a copy ended
    // done anyway: the run ends at the next step, once a queued copy took
    // that signal's stop.
    int SignalToEnd() const { return PendingSignal() ? PendingSignal() : nextQueued_ ? 0 : interrupted_; }
    // Before a request: the pause after this side's last unanswered message.
    void SpaceFromUnanswered();
    int Linger();
    int List();
    int Get();
    int Put();
    int MakeFolder();
    // get -r and put -r: the tree plan's steps one after the other.
    int CopyTree();
    bool PrepareTree(u16& peerTop, std::string& localTop, posix::PathMap& tree);
    // The first listing of a connection is followed by the Windows Server's
    // own request for this side's listing: served before anything else.
    int AfterListing();
    int ListTreeFolder(TreePlan& plan, const u16& peer, const TreeStep& step, int& status);
    int MakeTreeFolder(TreePlan& plan, const u16& peer, const TreeStep& step, const std::string& localTop,
                       posix::PathMap& tree, int& status);

    const Options& o_;
    Setup setup_;
    std::unique_ptr<posix::PosixHost> host_;
    std::unique_ptr<Protocol> protocol_;
    int fd_ = -1;
    std::string where_;
    std::vector<PaneRow> rows_;
    // The rows of the listing at hand, and where they go instead of rows_
    // (an exact listing has no table to bound them).
    uint64_t listedRows_ = 0;
    std::function<void(const PaneRow&)> sink_;
    bool cut_ = false;
    bool full_ = false;      // the peer sent more records than a listing holds
    std::string why_;        // why this side ended the connection
    std::string local_;      // the local file of the current get
    bool listed_ = false;    // a listing of the peer's came to its end
    bool servedListing_ = false;
    bool lingered_ = false;
    std::optional<Clock::time_point> unansweredAt_;  // to a plain peer
    int interrupted_ = 0;
    Operation awaitedFirst_ = Operation::Unknown, awaitedUntil_ = Operation::Unknown;
    std::optional<OperationReport> report_;
    // The reports of queued copies that ended in the same receive as the
    // one awaited, each for the Await that follows it.
    std::deque<OperationReport> laterReports_;
    // The next copy, asked for before the current one ended (a copy to the
    // peer once its end record left): `queueNext_` sends its request once
    // the core may (true when it did), and its CopyOne then only waits.
    std::function<bool()> queueNext_;
    bool nextQueued_ = false;
};

void Client::AddRemoteRow(const PaneRow& row, int32_t) {
    ++listedRows_;
    if (protocol_->Agreed().exactListing || listedRows_ <= kMaxListedRows) {
        if (sink_) sink_(row);
        // Beyond the table's rows an exact listing is only counted here.
        else if (rows_.size() < kMaxListedRows) rows_.push_back(row);
        return;
    }
    // A record past the table's end: the peer floods. It gets no answer.
    full_ = true;
    why_ = "the peer sent more than the " + std::to_string(kMaxListedRows) + " records a listing holds";
    host_->SetSocket(-1);
}

void Client::OperationEnded(const OperationReport& report) {
    // The last message of a served listing or of a sent file is this side's,
    // as is the refusal that ends a failed or stopped operation.
    if (!protocol_->FastMode() && (!report.ours || report.operation == Operation::Send ||
                                   report.outcome == Outcome::Failed || report.outcome == Outcome::Stopped))
        unansweredAt_ = Clock::now();
    if (!report.ours) {
        servedListing_ = servedListing_ || report.operation == Operation::List;
        return;
    }
    listed_ = listed_ || (report.operation == Operation::List && report.outcome == Outcome::Done);
    if (report.operation == awaitedUntil_ || (report.operation == awaitedFirst_ && report.outcome != Outcome::Done)) {
        if (report_) laterReports_.push_back(report);
        else report_ = report;
    }
}

bool Client::RemotePath(const std::string& text, std::size_t maxBytes, u16& path) {
    std::optional<u16> wide = posix::FromUtf8(text);
    if (!wide || !posix::HasDriveForm(*wide)) {
        Error("'" + text + "' is not a path of the peer such as 'C:\\folder'");
        return false;
    }
    while (wide->size() > 3 && wide->back() == u'\\') wide->pop_back();
    std::optional<std::string> ansi = setup_.codec.Encode(*wide);
    if (!ansi || ansi->size() > maxBytes) {
        Error("'" + text + "' " +
              (ansi ? "is too long for the protocol" : "cannot be written in " + setup_.codec.Name()));
        return false;
    }
    path = std::move(*wide);
    return true;
}

// Where this user's Clients remember the Servers they had secure sessions
// with: $XDG_STATE_HOME/quorbel/secure-peers, or ~/.local/state/...; ""
// when neither is known (then nothing is remembered).
std::string SecurePeersFile(bool makeFolders) {
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    std::string folder;
    if (state && state[0] == '/') {
        folder = state;
    } else if (home && home[0] == '/') {
        folder = std::string(home) + "/.local";
        if (makeFolders) ::mkdir(folder.c_str(), 0700);
        folder += "/state";
    } else {
        return std::string();
    }
    if (makeFolders) ::mkdir(folder.c_str(), 0700);
    folder += "/quorbel";
    if (makeFolders) ::mkdir(folder.c_str(), 0700);
    return folder + "/secure-peers";
}

// The remembered list, at most what kMaxSecurePeers addresses take.
std::string ReadSecurePeers() {
    const std::string path = SecurePeersFile(false);
    std::string list;
    if (FILE* f = path.empty() ? nullptr : std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, f);
        list.assign(buffer, n);
        std::fclose(f);
    }
    return list;
}

void RememberSecurePeer(const std::string& where) {
    const std::string list = WithSecurePeer(ReadSecurePeers(), where);
    const std::string path = SecurePeersFile(true);
    const std::string temporary = path + ".new";
    FILE* f = path.empty() ? nullptr : std::fopen(temporary.c_str(), "wb");
    if (!f) return;
    const bool written = std::fwrite(list.data(), 1, list.size(), f) == list.size();
    if (std::fclose(f) == 0 && written) std::rename(temporary.c_str(), path.c_str());
    else std::remove(temporary.c_str());
}

int Client::Open() {
    std::string why;
    where_ = o_.host + ":" + std::to_string(o_.port);
    // A second round is the plain login with a Server without secure sessions.
    for (;;) {
        Detail("connecting to " + where_);
        fd_ = posix::Connect(o_.host, o_.port, why);
        if (PendingSignal()) return SignalExitCode(PendingSignal());
        if (fd_ < 0) {
            Error("cannot connect to " + where_ + ": " + why);
            return kExitConnection;
        }
        host_->SetSocket(fd_);
        SetReceiveTick(fd_);
        // A Server that stops reading ends a send as silence ends a wait.
        const timeval sendWait{o_.timeout, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &sendWait, sizeof sendWait);
        // A fast-mode get ends each file with two small messages in a row (the
        // answer to its end record, the next request): the second leaves at
        // once rather than after the peer's delayed acknowledgement of the first.
        const int noDelay = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        Detail("connected to " + where_ + (o_.cmd ? "" : ", sending the login as '" + o_.id + "'"));
        protocol_->OnConnectionStarted();
        if (o_.cmd) {
            Note("connected to " + where_ + " without login, plain protocol");
            return kExitDone;
        }
        protocol_->BuildLoginText(setup_.id, setup_.pw);
        char answer[kMaxPlainMessageBytes];
        int ready;
        ssize_t n;
        LoginAnswer taken;
        // A Server of an older release refuses a newer secure offer and takes an older one.
        do {
            if (int error = protocol_->SendLoginRequest()) return SendFailed(error);
            pollfd p{fd_, POLLIN, 0};
            ready = ::poll(&p, 1, kLoginAnswerWaitMs);
            if (PendingSignal()) return SignalExitCode(PendingSignal());
            n = ready > 0 ? ::recv(fd_, answer, sizeof answer, 0) : -1;
            Detail(ready > 0 ? "the login's answer: " + std::to_string(n < 0 ? 0 : n) + " bytes"
                             : "no answer to the login in " + std::to_string(kLoginAnswerWaitMs) + " ms");
            taken = protocol_->TakeLoginAnswer(answer, int32_t(n));
        } while (taken == LoginAnswer::OfferAgain);
        switch (taken) {
            case LoginAnswer::Rejected:
                Error("login refused by " + where_);
                return kExitLogin;
            case LoginAnswer::CommunicationError:
                Error(ready > 0 ? "the peer at " + where_ +
                                      " closed the connection at the login (it may be serving another Client)"
                                : "no answer to the login from " + where_);
                return kExitConnection;
            case LoginAnswer::NotAPeer:
                // A web server's error page, say: its first bytes tell what answered.
                Error(where_ + " answered the login with '" +
                      Printable(setup_.codec.FromAnsi(std::string_view(answer, std::min<ssize_t>(n, 40)))) +
                      "': not a Quorbel peer");
                return kExitConnection;
            case LoginAnswer::PlainOnly:
                if (o_.requireSecure) {
                    Error(where_ + " offers no secure session and --require-secure was given");
                    return kExitLogin;
                }
                // Where a secure session was had before, a path that drops the
                // offer must not get the pair in the clear unasked.
                if (KnowsSecurePeer(ReadSecurePeers(), where_)) {
                    Error(where_ + " no longer offers a secure session (it did before): give --plain to " +
                          "log in there the plain way, the pair and the files in the clear");
                    return kExitLogin;
                }
                Note(where_ + " offers no secure session: logging in the plain way");
                ::close(fd_);
                fd_ = -1;
                ::poll(nullptr, 0, kPlainLoginPauseMs);
                if (PendingSignal()) return SignalExitCode(PendingSignal());
                protocol_->OnConnectionLost();
                protocol_->SetHighestVersion(0);
                continue;
            case LoginAnswer::Accepted:
            case LoginAnswer::OfferAgain:
                break;
        }
        break;
    }
    if (protocol_->Secure()) RememberSecurePeer(where_);
    Note("connected to " + where_ + ", logged in, " +
         (protocol_->Secure() ? "secure session" : protocol_->FastMode() ? "fast mode" : "plain protocol"));
    return kExitDone;
}

// A request that could not go out (its paths were checked before).
int Client::SendFailed(int error) {
    Error("the connection to " + where_ + " failed: " +
          (error > 0 ? std::strerror(error) : error == kNotSecure ? "no secure session" : "request too long"));
    return kExitConnection;
}

void Client::Disconnect() {
    if (fd_ < 0) return;
    // A transfer cut here leaves no temporary file: the core removes it,
    // but for the partial file of a copy that can resume.
    protocol_->OnConnectionLost();
    ::shutdown(fd_, SHUT_WR);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kCloseLingerMs);
    char dropped[16 * 1024];
    while (posix::WaitFor(fd_, POLLIN, MillisecondsUntil(deadline)) == posix::Ready::Yes &&
           ::recv(fd_, dropped, sizeof dropped, MSG_DONTWAIT) > 0) {
    }
    ::close(fd_);
    fd_ = -1;
    host_->SetSocket(-1);
}

void Client::Expect(Operation first, Operation until) {
    awaitedFirst_ = first;
    awaitedUntil_ = until;
    report_.reset();
    if (!laterReports_.empty() && laterReports_.front().operation == until) {
        report_ = laterReports_.front();
        laterReports_.pop_front();
    }
}

OperationReport Client::Await(Progress* progress) {
    const bool copy = awaitedFirst_ == Operation::Send || awaitedFirst_ == Operation::Receive;
    bool stopping = false, resumed = false;
    const std::chrono::milliseconds timeout(std::chrono::seconds(o_.timeout));
    const Clock::time_point start = Clock::now();
    Clock::time_point stopDeadline, quietUntil = start + timeout;
    // What a message moves: a row, bytes, a block's answer, the state.
    auto motion = [&] {
        return std::make_tuple(listedRows_, protocol_->TransferredBytes(), protocol_->Step(),
                               protocol_->OperationState());
    };
    auto seen = motion();
    while (!report_ && fd_ >= 0) {
        if (const int signal = PendingSignal()) {
            ForgetSignal();
            if (interrupted_ == 0) interrupted_ = signal;
            if (progress) progress->Interrupt();
            // The first signal stops a copy in order; anything else ends at once.
            if (copy && !stopping) {
                protocol_->RequestStop();
                stopping = true;
                stopDeadline = Clock::now() + kStopWait;
            } else {
                Disconnect();
            }
            continue;
        }
        if (stopping && Clock::now() >= stopDeadline) {
            Disconnect();
            continue;
        }
        // Neither a silent peer nor one that trickles a listing holds this side.
        const auto listed = timeout * int64_t(listedRows_) / kListingRecordsPerTimeout;
        if (Clock::now() >= quietUntil ||
            (awaitedUntil_ == Operation::List && Clock::now() >= start + timeout + listed)) {
            why_ = Clock::now() >= quietUntil
                       ? "no message from the peer for " + std::to_string(o_.timeout) + " s"
                       : "the listing took longer than " + std::to_string(o_.timeout) + " s and " +
                             std::to_string(o_.timeout * 1000 / kListingRecordsPerTimeout) + " ms per record";
            Disconnect();
            continue;
        }
        // Before a wait: the end record may have left while the copy before ended.
        if (queueNext_ && !stopping && (protocol_->CanQueueCopyTo() || protocol_->CanQueueCopyFrom()))
            nextQueued_ = std::exchange(queueNext_, nullptr)();
        const Receipt receipt = ReceiveOnce(*protocol_, fd_);
        if (copy && !resumed && protocol_->ResumedAt() > 0) {
            resumed = true;
            Note("resuming at " + std::to_string(protocol_->ResumedAt()) + " bytes, kept from a copy cut before");
        }
        // A resumed copy counts what it kept.
        if (progress) progress->Update(protocol_->ResumedAt() + protocol_->TransferredBytes(), protocol_->CopySize());
        if (receipt == Receipt::BadFrame)
            Error(Utf8(texts::kBadFrame.caption) + ": " + Utf8(texts::kBadFrame.text));
        if (receipt == Receipt::Closed || receipt == Receipt::BadFrame || full_) Disconnect();
        if (motion() != seen) {
            seen = motion();
            quietUntil = Clock::now() + timeout;
        }
    }
    OperationReport report;
    report.operation = awaitedFirst_;
    report.outcome = interrupted_ ? Outcome::Stopped : Outcome::Lost;
    if (report_ && !(interrupted_ && report_->outcome == Outcome::Lost)) report = *report_;
    report_.reset();
    return report;
}

// The exit code of an ended operation: 0 to go on, else what the run ends
// with; `status` keeps the first failure of a run that goes on.
int Client::CopyOne(Progress& progress, const std::string& label, uint64_t size, Operation operation,
                    const std::function<int()>& start, const std::string& what, int& status, const u16& peerPath,
                    OperationReport* ended) {
    if (const int signal = SignalToEnd()) return SignalExitCode(signal);
    progress.Begin(label, size);
    Expect(operation, operation);
    SpaceFromUnanswered();
    if (std::exchange(nextQueued_, false)) {
        // Its request left before the last copy's end was answered.
    } else if (int error = start()) {
        return SendFailed(error);
    }
    const OperationReport report = Await(&progress);
    queueNext_ = nullptr;
    progress.End(report.bytes, report.outcome == Outcome::Done);
    if (ended) *ended = report;
    return Finish(report, what, status, &peerPath);
}

Client::Presence Client::Look(const u16& path) {
    const u16 folder = ParentPath(path);
    const u16view name = FileNameOf(path);
    bool found = false;
    sink_ = [&](const PaneRow& row) {
        found = found || (!IsDriveImage(row.image) && CompareNoCase(row.name, name) == 0);
    };
    Expect(Operation::List, Operation::List);
    SpaceFromUnanswered();
    const OperationReport report =
        folder.empty() || protocol_->StartListing(folder) != 0 ? OperationReport{} : Await(nullptr);
    sink_ = nullptr;
    host_->TakeError();
    if (report.outcome != Outcome::Done || full_) return Presence::Unknown;
    AfterListing();
    if (found) return Presence::Present;
    // Every folder but a drive's own lists "." and "..".
    if (listedRows_ == 0 && !IsDriveRoot(folder)) return Presence::NoFolder;
    // A plain listing holds its table's rows: the name may be past them.
    return !protocol_->Agreed().exactListing && listedRows_ >= kMaxListedRows ? Presence::Unknown : Presence::Absent;
}

std::string Client::RefusalText(const std::string& what, const u16* peerPath) {
    // A Windows name never holds * or ?: such a path was meant as a pattern.
    if (what.find_first_of("*?") != std::string::npos) return what + ": wildcards are not expanded on the peer";
    // The refusal itself says no why; a listing of the folder tells whether
    // the peer has what was asked for (a file sent there never is yet),
    // unless the next copy is already under way.
    const bool sent = awaitedFirst_ == Operation::Send;
    switch (peerPath && !nextQueued_ ? Look(*peerPath) : Presence::Unknown) {
        case Presence::NoFolder:
            return (sent ? Utf8(ParentPath(*peerPath)) : what) + ": no such file or folder on the peer";
        case Presence::Absent:
            if (!sent) return what + ": no such file or folder on the peer";
            [[fallthrough]];
        case Presence::Present:
            return what + ": the peer refused (no access, in use, or a folder)";
        default:
            return what + ": the peer refused (no such file or folder, no access, in use, or a folder)";
    }
}

int Client::Finish(const OperationReport& report, const std::string& what, int& status, const u16* peerPath) {
    const std::string cause = host_->TakeError();
    switch (report.outcome) {
        case Outcome::Done:
            return kExitDone;
        case Outcome::Refused:
            Error(RefusalText(what, peerPath));
            if (status == kExitDone) status = kExitRefused;
            return kExitDone;
        case Outcome::Failed:
            if (!cause.empty()) {
                Error(cause);
                if (status == kExitDone) status = kExitLocal;
                return kExitDone;
            }
            Error(what + ": the exchange with the peer failed");
            return kExitConnection;
        case Outcome::Kept:
            // A plain peer sends an end record alone also for a source it lost.
            Error(what + ": the peer sent the end of the file without any data; " +
                  (local_ == "-" ? "nothing was written to standard output" : "'" + local_ + "' was kept as it was"));
            if (status == kExitDone) status = kExitRefused;
            return kExitDone;
        case Outcome::Stopped:
            Error(what + (report.operation == Operation::Send || report.operation == Operation::Receive
                              ? ": copy stopped, nothing of it kept"
                              : ": interrupted"));
            return interrupted_ ? SignalExitCode(interrupted_) : kExitConnection;
        default:
            Error(what + ": " + (why_.empty() ? "the connection to " + where_ + " ended" : why_));
            return kExitConnection;
    }
}

int Client::ListInto(const u16& folder, const std::string& what, int& status) {
    Expect(Operation::List, Operation::List);
    SpaceFromUnanswered();
    if (int error = protocol_->StartListing(folder)) return SendFailed(error);
    const OperationReport report = Await(nullptr);
    // A flood keeps the rows the table holds: a listing cut short, not lost.
    return full_ ? kExitDone : Finish(report, what, status);
}

// A plain peer does not answer an end record: only its listing of the
// folder tells that each file took its name and whole size. It reads one
// message at a time, so it lists only after the last end record was done.
int Client::CheckArrived(const u16& folder, const std::vector<Arrival>& arrived, int& status) {
    const std::string where = Utf8(folder);
    int listed = kExitDone;
    if (int code = ListInto(folder, where, listed)) return code;
    for (const Arrival& a : arrived) {
        const PaneRow* found = nullptr;
        for (const PaneRow& row : rows_) {
            if (IsDriveImage(row.image)) continue;
            if (row.name == a.name) found = &row;
            if (!found && CompareNoCase(row.name, a.name) == 0) found = &row;
        }
        // A size text from 10 K on is cut to its unit: compared as the peer forms it.
        const u16 size = FormatSizeText(a.bytes);
        std::string why;
        if (listed != kExitDone) why = "not confirmed: the peer did not list " + where;
        else if (!found && rows_.size() >= kMaxListedRows)
            why = "not confirmed: the peer's listing of " + where + " holds only its first " +
                  std::to_string(kMaxListedRows) + " entries";
        else if (!found) why = "not on the peer after the copy";
        else if (found->size != size)
            why = "the peer lists it with the size " + Printable(found->size) + ", not " + Utf8(size);
        if (why.empty()) continue;
        Error(a.target + ": " + why);
        if (status == kExitDone) status = kExitRefused;
    }
    return Linger();
}

void Client::SpaceFromUnanswered() {
    if (!unansweredAt_) return;
    // A signal ends the pause early, and is seen by the wait that follows.
    ::poll(nullptr, 0, MillisecondsUntil(*unansweredAt_ + kPlainEndRecordGap));
    unansweredAt_.reset();
}

// A Server asks for this side's listing once a connection, after the first
// listing it served to the end, and whenever its load lets it: that request
// is awaited as the event it is, since a request of this side would cross
// it. Its absence ends the wait only as a silent peer ends an operation.
int Client::Linger() {
    lingered_ = true;
    if (!listed_) return kExitDone;
    const Clock::time_point quiet = Clock::now() + std::chrono::seconds(o_.timeout);
    std::optional<Clock::time_point> limit;  // from the request on
    while (fd_ >= 0 && !servedListing_ && !cut_) {
        if (const int signal = PendingSignal()) return SignalExitCode(signal);
        if (!limit && !protocol_->IsWaiting()) limit = Clock::now() + kServedListingLimit;
        if (MillisecondsUntil(limit ? *limit : quiet) == 0) break;
        const Receipt receipt = ReceiveOnce(*protocol_, fd_);
        if (receipt == Receipt::Closed || receipt == Receipt::BadFrame) break;
    }
    return kExitDone;
}

int Client::List() {
    u16 folder;
    if (!RemotePath(o_.operands[0], kMaxPath, folder)) return kExitUsage;
    if (int code = Open()) return code;
    int status = kExitDone;
    const std::string& what = o_.operands[0];
    // An exact listing may be of any length: its rows are printed as they come.
    const bool exact = protocol_->Agreed().exactListing;
    if (exact) sink_ = [&](const PaneRow& row) { PrintRow(row, o_.tsv); };
    const int code = ListInto(folder, what, status);
    sink_ = nullptr;
    std::fflush(stdout);
    if (exact && (code != kExitDone || status != kExitDone) && listedRows_ > 0)
        Error(what + ": the listing broke off: the " + std::to_string(listedRows_) +
              " entries printed are not all of it");
    if (code != kExitDone) return code;
    if (status != kExitDone) return status;
    for (const PaneRow& row : rows_) PrintRow(row, o_.tsv);
    std::fflush(stdout);
    if (!exact && rows_.size() == kMaxListedRows) {
        Error(what + ": the listing fills the peer's table (" + std::to_string(kMaxListedRows) +
              " entries): more entries may exist");
        status = kExitRefused;
    } else if (listedRows_ == 0 && !IsDriveRoot(folder)) {
        // Every folder but a drive's own lists "." and "..".
        Error(what + ": no such folder (the peer lists nothing for it)");
        status = kExitRefused;
    }
    const int lingered = Linger();
    return status != kExitDone ? status : lingered;
}

int Client::Get() {
    // Several files land in LOCALDIR under the last part of their peer
    // path; one file may take a local name of its own, or go to standard
    // output ("-") once it arrived whole.
    const std::string& dest = o_.operands.back();
    const std::size_t count = o_.operands.size() - 1;
    const bool toOutput = dest == "-";
    std::optional<std::string> real = toOutput ? std::nullopt : posix::RealPath(dest);
    struct stat st{};
    std::string folder, named;  // named: the one file's own local name
    Spool spool;
    if (real && ::stat(real->c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        folder = *real;
    } else if (count > 1) {
        Error("'" + dest + "' is not a folder: " + std::to_string(count) + " files go into one");
        return kExitLocal;
    } else if (toOutput) {
        if (int code = spool.Make()) return code;
        folder = spool.Folder();
    } else {
        // A new file, or one to replace, in a folder that is there.
        const std::size_t slash = dest.rfind('/');
        named = dest.substr(slash == std::string::npos ? 0 : slash + 1);
        real = posix::RealPath(slash == std::string::npos ? "." : slash == 0 ? "/" : dest.substr(0, slash));
        if (named.empty() || named == "." || named == ".." || !posix::FromUtf8(named) || !real ||
            ::stat(real->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            Error("cannot receive '" + dest + "': " +
                  (real && !named.empty() ? "not a file name in a folder that is there" : "no such folder"));
            return kExitLocal;
        }
        folder = *real;
    }
    host_->SetLocalFolder(folder);
    struct File {
        std::string text, local;
        u16 source, name;
    };
    std::vector<File> files;
    int status = kExitDone;
    for (std::size_t i = 0; i < count; ++i) {
        u16 source;
        if (!RemotePath(o_.operands[i], kMaxRequestPath, source)) return kExitUsage;
        const u16view name = FileNameOf(source);
        if (name.empty() || name.find(u'/') != u16view::npos || name.find_first_not_of(u'.') == u16view::npos) {
            Error("'" + o_.operands[i] + "' does not name a file");
            return kExitUsage;
        }
        File f{o_.operands[i], folder + "/" + (named.empty() ? Utf8(name) : named), source,
               named.empty() ? u16(name) : *posix::FromUtf8(named)};
        if (::stat(f.local.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            Error("cannot receive '" + f.local + "': it is a folder");
            status = kExitLocal;
            continue;
        }
        files.push_back(std::move(f));
    }
    if (files.empty()) return status;
    if (int code = Open()) return code;
    Progress progress;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const File& f = files[i];
        local_ = toOutput ? dest : f.local;
        if (i + 1 < files.size())
            queueNext_ = [&, next = &files[i + 1]] { return protocol_->QueueCopyFrom(next->source, next->name) == 0; };
        OperationReport ended;
        if (int code = CopyOne(progress, "get " + f.text + " -> " + (toOutput ? "standard output" : f.local), 0,
                               Operation::Receive, [&] { return protocol_->StartCopyFrom(f.source, f.name); },
                               f.text, status, f.source, &ended))
            return code;
        if (toOutput && ended.outcome == Outcome::Done) {
            // The peer is not held while a reader takes its time.
            Disconnect();
            if (int code = spool.CopyTo(f.local, STDOUT_FILENO, "standard output")) return code;
        }
    }
    return status;
}

int Client::Put() {
    u16 folder;
    if (!RemotePath(o_.operands.back(), kMaxPath, folder)) return kExitUsage;
    struct File {
        std::string text, folder;
        u16 source, name, target;
        uint64_t size;
    };
    std::vector<File> files;
    int status = kExitDone;
    Spool spool;
    for (std::size_t i = 0; i + 1 < o_.operands.size(); ++i) {
        const std::string& text = o_.operands[i];
        std::optional<std::string> real;
        if (text == "-") {
            // Read whole before the connection: the size goes first, and a
            // slow writer holds no peer.
            if (int code = spool.Make()) return code;
            if (int code = spool.TakeFrom(STDIN_FILENO, kMaxFastCopyBytes, "standard input")) return code;
            real = spool.Folder() + "/" + Spool::kFileName;
        } else {
            real = posix::RealPath(text);
        }
        struct stat st{};
        if (!real || ::stat(real->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            // Reported and left out, as a file the peer refuses.
            Error("cannot send '" + text + "': " + (real ? "not a file" : std::strerror(errno)));
            status = kExitLocal;
            continue;
        }
        // The core reads it by its bare name inside its folder: paths of any
        // length work, and a name is never taken for a peer path. The copy
        // is named as the user named it (a link included), or by --name.
        const std::size_t slash = real->rfind('/');
        File f{text == "-" ? "standard input" : text, real->substr(0, std::max<std::size_t>(slash, 1)), {}, {}, {},
               uint64_t(st.st_size)};
        std::optional<u16> source = posix::FromUtf8(real->substr(slash + 1));
        std::optional<u16> name = posix::FromUtf8(o_.name.empty() ? text.substr(text.rfind('/') + 1) : o_.name);
        std::optional<u16> target = name ? JoinEntryPath(folder, *name) : std::nullopt;
        std::optional<std::string> ansi = target ? setup_.codec.Encode(*target) : std::nullopt;
        if (!source || !name || !IsPlainFileName(*name) || !ansi || ansi->size() > kMaxRequestPath) {
            Error("'" + (o_.name.empty() ? text : o_.name) + "' cannot be named on the peer (" +
                  setup_.codec.Name() + ", at most " + std::to_string(kMaxRequestPath) + " bytes, a plain file name)");
            return kExitUsage;
        }
        f.source = std::move(*source);
        f.name = std::move(*name);
        f.target = std::move(*target);
        files.push_back(std::move(f));
    }
    if (files.empty()) return status;
    if (int code = Open()) return code;
    // Before the first copy: a run never ends between a file and its check.
    for (const File& f : files) {
        if (f.size > protocol_->MaxCopyBytes()) {
            Error("'" + f.text + "' is larger than the " + (protocol_->FastMode() ? "fast mode" : "plain protocol") +
                  " can copy (" + std::to_string(protocol_->MaxCopyBytes()) + " bytes)");
            return kExitUsage;
        }
    }
    Progress progress;
    std::vector<Arrival> arrived;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const File& f = files[i];
        if (const int signal = SignalToEnd()) return SignalExitCode(signal);
        host_->SetLocalFolder(f.folder);
        const std::string target = Utf8(f.target);
        if (i + 1 < files.size()) {
            queueNext_ = [&, next = &files[i + 1]] {
                host_->SetLocalFolder(next->folder);
                return protocol_->QueueCopyTo(next->source, next->target) == 0;
            };
        }
        OperationReport ended;
        if (int code = CopyOne(progress, "put " + f.text + " -> " + target, f.size, Operation::Send,
                               [&] { return protocol_->StartCopyTo(f.source, f.target); }, target, status, f.target,
                               &ended))
            return code;
        // A later file of the same name replaces an earlier one.
        arrived.erase(std::remove_if(arrived.begin(), arrived.end(), [&](auto& a) { return a.name == f.name; }),
                      arrived.end());
        if (ended.outcome == Outcome::Done) arrived.push_back({f.name, target, ended.bytes});
    }
    if (arrived.empty() || protocol_->Agreed().endRecordsAnswered) return status;
    if (int code = CheckArrived(folder, arrived, status)) return code;
    return status;
}

int Client::MakeFolder() {
    u16 path;
    if (!RemotePath(o_.operands[0], kMaxPath, path)) return kExitUsage;
    if (path.size() <= 3) {
        Error("'" + o_.operands[0] + "' is a drive, not a new folder");
        return kExitUsage;
    }
    if (int code = Open()) return code;
    // The peer answers "ACK" whether or not it made the folder; the listing
    // that follows the answer is of the new folder itself, and only an
    // existing folder lists anything (its "." and ".." at least).
    protocol_->SetRemoteFolderPath(path);
    Expect(Operation::MakeFolder, Operation::List);
    SpaceFromUnanswered();
    if (int error = protocol_->StartCreateFolder(path)) return SendFailed(error);
    int status = kExitDone;
    const OperationReport report = Await(nullptr);
    if (int code = Finish(report, o_.operands[0], status)) return code;
    if (status != kExitDone) return status;
    if (listedRows_ == 0) {
        Error(o_.operands[0] + ": the peer did not create it");
        return kExitRefused;
    }
    return Linger();
}

// ---- get -r and put -r --------------------------------------------------------

// The top folder on the peer (a get's source, a put's copy) and on this side
// (a get's copy, made at its MakeFolder step; a put's source, as drive C: of
// `tree`, through which every local path of the copy then goes).
bool Client::PrepareTree(u16& peerTop, std::string& localTop, posix::PathMap& tree) {
    const bool put = o_.verb == "put";
    const std::string& local = o_.operands[put ? 0 : 1];
    std::optional<std::string> real = posix::RealPath(local);
    struct stat st{};
    if (!real || ::stat(real->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        Error("'" + local + "' is not a folder");
        return false;
    }
    u16 name;
    if (put) {
        // Named as the command line names it; "." and the like by what it is.
        std::string typed = local;
        while (typed.size() > 1 && typed.back() == '/') typed.pop_back();
        typed = typed.substr(typed.rfind('/') + 1);
        if (typed.find_first_not_of('.') == std::string::npos) typed = real->substr(real->rfind('/') + 1);
        u16 folder;
        std::optional<u16> wide = posix::FromUtf8(typed);
        if (!wide || !RemotePath(o_.operands[1], kMaxPath, folder)) return false;
        name = *wide;
        std::optional<u16> top = JoinEntryPath(folder, name);
        std::optional<std::string> ansi = top ? setup_.codec.Encode(*top) : std::nullopt;
        if (!IsPlainFileName(name) || !ansi || ansi->size() > kMaxPath) {
            Error("'" + local + "' cannot be named on the peer (" + setup_.codec.Name() + ", at most " +
                  std::to_string(kMaxPath) + " bytes, a plain file name)");
            return false;
        }
        peerTop = std::move(*top);
        localTop = *real;
        std::string why;
        if (!tree.AddDrive('C', localTop, why)) Error(why);
        return why.empty();
    }
    if (!RemotePath(o_.operands[0], kMaxPath, peerTop)) return false;
    name = u16(FileNameOf(peerTop));
    if (IsDriveRoot(peerTop) || !IsPlainFileName(name)) {
        Error("'" + o_.operands[0] + "' does not name a folder of the peer");
        return false;
    }
    localTop = *real + "/" + Utf8(name);
    return true;
}

int Client::AfterListing() { return lingered_ ? kExitDone : Linger(); }

int Client::ListTreeFolder(TreePlan& plan, const u16& peer, const TreeStep& step, int& status) {
    if (o_.verb == "put") {
        int unnamed = 0;
        const bool listed = host_->ListLocalTree(step.path, [&](const FolderEntry& e) { return plan.AddEntry(e); },
                                                 unnamed);
        if (!listed) Error(host_->TakeError());
        if (unnamed > 0) {
            Error(Utf8(peer) + ": " + std::to_string(unnamed) + " local name(s) that are not UTF-8 left out");
            status = status == kExitDone ? kExitRefused : status;
        }
        plan.EndListing(listed);
        return kExitDone;
    }
    int listed = kExitDone;
    // The rows go to the plan as they come; it keeps what it takes of them.
    sink_ = [&](const PaneRow& row) { plan.AddRow(row); };
    const int code = ListInto(peer, Utf8(peer), listed);
    sink_ = nullptr;
    if (code != kExitDone) return code;
    if (full_) {
        // Whatever it holds, a peer that floods is not listened to any more.
        Error(Utf8(peer) + ": " + why_);
        return kExitConnection;
    }
    plan.EndListing(listed == kExitDone && listedRows_ > 0);
    return AfterListing();
}

int Client::MakeTreeFolder(TreePlan& plan, const u16& peer, const TreeStep& step, const std::string& localTop,
                           posix::PathMap& tree, int& status) {
    if (o_.verb == "get") {
        std::string cause;
        if (step.path.empty()) {
            // The top: an existing folder takes the copy, never a link of that name.
            struct stat st{};
            const bool folder = (::mkdir(localTop.c_str(), 0777) == 0 || errno == EEXIST) &&
                                ::lstat(localTop.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
            cause = folder ? "" : "cannot make the folder '" + localTop + "': " +
                                      std::strerror(errno == EEXIST || errno == 0 ? ENOTDIR : errno);
            if (folder && tree.AddDrive('C', localTop, cause)) {
                host_->SetLocalTree(&tree);
                return kExitDone;
            }
        } else {
            const bool made = host_->CreateFolder(step.path) || host_->FolderExists(step.path);
            cause = host_->TakeError();
            host_->TakeRefusal();
            if (made) return kExitDone;
        }
        Error(cause + "; its tree is not copied");
        if (status == kExitDone) status = kExitLocal;
        plan.FolderFailed();
        return kExitDone;
    }
    // The peer answers "ACK" whether or not it made the folder: only the
    // listing of the folder that follows tells.
    protocol_->SetRemoteFolderPath(peer);
    Expect(Operation::MakeFolder, Operation::List);
    SpaceFromUnanswered();
    if (int error = protocol_->StartCreateFolder(peer)) return SendFailed(error);
    int made = kExitDone;
    if (int code = Finish(Await(nullptr), Utf8(peer), made)) return code;
    if (made != kExitDone || listedRows_ == 0) {
        if (made == kExitDone) Error(Utf8(peer) + ": the peer did not create it; its tree is not copied");
        if (status == kExitDone) status = kExitRefused;
        plan.FolderFailed();
    }
    return AfterListing();
}

int Client::CopyTree() {
    const bool put = o_.verb == "put";
    u16 peerTop;
    std::string localTop;
    posix::PathMap tree;
    if (!PrepareTree(peerTop, localTop, tree)) return kExitUsage;
    if (put) host_->SetLocalTree(&tree);
    if (int code = Open()) return code;
    // A plain listing holds its table's rows; an exact one and a local
    // folder are read as far as the plan takes them.
    const std::size_t maxEntries = put ? kMaxTreeFolderEntries : protocol_->PeerListingEntries();
    TreePlan plan(RoomBelow(peerTop), maxEntries);
    int status = kExitDone;
    Progress progress;
    // A plain peer's files are confirmed by its listing of their folder once the copy leaves it.
    std::vector<Arrival> arrived;
    u16 arrivedIn;
    auto peerOf = [&](const TreeStep& step) { return step.path.empty() ? peerTop : peerTop + u"\\" + step.path; };
    auto fits = [&](const TreeStep& step, const std::optional<std::string>& ansi) {
        return ansi && ansi->size() <= (step.action == TreeAction::CopyFile ? kMaxRequestPath : kMaxPath);
    };
    // A step taken from the plan while the copy before it ended: a file
    // step's request may leave before the last end record's answer.
    std::optional<TreeStep> ahead;
    auto queueAhead = [&] {
        ahead = plan.Next();
        if (ahead->action != TreeAction::CopyFile || !fits(*ahead, setup_.codec.Encode(peerOf(*ahead)))) return false;
        if (!put) return protocol_->QueueCopyFrom(peerOf(*ahead), ahead->path) == 0;
        return ahead->bytes <= protocol_->MaxCopyBytes() && protocol_->QueueCopyTo(ahead->path, peerOf(*ahead)) == 0;
    };
    for (;;) {
        if (const int signal = SignalToEnd()) return SignalExitCode(signal);
        const TreeStep step = ahead ? std::move(*ahead) : plan.Next();
        ahead.reset();
        if (!arrived.empty() && (step.action == TreeAction::List || step.action == TreeAction::Done)) {
            if (int code = CheckArrived(arrivedIn, arrived, status)) return code;
            arrived.clear();
        }
        const u16 peer = peerOf(step);
        std::string shown = put ? localTop + "/" + posix::ToUtf8Lossy(step.path) : Utf8(peer);
        if (put) std::replace(shown.begin() + long(localTop.size()), shown.end(), '\\', '/');
        std::optional<std::string> ansi = setup_.codec.Encode(peer);
        const bool namable = fits(step, ansi);
        switch (step.action) {
            case TreeAction::Done: {
                const int skipped = plan.Skipped(TreeSkip::Link) + plan.Skipped(TreeSkip::Special);
                Note(std::to_string(plan.Files()) + " file(s) in " + std::to_string(plan.Folders()) + " folder(s)" +
                     (skipped > 0 ? ", " + std::to_string(skipped) + " link(s) and special file(s) left out" : ""));
                return status;
            }
            case TreeAction::Skip:
                Error((put ? shown : Printable(peer)) + ": " + SkipText(step.reason, maxEntries));
                if (!SkipIsByKind(step.reason) && status == kExitDone) status = kExitRefused;
                continue;
            default:
                break;
        }
        if (!namable) {
            Error(shown + ": left out, " +
                  (ansi ? "too long for the protocol" : "the name cannot be written in " + setup_.codec.Name()));
            if (status == kExitDone) status = kExitRefused;
            if (step.action == TreeAction::List) plan.EndListing(false);
            if (step.action == TreeAction::MakeFolder) plan.FolderFailed();
            continue;
        }
        int code = kExitDone;
        if (step.action == TreeAction::List) code = ListTreeFolder(plan, peer, step, status);
        else if (step.action == TreeAction::MakeFolder) code = MakeTreeFolder(plan, peer, step, localTop, tree, status);
        else if (!put) {
            local_ = localTop + "/" + posix::ToUtf8Lossy(step.path);
            std::replace(local_.begin() + long(localTop.size()), local_.end(), '\\', '/');
            queueNext_ = queueAhead;
            code = CopyOne(progress, "get " + shown + " -> " + local_, step.bytes, Operation::Receive,
                           [&] { return protocol_->StartCopyFrom(peer, step.path); }, shown, status, peer);
        } else if (step.bytes > protocol_->MaxCopyBytes()) {
            Error(shown + ": left out, larger than the " + (protocol_->FastMode() ? "fast mode" : "plain protocol") +
                  " can copy (" + std::to_string(protocol_->MaxCopyBytes()) + " bytes)");
            if (status == kExitDone) status = kExitRefused;
        } else {
            OperationReport ended;
            queueNext_ = queueAhead;
            code = CopyOne(progress, "put " + shown + " -> " + Utf8(peer), step.bytes, Operation::Send,
                           [&] { return protocol_->StartCopyTo(step.path, peer); }, Utf8(peer), status, peer,
                           &ended);
            if (ended.outcome == Outcome::Done && !protocol_->Agreed().endRecordsAnswered) {
                arrivedIn = ParentPath(peer);
                arrived.push_back({u16(FileNameOf(peer)), Utf8(peer), ended.bytes});
            }
        }
        if (code != kExitDone) return code;
    }
}

int Client::Run() {
    if (!PrepareSetup(o_, setup_)) return kExitUsage;
    host_ = std::make_unique<posix::PosixHost>(setup_.codec, setup_.drives, *this);
    host_->SetServesFiles(false);
    protocol_ = std::make_unique<Protocol>(*host_);
    protocol_->SetRole(Role::Client);
    protocol_->SetHighestVersion(o_.plain ? 0 : kFastVersion);
    protocol_->SetResumeAllowed(!o_.noResume);
    int code;
    if (o_.recursive) code = CopyTree();
    else if (o_.verb == "ls") code = List();
    else if (o_.verb == "get") code = Get();
    else if (o_.verb == "put") code = Put();
    else code = MakeFolder();
    Disconnect();
    return code;
}

}  // namespace

int RunClient(const Options& options) { return Client(options).Run(); }

}  // namespace quorbel::peer
