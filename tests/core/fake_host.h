// An in-memory ProtocolHost for the protocol tests: it records what is
// sent, shown and inserted, keeps files in a map and converts text with a
// small code page (Latin-1, plus two-byte codes for U+3000..U+30FF).
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/protocol.h"

namespace quorbel::testing {

// Single bytes for U+0000..U+007F and U+00A0..U+00FF; U+3000..U+307F as
// 0x82 + (0x80..0xFF), U+3080..U+30FF as 0x83 + (0x80..0xFF); anything
// else becomes "?" (no best fit).
class FakeCodec : public AnsiCodec {
public:
    std::string ToAnsi(u16view text) const override {
        std::string out;
        for (char16_t c : text) {
            if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
                out.push_back(static_cast<char>(c));
            } else if (c >= 0x3000 && c <= 0x30FF) {
                unsigned offset = c - 0x3000;
                out.push_back(static_cast<char>(offset < 0x80 ? 0x82 : 0x83));
                out.push_back(static_cast<char>(0x80 + (offset & 0x7F)));
            } else {
                out.push_back('?');
            }
        }
        return out;
    }
    u16 FromAnsi(std::string_view bytes) const override {
        u16 out;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            unsigned char b = static_cast<unsigned char>(bytes[i]);
            if ((b == 0x82 || b == 0x83) && i + 1 < bytes.size() &&
                static_cast<unsigned char>(bytes[i + 1]) >= 0x80) {
                unsigned trail = static_cast<unsigned char>(bytes[++i]) - 0x80;
                out.push_back(static_cast<char16_t>(0x3000 + (b == 0x83 ? 0x80 : 0) + trail));
            } else if (b >= 0x80 && b < 0xA0) {
                out.push_back(u'?');
            } else {
                out.push_back(static_cast<char16_t>(b));
            }
        }
        return out;
    }
};

struct FakeFile {
    std::string data;
    FileTimes times;
};

struct PaneRow {
    int32_t position;
    u16 name, date, size;
    int32_t image;
    int32_t param;
};

struct Box {
    u16 text, caption;
};

class FakeHost : public ProtocolHost {
public:
    // ---- what the core did ----
    std::deque<std::string> outbox;   // sent and not yet delivered
    std::vector<std::string> sent;    // everything sent, in order
    std::vector<Box> boxes;
    int refreshes = 0;
    std::vector<uint32_t> closeTimers;
    std::vector<uint32_t> sleeps;
    int paneClears = 0;
    std::vector<PaneRow> rows;
    std::vector<u16> createdFolders;
    std::vector<u16> listedFolders;

    // ---- the world it sees ----
    int sendError = 0;                 // returned by every send while non-zero
    std::map<char16_t, int> drives;    // lower-case letter -> drive type
    std::map<u16, std::vector<FolderEntry>> folders;
    std::map<u16, FakeFile> files;
    std::map<u16, uint64_t> reportedSizes;  // size reported on open, instead of the data's
    std::set<u16> unopenable;          // open for read fails
    std::set<u16> uncreatable;         // create for write fails
    int failWriteAfter = -1;           // writes that succeed before the failing one
    bool failRead = false;

    // ---- the one transfer file ----
    std::optional<u16> openPath;
    bool openForWrite = false;
    std::size_t readPos = 0;
    int opens = 0, closes = 0;

    FakeCodec codec;

    int SendBytes(const char* data, std::size_t length) override {
        std::string message(data, length);
        sent.push_back(message);
        if (sendError != 0) return sendError;
        outbox.push_back(message);
        return 0;
    }
    void ShowMessage(u16view text, u16view caption) override { boxes.push_back({u16(text), u16(caption)}); }
    void RefreshStatusBar() override { ++refreshes; }
    void ArmCloseTimer(uint32_t ms) override { closeTimers.push_back(ms); }
    void SleepMs(uint32_t ms) override { sleeps.push_back(ms); }
    void ClearRemotePane() override {
        ++paneClears;
        rows.clear();
    }
    void InsertRemoteRow(int32_t position, u16view name, u16view date, u16view size, int32_t image,
                         int32_t param) override {
        rows.push_back({position, u16(name), u16(date), u16(size), image, param});
    }
    void CreateFolder(u16view path) override { createdFolders.emplace_back(path); }
    int DriveTypeOf(u16view root) override {
        auto it = drives.find(root.empty() ? u'\0' : root[0]);
        return it == drives.end() ? kDriveNoRootDir : it->second;
    }
    bool ListFolder(u16view folder, const std::function<bool(const FolderEntry&)>& visit) override {
        listedFolders.emplace_back(folder);
        auto it = folders.find(u16(folder));
        if (it == folders.end()) return false;
        for (const FolderEntry& e : it->second)
            if (!visit(e)) break;
        return true;
    }

