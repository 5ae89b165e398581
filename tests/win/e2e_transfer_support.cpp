#include "e2e_transfer_support.h"

#include <cstdio>
#include <cstring>

#include "win_test_support.h"

namespace e2e {

// ---- SHA-256 ----------------------------------------------------------------

namespace {

class Sha256 {
public:
    void Update(const unsigned char* data, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            block_[fill_++] = data[i];
            if (fill_ == 64) {
                Compress();
                fill_ = 0;
            }
        }
        bits_ += uint64_t(n) * 8;
    }
    std::string HexDigest() {
        uint64_t bits = bits_;
        const unsigned char one = 0x80, zero = 0;
        Update(&one, 1);
        while (fill_ != 56) Update(&zero, 1);
        for (int i = 7; i >= 0; --i) {
            block_[fill_++] = static_cast<unsigned char>(bits >> (8 * i));
        }
        Compress();
        char out[65];
        for (int i = 0; i < 8; ++i) std::snprintf(out + 8 * i, 9, "%08x", static_cast<unsigned>(h_[i]));
        return std::string(out, 64);
    }

private:
    static uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
    void Compress() {
        static const uint32_t k[64] = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
            0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
            0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
            0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
            0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
            0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
            0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
        uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = uint32_t(block_[4 * i]) << 24 | uint32_t(block_[4 * i + 1]) << 16 |
                   uint32_t(block_[4 * i + 2]) << 8 | uint32_t(block_[4 * i + 3]);
        for (int i = 16; i < 64; ++i) {
            uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6], h = h_[7];
        for (int i = 0; i < 64; ++i) {
            uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        h_[0] += a; h_[1] += b; h_[2] += c; h_[3] += d;
        h_[4] += e; h_[5] += f; h_[6] += g; h_[7] += h;
    }

    uint32_t h_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    unsigned char block_[64] = {};
    size_t fill_ = 0;
    uint64_t bits_ = 0;
};

struct Random {
    explicit Random(uint32_t seed) : x(seed * 2654435761u + 0x9E3779B9u) {}
    uint32_t Next() {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    }
    uint32_t x;
};

}  // namespace

std::string Sha256Hex(const std::string& bytes) {
    Sha256 s;
    s.Update(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return s.HexDigest();
}

std::string FileSha256(const std::wstring& path) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (f == INVALID_HANDLE_VALUE) return {};
    Sha256 s;
    static unsigned char buf[1 << 16];
    DWORD n = 0;
    while (ReadFile(f, buf, sizeof buf, &n, nullptr) && n > 0) s.Update(buf, n);
    CloseHandle(f);
    return s.HexDigest();
}

std::string RandomBytes(size_t count, uint32_t seed) {
    Random r(seed);
    std::string out(count, '\0');
    for (auto& c : out) c = static_cast<char>(r.Next() >> 24);
    return out;
}

bool WriteRandomFile(const std::wstring& path, uint64_t count, uint32_t seed) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    Random r(seed);
    static char buf[1 << 16];
    bool ok = true;
    while (ok && count > 0) {
        DWORD n = count < sizeof buf ? static_cast<DWORD>(count) : static_cast<DWORD>(sizeof buf);
        for (DWORD i = 0; i < n; ++i) buf[i] = static_cast<char>(r.Next() >> 24);
        DWORD written = 0;
        ok = WriteFile(f, buf, n, &written, nullptr) && written == n;
        count -= n;
    }
    CloseHandle(f);
    return ok;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    CloseHandle(f);
    return ok;
}

bool FileExists(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

uint64_t FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

bool GetTimes(const std::wstring& path, FileTimes& times) {
    HANDLE f = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    bool ok = GetFileTime(f, &times.creation, &times.lastAccess, &times.lastWrite);
    CloseHandle(f);
    return ok;
}

bool SetTimes(const std::wstring& path, const FileTimes& times) {
    HANDLE f = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    bool ok = SetFileTime(f, &times.creation, &times.lastAccess, &times.lastWrite);
    CloseHandle(f);
    return ok;
}

namespace {
FILETIME FromNumber(uint64_t v) {
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(v);
    t.dwHighDateTime = static_cast<DWORD>(v >> 32);
    return t;
}
}  // namespace

FileTimes PastTimes(int salt) {
    // 2011-03-01 and a few days on, in whole seconds (every file system
    // keeps them), distinct per salt.
    const uint64_t base = 129433824000000000ULL + uint64_t(salt) * 7 * 86400 * 10000000ULL;
    FileTimes t;
    t.creation = FromNumber(base);
    t.lastAccess = FromNumber(base + 2 * 86400 * 10000000ULL);
    t.lastWrite = FromNumber(base + 86400 * 10000000ULL + 37 * 10000000ULL);
    return t;
}

uint64_t AsNumber(const FILETIME& t) { return uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime; }

std::string Describe(const FileTimes& t) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "c=%llu a=%llu w=%llu", static_cast<unsigned long long>(AsNumber(t.creation)),
                  static_cast<unsigned long long>(AsNumber(t.lastAccess)),
                  static_cast<unsigned long long>(AsNumber(t.lastWrite)));
    return buf;
}

bool ClientHandshake(testing_support::PeerSocket& peer, const std::string& folderAnsi) {
    if (!peer.Send("DD" + folderAnsi)) return false;
    for (int i = 0; i < 1100; ++i) {
        std::string m = peer.Receive(5000);
        if (m.compare(0, 8, "DR999999") == 0) break;
        if (m.compare(0, 2, "DR") != 0) return false;
        if (!peer.Send("ACK")) return false;
    }
    // The Server then asks for this side's folder once.
    std::string request = peer.Receive(5000);
    if (request.compare(0, 2, "DD") != 0) return false;
    return peer.Send("DR999999");
}

std::string Block(const char* kind, int number, const std::string& data) {
    char header[16];
    std::snprintf(header, sizeof header, "%s%06d", kind, number);
    return std::string(header) + data;
}

std::string EndRecord(const char* kind, const FileTimes& times) {
    std::string out = std::string(kind) + "999999";
    for (const FILETIME* t : {&times.creation, &times.lastAccess, &times.lastWrite}) {
        for (DWORD half : {t->dwLowDateTime, t->dwHighDateTime})
            for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((half >> (8 * i)) & 0xFF));
    }
    return out;
}

FileTimes TimesOfEndRecord(const std::string& record) {
    FileTimes t;
    auto half = [&](size_t at) {
        DWORD v = 0;
        for (int i = 0; i < 4; ++i)
            if (at + i < record.size()) v |= DWORD(static_cast<unsigned char>(record[at + i])) << (8 * i);
        return v;
    };
    FILETIME* all[3] = {&t.creation, &t.lastAccess, &t.lastWrite};
    for (int i = 0; i < 3; ++i) {
        all[i]->dwLowDateTime = half(8 + 8 * i);
        all[i]->dwHighDateTime = half(12 + 8 * i);
    }
    return t;
}

std::string Ansi(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), static_cast<int>(text.size()),
                                nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), static_cast<int>(text.size()), out.data(),
                        n, nullptr, nullptr);
    return out;
}

}  // namespace e2e
