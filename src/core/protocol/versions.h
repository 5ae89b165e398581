// The fast mode's versions: the marker each one shows after the login text,
// and what it adds to the plain protocol, each thing by its name. Both sides
// of a connection keep to the capabilities of the version both showed, and
// every check of the core and of the front ends reads one of them: a new
// version is a new row here, with a field for each thing it adds.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace quorbel {

struct Capabilities {
    // Every message goes in a frame of its length; a block holds 1 MiB, a
    // copy may move 999,999 of them, and an end record alone is an empty file.
    bool framed = false;
    // The receiver answers a file's end record: "ACK" once the file has its
    // final name and times, "NAK" when it could not give it them.
    bool endRecordsAnswered = false;
    // A listing goes in pages of exact records, as long as the folder is.
    bool exactListing = false;
    // A sender first says what its source is; a copy that a lost connection
    // cut goes on after the bytes the receiver kept, once both hashes agree.
    bool resume = false;
    // The pair is proven by a key exchange instead of sent, and every frame
    // after it is sealed (the secure session).
    bool secure = false;
    // A sender keeps several blocks on their way before their answers; a
    // receiver that refused a copy drops what was still on its way of it.
    bool blocksInFlight = false;
    // A file of one block at most goes without saying what it is first, and
    // replaces what a cut copy of it left.
    bool smallFilesAtOnce = false;
    // The next copy to the peer may be asked for behind the end record of
    // the one before, ahead of that record's answer.
    bool requestBeforeEndAnswer = false;
    // The serving side holds the peer's next request until the one it
    // serves is done, rather than refusing it.
    bool heldRequests = false;
    // A file of one block at most goes whole, block and end record, behind
    // its request or behind the end record of the file before it.
    bool smallFilesWhole = false;
    // A sender that took the refusal of its blocks ends what it had sent
    // ahead with a stop record, so that the receiver tells it from what follows.
    bool stopRecord = false;
    // The Server salts the stretch of the pair with a salt of its own, sent
    // in its first answer before the Client stretches: no table computed in
    // advance serves against two Servers.
    bool ownSalt = false;
    // The Server confirms the pair last: its share goes first, and its
    // confirmation only once the Client's checked out, so that a guess is
    // never tested anywhere but at the Server, which counts it.
    bool serverConfirmsLast = false;
    // A window of requests: a side keeps up to kRequestWindowFiles of its
    // requests (and kRequestWindowBytes of the small files sent whole
    // behind them) under way, the serving side holds as many and sends the
    // small files asked for back to back; each is still answered in its
    // turn. A small file that came whole is not stopped any more.
    bool requestWindow = false;
    // A folder's whole tree is listed in one exchange ("DT"; "DH" with the
    // hash of each file), one group of records per folder.
    bool treeListing = false;
    // A folder made at the peer's request is answered "NAK" when it is not
    // there afterwards, so that a Client making folders ahead of their
    // files need not list them again.
    bool folderAnswered = false;
};

// One version: its marker, and what it adds to the version before it.
struct VersionRow {
    std::string_view marker;
    std::array<bool Capabilities::*, 4> adds;  // null where it adds fewer
};

// The index is the version; 0 is the plain protocol, which has no marker.
inline constexpr VersionRow kVersions[] = {
    {"", {}},
    {"QBX1", {&Capabilities::framed}},
    {"QBX2", {&Capabilities::endRecordsAnswered}},
    {"QBX3", {&Capabilities::exactListing, &Capabilities::resume}},
    {"QBX4",
     {&Capabilities::secure, &Capabilities::blocksInFlight, &Capabilities::smallFilesAtOnce,
      &Capabilities::requestBeforeEndAnswer}},
    {"QBX5", {&Capabilities::heldRequests, &Capabilities::smallFilesWhole, &Capabilities::stopRecord}},
    {"QBX6", {&Capabilities::ownSalt, &Capabilities::serverConfirmsLast}},
    {"QBX7", {&Capabilities::requestWindow, &Capabilities::treeListing, &Capabilities::folderAnswered}},
};

// The newest version, which this release offers first.
constexpr int kFastVersion = int(std::size(kVersions)) - 1;

// What `version` and all before it add (none for 0 or a version out of range).
const Capabilities& CapabilitiesOf(int version);
inline std::string_view Marker(int version) {
    return version > 0 && version <= kFastVersion ? kVersions[version].marker : std::string_view();
}

}  // namespace quorbel
