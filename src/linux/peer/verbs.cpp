// The Client's verbs, one file or folder name after the other: ls, get,
// put and mkdir.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/base/path_rules.h"
#include "core/panes/row_rules.h"
#include "linux/peer/client.h"
#include "linux/peer/display.h"
#include "linux/peer/exit_codes.h"
#include "linux/peer/messages.h"
#include "linux/peer/rows.h"
#include "linux/peer/spool.h"

namespace quorbel::peer {

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
    files_->SetLocalFolder(folder);
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
        files_->SetLocalFolder(f.folder);
        const std::string target = Utf8(f.target);
        if (i + 1 < files.size()) {
            queueNext_ = [&, next = &files[i + 1]] {
                files_->SetLocalFolder(next->folder);
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

// A plain peer does not answer an end record: only its listing of the
// folder tells that each file took its name and whole size. It reads one
// message at a time, so it lists only after the last end record was done.
int Client::CheckArrived(const u16& folder, const std::vector<Arrival>& arrived, int& status, int* confirmed) {
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
        if (why.empty()) {
            if (confirmed) ++*confirmed;
            continue;
        }
        Error(a.target + ": " + why);
        if (status == kExitDone) status = kExitRefused;
    }
    return Linger();
}

int Client::MakeFolder() {
    u16 path;
    if (!RemotePath(o_.operands[0], kMaxPath, path)) return kExitUsage;
    if (path.size() <= 3) {
        Error("'" + o_.operands[0] + "' is a drive, not a new folder");
        return kExitUsage;
    }
    if (int code = Open()) return code;
    // A peer of an earlier release answers "ACK" whether or not it made the
    // folder; the listing that follows the answer is of the new folder
    // itself, and only an existing folder lists anything (its "." and ".."
    // at least). A peer of this release says it in its answer.
    const bool answered = protocol_->Agreed().folderAnswered;
    protocol_->SetRemoteFolderPath(path);
    Expect(Operation::MakeFolder, answered ? Operation::MakeFolder : Operation::List);
    SpaceFromUnanswered();
    if (int error = protocol_->StartCreateFolder(path, !answered)) return RequestFailed(error);
    int status = kExitDone;
    const Ended report = Await(nullptr);
    if (report.outcome == Outcome::Refused || (report.outcome == Outcome::Done && !answered && listedRows_ == 0)) {
        Error(o_.operands[0] + ": the peer did not create it");
        return kExitRefused;
    }
    if (int code = Finish(report, o_.operands[0], status)) return code;
    if (status != kExitDone) return status;
    return Linger();
}

}  // namespace quorbel::peer
