#include <gtest/gtest.h>
#include <sys/socket.h>

#include <thread>
#include <vector>

#include "NetTestUtil.h"
#include "net/SocketError.h"

using namespace nettest;

namespace {

// The platform takes only part of a piece (non-blocking socket, tiny buffers, a slow reader): the rest
// must be sent again, never dropped.
TEST(SocketTCPStream, SendAllResendsWhatThePlatformDidNotTake) {
    CSocketTCPStream writer;
    CSocketTCP reader;
    ASSERT_TRUE(MakeSocketPair(writer, reader, "127.0.0.19"));
    ASSERT_TRUE(writer.SetSendBufferSize(4096));
    ASSERT_TRUE(writer.SetNonBlocking(true));
    std::vector<uint8_t> data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + i / 251);

    std::vector<uint8_t> got;
    std::thread slow([&] {
        uint8_t buf[3000];
        while (got.size() < data.size()) {
            const int n = reader.Receive(buf, sizeof buf);
            if (n < 0 || (n == 0 && GetLastSocketError() == WSAEDISCON))
                break;
            got.insert(got.end(), buf, buf + n);
        }
    });
    // The usual 2048-byte pieces for the first half, then no limit (large writes taken in part).
    const int half = static_cast<int>(data.size() / 2);
    EXPECT_EQ(half, writer.SendAll(data.data(), half));
    writer.SetMaxChunk(0);
    EXPECT_EQ(half, writer.SendAll(data.data() + half, half));
    slow.join();
    EXPECT_TRUE(got == data);
    writer.Close();
    reader.Close();
}

TEST(SocketTCP, ReceiveReportsAnOrderlyCloseAndErrors) {
    CSocketTCP a, b;
    ASSERT_TRUE(MakeSocketPair(a, b, "127.0.0.19"));
    ASSERT_TRUE(b.SetNonBlocking(true));
    char c;
    EXPECT_EQ(0, b.Receive(&c, 1));  // nothing there yet
    EXPECT_EQ(WSAEWOULDBLOCK, GetLastSocketError());
    a.Close();
    ASSERT_TRUE(b.WaitReadable(5000));
    EXPECT_EQ(0, b.Receive(&c, 1));
    EXPECT_EQ(WSAEDISCON, GetLastSocketError());
    EXPECT_EQ(-1, b.ReceiveAll(&c, 1));
    b.Close();
    EXPECT_EQ(-1, b.Receive(&c, 1));
    EXPECT_EQ(-1, b.Send("x", 1));
    EXPECT_EQ(WSAENOTSOCK, GetLastSocketError());

    // Attach takes the socket over; a second attach into a holder is refused.
    CSocketTCP x, y, holder;
    ASSERT_TRUE(MakeSocketPair(x, y, "127.0.0.19"));
    ASSERT_TRUE(holder.Attach(x));
    EXPECT_FALSE(x.IsValid());
    EXPECT_FALSE(holder.Attach(y));
    EXPECT_TRUE(y.IsValid());
    EXPECT_EQ(y.GetLocalPort(), holder.GetPeerPort());
    holder.Close();
    y.Close();
}

}  // namespace
