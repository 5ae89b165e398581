// Arbitrary peer messages in every operation state and role, and arbitrary
// directory records, under ASan and UBSan.
//
// Input: byte 0 picks the state (0..12, the last two outside the
// enumeration), the role, monitor recording and the auto-listing flag;
// byte 1 the stop flag and whether a transfer is under way; then chunks of
// [length high, length low, bytes...], each handed to the dispatcher as one
// received message (the first also to AddRemoteRow).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "../core/fake_host.h"

using namespace quorbel;
using namespace quorbel::testing;

namespace {

// Every folder lists a few entries, every source file has some content.
class FuzzHost : public FakeHost {
public:
    bool ListFolder(u16view folder, const std::function<bool(const FolderEntry&)>& visit) override {
        listedFolders.emplace_back(folder);
        const FolderEntry entries[] = {
            Entry(u".", kAttrDirectory), Entry(u"..", kAttrDirectory),
            Entry(u"a,b.txt", kAttrArchive, 12), Entry(u16(120, u'\u3042'), kAttrArchive, 1),
            Entry(u16(240, u'n'), kAttrDirectory | 2, 0), Entry(u"z", kAttrCompressed, 1ULL << 40),
        };
        for (const FolderEntry& e : entries)
            if (!visit(e)) break;
        return true;
    }
    bool OpenTransferForRead(u16view path, uint64_t& size) override {
        FakeFile& f = files[u16(path)];
        if (f.data.empty() && path.size() % 3 != 0) f.data = Pattern(path.size() * 97 % 2600);
        return FakeHost::OpenTransferForRead(path, size);
    }
};

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    auto host = std::make_unique<FuzzHost>();
    auto protocol = std::make_unique<Protocol>(*host);
    ProtocolState& st = protocol->state;

    const uint8_t mode = data[0], extra = data[1];
    const int32_t startState = mode % 13;
    st.operationState = startState;
    st.serverMode = (mode >> 4) & 1;
    st.monitorRecording = (mode >> 5) & 1;
    st.autoListing = (mode >> 6) & 1;
    st.stopFlag = extra % 3;
    CopyBounded<char>(st.requestName, kPathUnits, "C:\\in\\r.txt");
    CopyBounded<char>(st.destName, kPathUnits, "C:\\in\\d");
    CopyBounded<char16_t>(st.sourceName, kPathUnits, u"C:\\src.bin");
    if ((extra >> 2) & 1) {
        // A transfer under way: the file of the state's direction is open.
        if (startState == CallCopyTO || startState == RequestCopyFrom)
            protocol->SendFileBlock(startState == CallCopyTO ? BlockKind::FR : BlockKind::FB, 0);
        else
            protocol->WriteFileBlock("C:\\in\\r.txt", "seed", 4, 0);
        host->outbox.clear();
    }

    size_t pos = 2;
    bool first = true;
    for (int messages = 0; pos + 2 <= size && messages < 64; ++messages) {
        size_t length = ((size_t(data[pos]) << 8) | data[pos + 1]) % 1100;
        pos += 2;
        if (length > size - pos) length = size - pos;
        const char* bytes = reinterpret_cast<const char*>(data + pos);
        if (first) {
            protocol->AddRemoteRow(bytes, static_cast<int32_t>(length));
            first = false;
        }
        protocol->Receive(bytes, static_cast<int32_t>(length));
        pos += length;
        // A valid state stays valid, and the table stays closed and bounded.
        if (startState <= StopFrom) Check(st.operationState.load() >= Waiting && st.operationState.load() <= StopFrom);
        const int32_t count = st.dirCount.load();
        Check(count >= 0 && count <= kDirSlots);
        if (count > 0) Check(std::strcmp(st.dirTable[count - 1], "DR999999") == 0);
        for (const std::string& m : host->sent) Check(m.size() <= kMaxMessageBytes);
        // Every state between messages may be left by the user's next request.
        if ((extra >> 3) & 1) st.operationState = startState;
    }

    // The end of the connection leaves no file open.
    protocol->OnConnectionLost();
    Check(!host->openPath.has_value());
    for (int i = 0; i < kRingSlots; ++i) {
        Check(BoundedLength(st.sendRing[i], kRingSlotBytes) <= size_t(kRingSlotBytes));
    }
    return 0;
}
