// The limits every layer shares, one constant each: path buffers, texts kept
// from the settings, the largest file each protocol mode can copy, and the
// port and times both sides agree on.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorbel {

// A path fits a 260-unit buffer: 259 wide characters, or 259 ANSI bytes on
// the wire, and a terminator. Longer joins are refused, never cut.
constexpr std::size_t kMaxPath = 259;
constexpr std::size_t kPathBuffer = kMaxPath + 1;

// Paths of "FD" and "FC" requests, built in 260-byte request buffers.
constexpr std::size_t kMaxRequestPath = 257;

// Stored and typed ID and PW (128-unit buffers).
constexpr std::size_t kMaxCredential = 127;
// What the ID/PW dialog reads from each edit.
constexpr std::size_t kCredentialEditChars = 125;

// One PC name of the settings (256-unit buffers).
constexpr std::size_t kMaxPcName = 255;
constexpr std::size_t kPcNameCount = 4;

// This PC's host address and name as the header shows them (64 units).
constexpr std::size_t kMaxHostText = 63;
// The Server's host name as the Client looks it up (32 bytes, 32 units).
constexpr std::size_t kMaxPeerHostName = 31;

// File data of one block, and the largest file a copy may move: block
// numbers have six digits and 999999 marks the end, so at most 999,997
// blocks of the plain mode and 999,999 blocks of the fast mode.
constexpr std::size_t kPlainBlockBytes = 1000;
constexpr std::size_t kFastBlockBytes = std::size_t(1) << 20;
constexpr uint64_t kMaxPlainCopyBytes = 999'997'000ULL;
constexpr uint64_t kMaxFastCopyBytes = 999'999ULL * kFastBlockBytes;
// Blocks a sender of fast mode 4 has on their way before their answers:
// 8 MiB at most, what covers a round trip of 80 ms at 1 Gbit/s.
constexpr int kMaxBlocksInFlight = 8;

// The note that names the source a partial file belongs to (a resumed
// copy's): what is read of it; a longer file is not such a note.
constexpr std::size_t kMaxPartialNoteBytes = 64;

// The entries a tree copy takes from one local folder: a larger one is
// copied in part and named as incomplete, as a peer's full listing is.
constexpr std::size_t kMaxTreeFolderEntries = 65536;

// One page of an exact listing (fast mode 3): the records that fit this
// many bytes go in one message and are answered with one "ACK".
constexpr std::size_t kListingPageBytes = 64 * 1024;
// The rows an exact listing may bring: a folder holds fewer, so a listing
// that goes on past them is a peer's flood, which ends the connection
// instead of filling a pane or a terminal without end.
constexpr int32_t kMaxListingRows = 1'000'000;

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

// A Client that ends its connection reads what the peer still sends (the
// blocks it had in flight before it read this side's last word) until the
// peer closes, at most this long, so that the peer reads that word rather
// than a reset.
constexpr int kCloseLingerMs = 2000;

// Connections a Server's listening socket holds before it accepts them.
constexpr int kListenBacklog = 3;

// How long a Client waits for the answer to its login request.
constexpr int kLoginAnswerWaitMs = 3000;
// A Client that falls back to the plain login connects again this much
// later: a Server that answers every connection from its first slot has
// freed it by then, and the new connection does not land beside the old.
constexpr int kPlainLoginPauseMs = 300;
// The addresses a Client remembers having had a secure session with; the
// oldest is forgotten first.
constexpr std::size_t kMaxSecurePeers = 32;
// The settings text that keeps them: 32 of "255.255.255.255:65535;".
constexpr std::size_t kSecurePeersChars = kMaxSecurePeers * 22;

// The Linux peer's password: the longest first line of a password file it
// reads, and how long it waits for one typed at the prompt.
constexpr int kMaxPasswordLineBytes = 1024;
constexpr int kPasswordPromptMs = 300'000;

// The Linux peer's Server: the time a connection has to log in, the
// default time a logged-in peer may stay silent, and how long either side
// waits for a peer that takes no bytes before it gives the connection up.
constexpr int kLoginDeadlineSeconds = 10;
constexpr int kDefaultIdleSeconds = 600;
constexpr int kSendStallSeconds = 30;

}  // namespace quorbel
