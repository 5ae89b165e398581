// get -r and put -r: a folder with its whole tree, as the tree plan steps
// through it, each step a listing, a folder made or a file copied.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/base/path_rules.h"
#include "core/panes/row_rules.h"
#include "linux/peer/client.h"
#include "linux/peer/display.h"
#include "linux/peer/exit_codes.h"
#include "linux/peer/messages.h"

namespace quorbel::peer {

namespace {

// What a tree copy did with its files.
struct TreeTally {
    int copied = 0;
    int skipped[int(SkipWhy::SameSizeAndTime) + 1] = {};  // by SkipWhy
};

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
        case TreeSkip::Crowded: return "more folders wait than a tree copy keeps: further subfolders left out";
        default: return "left out";
    }
}

// Why a file was left as it was, by SkipWhy.
constexpr const char* kSkipWhyText[] = {"", "newer there", "existing there", "of the same size",
                                        "of the same size and time"};

// "9 copied, 3 left as they were (2 newer there, 1 of the same size and time), 1 not copied".
std::string TreeSummary(const TreeTally& tally, int files) {
    std::string out = std::to_string(tally.copied) + " copied", why;
    int skipped = 0;
    for (int i = 1; i < int(std::size(kSkipWhyText)); ++i) {
        if (tally.skipped[i] == 0) continue;
        skipped += tally.skipped[i];
        why += (why.empty() ? "" : ", ") + std::to_string(tally.skipped[i]) + " " + kSkipWhyText[i];
    }
    if (skipped > 0) out += ", " + std::to_string(skipped) + " left as they were (" + why + ")";
    if (files > tally.copied + skipped) out += ", " + std::to_string(files - tally.copied - skipped) + " not copied";
    return out;
}

}  // namespace

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

int Client::ListTreeFolder(TreePlan& plan, const u16& peer, const TreeStep& step, int& status) {
    if (o_.verb == "put") {
        int unnamed = 0;
        const bool listed = files_->ListLocalTree(step.path, [&](const FolderEntry& e) { return plan.AddEntry(e); },
                                                 unnamed);
        if (!listed) Error(files_->TakeError());
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
                files_->SetLocalTree(&tree);
                return kExitDone;
            }
        } else {
            const bool made = files_->CreateFolder(step.path) || files_->FolderExists(step.path);
            cause = files_->TakeError();
            files_->TakeRefusal();
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
    if (int error = protocol_->StartCreateFolder(peer)) return RequestFailed(error);
    // Its files, for the rule that leaves some of them as they are.
    there_.clear();
    if (o_.skip != SkipRule::None)
        sink_ = [this](const PaneRow& row) {
            const bool file = row.image != kImageDot && row.image != kImageFolder && !IsDriveImage(row.image);
            if (file && there_.size() < kMaxTreeFolderEntries) there_.emplace(row.name, row);
        };
    int made = kExitDone;
    const Ended report = Await(nullptr);
    sink_ = nullptr;
    if (int code = Finish(report, Utf8(peer), made)) return code;
    if (made != kExitDone || listedRows_ == 0) {
        if (made == kExitDone) Error(Utf8(peer) + ": the peer did not create it; its tree is not copied");
        if (status == kExitDone) status = kExitRefused;
        plan.FolderFailed();
    }
    return AfterListing();
}

SkipWhy Client::SkipsFile(const TreeStep& step) {
    std::optional<PaneRow> existing;
    if (o_.verb == "get") {
        if (const std::optional<FolderEntry> local = files_->LocalFile(step.path)) existing = EntryRow(*local);
    } else if (const auto there = there_.find(u16(FileNameOf(step.path))); there != there_.end()) {
        existing = there->second;
    }
    const Comparison compared =
        existing ? CompareExisting(step.row, *existing, int64_t(o_.modifyWindow) * kFileTimeTicksPerSecond) : Comparison();
    return Skips(o_.skip, existing ? &compared : nullptr);
}

