#include "crypto/spake2.h"

#include <cstring>

#include <gcrypt.h>

#include "crypto/crypto.h"

namespace quorbel::crypto {

namespace {

constexpr std::size_t kCoordinateBytes = 32;
constexpr int kScalarDraws = 64;  // each draw falls outside [1, n) with p < 2^-32

// The fixed points M and N of the P-256 suite, compressed.
constexpr uint8_t kPointM[33] = {0x02, 0x88, 0x6e, 0x2f, 0x97, 0xac, 0xe4, 0x6e, 0x55, 0xba, 0x9d,
                                 0xd7, 0x24, 0x25, 0x79, 0xf2, 0x99, 0x3b, 0x64, 0xe1, 0x6e, 0xf3,
                                 0xdc, 0xab, 0x95, 0xaf, 0xd4, 0x97, 0x33, 0x3d, 0x8f, 0xa1, 0x2f};
constexpr uint8_t kPointN[33] = {0x03, 0xd8, 0xbb, 0xd6, 0xc6, 0x39, 0xc6, 0x29, 0x37, 0xb0, 0x4d,
                                 0x99, 0x7f, 0x38, 0xc3, 0x77, 0x07, 0x19, 0xc6, 0x29, 0xd7, 0x01,
                                 0x4d, 0x49, 0xa2, 0x4b, 0x4f, 0x98, 0xba, 0xa1, 0x29, 0x2b, 0x49};

// Writes `value` as exactly `length` big-endian bytes.
bool PutFixed(gcry_mpi_t value, uint8_t* out, std::size_t length) {
    std::size_t used = 0;
    if (gcry_mpi_print(GCRYMPI_FMT_USG, nullptr, 0, &used, value) != 0 || used > length) return false;
    std::memset(out, 0, length - used);
    return gcry_mpi_print(GCRYMPI_FMT_USG, out + length - used, used, &used, value) == 0;
}

// Lets the library multiply with `value` in constant time, as it does for
// secret scalars only. (It cannot mark a zero, which hides nothing.)
void MarkSecret(gcry_mpi_t value) {
    if (gcry_mpi_cmp_ui(value, 0) != 0 && !gcry_mpi_get_flag(value, GCRYMPI_FLAG_SECURE))
        gcry_mpi_set_flag(value, GCRYMPI_FLAG_SECURE);
}

void AppendWithLength(std::string* tt, const void* data, std::size_t length) {
    uint64_t n = length;
    for (int i = 0; i < 8; ++i, n >>= 8) tt->push_back(static_cast<char>(n & 0xff));
    tt->append(static_cast<const char*>(data), length);
}

}  // namespace

// The curve and this side's secrets; released (secret scalars wiped) with it.
struct Spake2::Group {
    gcry_ctx_t ctx = nullptr;
    gcry_mpi_t n = nullptr, p = nullptr, w = nullptr, scalar = nullptr;
    gcry_mpi_point_t g = nullptr, m = nullptr, nPoint = nullptr;
    Scalar wBytes{};

    ~Group() {
        gcry_mpi_point_release(g);
        gcry_mpi_point_release(m);
        gcry_mpi_point_release(nPoint);
        gcry_mpi_release(n);
        gcry_mpi_release(p);
        gcry_mpi_release(w);
        gcry_mpi_release(scalar);
        gcry_ctx_release(ctx);
        wBytes.fill(0);
    }

    gcry_mpi_point_t Decompress(const uint8_t (&bytes)[33]) {
        gcry_mpi_t value = gcry_mpi_set_opaque_copy(nullptr, bytes, 8 * sizeof bytes);
        gcry_mpi_point_t point = gcry_mpi_point_new(0);
        if (!value || gcry_mpi_ec_decode_point(point, value, ctx) != 0) {
            gcry_mpi_point_release(point);
            point = nullptr;
        }
        gcry_mpi_release(value);
        return point;
    }

    bool Open() {
        if (!Start() || gcry_mpi_ec_new(&ctx, nullptr, "NIST P-256") != 0) return false;
        n = gcry_mpi_ec_get_mpi("n", ctx, 1);
        p = gcry_mpi_ec_get_mpi("p", ctx, 1);
        g = gcry_mpi_ec_get_point("g", ctx, 1);
        m = Decompress(kPointM);
        nPoint = Decompress(kPointN);
        return n && p && g && m && nPoint;
    }