    bool OpenTransferForRead(u16view path, uint64_t& size) override {
        if (openPath) return false;  // opened without sharing
        if (unopenable.count(u16(path))) return false;
        FakeFile& f = files[u16(path)];  // OPEN_ALWAYS: a missing file is created empty
        auto reported = reportedSizes.find(u16(path));
        size = reported != reportedSizes.end() ? reported->second : f.data.size();
        openPath = u16(path);
        openForWrite = false;
        readPos = 0;
        ++opens;
        return true;
    }
    int32_t ReadTransfer(char* buffer, int32_t maxBytes) override {
        if (!openPath || openForWrite || failRead) return -1;
        const std::string& d = files[*openPath].data;
        std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(maxBytes), d.size() - readPos);
        std::copy(d.data() + readPos, d.data() + readPos + n, buffer);
        readPos += n;
        return static_cast<int32_t>(n);
    }
    bool GetTransferTimes(FileTimes& times) override {
        if (!openPath) return false;
        times = files[*openPath].times;
        return true;
    }
    bool CreateTransferForWrite(u16view path) override {
        if (openPath) return false;
        if (uncreatable.count(u16(path))) return false;
        files[u16(path)] = FakeFile{};  // CREATE_ALWAYS
        openPath = u16(path);
        openForWrite = true;
        ++opens;
        return true;
    }
    bool WriteTransfer(const char* data, int32_t length) override {
        if (!openPath || !openForWrite) return false;
        if (failWriteAfter == 0) return false;
        if (failWriteAfter > 0) --failWriteAfter;
        files[*openPath].data.append(data, static_cast<std::size_t>(length));
        return true;
    }
    bool SetTransferTimes(const FileTimes& times) override {
        if (!openPath || !openForWrite) return false;
        files[*openPath].times = times;
        return true;
    }
    void CloseTransfer() override {
        if (openPath) ++closes;
        openPath.reset();
    }
    bool RemoveFile(u16view path) override {
        if (openPath && *openPath == path) return false;  // locked
        return files.erase(u16(path)) > 0;
    }
    bool RenameFile(u16view from, u16view to) override {
        if (openPath && (*openPath == from || *openPath == to)) return false;
        if (!files.count(u16(from)) || files.count(u16(to))) return false;
        files[u16(to)] = files[u16(from)];
        files.erase(u16(from));
        return true;
    }
    const AnsiCodec& Codec() const override { return codec; }

    // ---- helpers for the tests ----
    std::vector<Box> BoxesWithCaption(u16view caption) const {
        std::vector<Box> out;
        for (const Box& b : boxes)
            if (b.caption == caption) out.push_back(b);
        return out;
    }
};

// One side: a host and the protocol bound to it (the state is large, so
// peers live on the heap).
struct Peer {
    FakeHost host;
    Protocol protocol{host};
    ProtocolState& state() { return protocol.state; }
    int32_t op() const { return protocol.state.operationState.load(); }
};

// Two peers joined by their outboxes; Pump delivers one message at a time
// in send order, as the stop-and-wait exchange keeps them.
struct Link {
    std::unique_ptr<Peer> client = std::make_unique<Peer>();
    std::unique_ptr<Peer> server = std::make_unique<Peer>();
    std::vector<std::pair<char, std::string>> transcript;  // 'C' or 'S', bytes

    Link() { server->state().serverMode = 1; }

    // Delivers the oldest pending message; false when none is pending.
    bool Step() {
        if (!client->host.outbox.empty()) {
            std::string m = client->host.outbox.front();
            client->host.outbox.pop_front();
            transcript.emplace_back('C', m);
            server->protocol.Receive(m.data(), static_cast<int32_t>(m.size()));
            return true;
        }
        if (!server->host.outbox.empty()) {
            std::string m = server->host.outbox.front();
            server->host.outbox.pop_front();
            transcript.emplace_back('S', m);
            client->protocol.Receive(m.data(), static_cast<int32_t>(m.size()));
            return true;
        }
        return false;
    }
    // Runs the exchange until both sides are quiet (bounded).
    int Pump(int limit = 100000) {
        int steps = 0;
        while (steps < limit && Step()) ++steps;
        return steps;
    }
};

inline FolderEntry Entry(u16 name, uint32_t attributes, uint64_t size = 0, LocalTimeFields t = {2024, 3, 5, 9, 7}) {
    FolderEntry e;
    e.name = std::move(name);
    e.attributes = attributes;
    e.lastWrite = t;
    e.sizeOnDisk = size;
    e.sizeKnown = true;
    return e;
}

inline std::string Pattern(std::size_t n, unsigned seed = 1) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + seed * 7 + i / 997) & 0xFF);
    return s;
}

}  // namespace quorbel::testing
