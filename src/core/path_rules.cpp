#include "core/path_rules.h"

#include "core/format_rules.h"

namespace quorbel {

namespace {

std::optional<u16> JoinBounded(u16view a, u16view b, u16view c) {
    if (a.size() + b.size() + c.size() > kMaxPathChars) return std::nullopt;
    u16 out;
    out.reserve(a.size() + b.size() + c.size());
    out.append(a).append(b).append(c);
    return out;
}

}  // namespace

u16 ParentPath(u16view path) {
    u16 out;
    for (std::size_t i = path.size(); i-- > 1;) {
        if (path[i] == u'\\') {
            out.assign(path.substr(0, i));
            break;
        }
    }
    if (out.size() == 2) out.push_back(u'\\');
    return out;
}

bool LooksLikeFile(u16view name) {
    std::size_t from = name.size() > 4 ? name.size() - 4 : 0;
    return name.substr(from).find(u'.') != u16view::npos;
}

u16view FolderSeparator(u16view path) {
    switch (path.size()) {
        case 0:
        case 3: return u"";
        case 1: return u":\\";
        default: return u"\\";
    }
}

std::optional<u16> JoinIntoFolder(u16view path, u16view name) {
    return JoinBounded(path, FolderSeparator(path), name);
}

RowOpenResult OpenRowPath(u16view path, u16view name) {
    RowOpenResult r;
    r.path.assign(path);
    if (name.empty()) return r;
    if (IsDriveRoot(name)) {
        r.outcome = RowOpenOutcome::kNewPath;
        r.path.assign(name);
    } else if (IsDotEntry(name)) {
        r.outcome = RowOpenOutcome::kNewPath;
        r.path = ParentPath(path);
    } else if (LooksLikeFile(name)) {
        r.outcome = RowOpenOutcome::kFileWarning;
    } else if (auto joined = JoinIntoFolder(path, name)) {
        r.outcome = RowOpenOutcome::kNewPath;
        r.path = std::move(*joined);
    } else {
        r.outcome = RowOpenOutcome::kTooLong;
    }
    return r;
}

std::optional<u16> JoinEntryPath(u16view folder, u16view name) {
    bool hasSeparator = !folder.empty() && folder.back() == u'\\';
    return JoinBounded(folder, hasSeparator ? u"" : u"\\", name);
}

std::optional<u16> ListingPattern(u16view folder) {
    return JoinBounded(folder, u"\\*", u"");
}

}  // namespace quorbel
