// Helpers for the end-to-end transfer tests: file contents compared by
// SHA-256, files with chosen times, the block and end-record layouts, and
// the first listings a scripted peer has to go through.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "net_test_support.h"

namespace e2e {

// SHA-256 of bytes, as 64 lower-case hex digits.
std::string Sha256Hex(const std::string& bytes);
// SHA-256 of a file read in chunks; empty when it cannot be opened.
std::string FileSha256(const std::wstring& path);

// Reproducible pseudo-random bytes.
std::string RandomBytes(size_t count, uint32_t seed);
// Writes a file of `count` pseudo-random bytes in chunks (large files).
bool WriteRandomFile(const std::wstring& path, uint64_t count, uint32_t seed);
bool WriteBytes(const std::wstring& path, const std::string& bytes);

bool FileExists(const std::wstring& path);
uint64_t FileSize(const std::wstring& path);

struct FileTimes {
    FILETIME creation{}, lastAccess{}, lastWrite{};
};
bool GetTimes(const std::wstring& path, FileTimes& times);
bool SetTimes(const std::wstring& path, const FileTimes& times);
// Distinct times in the past, far from "now": a copy that took the time of
// the copy instead of the sender's would not match them.
FileTimes PastTimes(int salt);
uint64_t AsNumber(const FILETIME& t);
std::string Describe(const FileTimes& t);

// The first listings of a connection in command mode, the scripted peer
// being the Client of Quorbel.exe: "DD" + folder, an ACK per record up to
// "DR999999", then the Server's own request answered with an empty listing.
bool ClientHandshake(testing_support::PeerSocket& peer, const std::string& folderAnsi);

// "FR%06d"/"FB%06d" + data.
std::string Block(const char* kind, int number, const std::string& data);
// "FR999999"/"FB999999" + the three times, low then high halves, little-endian.
std::string EndRecord(const char* kind, const FileTimes& times);
// The three times of an end record's 24 bytes.
FileTimes TimesOfEndRecord(const std::string& record);

// ANSI (thread code page) form of a wide path, as the wire carries it.
std::string Ansi(const std::wstring& text);

}  // namespace e2e