int Client::CopyTree() {
    const bool put = o_.verb == "put";
    u16 peerTop;
    std::string localTop;
    posix::PathMap tree;
    if (!PrepareTree(peerTop, localTop, tree)) return kExitUsage;
    if (put) files_->SetLocalTree(&tree);
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
    // What the skip rule said of a file step, decided once: one look at its destination.
    SkipWhy aheadSkip = SkipWhy::None;
    auto skipOf = [&](const TreeStep& step) {
        return step.action == TreeAction::CopyFile && o_.skip != SkipRule::None ? SkipsFile(step) : SkipWhy::None;
    };
    TreeTally tally;
    auto queueAhead = [&] {
        ahead = plan.Next();
        aheadSkip = skipOf(*ahead);
        if (ahead->action != TreeAction::CopyFile || !fits(*ahead, setup_.codec.Encode(peerOf(*ahead))) ||
            aheadSkip != SkipWhy::None)
            return false;
        if (!put) return protocol_->QueueCopyFrom(peerOf(*ahead), ahead->path) == 0;
        return ahead->bytes <= protocol_->MaxCopyBytes() && protocol_->QueueCopyTo(ahead->path, peerOf(*ahead)) == 0;
    };
    for (;;) {
        if (const int signal = SignalToEnd()) return SignalExitCode(signal);
        const bool decided = ahead.has_value();
        const TreeStep step = ahead ? std::move(*ahead) : plan.Next();
        ahead.reset();
        if (!arrived.empty() && (step.action == TreeAction::List || step.action == TreeAction::Done)) {
            // A plain peer's copies count as copied once its listing shows them whole.
            if (int code = CheckArrived(arrivedIn, arrived, status, &tally.copied)) return code;
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
                     (skipped > 0 ? ", " + std::to_string(skipped) + " link(s) and special file(s) left out" : "") +
                     ": " + TreeSummary(tally, plan.Files()));
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
        if (const SkipWhy why = decided ? aheadSkip : skipOf(step); why != SkipWhy::None) {
            ++tally.skipped[int(why)];
            if (o_.verbose) Note(shown + ": left as it is, " + kSkipWhyText[int(why)]);
            continue;
        }
        int code = kExitDone;
        OperationReport ended;
        if (step.action == TreeAction::List) code = ListTreeFolder(plan, peer, step, status);
        else if (step.action == TreeAction::MakeFolder) code = MakeTreeFolder(plan, peer, step, localTop, tree, status);
        else if (!put) {
            local_ = localTop + "/" + posix::ToUtf8Lossy(step.path);
            std::replace(local_.begin() + long(localTop.size()), local_.end(), '\\', '/');
            queueNext_ = queueAhead;
            code = CopyOne(progress, "get " + shown + " -> " + local_, step.bytes, Operation::Receive,
                           [&] { return protocol_->StartCopyFrom(peer, step.path); }, shown, status, peer, &ended);
        } else if (step.bytes > protocol_->MaxCopyBytes()) {
            Error(shown + ": left out, larger than the " + (protocol_->FastMode() ? "fast mode" : "plain protocol") +
                  " can copy (" + std::to_string(protocol_->MaxCopyBytes()) + " bytes)");
            if (status == kExitDone) status = kExitRefused;
        } else {
            queueNext_ = queueAhead;
            code = CopyOne(progress, "put " + shown + " -> " + Utf8(peer), step.bytes, Operation::Send,
                           [&] { return protocol_->StartCopyTo(step.path, peer); }, Utf8(peer), status, peer,
                           &ended);
            if (ended.outcome == Outcome::Done && !protocol_->Agreed().endRecordsAnswered) {
                arrivedIn = ParentPath(peer);
                arrived.push_back({u16(FileNameOf(peer)), Utf8(peer), ended.bytes});
            }
        }
        if (ended.outcome == Outcome::Done && (!put || protocol_->Agreed().endRecordsAnswered)) ++tally.copied;
        if (code != kExitDone) return code;
    }
}

}  // namespace quorbel::peer