    // A secret scalar from 32 big-endian bytes, below n.
    gcry_mpi_t SecretScalar(const uint8_t* bytes) {
        gcry_mpi_t value = nullptr;
        if (gcry_mpi_scan(&value, GCRYMPI_FMT_USG, bytes, kCoordinateBytes, nullptr) != 0) return nullptr;
        if (gcry_mpi_cmp(value, n) >= 0) {
            gcry_mpi_release(value);
            return nullptr;
        }
        MarkSecret(value);
        return value;
    }

    // Uniform in [1, n): drawn again until it falls there.
    gcry_mpi_t RandomScalar() {
        uint8_t bytes[kCoordinateBytes];
        gcry_mpi_t value = nullptr;
        for (int i = 0; i < kScalarDraws && !value; ++i) {
            gcry_randomize(bytes, sizeof bytes, GCRY_STRONG_RANDOM);
            value = SecretScalar(bytes);
            if (value && gcry_mpi_cmp_ui(value, 0) == 0) {
                gcry_mpi_release(value);
                value = nullptr;
            }
        }
        std::memset(bytes, 0, sizeof bytes);
        return value;
    }

    bool Encode(gcry_mpi_point_t point, uint8_t* out) {
        gcry_mpi_t x = gcry_mpi_new(0), y = gcry_mpi_new(0);
        // get_affine fails for the point at infinity, which has no encoding.
        const bool ok = gcry_mpi_ec_get_affine(x, y, point, ctx) == 0 && PutFixed(x, out + 1, kCoordinateBytes) &&
                        PutFixed(y, out + 1 + kCoordinateBytes, kCoordinateBytes);
        out[0] = 0x04;
        gcry_mpi_release(x);
        gcry_mpi_release(y);
        return ok;
    }

    // An uncompressed point of the curve, or null: coordinates below p and
    // on the curve (its cofactor is 1, so that is the whole group check).
    gcry_mpi_point_t Decode(const uint8_t* bytes, std::size_t length) {
        if (length != kShareBytes || bytes[0] != 0x04) return nullptr;
        gcry_mpi_t x = nullptr, y = nullptr;
        gcry_mpi_point_t point = nullptr;
        if (gcry_mpi_scan(&x, GCRYMPI_FMT_USG, bytes + 1, kCoordinateBytes, nullptr) == 0 &&
            gcry_mpi_scan(&y, GCRYMPI_FMT_USG, bytes + 1 + kCoordinateBytes, kCoordinateBytes, nullptr) == 0 &&
            gcry_mpi_cmp(x, p) < 0 && gcry_mpi_cmp(y, p) < 0) {
            gcry_mpi_t one = gcry_mpi_set_ui(nullptr, 1);
            point = gcry_mpi_point_set(nullptr, x, y, one);
            gcry_mpi_release(one);
            if (!gcry_mpi_ec_curve_point(point, ctx)) {
                gcry_mpi_point_release(point);
                point = nullptr;
            }
        }
        gcry_mpi_release(x);
        gcry_mpi_release(y);
        return point;
    }

