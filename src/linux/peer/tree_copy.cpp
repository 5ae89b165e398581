// get -r and put -r: a folder with its whole tree, as the tree plan steps
// through it, each step a listing, a folder made or a file copied.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>

#include "core/base/path_rules.h"
#include "core/copy/tree_listing.h"
#include "core/panes/row_rules.h"
#include "core/protocol/transfer.h"
#include "linux/peer/client.h"
#include "linux/peer/display.h"
#include "linux/peer/exit_codes.h"
#include "linux/peer/messages.h"

namespace quorbel::peer {

namespace {

// What a tree copy did with its files.
struct TreeTally {
    int copied = 0;
    int skipped[int(SkipWhy::SameContent) + 1] = {};  // by SkipWhy
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
                                        "of the same size and time", "of the same content"};

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
    // --checksum hashes this side's file where the sizes agree: the peer's
    // hash came with its tree listing.
    PaneRow source = step.row;
    if (o_.skip == SkipRule::Checksum && existing && existing->bytes == source.bytes)
        (o_.verb == "put" ? source : *existing).hash = LocalHash(step.path);
    const Comparison compared =
        existing ? CompareExisting(source, *existing, int64_t(o_.modifyWindow) * kFileTimeTicksPerSecond) : Comparison();
    return Skips(o_.skip, existing ? &compared : nullptr);
}

int Client::ListTree(const u16& top, TreeListing& tree, int& status) {
    Expect(Operation::List, Operation::List);
    SpaceFromUnanswered();
    sink_ = [&](const PaneRow& row) { tree.Add(row); };
    if (int error = protocol_->StartTreeListing(top, o_.skip == SkipRule::Checksum)) return RequestFailed(error);
    const Ended report = Await(nullptr);
    sink_ = nullptr;
    if (full_) {
        Error(Utf8(top) + ": " + why_);
        return kExitConnection;
    }
    tree.End(report.outcome == Outcome::Done);
    // Refused, the tree is listed folder by folder, which names the refusal.
    return report.outcome == Outcome::Refused ? kExitDone : Finish(report, Utf8(top), status);
}

std::string Client::LocalHash(const u16& path) {
    uint64_t size = 0;
    std::string hex;
    const std::unique_ptr<SourceFile> file = files_->OpenForRead(path, size);
    if (!file || !HashFile(*file, size, crypto_, hashBuffer_, hex)) hex.clear();
    files_->TakeError();
    return hex;
}

int Client::CopyTree() {
    const bool put = o_.verb == "put";
    u16 peerTop;
    std::string localTop;
    posix::PathMap tree;
    if (!PrepareTree(peerTop, localTop, tree)) return kExitUsage;
    if (put) files_->SetLocalTree(&tree);
    if (int code = Open()) return code;
    const Capabilities& agreed = protocol_->Agreed();
    if (o_.skip == SkipRule::Checksum && !agreed.treeListing) {
        Error("--checksum needs a peer of this release: " + where_ + " hashes no files");
        return kExitRefused;
    }
    int status = kExitDone;
    // The peer's tree in one exchange: a get's source; a put's destination,
    // for a rule that compares with it.
    TreeListing listed;
    if (agreed.treeListing && (!put || o_.skip != SkipRule::None))
        if (int code = ListTree(peerTop, listed, status)) return code;
    // A plain listing holds its table's rows; an exact one and a local
    // folder are read as far as the plan takes them.
    const std::size_t maxEntries = put ? kMaxTreeFolderEntries : protocol_->PeerListingEntries();
    TreePlan plan(RoomBelow(peerTop), maxEntries);
    Progress progress;
    // A plain peer's files are confirmed by its listing of their folder once the copy leaves it.
    std::vector<Arrival> arrived;
    u16 arrivedIn;
    auto peerOf = [&](const TreeStep& step) { return step.path.empty() ? peerTop : peerTop + u"\\" + step.path; };
    auto shownOf = [&](const TreeStep& step) {
        if (!put) return Utf8(peerOf(step));
        std::string shown = localTop + "/" + posix::ToUtf8Lossy(step.path);
        std::replace(shown.begin() + long(localTop.size()), shown.end(), '\\', '/');
        return shown;
    };
    TreeTally tally;
    // The copies (and a put's folders made ahead) under way, in the order
    // their ends come; a step that needs the connection to itself waits.
    struct Pending {
        TreeStep step;
        u16 peer;
        std::string shown;
    };
    std::deque<Pending> pending;
    std::optional<TreeStep> waiting;
    bool planDone = false;
    int ending = kExitDone;  // a stop or signal: what is under way ends, nothing new starts

    // The step at hand, unless it was dealt with here: left out, skipped,
    // listed from the tree listing or this side's folder, a folder made
    // here; or its request started or queued.
    auto take = [&](TreeStep& step, bool mayStart, int& startError) -> bool {
        const u16 peer = peerOf(step);
        const std::string shown = shownOf(step);
        std::optional<std::string> ansi = setup_.codec.Encode(peer);
        switch (step.action) {
            case TreeAction::Done: return pending.empty() && (planDone = true);
            case TreeAction::Skip:
                Error((put ? shown : Printable(peer)) + ": " + SkipText(step.reason, maxEntries));
                if (!SkipIsByKind(step.reason) && status == kExitDone) status = kExitRefused;
                return true;
            default: break;
        }
        if (!ansi || ansi->size() > (step.action == TreeAction::CopyFile ? kMaxRequestPath : kMaxPath)) {
            Error(shown + ": left out, " +
                  (ansi ? "too long for the protocol" : "the name cannot be written in " + setup_.codec.Name()));
            if (status == kExitDone) status = kExitRefused;
            if (step.action == TreeAction::List) plan.EndListing(false);
            if (step.action == TreeAction::MakeFolder) plan.FolderFailed();
            return true;
        }
        if (step.action == TreeAction::List) {
            if (put) return ListTreeFolder(plan, peer, step, status), true;
            return listed.Feed(step.path, plan);
        }
        if (step.action == TreeAction::MakeFolder) {
            if (!put) return MakeTreeFolder(plan, peer, step, localTop, tree, status), true;
            there_.clear();
            listed.ForEach(step.path, [&](const PaneRow& row) {
                if (row.image != kImageFolder && there_.size() < kMaxTreeFolderEntries) there_.emplace(row.name, row);
            });
            // Made ahead of its files where the peer answers whether it is there
            // (and, for a rule, the tree listing told what it holds).
            const bool known = o_.skip == SkipRule::None || listed.Whole() || listed.ForEach(step.path, [](const PaneRow&) {});
            if (!agreed.folderAnswered || !known || ending != kExitDone) return false;
            if (mayStart) SpaceFromUnanswered(), startError = protocol_->StartCreateFolder(peer, false);
            else if (!protocol_->CanQueueMakeFolder() || protocol_->QueueMakeFolder(peer) != 0) return false;
            if (startError != 0) return false;
            pending.push_back({std::move(step), peer, shown});
            return true;
        }
        if (const SkipWhy why = SkipsFile(step); why != SkipWhy::None) {
            ++tally.skipped[int(why)];
            if (o_.verbose) Note(shown + ": left as it is, " + kSkipWhyText[int(why)]);
            return true;
        }
        if (put && step.bytes > protocol_->MaxCopyBytes()) {
            Error(shown + ": left out, larger than the " + (protocol_->FastMode() ? "fast mode" : "plain protocol") +
                  " can copy (" + std::to_string(protocol_->MaxCopyBytes()) + " bytes)");
            if (status == kExitDone) status = kExitRefused;
            return true;
        }
        if (ending != kExitDone) return false;
        if (mayStart) {
            SpaceFromUnanswered();
            startError = put ? protocol_->StartCopyTo(step.path, peer) : protocol_->StartCopyFrom(peer, step.path);
            if (startError != 0) return false;
        } else if (!(put ? protocol_->CanQueueCopyTo() : protocol_->CanQueueCopyFrom()) ||
                   (put ? protocol_->QueueCopyTo(step.path, peer) : protocol_->QueueCopyFrom(peer, step.path)) != 0) {
            return false;
        }
        pending.push_back({std::move(step), peer, shown});
        return true;
    };
    // Steps while the window has room; in a wait, only those that need no
    // wait of their own (take leaves those to the loop below).
    int startError = 0;
    auto fill = [&](bool inWait) {
        while (!planDone && !PendingSignal()) {
            if (!waiting) waiting = plan.Next();
            // A plain peer's copies are confirmed before the copy leaves their folder.
            if (!arrived.empty() && (waiting->action == TreeAction::List || waiting->action == TreeAction::Done)) return;
            const bool mayStart = pending.empty() && !inWait;
            if (!take(*waiting, mayStart, startError)) return;
            waiting.reset();
        }
    };
    for (;;) {
        if (const int signal = PendingSignal(); signal && pending.empty()) return SignalExitCode(signal);
        if (ending == kExitDone) fill(false);
        if (pending.empty()) {
            if (startError != 0) return RequestFailed(startError);
            if (planDone || ending != kExitDone) {
                const int skipped = plan.Skipped(TreeSkip::Link) + plan.Skipped(TreeSkip::Special);
                std::string summary = std::to_string(plan.Files()) + " file(s) in " + std::to_string(plan.Folders()) +
                                      " folder(s)" +
                                      (skipped > 0 ? ", " + std::to_string(skipped) + " link(s) and special file(s) left out" : "") +
                                      ": " + TreeSummary(tally, plan.Files());
                // Stopped: what the copy had not reached is not copied either.
                if (ending != kExitDone && !planDone && listed.Whole() && !put)
                    summary += "; stopped: " + std::to_string(listed.Files() - std::size_t(plan.Files())) +
                               " more of the tree's " + std::to_string(listed.Files()) + " file(s) not copied";
                else if (ending != kExitDone && !planDone)
                    summary += "; stopped: the rest of the tree not copied";
                Note(summary);
                return ending != kExitDone ? ending : status;
            }
            if (!waiting) continue;
            const TreeStep step = std::move(*waiting);
            waiting.reset();
            if (!arrived.empty()) {
                // A plain peer's copies count as copied once its listing shows them whole.
                waiting = step;
                if (int code = CheckArrived(arrivedIn, arrived, status, &tally.copied)) return code;
                arrived.clear();
            } else if (step.action == TreeAction::List) {
                // Not in the tree listing: the folder is listed on its own.
                if (int code = ListTreeFolder(plan, peerOf(step), step, status)) return code;
            } else if (step.action == TreeAction::MakeFolder) {
                if (int code = MakeTreeFolder(plan, peerOf(step), step, localTop, tree, status)) return code;
            } else {
                waiting = step;  // taken at the next fill
            }
            continue;
        }
        // The first under way ends.
        Pending front = std::move(pending.front());
        pending.pop_front();
        const bool folder = front.step.action == TreeAction::MakeFolder;
        const Operation operation = folder ? Operation::MakeFolder : put ? Operation::Send : Operation::Receive;
        if (!put) {
            local_ = localTop + "/" + posix::ToUtf8Lossy(front.step.path);
            std::replace(local_.begin() + long(localTop.size()), local_.end(), '\\', '/');
        }
        if (!folder)
            progress.Begin((put ? "put " + front.shown + " -> " + Utf8(front.peer) : "get " + front.shown + " -> " + local_),
                           front.step.bytes);
        // Every copy under way reports in turn; steps go on while this one is awaited.
        inWindow_ = true;
        Expect(operation, operation);
        fill_ = [&] {
            if (ending == kExitDone) fill(true);
        };
        const Ended report = Await(folder ? nullptr : &progress);
        fill_ = nullptr;
        inWindow_ = false;
        if (!folder) progress.End(report.bytes, report.outcome == Outcome::Done);
        if (folder) {
            if (report.outcome != Outcome::Done) {
                Error(Utf8(front.peer) + ": the peer did not create it; its tree is not copied");
                if (status == kExitDone) status = kExitRefused;
                // Its files were asked for behind it: each is refused in its turn.
            }
            if (report.outcome == Outcome::Done || report.outcome == Outcome::Refused) continue;
        }
        if (report.outcome == Outcome::Done && put && !agreed.endRecordsAnswered) {
            arrivedIn = ParentPath(front.peer);
            arrived.push_back({u16(FileNameOf(front.peer)), Utf8(front.peer), report.bytes});
        }
        if (report.outcome == Outcome::Done && (!put || agreed.endRecordsAnswered)) ++tally.copied;
        // A refusal is told apart by a listing only where nothing else is under way.
        nextQueued_ = !pending.empty();
        const int code = Finish(report, front.shown, status, &front.peer);
        nextQueued_ = false;
        if (code == kExitDone) continue;
        // A stop ends what is under way in turn; a lost connection ends all.
        ending = code;
        if (code == kExitConnection || fd_ < 0) pending.clear();
    }
}

}  // namespace quorbel::peer
