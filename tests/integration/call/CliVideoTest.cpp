// Video calls between velaphon-cli processes through a real velaphond: the test pattern both ways, read
// back from what each side decodes; video switched off from either side and ended by the hang-up; a still
// test pattern that sends one picture only; a receiver that lost its first pictures and recovers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "integration/call/CallHarness.h"

namespace {

using namespace calltest;

TEST(CliVideo, TestPatternBothWaysIsReadBackAboveThirtyDecibelsAndEndsWithTheCall) {
    SCallServer s("127.0.0.180");
    ASSERT_TRUE(s.started);
    const std::string snapshot = s.scratch.File("ana-saw.png");
    CCli bea(s.address, "5550142", "pw-bea", {"--auto-answer", "--camera", "test"});
    ASSERT_TRUE(bea.WaitLine("state C"));
    CCli ana(s.address, "5550141", "pw-ana",
             {"--call", "5550142", "--camera", "test", "--hangup-after", "4", "--snapshot", snapshot});
    ASSERT_TRUE(ana.WaitLine("video-started"));
    ASSERT_TRUE(bea.WaitLine("video-started"));
    EXPECT_TRUE(ana.WaitLine("video-format 320 240", 10000));
    EXPECT_TRUE(bea.WaitLine("video-format 320 240", 10000));
    ASSERT_TRUE(ana.WaitLine("hangup", 20000));
    ASSERT_TRUE(bea.WaitLine("hangup"));
    ASSERT_TRUE(ana.WaitLine("video-received", 5000, true));
    ASSERT_TRUE(bea.WaitLine("video-received", 5000, true));
    EXPECT_TRUE(ana.WaitLine("video-stopped", 5000));
    EXPECT_TRUE(bea.WaitLine("video-stopped", 5000));

    for (CCli* cli : {&ana, &bea}) {
        const SFrames f = Frames(*cli);
        std::printf("pictures sent %ld, received %ld, read back %d, worst PSNR %.2f dB\n",
                    cli->Number("video-sent"), cli->Number("video-received"), f.count, f.worstPsnr);
        // A few seconds at 15 per second: most pictures arrive, and each reads back as its own frame.
        EXPECT_GT(cli->Number("video-sent"), 20);
        EXPECT_GT(cli->Number("video-received"), 20);
        EXPECT_GT(f.count, 20);
        EXPECT_GT(f.worstPsnr, 30.0);
    }
    ASSERT_TRUE(ana.WaitLine("snapshot " + snapshot, 5000));
    std::ifstream png(snapshot, std::ios::binary);
    char magic[8] = {};
    png.read(magic, 8);
    EXPECT_EQ(std::string(magic + 1, 3), "PNG");
    EXPECT_EQ(ana.Stop(), 0);
    EXPECT_EQ(bea.Stop(), 0);
}

TEST(CliVideo, VideoSwitchedOffOnEitherSideStopsOnlyThatDirection) {
    SCallServer s("127.0.0.181");
    ASSERT_TRUE(s.started);
    CCli bea(s.address, "5550142", "pw-bea", {"--auto-answer", "--camera", "test", "--video-off-after", "2"});
    ASSERT_TRUE(bea.WaitLine("state C"));
    CCli ana(s.address, "5550141", "pw-ana",
             {"--call", "5550142", "--camera", "test", "--video-off-after", "4", "--hangup-after", "6"});
    // Bea's video ends first: Ana's window for it closes while Ana still sends.
    ASSERT_TRUE(bea.WaitLine("video-stopped", 20000));
    ASSERT_TRUE(ana.WaitLine("video-remote-stopped", 5000));
    EXPECT_EQ(ana.Count("video-stopped"), 0);
    ASSERT_TRUE(ana.WaitLine("video-stopped", 10000));
    ASSERT_TRUE(bea.WaitLine("video-remote-stopped", 5000));
    const long anaFramesAtStop = Frames(bea).count;
    ASSERT_TRUE(ana.WaitLine("hangup", 20000));
    ASSERT_TRUE(bea.WaitLine("video-received", 10000, true));
    EXPECT_EQ(Frames(bea).count, anaFramesAtStop);
    EXPECT_GT(anaFramesAtStop, 10);
    EXPECT_EQ(ana.Stop(), 0);
    EXPECT_EQ(bea.Stop(), 0);
}

TEST(CliVideo, AStillTestPatternSendsItsFirstPictureOnly) {
    SCallServer s("127.0.0.182");
    ASSERT_TRUE(s.started);
    CCli bea(s.address, "5550142", "pw-bea", {"--auto-answer"});
    ASSERT_TRUE(bea.WaitLine("state C"));
    CCli ana(s.address, "5550141", "pw-ana",
             {"--call", "5550142", "--camera", "test", "--still", "--hangup-after", "3"});
    ASSERT_TRUE(ana.WaitLine("hangup", 20000));
    ASSERT_TRUE(ana.WaitLine("video-sent", 5000, true));
    ASSERT_TRUE(bea.WaitLine("video-received", 10000, true));
    EXPECT_EQ(ana.Number("video-sent"), 1);
    EXPECT_EQ(bea.Number("video-received"), 1);
    EXPECT_EQ(Frames(bea).count, 1);
    EXPECT_EQ(ana.Stop(), 0);
    EXPECT_EQ(bea.Stop(), 0);
}

TEST(CliVideo, AReceiverThatLostItsFirstPicturesAsksForAKeyFrameAndShowsPicturesAgain) {
    SCallServer s("127.0.0.183");
    ASSERT_TRUE(s.started);
    CCli bea(s.address, "5550142", "pw-bea", {"--auto-answer", "--camera", "test"});
    ASSERT_TRUE(bea.WaitLine("state C"));
    CCli ana(s.address, "5550141", "pw-ana",
             {"--call", "5550142", "--lose-pictures", "5", "--hangup-after", "4"});
    ASSERT_TRUE(ana.WaitLine("video-keyframe-request", 20000));
    ASSERT_TRUE(ana.WaitLine("hangup", 20000));
    ASSERT_TRUE(ana.WaitLine("video-received", 5000, true));

    // Nothing is shown before the request (the key frame was among the lost), pictures are after it.
    const std::vector<std::string> lines = ana.Lines();
    const auto request = std::find(lines.begin(), lines.end(), "video-keyframe-request");
    long first = -1;
    for (auto it = lines.begin(); it != lines.end() && first < 0; ++it) {
        if (std::sscanf(it->c_str(), "video-frame %ld ", &first) == 1) {
            EXPECT_GT(it, request);
        }
    }
    EXPECT_GE(first, 5);
    EXPECT_GT(Frames(ana).count, 10);
    EXPECT_GT(Frames(ana).worstPsnr, 30.0);
    EXPECT_EQ(ana.Stop(), 0);
    EXPECT_EQ(bea.Stop(), 0);
}

}  // namespace
