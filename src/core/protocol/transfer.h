// What the sender (sender.h) and the receiver (receiver.h) of a file share:
// the records of a copy and their forms on the wire, the names a received
// file takes, the reading of a file in blocks and the window of blocks in
// flight.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/limits.h"
#include "core/base/text.h"
#include "core/protocol/cryptography.h"
#include "core/protocol/files.h"
#include "core/protocol/wire.h"

namespace quorbel {

constexpr int32_t kBlockHeaderBytes = 8;  // "FR"/"FB" and six digits
constexpr int32_t kEndBlockNumber = 999999;
constexpr int32_t kLastDataBlock = kEndBlockNumber - 1;
// An end record: its header and the three times.
constexpr std::size_t kEndRecordBytes = kBlockHeaderBytes + 24;
// Other names a received file may take while a file of the user's holds
// the first temporary name.
constexpr int kTemporaryNameTries = 100;

// The name a file is received under: the last "." of the file's own name
// starts ".$TEMP" (report.txt -> report.$TEMP); a name without one gets it
// appended (D:\v1.2\notes -> D:\v1.2\notes.$TEMP). Later tries, for a name
// a file of the user's already has: report~1.$TEMP, report~2.$TEMP, ...
u16 TemporaryName(u16view finalName, int attempt = 0);

// A copy between two programs that resume is received under
// the final name + ".$PART", beside a note, the final name + ".$PARTID",
// that says which source (size and last-write time) it belongs to; a cut
// connection leaves both, and the next copy of that source goes on after
// the bytes there once both sides found them the same. The note is written
// before its partial file and removed after it, so a partial without a note
// is never taken for one of ours.
u16 PartialName(u16view finalName);
u16 PartialNoteName(u16view finalName);
// The note's text, and its size and time; false for anything else.
std::string EncodePartialNote(uint64_t size, uint64_t lastWrite);
bool ParsePartialNote(std::string_view text, uint64_t& size, uint64_t& lastWrite);

// What "FRSOURCE"/"FBSOURCE" carries after its word: the source's size and
// last-write time, then, answering a resume point, that point and the
// sender's SHA-256 of its bytes before it in hex (empty: not compared).
struct SourceInfo {
    uint64_t size = 0;
    uint64_t lastWrite = 0;
    bool hasPrefix = false;
    uint64_t prefixBytes = 0;
    std::string prefixHash;
};
std::string EncodeSourceInfo(const SourceInfo& info);
bool ParseSourceInfo(std::string_view text, SourceInfo& info);
// The receiver answers it with "ACK", NUL and where the blocks start in
// decimal: the offered resume point, then the one it decided on.
std::string EncodeResumePoint(uint64_t bytes);
// That number from an "ACK" (0 for "ACK" alone); false for anything else.
bool ParseResumePoint(const char* data, std::size_t length, uint64_t& bytes);

// "FR"/"FB" and the six-digit block number into out[0..7].
void PutBlockHeader(char* out, Way way, int32_t number);
// "FR999999"/"FB999999" + creation, last access, last write, each low half
// then high half, little-endian, into out[0..31].
void PutEndRecord(char* out, Way way, const FileTimes& times);
std::string EncodeEndRecord(Way way, const FileTimes& times);
// The 24 time bytes of an end record (missing bytes count as zero).
FileTimes ParseEndRecordTimes(const char* data, std::size_t count);
// The number in a 6-digit header field; -1 unless all six are digits.
int32_t ParseHeaderNumber(const char* sixBytes);

// The hash of the next `bytes` of `file` as hex, read through `buffer`:
// empty without a hash (which matches none); false when a read failed.
bool HashFile(SourceFile& file, uint64_t bytes, Cryptography& crypto, std::vector<char>& buffer, std::string& hex);

// Reads a file block by block from a host that reads what it can at a
// time. A block is filled whole until the file ends; small blocks come out
// of a read-ahead so that each exchange does not cost a read of its own,
// large ones (the fast mode's) are read straight into place.
class BlockReader {
public:
    static constexpr std::size_t kReadAheadBytes = 64 * 1024;
    // Bytes put into `buffer` (fewer than `maxBytes` only at the file's
    // end), or -1 when a read failed.
    int64_t Fill(SourceFile& file, char* buffer, std::size_t maxBytes);
    // A new file, or none.
    void Reset() { pos_ = length_ = 0, end_ = false; }

private:
    std::vector<char> ahead_;
    std::size_t pos_ = 0, length_ = 0;
    bool end_ = false;
};

// Blocks in flight (blocksInFlight): the sender goes on while the answers to
// its last blocks are on their way, as many as cover the round trip: the
// time a block takes to be answered over the time between two answers, and
// one more, within kMaxBlocksInFlight. The bytes in flight are the
// connection's, not the side's: a window costs no memory of its own.
class BlockWindow {
public:
    // A copy starts with one block queued behind the one being answered.
    static constexpr int kFirstLimit = 2;
    int InFlight() const { return inFlight_; }
    int Limit() const { return limit_; }
    bool Full() const { return inFlight_ >= limit_; }
    // A block left at `nowUs`; its answer came at `nowUs`.
    void Sent(int64_t nowUs);
    void Answered(int64_t nowUs);
    // One block at a time (a peer of an earlier release), or a new copy.
    void Start(bool windowed);
    // The blocks still in flight, which nobody counts from now on.
    int Forget();

private:
    int inFlight_ = 0;
    int limit_ = 1;
    bool windowed_ = false;
    int64_t sentUs_[kMaxBlocksInFlight] = {};
    int oldest_ = 0;
    int64_t lastAnswerUs_ = -1;
    int64_t fastestAnswerUs_ = -1;  // the least time a block took to be answered
    int64_t gapUs_ = -1;            // the time between two answers, smoothed
};

}  // namespace quorbel
