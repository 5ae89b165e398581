#include "crypto/kdf.h"

#include <algorithm>
#include <cstring>

#include <gcrypt.h>

#include "crypto/crypto.h"

namespace quorbel::crypto {

namespace {

constexpr std::size_t kHashBytes = 32;
constexpr std::size_t kStretchBytes = 48;  // 256 + 128 bits, reduced mod n

}  // namespace

bool HmacSha256(const uint8_t* key, std::size_t keyLength, const void* data, std::size_t length, uint8_t* mac) {
    Start();
    gcry_mac_hd_t h = nullptr;
    if (gcry_mac_open(&h, GCRY_MAC_HMAC_SHA256, 0, nullptr) != 0) return false;
    std::size_t got = kHashBytes;
    const bool ok = gcry_mac_setkey(h, key, keyLength) == 0 && (length == 0 || gcry_mac_write(h, data, length) == 0) &&
                    gcry_mac_read(h, mac, &got) == 0 && got == kHashBytes;
    gcry_mac_close(h);
    return ok;
}

bool HkdfSha256(const uint8_t* ikm, std::size_t ikmLength, const uint8_t* salt, std::size_t saltLength,
                const void* info, std::size_t infoLength, uint8_t* out, std::size_t length) {
    if (length > 255 * kHashBytes) return false;
    static const uint8_t kNoSalt[kHashBytes] = {};
    if (saltLength == 0) {
        salt = kNoSalt;
        saltLength = sizeof kNoSalt;
    }
    uint8_t prk[kHashBytes];
    if (!HmacSha256(salt, saltLength, ikm, ikmLength, prk)) return false;
    // T(i) = HMAC(PRK, T(i-1) | info | i); the block is rebuilt each round.
    std::string block;
    uint8_t t[kHashBytes];
    std::size_t done = 0;
    for (uint8_t i = 1; done < length; ++i) {
        block.assign(done == 0 ? "" : reinterpret_cast<const char*>(t), done == 0 ? 0 : kHashBytes);
        block.append(static_cast<const char*>(info), infoLength);
        block.push_back(static_cast<char>(i));
        if (!HmacSha256(prk, sizeof prk, block.data(), block.size(), t)) return false;
        const std::size_t take = std::min(kHashBytes, length - done);
        std::memcpy(out + done, t, take);
        done += take;
    }
    std::memset(prk, 0, sizeof prk);
    std::memset(t, 0, sizeof t);
    return true;
}

bool Scrypt(const std::string& password, const std::string& salt, uint8_t* out, std::size_t length) {
    Start();
    return gcry_kdf_derive(password.data(), password.size(), GCRY_KDF_SCRYPT, static_cast<int>(kScryptCost),
                           salt.data(), salt.size(), kScryptParallelism, length, out) == 0;
}

bool StretchPassword(const std::string& loginText, const std::string& salt, Scalar* w) {
    uint8_t bytes[kStretchBytes];
    if (!Scrypt(loginText, salt, bytes, sizeof bytes)) return false;
    gcry_ctx_t ctx = nullptr;
    if (gcry_mpi_ec_new(&ctx, nullptr, "NIST P-256") != 0) return false;
    gcry_mpi_t n = gcry_mpi_ec_get_mpi("n", ctx, 1);
    gcry_mpi_t value = nullptr;
    bool ok = n && gcry_mpi_scan(&value, GCRYMPI_FMT_USG, bytes, sizeof bytes, nullptr) == 0;
    std::size_t used = 0;
    if (ok) {
        gcry_mpi_mod(value, value, n);
        ok = gcry_mpi_print(GCRYMPI_FMT_USG, nullptr, 0, &used, value) == 0 && used <= w->size();
    }
    if (ok) {
        w->fill(0);
        ok = gcry_mpi_print(GCRYMPI_FMT_USG, w->data() + w->size() - used, used, &used, value) == 0;
    }
    std::memset(bytes, 0, sizeof bytes);
    gcry_mpi_release(value);
    gcry_mpi_release(n);
    gcry_ctx_release(ctx);
    return ok;
}

}  // namespace quorbel::crypto
