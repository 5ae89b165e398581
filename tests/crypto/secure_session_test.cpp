// The secure session's cryptography: SPAKE2 against RFC 9382's P-256
// vectors and between two sides, the password stretch, sealed frames.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/kdf.h"
#include "crypto/sealed.h"
#include "crypto/session.h"
#include "crypto/spake2.h"

namespace quorbel::crypto {
namespace {

std::vector<uint8_t> Bytes(const std::string& hex) {
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

template <typename Container>
std::string Hex(const Container& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) out += {kDigits[b >> 4], kDigits[b & 15]};
    return out;
}

template <std::size_t N>
std::array<uint8_t, N> Fixed(const std::string& hex) {
    std::array<uint8_t, N> out{};
    const auto b = Bytes(hex);
    std::memcpy(out.data(), b.data(), N);
    return out;
}
const auto ScalarOf = Fixed<32>;

struct Vector {
    const char *a, *b, *w, *x, *y, *pA, *pB, *k, *ke, *ka, *kcA, *kcB, *cA, *cB;
};

// RFC 9382, Appendix B (K is given for the first vector only).
const Vector kVectors[] = {
    {"server", "client", "2ee57912099d31560b3a44b1184b9b4866e904c49d12ac5042c97dca461b1a5f",
     "43dd0fd7215bdcb482879fca3220c6a968e66d70b1356cac18bb26c84a78d729",
     "dcb60106f276b02606d8ef0a328c02e4b629f84f89786af5befb0bc75b6e66be",
     "04a56fa807caaa53a4d28dbb9853b9815c61a411118a6fe516a8798434751470f9010153ac33d0d5f2047ffdb1a3e42c9b4e6be662766e1eeb4116988ede5f912c",
     "0406557e482bd03097ad0cbaa5df82115460d951e3451962f1eaf4367a420676d09857ccbc522686c83d1852abfa8ed6e4a1155cf8f1543ceca528afb591a1e0b7",
     "0412af7e89717850671913e6b469ace67bd90a4df8ce45c2af19010175e37eed69f75897996d539356e2fa6a406d528501f907e04d97515fbe83db277b715d3325",
     "0e0672dc86f8e45565d338b0540abe69", "15bdf72e2b35b5c9e5663168e960a91b", "00c12546835755c86d8c0db7851ae86f",
     "a9fa3406c3b781b93d804485430ca27a", "58ad4aa88e0b60d5061eb6b5dd93e80d9c4f00d127c65b3b35b1b5281fee38f0",
     "d3e2e547f1ae04f2dbdbf0fc4b79f8ecff2dff314b5d32fe9fcef2fb26dc459b"},
    {"", "client", "0548d8729f730589e579b0475a582c1608138ddf7054b73b5381c7e883e2efae",
     "403abbe3b1b4b9ba17e3032849759d723939a27a27b9d921c500edde18ed654b",
     "903023b6598908936ea7c929bd761af6039577a9c3f9581064187c3049d87065",
     "04a897b769e681c62ac1c2357319a3d363f610839c4477720d24cbe32f5fd85f44fb92ba966578c1b712be6962498834078262caa5b441ecfa9d4a9485720e918a",
     "04e0f816fd1c35e22065d5556215c097e799390d16661c386e0ecc84593974a61b881a8c82327687d0501862970c64565560cb5671f696048050ca66ca5f8cc7fc",
     nullptr, "642f05c473c2cd79909f9a841e2f30a7", "0bf89b18180af97353ba198789c2b963",
     "c6be376fc7cd1301fd0a13adf3e7bffd", "b7243f4ae60440a49b3f8cab3c1fba07",
     "47d29e6666af1b7dd450d571233085d7a9866e4d49d2645e2df975489521232b",
     "3313c5cefc361d27fb16847a91c2a73b766ffa90a4839122a9b70a2f6bd1d6df"},
    {"server", "", "626e0cdc7b14c9db3e52a0b1b3a768c98e37852d5db30febe0497b14eae8c254",
     "07adb3db6bc623d3399726bfdbfd3d15a58ea776ab8a308b00392621291f9633",
     "b6a4fc8dbb629d4ba51d6f91ed1532cf87adec98f25dd153a75accafafedec16",
     "04f88fb71c99bfffaea370966b7eb99cd4be0ff1a7d335caac4211c4afd855e2e15a873b298503ad8ba1d9cbb9a392d2ba309b48bfd7879aefd0f2cea6009763b0",
     "040c269d6be017dccb15182ac6bfcd9e2a14de019dd587eaf4bdfd353f031101e7cca177f8eb362a6e83e7d5e729c0732e1b528879c086f39ba0f31a9661bd34db",
     nullptr, "005184ff460da2ce59062c87733c299c", "3521297d736598fc0a1127600efa1afb",
     "f3da53604f0aeecea5a33be7bddf6edf", "9e3f86848736f159bd92b6e107ec6799",
     "bc9f9bbe99f26d0b2260e6456e05a86196a3307ec6663a18bf6ac825736533b2",
     "c2370e1bf813b086dff0d834e74425a06e6390f48f5411900276dcccc5a297ec"},
    {"", "", "7bf46c454b4c1b25799527d896508afd5fc62ef4ec59db1efb49113063d70cca",
     "8cef65df64bb2d0f83540c53632de911b5b24b3eab6cc74a97609fd659e95473",
     "d7a66f64074a84652d8d623a92e20c9675c61cb5b4f6a0063e4648a2fdc02d53",
     "04a65b367a3f613cf9f0654b1b28a1e3a8a40387956c8ba6063e8658563890f46ca1ef6a676598889fc28de2950ab8120b79a5ef1ea4c9f44bc98f585634b46d66",
     "04589f13218822710d98d8b2123a079041052d9941b9cf88c6617ddb2fcc0494662eea8ba6b64692dc318250030c6af045cb738bc81ba35b043c3dcb46adf6f58d",
     nullptr, "fc6374762ba5cf11f4b2caa08b2cd1b9", "907ae0e26e8d6234318d91583cd74c86",
     "5dbd2f477166b7fb6d61febbd77a5563", "7689b4654407a5faeffdc8f18359d8a3",
     "dfb4db8d48ae5a675963ea5e6c19d98d4ea028d8e898dad96ea19a80ade95dca",
     "d0f0609d1613138d354f7e95f19fb556bf52d751947241e8c7118df5ef0ae175"},
};

// The transcript of the first vector as the RFC prints it.
const char kFirstTranscript[] =
    "06000000000000007365727665720600000000000000636c69656e74410000000000000004a56fa807caaa53a4d28dbb9853b9815c61a4"
    "11118a6fe516a8798434751470f9010153ac33d0d5f2047ffdb1a3e42c9b4e6be662766e1eeb4116988ede5f912c41000000000000000406"
    "557e482bd03097ad0cbaa5df82115460d951e3451962f1eaf4367a420676d09857ccbc522686c83d1852abfa8ed6e4a1155cf8f1543ceca5"
    "28afb591a1e0b741000000000000000412af7e89717850671913e6b469ace67bd90a4df8ce45c2af19010175e37eed69f75897996d539356"
    "e2fa6a406d528501f907e04d97515fbe83db277b715d332520000000000000002ee57912099d31560b3a44b1184b9b4866e904c49d12ac50"
    "42c97dca461b1a5f";

TEST(Spake2, MatchesEveryValueOfTheP256Vectors) {
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(std::string("A='") + v.a + "' B='" + v.b + "'");
        Spake2 a(Spake2Role::kA, ScalarOf(v.w), ScalarOf(v.x), v.a, v.b, "");
        Spake2 b(Spake2Role::kB, ScalarOf(v.w), ScalarOf(v.y), v.a, v.b, "");
        ASSERT_TRUE(a.Ok() && b.Ok());
        EXPECT_EQ(Hex(a.OwnShare()), v.pA);
        EXPECT_EQ(Hex(b.OwnShare()), v.pB);
        ASSERT_TRUE(a.TakePeerShare(b.OwnShare().data(), Spake2::kShareBytes));
        ASSERT_TRUE(b.TakePeerShare(a.OwnShare().data(), Spake2::kShareBytes));
        for (const Spake2* side : {&a, &b}) {
            const Spake2::Schedule& s = side->Keys();
            if (v.k) {
                EXPECT_EQ(Hex(s.k), v.k);
            }
            EXPECT_EQ(Hex(s.ke), v.ke);
            EXPECT_EQ(Hex(s.ka), v.ka);
            EXPECT_EQ(Hex(s.kcA), v.kcA);
            EXPECT_EQ(Hex(s.kcB), v.kcB);
            EXPECT_EQ(Hex(s.cA), v.cA);
            EXPECT_EQ(Hex(s.cB), v.cB);
        }
        if (v.k) {
            EXPECT_EQ(Hex(a.Keys().transcript), kFirstTranscript);
        }
        EXPECT_EQ(a.Keys().transcript, b.Keys().transcript);
        EXPECT_TRUE(a.PeerConfirms(b.OwnConfirmation().data(), Spake2::kConfirmationBytes));
        EXPECT_TRUE(b.PeerConfirms(a.OwnConfirmation().data(), Spake2::kConfirmationBytes));
        auto changed = b.OwnConfirmation();
        changed.back() ^= 1;
        EXPECT_FALSE(a.PeerConfirms(changed.data(), changed.size()));
        EXPECT_FALSE(a.PeerConfirms(b.OwnConfirmation().data(), Spake2::kConfirmationBytes - 1));
    }
}

Scalar Stretched(const std::string& login, const std::string& salt) {
    Scalar w{};
    EXPECT_TRUE(StretchPassword(login, salt, &w));
    return w;
}

TEST(Spake2, SamePasswordAgreesAndADifferentOneFailsBothConfirmations) {
    const Scalar w = Stretched("alice\npw", "QBX4");
    for (const char* other : {"alice\npw", "alice\npx"}) {
        const bool same = std::string(other) == "alice\npw";
        Spake2 a(Spake2Role::kA, w);
        Spake2 b(Spake2Role::kB, same ? w : Stretched(other, "QBX4"));
        ASSERT_TRUE(a.Ok() && b.Ok());
        ASSERT_TRUE(a.TakePeerShare(b.OwnShare().data(), Spake2::kShareBytes));
        ASSERT_TRUE(b.TakePeerShare(a.OwnShare().data(), Spake2::kShareBytes));
        EXPECT_EQ(same, a.PeerConfirms(b.OwnConfirmation().data(), Spake2::kConfirmationBytes));
        EXPECT_EQ(same, b.PeerConfirms(a.OwnConfirmation().data(), Spake2::kConfirmationBytes));
        EXPECT_EQ(same, a.SessionKey() == b.SessionKey());
        // A share replayed from this exchange gives a new one other keys.
        Spake2 again(Spake2Role::kA, w);
        ASSERT_TRUE(again.TakePeerShare(b.OwnShare().data(), Spake2::kShareBytes));
        EXPECT_FALSE(b.PeerConfirms(again.OwnConfirmation().data(), Spake2::kConfirmationBytes));
    }
    // The same password with other associated data does not confirm either.
    Spake2 a(Spake2Role::kA, w, "QBX4"), b(Spake2Role::kB, w, "QBX5");
    ASSERT_TRUE(a.TakePeerShare(b.OwnShare().data(), Spake2::kShareBytes));
    ASSERT_TRUE(b.TakePeerShare(a.OwnShare().data(), Spake2::kShareBytes));
    EXPECT_FALSE(a.PeerConfirms(b.OwnConfirmation().data(), Spake2::kConfirmationBytes));
}

TEST(Spake2, RefusesSharesThatAreNoPointOfTheGroup) {
    const Scalar w = ScalarOf(kVectors[0].w);
    auto good = Bytes(kVectors[0].pB);
    auto offCurve = good;
    offCurve[64] ^= 1;
    auto wrongPrefix = good;
    wrongPrefix[0] = 0x05;
    const std::vector<uint8_t> identity(1, 0x00), zeros(Spake2::kShareBytes, 0x00);
    for (const auto& share : {offCurve, wrongPrefix, identity, zeros, std::vector<uint8_t>(good.begin(), good.end() - 1)}) {
        Spake2 a(Spake2Role::kA, w);
        EXPECT_FALSE(a.TakePeerShare(share.data(), share.size()));
        EXPECT_FALSE(a.HasKeys());
        EXPECT_FALSE(a.TakePeerShare(good.data(), good.size())) << "one share per exchange";
    }
    // A B whose scalar is 0 sends exactly w*N, which leaves K the identity.
    Spake2 masked(Spake2Role::kB, w, Scalar{}, "", "", "");
    ASSERT_TRUE(masked.Ok());
    Spake2 a(Spake2Role::kA, w);
    EXPECT_FALSE(a.TakePeerShare(masked.OwnShare().data(), Spake2::kShareBytes));
    Spake2 b(Spake2Role::kB, w);
    EXPECT_FALSE(b.PeerConfirms(good.data(), Spake2::kConfirmationBytes)) << "no keys before a share";
}

TEST(Stretch, IsScryptOfTheLoginTextAndItsSalt) {
    // RFC 7914's vector with the stretch's own cost (N = 16384, r = 8, p = 1).
    uint8_t out[64];
    ASSERT_TRUE(Scrypt("pleaseletmein", "SodiumChloride", out, sizeof out));
    EXPECT_EQ(Hex(std::vector<uint8_t>(out, out + sizeof out)),
              "7023bdcb3afd7348461c06cd81fd38ebfda8fbba904f8e3ea9b543f6545da1f2"
              "d5432955613f0fcf62d49705242a9af9e61e85dc0d651e40dfcf017b45575887");
    const Scalar w = Stretched("alice\npw", "QBX4");
    EXPECT_EQ(w, Stretched("alice\npw", "QBX4"));
    EXPECT_NE(w, Stretched("alice\npw", "QBX5"));
    // From a pair and a Server's own salt to w: 48 bytes of scrypt reduced
    // modulo n (from Python's hashlib.scrypt, by hand).
    std::string salt = "QBX6";
    for (char c = 0; c < 16; ++c) salt.push_back(c);
    EXPECT_EQ(Hex(Stretched("alicepw", salt)), "02975deb776f6a2990dee86e25e2b4e06065c6f21c92ec869e1db401477f4e1d");
}

TEST(Session, EachDirectionSealsWithItsOwnKeyAndSharesAreCheckedFirst) {
    auto client = NewSecureSession(Role::Client, "idpw", "QBX6"), server = NewSecureSession(Role::Server, "idpw", "QBX6");
    ASSERT_TRUE(client && server);
    const std::string cShare = client->OwnShare(), sShare = server->OwnShare();
    ASSERT_TRUE(client->TakePeerShare(sShare.data(), sShare.size()) && server->TakePeerShare(cShare.data(), cShare.size()));
    const std::string cConf = client->OwnConfirmation(), sConf = server->OwnConfirmation();
    ASSERT_TRUE(client->PeerConfirms(sConf.data(), sConf.size()) && server->PeerConfirms(cConf.data(), cConf.size()));
    std::string frame = "hello" + std::string(SecureSession::kTagBytes, '\0'), reflected = frame;
    ASSERT_TRUE(client->Seal(frame.data(), 5, "h", 1));
    reflected = frame;
    EXPECT_FALSE(client->Open(reflected.data(), reflected.size(), "h", 1)) << "its own frame sent back";
    EXPECT_TRUE(server->Open(frame.data(), frame.size(), "h", 1));
    Library library;
    EXPECT_TRUE(library.IsShare(sShare.data(), sShare.size()));
    EXPECT_FALSE(library.IsShare(std::string(65, '\x04').data(), 65));
}

struct Pair {
    static inline const Spake2::Key key = Fixed<16>(kVectors[0].ke);
    SealedChannel seal{key, Direction::kClientToServer}, open{key, Direction::kClientToServer};
    std::vector<uint8_t> Sealed(const std::string& text) {
        std::vector<uint8_t> out(text.size() + SealedChannel::kTagBytes);
        EXPECT_TRUE(seal.Seal(reinterpret_cast<const uint8_t*>(text.data()), text.size(), out.data()));
        return out;
    }
    bool Opens(const std::vector<uint8_t>& frame, std::string* text = nullptr) {
        std::vector<uint8_t> plain(frame.size() - SealedChannel::kTagBytes);
        const bool ok = open.Open(frame.data(), frame.size(), plain.data());
        if (text) text->assign(plain.begin(), plain.end());
        return ok;
    }
};

TEST(SealedChannel, OpensEachFrameInTurnAndEndsAtTheFirstThatIsNotTheNext) {
    {
        Pair p;
        std::string text;
        for (const char* frame : {"first", "", "third"}) {
            ASSERT_TRUE(p.Opens(p.Sealed(frame), &text));
            EXPECT_EQ(text, frame);
        }
        EXPECT_EQ(p.open.Frames(), 3u);
        // In place, with a header bound to the frame.
        std::vector<uint8_t> frame(4 + SealedChannel::kTagBytes, 'x');
        const uint8_t header[2] = {0, 4};
        ASSERT_TRUE(p.seal.Seal(frame.data(), 4, frame.data(), header, 2));
        EXPECT_TRUE(p.open.Open(frame.data(), frame.size(), frame.data(), header, 2));
        EXPECT_EQ(std::string(frame.begin(), frame.begin() + 4), "xxxx");
        ASSERT_TRUE(p.seal.Seal(frame.data(), 4, frame.data(), header, 2));
        const uint8_t changed[2] = {0, 5};
        EXPECT_FALSE(p.open.Open(frame.data(), frame.size(), frame.data(), changed, 2)) << "a changed header";
    }
    const auto refused = [](const char* what, auto change) {
        Pair p;
        std::vector<std::vector<uint8_t>> frames = {p.Sealed("one"), p.Sealed("two"), p.Sealed("three")};
        ASSERT_TRUE(p.Opens(frames[0])) << what;
        change(frames);
        EXPECT_FALSE(p.Opens(frames[1])) << what;
        EXPECT_FALSE(p.open.Ok()) << what;
        EXPECT_FALSE(p.Opens(p.Sealed("later"))) << what << ": nothing opens after a refusal";
    };
    refused("a flipped bit", [](auto& f) { f[1][2] ^= 0x10; });
    refused("a flipped tag bit", [](auto& f) { f[1].back() ^= 0x01; });
    refused("a replayed frame", [](auto& f) { f[1] = f[0]; });
    refused("a dropped frame", [](auto& f) { f[1] = f[2]; });
    refused("two frames swapped", [](auto& f) { std::swap(f[1], f[2]); });
    refused("the other direction's frame", [](auto& f) {
        SealedChannel back(Pair::key, Direction::kServerToClient);
        std::vector<uint8_t> out(3 + SealedChannel::kTagBytes);
        for (const char* text : {"one", "two"})
            ASSERT_TRUE(back.Seal(reinterpret_cast<const uint8_t*>(text), 3, out.data()));
        f[1] = out;
    });
}

}  // namespace
}  // namespace quorbel::crypto
