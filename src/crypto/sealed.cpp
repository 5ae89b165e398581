#include "crypto/sealed.h"

#include <cstring>

#include <gcrypt.h>

#include "crypto/crypto.h"
#include "crypto/kdf.h"

namespace quorbel::crypto {

namespace {

constexpr std::size_t kNonceBytes = 12;

gcry_cipher_hd_t Handle(void* handle) { return static_cast<gcry_cipher_hd_t>(handle); }

}  // namespace

SealedChannel::SealedChannel(const Spake2::Key& sessionKey, Direction direction) {
    const char* info = direction == Direction::kClientToServer ? kClientToServerInfo : kServerToClientInfo;
    uint8_t key[kKeyBytes];
    gcry_cipher_hd_t h = nullptr;
    if (Start() && HkdfSha256(sessionKey.data(), sessionKey.size(), nullptr, 0, info, std::strlen(info), key,
                              sizeof key) &&
        gcry_cipher_open(&h, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_GCM, 0) == 0) {
        if (gcry_cipher_setkey(h, key, sizeof key) == 0)
            handle_ = h;
        else
            gcry_cipher_close(h);
    }
    std::memset(key, 0, sizeof key);
}

SealedChannel::~SealedChannel() {
    if (handle_) gcry_cipher_close(Handle(handle_));
}

// Starts the next frame: its number as the nonce (four zero bytes, then
// the 64-bit count big-endian), then the data sent in the clear.
bool SealedChannel::Next(const uint8_t* aad, std::size_t aadLength) {
    if (!Ok() || frames_ == UINT64_MAX) return false;
    uint8_t nonce[kNonceBytes] = {};
    for (int i = 0; i < 8; ++i) nonce[kNonceBytes - 1 - i] = static_cast<uint8_t>(frames_ >> (8 * i));
    const gcry_cipher_hd_t h = Handle(handle_);
    // The frame is sealed or opened by one call: the final one.
    return gcry_cipher_setiv(h, nonce, sizeof nonce) == 0 &&
           (aadLength == 0 || gcry_cipher_authenticate(h, aad, aadLength) == 0) && gcry_cipher_final(h) == 0;
}

bool SealedChannel::Seal(const uint8_t* plain, std::size_t length, uint8_t* sealed, const uint8_t* aad,
                         std::size_t aadLength) {
    const gcry_cipher_hd_t h = Handle(handle_);
    bool ok = Next(aad, aadLength);
    ok = ok &&
         (length == 0 || (plain == sealed ? gcry_cipher_encrypt(h, sealed, length, nullptr, 0)
                          : gcry_cipher_encrypt(h, sealed, length, plain, length)) == 0) &&
         gcry_cipher_gettag(h, sealed + length, kTagBytes) == 0;
    if (!ok) {
        broken_ = true;
        return false;
    }
    ++frames_;
    return true;
}

bool SealedChannel::Open(const uint8_t* sealed, std::size_t length, uint8_t* plain, const uint8_t* aad,
                         std::size_t aadLength) {
    const gcry_cipher_hd_t h = Handle(handle_);
    bool ok = length >= kTagBytes && Next(aad, aadLength);
    const std::size_t body = ok ? length - kTagBytes : 0;
    ok = ok &&
         (body == 0 || (plain == sealed ? gcry_cipher_decrypt(h, plain, body, nullptr, 0)
                          : gcry_cipher_decrypt(h, plain, body, sealed, body)) == 0) &&
         gcry_cipher_checktag(h, sealed + body, kTagBytes) == 0;
    if (!ok) {
        if (body > 0) std::memset(plain, 0, body);
        broken_ = true;
        return false;
    }
    ++frames_;
    return true;
}

}  // namespace quorbel::crypto
