// The limits both front ends share, one constant each: paths, texts kept
// from the settings, the largest file each protocol mode can copy, and the
// port and times both sides agree on. A limit of one front end alone lives
// in that front end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorbel {

// A path fits a 260-unit buffer: 259 wide characters, or 259 ANSI bytes on
// the wire, and a terminator. Longer joins are refused, never cut.
constexpr std::size_t kMaxPath = 259;

// Paths of "FD" and "FC" requests, built in 260-byte request buffers.
constexpr std::size_t kMaxRequestPath = 257;

// Stored and typed ID and PW (128-unit buffers).
constexpr std::size_t kMaxCredential = 127;

// One PC name of the settings (256-unit buffers).
constexpr std::size_t kMaxPcName = 255;
constexpr std::size_t kPcNameCount = 4;

// File data of one block, and the largest file a copy may move: block
// numbers have six digits and 999999 marks the end, so at most 999,997
// blocks of the plain mode and 999,999 blocks of the fast mode.
constexpr std::size_t kPlainBlockBytes = 1000;
constexpr std::size_t kFastBlockBytes = std::size_t(1) << 20;
constexpr uint64_t kMaxPlainCopyBytes = 999'997'000ULL;
constexpr uint64_t kMaxFastCopyBytes = 999'999ULL * kFastBlockBytes;
// Blocks a sender keeps on their way before their answers (blocksInFlight):
// 8 MiB at most, what covers a round trip of 80 ms at 1 Gbit/s.
constexpr int kMaxBlocksInFlight = 8;

// A window of requests (between two programs that keep one): the
// requests a side keeps under way ahead of their answers, and the bytes of
// the small files sent whole behind them, each side on its own. A round
// trip of 30 ms at 100 Mbit/s holds 375 KB.
constexpr std::size_t kRequestWindowFiles = 64;
constexpr uint64_t kRequestWindowBytes = 4ULL << 20;

// The note that names the source a partial file belongs to (a resumed
// copy's): what is read of it; a longer file is not such a note.
constexpr std::size_t kMaxPartialNoteBytes = 64;

// The entries a tree copy takes from one local folder: a larger one is
// copied in part and named as incomplete, as a peer's full listing is.
constexpr std::size_t kMaxTreeFolderEntries = 65536;

// The subfolders a tree plan (or a tree listing's server) keeps waiting to
// be visited, in number and in the characters of their names: a tree of
// any width and depth costs no more.
constexpr std::size_t kMaxWaitingFolders = 1 << 18;
constexpr std::size_t kMaxWaitingChars = 1 << 22;

// One page of an exact listing: the records that fit this
// many bytes go in one message and are answered with one "ACK".
constexpr std::size_t kListingPageBytes = 64 * 1024;
// The rows an exact listing may bring: a folder holds fewer, so a listing
// that goes on past them is a peer's flood, which ends the connection
// instead of filling a pane or a terminal without end.
constexpr int32_t kMaxListingRows = 1'000'000;

// A tree listing (one exchange for a folder's whole tree): the rows its
// server starts no new folder's group beyond, and the rows its receiver
// keeps (a folder's group may pass the first by kMaxTreeFolderEntries);
// the folders beyond are listed one by one.
constexpr std::size_t kTreeListingRows = 1 << 18;
constexpr std::size_t kMaxTreeListingRows = kTreeListingRows + kMaxTreeFolderEntries + 1;

// A plain peer reads one message a receive: a request of ours waits this
// long after a message of ours it did not answer, so the two never arrive
// glued together.
constexpr uint32_t kPlainGapMs = 100;

// The TCP port of both roles unless the settings or the command line say
// otherwise.
constexpr uint16_t kDefaultPort = 1050;

// A close that waits for nothing comes this long after it was decided (a
// broken frame, "CUT" to the Client, the disconnect command without a peer),
// so the message at hand is handled first.
constexpr uint32_t kCloseDelayMs = 100;

// A Server closes a connection that has not logged in this long after it
// came (its turn at the guard against guessing included), and a Client
// waits as long for the answer to its login.
constexpr int kLoginTimeMs = 10'000;

// Connections a Server's listening socket holds before it accepts them.
constexpr int kListenBacklog = 3;

// The Servers a Client remembers having had a secure session with, each by
// the name it was given and by its address (two keys a Server, each with its
// port); the oldest key is forgotten first.
constexpr std::size_t kMaxSecurePeers = 64;
// The text that keeps them: that many of the longest name, ':', the
// longest port and ';'.
constexpr std::size_t kSecurePeersChars = kMaxSecurePeers * (kMaxPcName + 7);

}  // namespace quorbel
