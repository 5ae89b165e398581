// Login text, the Server's check and the Client's reading of the answer.
#include <gtest/gtest.h>

#include <cstring>

#include "fake_host.h"

using namespace quorbel;
using namespace quorbel::testing;

namespace {

TEST(LoginText, HalvesAreJoinedWithoutSeparator) {
    FakeCodec codec;
    EXPECT_EQ(MakeLoginText(u"ab", u"c", codec), "abc");
    EXPECT_EQ(MakeLoginText(u"a", u"bc", codec), "abc");
    EXPECT_EQ(MakeLoginText(u"", u"", codec), "");
    EXPECT_EQ(MakeLoginText(u"", u"pw", codec), "pw");
    EXPECT_EQ(MakeLoginText(u"id", u"", codec), "id");
    EXPECT_EQ(MakeLoginText(u"\u3042", u"x", codec), "\x82\xC2x");
}

TEST(LoginText, AHalfThatNeeds128BytesIsSentEmpty) {
    FakeCodec codec;
    const u16 fits(126, u'i');    // 127 bytes with its terminator
    const u16 tooLong(127, u'i');  // 128 bytes with its terminator
    EXPECT_EQ(MakeLoginText(fits, u"pw", codec), std::string(126, 'i') + "pw");
    EXPECT_EQ(MakeLoginText(tooLong, u"pw", codec), "pw");
    EXPECT_EQ(MakeLoginText(u16(128, u'i'), u"pw", codec), "pw");
    EXPECT_EQ(MakeLoginText(u"id", u16(127, u'p'), codec), "id");
    // Two-byte characters count by their ANSI bytes.
    EXPECT_EQ(MakeLoginText(u16(63, u'\u3042'), u"", codec).size(), 126u);
    EXPECT_EQ(MakeLoginText(u16(64, u'\u3042'), u"", codec), "");
    // The longest login text.
    EXPECT_EQ(MakeLoginText(fits, fits, codec).size(), 252u);
}

class Login : public ::testing::Test {
protected:
    Link link;
    Peer& client = *link.client;
    Peer& server = *link.server;

    // The Client's side of the exchange, with the answer read as recv would.
    LoginAnswer Exchange() {
        client.protocol.SendLoginRequest();
        link.Step();  // the Server answers
        if (server.host.outbox.empty()) return client.protocol.CheckLoginAnswer(0);
        std::string answer = server.host.outbox.front();
        server.host.outbox.pop_front();
        std::memcpy(client.state().recvBuf, answer.data(), answer.size());
        return client.protocol.CheckLoginAnswer(static_cast<int32_t>(answer.size()));
    }
};

TEST_F(Login, EitherSplitOfTheSameTextIsAccepted) {
    server.protocol.BuildLoginText(u"ab", u"c");
    client.protocol.BuildLoginText(u"a", u"bc");
    EXPECT_EQ(Exchange(), LoginAnswer::Accepted);
    EXPECT_EQ(client.host.sent.back(), "PWabc");
    EXPECT_EQ(server.op(), Waiting);

    client.protocol.BuildLoginText(u"ab", u"C");
    EXPECT_EQ(Exchange(), LoginAnswer::Rejected);
    client.protocol.BuildLoginText(u"ab", u"cd");
    EXPECT_EQ(Exchange(), LoginAnswer::Rejected);
    client.protocol.BuildLoginText(u"ab", u"");
    EXPECT_EQ(Exchange(), LoginAnswer::Rejected);
    // The answers are plain replies: no ring entry, no SEND-NAK box.
    EXPECT_TRUE(server.host.boxes.empty());
}

TEST_F(Login, AnswersAreNotRecordedButTheRequestIs) {
    server.state().monitorRecording = 1;
    client.state().monitorRecording = 1;
    server.protocol.BuildLoginText(u"id", u"pw");
    client.protocol.BuildLoginText(u"id", u"pw");
    EXPECT_EQ(Exchange(), LoginAnswer::Accepted);
    EXPECT_STREQ(client.state().sendRing[0], "PWidpw");
    EXPECT_EQ(server.state().sendRingPos, 0);
    EXPECT_STREQ(server.state().recvRing[0], "PWidpw");
}

TEST_F(Login, EmptyCredentialsNeverLogIn) {
    server.protocol.BuildLoginText(u"", u"");
    client.protocol.BuildLoginText(u"", u"");
    EXPECT_EQ(Exchange(), LoginAnswer::Rejected);
    EXPECT_EQ(client.host.sent.back(), "PW");
    // "PW" alone is not a login: the general refusal, with its box.
    EXPECT_EQ(server.host.BoxesWithCaption(u"SEND-NAK").size(), 1u);
}

TEST_F(Login, AnOverlongIdIsComparedAsEmpty) {
    server.protocol.BuildLoginText(u16(128, u'x'), u"secret");
    client.protocol.BuildLoginText(u"", u"secret");
    EXPECT_EQ(Exchange(), LoginAnswer::Accepted);
}

TEST_F(Login, ReceivedTextIsComparedUpToItsFirstZero) {
    server.protocol.BuildLoginText(u"id", u"pw");
    server.protocol.Receive("PWidpw\0junk", 11);
    EXPECT_EQ(server.host.sent.back(), "ACK");
    server.protocol.Receive("PWidpwx", 7);
    EXPECT_EQ(server.host.sent.back(), "NAK");
    server.protocol.Receive("PWid", 4);
    EXPECT_EQ(server.host.sent.back(), "NAK");
    std::string huge = "PW" + std::string(1022, 'z');
    server.protocol.Receive(huge.data(), static_cast<int32_t>(huge.size()));
    EXPECT_EQ(server.host.sent.back(), "NAK");

    // CheckLogin reads the receive buffer as the receive loop left it.
    std::memset(server.state().recvBuf, 0, sizeof server.state().recvBuf);
    std::memcpy(server.state().recvBuf, "PWidpw", 6);
    server.state().recvLength = 6;
    server.protocol.CheckLogin();
    EXPECT_EQ(server.host.sent.back(), "ACK");
}

TEST_F(Login, ClientJudgesTheAnswer) {
    auto answer = [&](const char* bytes, int32_t received) {
        std::memset(client.state().recvBuf, 0, sizeof client.state().recvBuf);
        if (received > 0) std::memcpy(client.state().recvBuf, bytes, static_cast<std::size_t>(received));
        return client.protocol.CheckLoginAnswer(received);
    };
    EXPECT_EQ(answer("ACK", 3), LoginAnswer::Accepted);
    EXPECT_EQ(answer("NAK", 3), LoginAnswer::Rejected);
    EXPECT_EQ(answer("NAKED", 5), LoginAnswer::Rejected);
    EXPECT_EQ(answer("XYZ", 3), LoginAnswer::Accepted);
    EXPECT_EQ(answer("", -1), LoginAnswer::CommunicationError);
    // The Server closed without answering: not a login.
    EXPECT_EQ(answer("", 0), LoginAnswer::CommunicationError);
}

TEST_F(Login, ClientSendClearsTheReceiveBufferFirst) {
    std::memcpy(client.state().recvBuf, "NAK", 3);
    client.protocol.BuildLoginText(u"a", u"b");
    EXPECT_EQ(client.protocol.SendLoginRequest(), 0);
    EXPECT_EQ(client.state().recvBuf[0], 0);
    client.host.sendError = 10061;
    EXPECT_EQ(client.protocol.SendLoginRequest(), 10061);
}

}  // namespace
