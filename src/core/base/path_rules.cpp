#include "core/base/path_rules.h"


namespace quorbel {

namespace {

std::optional<u16> JoinBounded(u16view folder, u16view separator, u16view name) {
    if (folder.size() + separator.size() + name.size() > kMaxPath) return std::nullopt;
    u16 out;
    out.reserve(folder.size() + separator.size() + name.size());
    out.append(folder).append(separator).append(name);
    return out;
}

u16view FolderSeparator(u16view path) {
    switch (path.size()) {
        case 0:
        case 3: return u"";
        case 1: return u":\\";
        default: return u"\\";
    }
}

}  // namespace

std::optional<u16> JoinPath(u16view folder, u16view name) { return JoinBounded(folder, u"\\", name); }

std::optional<u16> JoinEntryPath(u16view folder, u16view name) {
    const bool hasSeparator = !folder.empty() && folder.back() == u'\\';
    return JoinBounded(folder, hasSeparator ? u"" : u"\\", name);
}

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
    const std::size_t from = name.size() > 4 ? name.size() - 4 : 0;
    return name.substr(from).find(u'.') != u16view::npos;
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
    } else if (auto joined = JoinBounded(path, FolderSeparator(path), name)) {
        r.outcome = RowOpenOutcome::kNewPath;
        r.path = std::move(*joined);
    } else {
        r.outcome = RowOpenOutcome::kTooLong;
    }
    return r;
}

bool IsPlainFileName(u16view name) {
    // "." and ".." end in a dot too.
    if (name.empty() || name.back() == u'.' || name.back() == u' ') return false;
    for (char16_t c : name)
        if (c < 0x20 || c == 0x7F || u16view(u"\\/:*?\"<>|").find(c) != u16view::npos) return false;
    // A device keeps its meaning with an extension and blanks before it.
    u16view base = name.substr(0, name.find(u'.'));
    while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
    static const char16_t* const kDevices[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"};
    for (const char16_t* device : kDevices)
        if (CompareNoCase(base, device) == 0) return false;
    const bool numbered = base.size() == 4 && (CompareNoCase(base.substr(0, 3), u"COM") == 0 ||
                                               CompareNoCase(base.substr(0, 3), u"LPT") == 0);
    return !(numbered && u16view(u"0123456789\u00B9\u00B2\u00B3").find(base[3]) != u16view::npos);
}

u16view FileNameOf(u16view path) {
    const std::size_t slash = path.rfind(u'\\');
    return slash == u16view::npos ? path : path.substr(slash + 1);
}

bool IsDotEntry(u16view name) { return name == u"." || name == u".."; }

bool IsDriveRoot(u16view path) {
    return path.size() == 3 && path[1] == u':' && path[2] == u'\\';
}

}  // namespace quorbel
