#include "crypto/crypto.h"

#include <cstring>

#include <gcrypt.h>

namespace quorbel::crypto {

bool Start() {
    static const bool started = [] {
        if (gcry_check_version(GCRYPT_VERSION) == nullptr) return false;
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    return started;
}

Sha256::Sha256() {
    Start();
    gcry_md_hd_t handle = nullptr;
    if (gcry_md_open(&handle, GCRY_MD_SHA256, 0) == 0) handle_ = handle;
}

Sha256::~Sha256() {
    if (handle_) gcry_md_close(static_cast<gcry_md_hd_t>(handle_));
}

void Sha256::Add(const void* data, std::size_t length) {
    if (handle_ && length > 0) gcry_md_write(static_cast<gcry_md_hd_t>(handle_), data, length);
}

Sha256::Digest Sha256::Finish() {
    Digest digest{};
    if (!handle_) return digest;
    const auto h = static_cast<gcry_md_hd_t>(handle_);
    std::memcpy(digest.data(), gcry_md_read(h, GCRY_MD_SHA256), kBytes);
    gcry_md_reset(h);
    return digest;
}

std::string Hex(const Sha256::Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * digest.size());
    for (uint8_t b : digest) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 15]);
    }
    return out;
}

namespace {

class Sha256PartHash final : public PartHash {
public:
    void Add(const char* data, std::size_t length) override { sha_.Add(data, length); }
    std::string FinishHex() override { return sha_.Ok() ? Hex(sha_.Finish()) : std::string(); }

private:
    Sha256 sha_;
};

}  // namespace

std::unique_ptr<PartHash> NewPartHash() { return std::make_unique<Sha256PartHash>(); }

std::string RandomBytes(std::size_t count) {
    if (!Start()) return std::string();
    std::string bytes(count, '\0');
    gcry_randomize(bytes.data(), count, GCRY_STRONG_RANDOM);
    return bytes;
}

}  // namespace quorbel::crypto
