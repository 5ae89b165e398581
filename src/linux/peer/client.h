// The Client of quorbel-peer: it connects, logs in (unless --cmd), runs
// ls, get, put or mkdir, and serves the one listing request a Windows
// Server sends back. It is the core's seat itself: what the core reports
// ends its operations and fills its rows.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/copy/skip_rule.h"
#include "core/copy/tree_listing.h"
#include "core/copy/tree_plan.h"
#include "core/protocol/client_login.h"
#include "core/protocol/protocol.h"
#include "crypto/session.h"
#include "linux/host/files.h"
#include "linux/host/link.h"
#include "linux/peer/options.h"
#include "linux/peer/progress.h"
#include "linux/peer/secure_peers.h"
#include "linux/peer/setup.h"
#include "linux/peer/waits.h"

namespace quorbel::peer {

// The rows a listing can hold: the peer's table, less its end record.
constexpr std::size_t kMaxListedRows = kMaxDirRecords;

class Client : public UserSeat, public posix::FilesListener {
public:
    explicit Client(const Options& options) : o_(options), memory_(options.host, options.port) {}
    int Run();

private:
    // A file of this run that the peer kept or lost: its name on the peer,
    // and what was sent.
    struct Arrival {
        u16 name;
        std::string target;
        uint64_t bytes;
    };
    // An operation's end: the core's report, and the local failure that
    // came with it (a queued copy's own, never that of the copy before it).
    struct Ended : OperationReport {
        std::string cause;
    };

    // ---- The seat and the files' notes (client.cpp) ----
    void SendFailed(const SendFailure& failure) override;
    // The note's text repeats a record of the last listing: nothing for a Client.
    void PeerRefused(const RefusalNote&) override {}
    void SourceTooLarge(uint64_t limit) override;
    void StateChanged() override {}
    void ClearRemoteRows() override {
        rows_.clear();
        listedRows_ = 0;
    }
    void AddRemoteRow(const PaneRow& row, int32_t) override;
    void OperationEnded(const OperationReport& report) override;
    void Note(const std::string& line) override;
    // A box of the core, as its line on stderr.
    void Box(u16view caption, u16view text);

    // ---- The connection (client.cpp) ----
    bool RemotePath(const std::string& text, std::size_t maxBytes, u16& path);
    // Connects and logs in as the core's login policy steps.
    int Open();
    // A connection to --host, with this side's socket options.
    int Connect();
    // The login's end, as its line and exit code; `answer` holds the last
    // answer's `received` bytes.
    int LoginEnded(const LoginNext& next, const char* answer, long received);
    // A request that could not go out (its paths were checked before).
    int RequestFailed(int error);
    void Disconnect();
    // Before an operation starts: it ends with this side's report of
    // `until`, or of `first` when that does not end as done.
    void Expect(Operation first, Operation until);
    // Runs the operation just started until it ends, the connection does,
    // or the peer has been silent or slow for too long.
    Ended Await(Progress* progress);
    // A refusal of `peerPath` (a copy's file) is told apart by what the
    // peer lists there; without one it is named as a refusal alone.
    int Finish(const Ended& report, const std::string& what, int& status,
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
    // A plain peer's listing of `folder` shows each file copied to it whole,
    // else it is named; `confirmed` counts those it shows.
    int CheckArrived(const u16& folder, const std::vector<Arrival>& arrived, int& status, int* confirmed = nullptr);
    // A signal not yet acted on, or the one that came while a copy ended
    // done anyway: the run ends at the next step, once a queued copy took
    // that signal's stop.
    int SignalToEnd() const { return PendingSignal() ? PendingSignal() : nextQueued_ ? 0 : interrupted_; }
    // Before a request: the pause after this side's last unanswered message.
    void SpaceFromUnanswered();
    int Linger();
    // The first listing of a connection is followed by the Windows Server's
    // own request for this side's listing: served before anything else.
    int AfterListing();

    // ---- The verbs (verbs.cpp) ----
    int List();
    int Get();
    int Put();
    int MakeFolder();

    // ---- get -r and put -r: the tree plan's steps one after the other (tree_copy.cpp) ----
    int CopyTree();
    bool PrepareTree(u16& peerTop, std::string& localTop, posix::PathMap& tree);
    int ListTreeFolder(TreePlan& plan, const u16& peer, const TreeStep& step, int& status);
    int MakeTreeFolder(TreePlan& plan, const u16& peer, const TreeStep& step, const std::string& localTop,
                       posix::PathMap& tree, int& status);
    // What the skip rule does with the file of `step`, against the local
    // file (get) or the row of the peer's listing of its folder (put).
    SkipWhy SkipsFile(const TreeStep& step);
    // The peer's whole tree below `top` in one exchange (with hashes for
    // --checksum), as Finish; a refusal leaves it empty.
    int ListTree(const u16& top, TreeListing& tree, int& status);
    // A local file's hash, empty when it cannot be read.
    std::string LocalHash(const u16& path);

    const Options& o_;
    Setup setup_;
    SecurePeersFile memory_;
    // Declared before the protocol, which closes its files when it goes.
    std::unique_ptr<posix::PosixLink> link_;
    std::unique_ptr<posix::PosixFiles> files_;
    crypto::Library crypto_;
    std::unique_ptr<Protocol> protocol_;
    int fd_ = -1;
    std::string where_;
    std::vector<PaneRow> rows_;
    // The rows of the listing at hand, and where they go instead of rows_
    // (an exact listing has no table to bound them).
    uint64_t listedRows_ = 0;
    std::function<void(const PaneRow&)> sink_;
    bool full_ = false;      // the peer sent more records than a listing holds
    std::string why_;        // why this side ended the connection
    std::string local_;      // the local file of the current get
    bool listed_ = false;    // a listing of the peer's came to its end
    bool servedListing_ = false;
    bool lingered_ = false;
    std::optional<Clock::time_point> unansweredAt_;  // to a plain peer
    int interrupted_ = 0;
    Operation awaitedFirst_ = Operation::Unknown, awaitedUntil_ = Operation::Unknown;
    std::optional<Ended> report_;
    // The reports of queued copies that ended in the same receive as the
    // one awaited, each for the Await that follows it.
    std::deque<Ended> laterReports_;
    // The next copy, asked for before the current one ended (a copy to the
    // peer once its end record left): `queueNext_` sends its request once
    // the core may (true when it did), and its CopyOne then only waits.
    std::function<bool()> queueNext_;
    bool nextQueued_ = false;
    // A tree copy's window: every copy under way reports in turn, and
    // `fill_` takes further steps before each wait for the peer.
    bool inWindow_ = false;
    std::function<void()> fill_;
    // put -r with a skip rule: the files of the peer's folder at hand, by name as Windows compares them.
    std::map<u16, PaneRow, NoCaseLess> there_;
    // --checksum: the block LocalHash reads through, kept from file to file.
    std::vector<char> hashBuffer_;
};

}  // namespace quorbel::peer