    // scalar * base + w * mask
    gcry_mpi_point_t Blind(gcry_mpi_t first, gcry_mpi_point_t base, gcry_mpi_t second, gcry_mpi_point_t mask) {
        gcry_mpi_point_t a = gcry_mpi_point_new(0), b = gcry_mpi_point_new(0), sum = gcry_mpi_point_new(0);
        gcry_mpi_ec_mul(a, first, base, ctx);
        gcry_mpi_ec_mul(b, second, mask, ctx);
        gcry_mpi_ec_add(sum, a, b, ctx);
        gcry_mpi_point_release(a);
        gcry_mpi_point_release(b);
        return sum;
    }
};

Spake2::Spake2(Spake2Role role, const Scalar& w, const std::string& aad)
    : role_(role), identityA_(kSpake2IdentityA), identityB_(kSpake2IdentityB), aad_(aad) {
    Begin(w, nullptr);
}

Spake2::Spake2(Spake2Role role, const Scalar& w, const Scalar& scalar, const std::string& identityA,
               const std::string& identityB, const std::string& aad)
    : role_(role), identityA_(identityA), identityB_(identityB), aad_(aad) {
    Begin(w, &scalar);
}

Spake2::~Spake2() = default;

bool Spake2::IsShare(const uint8_t* share, std::size_t length) {
    Group group;
    if (!group.Open()) return false;
    gcry_mpi_point_t point = group.Decode(share, length);
    gcry_mpi_point_release(point);
    return point != nullptr;
}

void Spake2::Begin(const Scalar& w, const Scalar* scalar) {
    group_ = std::make_unique<Group>();
    Group& gr = *group_;
    if (!gr.Open()) return;
    gr.wBytes = w;
    gr.w = gr.SecretScalar(w.data());
    gr.scalar = scalar ? gr.SecretScalar(scalar->data()) : gr.RandomScalar();
    if (!gr.w || !gr.scalar) return;
    // pA = x*G + w*M; pB = y*G + w*N
    gcry_mpi_point_t share = gr.Blind(gr.scalar, gr.g, gr.w, role_ == Spake2Role::kA ? gr.m : gr.nPoint);
    ok_ = gr.Encode(share, share_.data());
    gcry_mpi_point_release(share);
}

bool Spake2::TakePeerShare(const uint8_t* share, std::size_t length) {
    if (!ok_ || keyed_) return false;
    ok_ = false;  // one peer share per exchange, good or bad
    Group& gr = *group_;
    gcry_mpi_point_t peer = gr.Decode(share, length);
    if (!peer) return false;
    // K = x*(pB - w*N) or y*(pA - w*M), with -w taken as n - w: the
    // library subtracts no points on this curve.
    gcry_mpi_t minusW = gcry_mpi_new(0);
    gcry_mpi_subm(minusW, gr.n, gr.w, gr.n);
    MarkSecret(minusW);
    gcry_mpi_point_t mask = gcry_mpi_point_new(0), unmasked = gcry_mpi_point_new(0);
    gcry_mpi_ec_mul(mask, minusW, role_ == Spake2Role::kA ? gr.nPoint : gr.m, gr.ctx);
    gcry_mpi_ec_add(unmasked, peer, mask, gr.ctx);
    gcry_mpi_point_release(mask);
    gcry_mpi_release(minusW);
    gcry_mpi_point_t k = gcry_mpi_point_new(0);
    gcry_mpi_ec_mul(k, gr.scalar, unmasked, gr.ctx);
    const bool kOk = gr.Encode(k, schedule_.k.data());
    gcry_mpi_point_release(k);
    gcry_mpi_point_release(unmasked);
    gcry_mpi_point_release(peer);
    if (!kOk) return false;

    const uint8_t* pA = role_ == Spake2Role::kA ? share_.data() : share;
    const uint8_t* pB = role_ == Spake2Role::kA ? share : share_.data();
    std::string& tt = schedule_.transcript;
    AppendWithLength(&tt, identityA_.data(), identityA_.size());
    AppendWithLength(&tt, identityB_.data(), identityB_.size());
    AppendWithLength(&tt, pA, kShareBytes);
    AppendWithLength(&tt, pB, kShareBytes);
    AppendWithLength(&tt, schedule_.k.data(), kShareBytes);
    AppendWithLength(&tt, gr.wBytes.data(), gr.wBytes.size());

    Sha256 hash;
    if (!hash.Ok()) return false;
    hash.Add(tt.data(), tt.size());
    const Sha256::Digest h = hash.Finish();
    std::memcpy(schedule_.ke.data(), h.data(), kKeyBytes);
    std::memcpy(schedule_.ka.data(), h.data() + kKeyBytes, kKeyBytes);
    const std::string info = "ConfirmationKeys" + aad_;
    uint8_t kc[2 * kKeyBytes];
    if (!HkdfSha256(schedule_.ka.data(), kKeyBytes, nullptr, 0, info.data(), info.size(), kc, sizeof kc)) return false;
    std::memcpy(schedule_.kcA.data(), kc, kKeyBytes);
    std::memcpy(schedule_.kcB.data(), kc + kKeyBytes, kKeyBytes);
    std::memset(kc, 0, sizeof kc);
    if (!HmacSha256(schedule_.kcA.data(), kKeyBytes, tt.data(), tt.size(), schedule_.cA.data()) ||
        !HmacSha256(schedule_.kcB.data(), kKeyBytes, tt.data(), tt.size(), schedule_.cB.data()))
        return false;
    ok_ = keyed_ = true;
    return true;
}

const Spake2::Confirmation& Spake2::OwnConfirmation() const {
    return role_ == Spake2Role::kA ? schedule_.cA : schedule_.cB;
}

bool Spake2::PeerConfirms(const uint8_t* confirmation, std::size_t length) const {
    if (!keyed_ || length != kConfirmationBytes) return false;
    const Confirmation& expected = role_ == Spake2Role::kA ? schedule_.cB : schedule_.cA;
    return EqualInConstantTime(expected.data(), confirmation, kConfirmationBytes);
}

bool EqualInConstantTime(const uint8_t* a, const uint8_t* b, std::size_t length) {
    volatile uint8_t differ = 0;
    for (std::size_t i = 0; i < length; ++i) differ = differ | (a[i] ^ b[i]);
    return differ == 0;
}

}  // namespace quorbel::crypto
