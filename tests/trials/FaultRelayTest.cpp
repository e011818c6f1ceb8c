// The fault relay the trials put between client and server: what it carries arrives whole and in order
// whatever it is told to do, a stall holds the bytes, and a reset reaches both ends.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <thread>
#include <vector>

#include "support/FaultRelay.h"

namespace {

using vp::test::CFaultRelay;

constexpr const char* kRelayAddress = "127.0.0.249";
constexpr const char* kTargetAddress = "127.0.0.248";

int Listen(const char* address, uint16_t& port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    inet_pton(AF_INET, address, &sa.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 8) != 0) {
        close(fd);
        return -1;
    }
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    port = ntohs(sa.sin_port);
    return fd;
}

int Connect(const char* address, uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    inet_pton(AF_INET, address, &sa.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads until `want` bytes came, the peer ended, or nothing came for a while; the bytes read.
std::vector<uint8_t> ReadUpTo(int fd, size_t want, int quietMs = 5000, int* error = nullptr) {
    std::vector<uint8_t> got;
    while (got.size() < want) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, quietMs) <= 0)
            break;
        uint8_t buf[65536];
        ssize_t n = recv(fd, buf, std::min(sizeof buf, want - got.size()), 0);
        if (n <= 0) {
            if (error != nullptr)
                *error = n < 0 ? errno : 0;
            break;
        }
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

// A target that echoes every connection's bytes back, one connection at a time.
class CEchoTarget {
public:
    CEchoTarget() {
        m_fd = Listen(kTargetAddress, m_nPort);
        m_Thread = std::thread([this] {
            for (;;) {
                int c = accept(m_fd, nullptr, nullptr);
                if (c < 0)
                    return;
                uint8_t buf[65536];
                ssize_t n;
                while ((n = recv(c, buf, sizeof buf, 0)) > 0)
                    if (send(c, buf, static_cast<size_t>(n), MSG_NOSIGNAL) != n)
                        break;
                m_nLastError = n < 0 ? errno : 0;
                close(c);
            }
        });
    }
    ~CEchoTarget() {
        shutdown(m_fd, SHUT_RDWR);
        m_Thread.join();
        close(m_fd);
    }
    uint16_t Port() const { return m_nPort; }
    int LastError() const { return m_nLastError; }

private:
    int m_fd = -1;
    uint16_t m_nPort = 0;
    std::atomic<int> m_nLastError{-1};
    std::thread m_Thread;
};

class FaultRelayTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_Relay.Start(kRelayAddress, 0, kTargetAddress, m_Target.Port())); }
    CEchoTarget m_Target;
    CFaultRelay m_Relay;
};

TEST_F(FaultRelayTest, DelayedCappedAndStalledBytesArriveWholeAndInOrder) {
    int fd = Connect(kRelayAddress, m_Relay.Port());
    ASSERT_GE(fd, 0);
    m_Relay.SetDelay(30, 10);
    m_Relay.SetBandwidth(2u << 20);
    std::vector<uint8_t> sent(300 * 1024);
    std::mt19937 rng(7);
    for (auto& b : sent)
        b = static_cast<uint8_t>(rng());
    // Written in pieces, with a stall in the middle, while the echo comes back.
    std::thread writer([&] {
        for (size_t at = 0; at < sent.size(); at += 10000) {
            if (at == 150000)
                m_Relay.Stall(200);
            send(fd, sent.data() + at, std::min<size_t>(10000, sent.size() - at), MSG_NOSIGNAL);
        }
    });
    std::vector<uint8_t> got = ReadUpTo(fd, sent.size());
    writer.join();
    EXPECT_TRUE(got == sent) << got.size() << " of " << sent.size() << " bytes came back";
    close(fd);
}

TEST_F(FaultRelayTest, StallHoldsBytesUntilCleared) {
    int fd = Connect(kRelayAddress, m_Relay.Port());
    ASSERT_GE(fd, 0);
    m_Relay.Stall(60000);
    const char text[] = "held";
    ASSERT_EQ(send(fd, text, 4, 0), 4);
    EXPECT_TRUE(ReadUpTo(fd, 4, 300).empty());
    m_Relay.Clear();
    std::vector<uint8_t> got = ReadUpTo(fd, 4);
    EXPECT_EQ(std::string(got.begin(), got.end()), "held");
    close(fd);
}

TEST_F(FaultRelayTest, ResetReachesBothEndsAndLaterConnectionsPass) {
    int fd = Connect(kRelayAddress, m_Relay.Port());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(send(fd, "a", 1, 0), 1);
    ASSERT_EQ(ReadUpTo(fd, 1).size(), 1u);
    m_Relay.Reset();
    int error = 0;
    EXPECT_TRUE(ReadUpTo(fd, 1, 5000, &error).empty());
    EXPECT_EQ(error, ECONNRESET);
    for (int i = 0; i < 500 && m_Target.LastError() < 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(m_Target.LastError(), ECONNRESET);
    EXPECT_EQ(m_Relay.ResetCount(), 1);
    close(fd);

    fd = Connect(kRelayAddress, m_Relay.Port());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(send(fd, "b", 1, 0), 1);
    EXPECT_EQ(ReadUpTo(fd, 1).size(), 1u);
    close(fd);
    EXPECT_EQ(m_Relay.Accepted(), 2);
}

}  // namespace
