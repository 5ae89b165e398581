// The secure session's costs, each round measuring beside its yardstick:
//   the login's key exchange on each side: the password stretch (scrypt,
//     N = 16384) plus SPAKE2's share, K and confirmations (target: at most
//     0.5 s a side, also for the 32-bit program under Wine);
//   sealing and opening 1 MiB frames with AES-256-GCM, in MB/s,
//     against copying the same bytes in memory in the same round (target:
//     far above 125 MB/s, a 1 Gbit/s link).
// Prints each round and the medians; exits 1 when a target is missed.
//
//   crypto_bench [rounds=5] [megabytes=256]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/kdf.h"
#include "crypto/sealed.h"
#include "crypto/spake2.h"

using namespace quorbel::crypto;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One side's whole part: stretch, share, K, confirmation; the peer's share
// is ready beforehand, as it would be on the wire.
double Side(Spake2Role role, const Spake2::Share& peer, bool* ok) {
    const auto start = Clock::now();
    Scalar w{};
    *ok = StretchPassword("alice\npassword", "QBX4", &w);
    Spake2 side(role, w);
    *ok = *ok && side.Ok() && side.TakePeerShare(peer.data(), peer.size());
    return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int megabytes = argc > 2 ? std::atoi(argv[2]) : 256;
    if (rounds < 1 || megabytes < 1) return 2;
    constexpr std::size_t kFrame = 1 << 20;
    std::vector<uint8_t> plain(kFrame, 0x5a), sealed(kFrame + SealedChannel::kTagBytes), copy(kFrame);
    Scalar w{};
    if (!StretchPassword("alice\npassword", "QBX4", &w)) return 1;
    const Spake2 peerA(Spake2Role::kA, w), peerB(Spake2Role::kB, w);
    Spake2::Key key{};
    key[0] = 1;

    std::vector<double> sideA, sideB, seal, open, memory;
    bool ok = true;
    volatile unsigned sink = 0;
    std::printf("round  client s  server s  seal MB/s  open MB/s  memcpy MB/s\n");
    for (int r = 0; r < rounds; ++r) {
        bool sideOk = false;
        sideA.push_back(Side(Spake2Role::kA, peerB.OwnShare(), &sideOk));
        ok = ok && sideOk;
        sideB.push_back(Side(Spake2Role::kB, peerA.OwnShare(), &sideOk));
        ok = ok && sideOk;

        SealedChannel sealer(key, Direction::kServerToClient), opener(key, Direction::kServerToClient);
        double sealTime = 0, openTime = 0;
        for (int i = 0; i < megabytes; ++i) {
            auto start = Clock::now();
            ok = ok && sealer.Seal(plain.data(), kFrame, sealed.data());
            sealTime += Seconds(start);
            start = Clock::now();
            ok = ok && opener.Open(sealed.data(), sealed.size(), copy.data());
            openTime += Seconds(start);
        }
        auto start = Clock::now();
        for (int i = 0; i < megabytes; ++i) {
            plain[i & 1023] = static_cast<uint8_t>(i);  // keeps the copies from being folded away
            std::memcpy(copy.data(), plain.data(), kFrame);
            sink = sink + copy[i & 1023];
        }
        const double copyTime = Seconds(start) + 1e-9;
        const double mb = megabytes * 1.048576;
        seal.push_back(mb / sealTime);
        open.push_back(mb / openTime);
        memory.push_back(mb / copyTime);
        std::printf("%5d  %8.3f  %8.3f  %9.0f  %9.0f  %11.0f\n", r + 1, sideA.back(), sideB.back(), seal.back(),
                    open.back(), memory.back());
    }
    const double a = Median(sideA), b = Median(sideB), s = Median(seal), o = Median(open), m = Median(memory);
    std::printf("median %8.3f  %8.3f  %9.0f  %9.0f  %11.0f   (seal %.2f, open %.2f of memcpy)\n", a, b, s, o, m,
                s / m, o / m);
    const bool met = ok && a <= 0.5 && b <= 0.5 && s > 125 && o > 125;
    std::printf("%s: exchange at most 0.5 s a side, sealing and opening above 125 MB/s\n", met ? "met" : "MISSED");
    return met ? 0 : 1;
}
