#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/ByteBuffer.h"
#include "platform/Deque.h"
#include "platform/Trace.h"

namespace {

TEST(ByteBuffer, StartsWith1024ZeroedBytesAndGrowsKeepingContents) {
    CByteBuffer b;
    EXPECT_EQ(1024u, b.Capacity());
    EXPECT_EQ(0u, b.Size());
    for (size_t i = 0; i < b.Capacity(); ++i) ASSERT_EQ(0, b.Data()[i]);

    b.Append("abc", 3);
    b.Reserve(1023);  // capacity 1024 is above 1023: nothing changes
    EXPECT_EQ(1024u, b.Capacity());
    b.Reserve(1024);  // not above: grows to n + 1024
    EXPECT_EQ(2048u, b.Capacity());
    EXPECT_EQ(0, std::memcmp(b.Data(), "abc", 3));
    EXPECT_EQ(3u, b.Size());

    std::string big(5000, 'x');
    b.Append(big.data(), big.size());
    EXPECT_EQ(5003u, b.Size());
    EXPECT_GT(b.Capacity(), 5003u);
    EXPECT_EQ('x', b.Data()[5002]);
}

TEST(ByteBuffer, ResetZeroFillsAndSetSizeNeverPassesTheCapacity) {
    CByteBuffer b;
    b.Append("hello", 5);
    b.Reset();
    EXPECT_EQ(0u, b.Size());
    EXPECT_EQ(0, b.Data()[0]);
    b.SetSize(3000);
    EXPECT_EQ(3000u, b.Size());
    EXPECT_GE(b.Capacity(), 3000u);

    CByteBuffer copy = b;
    EXPECT_EQ(3000u, copy.Size());
    CByteBuffer moved = std::move(copy);
    EXPECT_EQ(3000u, moved.Size());
    EXPECT_EQ(0u, copy.Size());
    copy.Append("a", 1);  // a moved-from buffer stays usable
    EXPECT_EQ(1u, copy.Size());
}

TEST(Deque, FrontOnEmptyTracesAndReadsNothingOutside) {
    std::string traced;
    SetTraceSink([&](const std::string& line) { traced += line; });
    TDeque<int> q;
    EXPECT_EQ(0, q.front());
    SetTraceSink(nullptr);
    EXPECT_EQ("TDeque:41 | ( !size() )\n", traced);

    for (int i = 0; i < 10; ++i) q.push_back(i);
    q.erase(2, 5);  // removes 2, 3, 4
    EXPECT_EQ(7u, q.size());
    EXPECT_EQ(5, q[2]);
    q.erase(5, 100);  // clipped at the end
    EXPECT_EQ(5u, q.size());
    q.pop_front();
    EXPECT_EQ(1, q.front());
    q.clear();
    q.pop_front();  // harmless on empty
    EXPECT_EQ(0u, q.size());
}

TEST(Trace, WritesOnlyWhereTheEnvironmentSays) {
    const std::string path = testing::TempDir() + "/vp-trace-" + std::to_string(getpid()) + ".log";
    std::remove(path.c_str());
    unsetenv("VELAPHON_TRACE");
    Trace("nowhere\n");
    setenv("VELAPHON_TRACE", path.c_str(), 1);
    Trace("%s:%d | ( %s )\n", "CThread", 12, "x");
    Trace("second\n");
    unsetenv("VELAPHON_TRACE");
    Trace("nowhere either\n");
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ("CThread:12 | ( x )\nsecond\n", text.str());
    std::remove(path.c_str());
}

}  // namespace
