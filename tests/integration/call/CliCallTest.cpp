// Calls between velaphon-cli processes (and, where a client must misbehave on purpose, a raw protocol
// client) through a real velaphond: sound and chat both ways, hang-up from either side, the busy cases,
// refusal, no answer, ring-out.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <thread>

#include "audio/WavFile.h"
#include "integration/call/CallHarness.h"
#include "support/SoundCompare.h"
#include "support/Speech.h"

namespace {

using namespace calltest;

// How alike the heard sound is to the spoken: the envelopes (RMS of 20 ms windows) correlated where they
// match best, allowing for the pauses a busy machine adds where the receiver's playback ran dry.
using vp::test::HeardLikeSpoken;

bool Before(CCli& cli, const std::string& first, const std::string& second) {
    auto a = cli.TimeOf(first), b = cli.TimeOf(second);
    return a && b && *a <= *b;
}

TEST(CliCall, SpeechAndChatBothWaysThenTheCallerHangsUp) {
    SCallServer s("127.0.0.141");
    ASSERT_TRUE(s.started);
    const std::string anaSays = s.scratch.File("ana.wav"), beaSays = s.scratch.File("bea.wav");
    ASSERT_TRUE(vp::test::MakeSpeechWav("please call me back tomorrow morning", anaSays, 0.5, 0.5));
    ASSERT_TRUE(vp::test::MakeSpeechWav("the garden looks lovely in the spring", beaSays, 0.5, 0.5));
    const std::string anaHears = s.scratch.File("ana-heard.wav"), beaHears = s.scratch.File("bea-heard.wav");

    CCli bea(s.address, "5550142", "pw-bea",
             {"--auto-answer=1", "--mic", beaSays, "--speaker", beaHears, "--say", "hola Ana, te oigo"});
    ASSERT_TRUE(bea.WaitLine("state C"));
    CCli ana(s.address, "5550141", "pw-ana",
             {"--call", "5550142", "--mic", anaSays, "--speaker", anaHears, "--say", "hello Bea",
              "--hangup-after", "6"});
    ASSERT_TRUE(ana.WaitLine("calling 5550142"));
    // Bea has no contacts: the caller is shown by the display name it sent.
    ASSERT_TRUE(bea.WaitLine("incoming 5550141 Ana Gil"));
    EXPECT_TRUE(bea.WaitLine("ring 1", 5000));
    ASSERT_TRUE(bea.WaitLine("call-connected"));
    ASSERT_TRUE(ana.WaitLine("call-connected"));
    EXPECT_TRUE(ana.WaitLine("text hola Ana, te oigo"));
    EXPECT_TRUE(bea.WaitLine("text hello Bea"));

    ASSERT_TRUE(ana.WaitLine("hangup", 20000));
    ASSERT_TRUE(bea.WaitLine("hangup"));
    EXPECT_TRUE(s.server.WaitForLog("ended by 5550141"));
    EXPECT_TRUE(Before(ana, "call-connected", "hangup"));
    ASSERT_TRUE(ana.WaitLine("audio-received", 5000, true));
    ASSERT_TRUE(bea.WaitLine("audio-received", 5000, true));
    // Speech was sent and silence was not: some packets, fewer than the call's 100 ms buffers.
    for (CCli* cli : {&ana, &bea}) {
        EXPECT_GT(cli->Number("audio-sent"), 5);
        EXPECT_LT(cli->Number("audio-sent"), 60);
        EXPECT_GT(cli->Number("audio-received"), 5);
    }
    EXPECT_EQ(ana.Stop(), 0);
    EXPECT_EQ(bea.Stop(), 0);
    const double anaToBea = HeardLikeSpoken(anaSays, beaHears), beaToAna = HeardLikeSpoken(beaSays, anaHears);
    const double anaSelf = HeardLikeSpoken(anaSays, anaHears), beaSelf = HeardLikeSpoken(beaSays, beaHears);
    std::printf("envelope correlation: Ana to Bea %.3f, Bea to Ana %.3f; own sentence %.3f, %.3f\n", anaToBea,
                beaToAna, anaSelf, beaSelf);
    EXPECT_GT(anaToBea, 0.8);
    EXPECT_GT(beaToAna, 0.8);
    // The measure tells the sentences apart: each side's own sentence is not what it heard.
    EXPECT_LT(anaSelf, 0.7);
    EXPECT_LT(beaSelf, 0.7);
    EXPECT_EQ(ana.Count("no-response"), 0);
}

TEST(CliCall, TheCalleeHangsUp) {
    SCallServer s("127.0.0.142");
    ASSERT_TRUE(s.started);
    CCli bea(s.address, "5550142", "pw-bea", {"--auto-answer", "--hangup-after", "1"});
    ASSERT_TRUE(bea.WaitLine("state C"));
    CCli ana(s.address, "5550141", "pw-ana", {"--call", "5550142", "--mic", "tone"});
    ASSERT_TRUE(ana.WaitLine("call-connected"));
    ASSERT_TRUE(ana.WaitLine("hangup"));
    EXPECT_TRUE(s.server.WaitForLog("ended by 5550142"));
    EXPECT_TRUE(bea.WaitLine("hangup"));
    // The tone was heard at Bea, the silence of her microphone never sent.
    ASSERT_TRUE(bea.WaitLine("audio-received", 5000, true));
    EXPECT_GT(bea.Number("audio-received"), 3);
    EXPECT_EQ(bea.Number("audio-sent"), 0);
}

TEST(CliCall, BusyWhileInACall) {
    SCallServer s("127.0.0.143");
    ASSERT_TRUE(s.started);
    CCli bea(s.address, "5550142", "pw-bea", {"--auto-answer"});
    ASSERT_TRUE(bea.WaitLine("state C"));
    CCli ana(s.address, "5550141", "pw-ana", {"--call", "5550142"});
    ASSERT_TRUE(bea.WaitLine("call-connected"));
    CCli carla(s.address, "5550143", "pw-carla", {"--call", "5550142"});
    EXPECT_TRUE(carla.WaitLine("call-refused 17"));
    EXPECT_EQ(bea.Count("hangup"), 0);
    EXPECT_EQ(ana.Count("hangup"), 0);
}

TEST(CliCall, BusyWhileThePromptIsOpen) {
    SCallServer s("127.0.0.144");
    ASSERT_TRUE(s.started);
    CCli bea(s.address, "5550142", "pw-bea");
    ASSERT_TRUE(bea.WaitLine("state C"));
    CCli ana(s.address, "5550141", "pw-ana", {"--call", "5550142"});
    ASSERT_TRUE(bea.WaitLine("incoming 5550141 Ana Gil"));
    CCli carla(s.address, "5550143", "pw-carla", {"--call", "5550142"});
    EXPECT_TRUE(carla.WaitLine("call-refused 17"));
    // The first prompt rings on.
    EXPECT_TRUE(bea.WaitLine("ring 2", 8000));
    EXPECT_EQ(bea.Count("incoming 5550143 Carla"), 0);
}

TEST(CliCall, BusyWhenAwayAndRejected) {
    SCallServer s("127.0.0.145");
    ASSERT_TRUE(s.started);
    CCli bea(s.address, "5550142", "pw-bea", {"--status", "away"});
    CCli carla(s.address, "5550143", "pw-carla", {"--reject"});
    ASSERT_TRUE(bea.WaitLine("state C"));
    ASSERT_TRUE(carla.WaitLine("state C"));
    ASSERT_TRUE(s.server.WaitForLog("status 5550142 A"));
    CCli ana(s.address, "5550141", "pw-ana", {"--call", "5550142"});
    EXPECT_TRUE(ana.WaitLine("call-refused 17"));
    EXPECT_EQ(bea.Count("incoming 5550141 Ana Gil"), 0);
    ASSERT_EQ(ana.Stop(), 0);

    CCli again(s.address, "5550141", "pw-ana", {"--call", "5550143"});
    EXPECT_TRUE(carla.WaitLine("incoming 5550141 Ana Gil"));
    EXPECT_TRUE(again.WaitLine("call-refused 0"));
    EXPECT_EQ(carla.Count("call-connected"), 0);
}

TEST(CliCall, NoResponseWithinTwelveSecondsAndALateRefusalIsStillTold) {
    SCallServer s("127.0.0.146");
    ASSERT_TRUE(s.started);
    // Bea is a raw client that never answers in time.
    servertest::CTestClient bea;
    ASSERT_TRUE(bea.Connect(s.address, kPort));
    ASSERT_TRUE(bea.LoginFully("5550142", "pw-bea"));
    CCli ana(s.address, "5550141", "pw-ana", {"--call", "5550142"});
    ASSERT_TRUE(ana.WaitLine("calling 5550142"));
    Bytes setup;
    for (int i = 0; i < 10 && (setup.empty() || setup[0] != MSG_CALL_SETUP); ++i)
        setup = bea.ReceiveControl(5000);
    ASSERT_EQ(setup.size(), kCallSetupSize);
    ASSERT_EQ(setup[0], MSG_CALL_SETUP);

    ASSERT_TRUE(ana.WaitLine("no-response", 20000));
    const auto waited = *ana.TimeOf("no-response") - *ana.TimeOf("calling 5550142");
    EXPECT_GT(waited, std::chrono::seconds(11));
    EXPECT_LT(waited, std::chrono::seconds(22));  // before a callee's ten rings are over
    EXPECT_TRUE(ana.WaitLine("hangup"));
    // The set-up is over for the server; the callee hears of it.
    Bytes abort;
    for (int i = 0; i < 10 && (abort.empty() || abort[0] != MSG_CALL_ABORT); ++i)
        abort = bea.ReceiveControl(5000);
    EXPECT_EQ(abort, BuildShortRecord(MSG_CALL_ABORT));

    Bytes refused;
    ASSERT_TRUE(BuildCallRefused(setup.data(), setup.size(), kRefusedNoAnswer, refused));
    ASSERT_TRUE(bea.Control(refused));
    EXPECT_TRUE(ana.WaitLine("call-refused 18"));
    EXPECT_TRUE(Before(ana, "no-response", "call-refused 18"));
}

// The callee stops reading for ten seconds while the caller keeps sending sound and large chat lines:
// the caller's main thread never waits for the link (sound that cannot go is dropped, chat is queued),
// and once the callee reads again every line arrives, in order, on the same connection.
TEST(CliCall, AStalledCalleeNeverHoldsTheCallerAndLosesNoChat) {
    SCallServer s("127.0.0.151");
    ASSERT_TRUE(s.started);
    servertest::CTestClient bea;
    ASSERT_TRUE(bea.Connect(s.address, kPort));
    bea.SetReceiveBuffer(64 * 1024);
    ASSERT_TRUE(bea.LoginFully("5550142", "pw-bea"));
    CCli ana(s.address, "5550141", "pw-ana",
             {"--call", "5550142", "--mic", "tone", "--chat-every", "25", "--chat-size", "16384",
              "--hangup-after", "14", "--duration", "22", "--loop-report"});
    ASSERT_TRUE(AnswerRaw(bea));
    ASSERT_TRUE(ana.WaitLine("call-connected"));
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const int read = ReadNumberedChat(bea);
    ASSERT_TRUE(ana.WaitLine("hangup"));
    std::string sent;
    ASSERT_TRUE(ana.WaitLine("chat-sent ", 5000, true, &sent));
    EXPECT_EQ(read, std::stoi(sent.substr(10)));
    EXPECT_GT(read, 300);
    EXPECT_EQ(0, ana.Wait(40000));
    EXPECT_EQ(1, ana.Count("transport-waits 0"));
    EXPECT_EQ(0, ana.Count("state D"));
}

TEST(CliCall, AnUnansweredCallRingsTenTimesThenRefusesAsNoAnswer) {
    SCallServer s("127.0.0.147");
    ASSERT_TRUE(s.started);
    CCli bea(s.address, "5550142", "pw-bea");
    ASSERT_TRUE(bea.WaitLine("state C"));
    // Ana is a raw client without an answer timeout of its own.
    servertest::CTestClient ana;
    ASSERT_TRUE(ana.Connect(s.address, kPort));
    ASSERT_TRUE(ana.LoginFully("5550141", "pw-ana"));
    ASSERT_TRUE(ana.Control(BuildCallIdRecord(MSG_CALL_REQUEST, 0)));
    Bytes id;
    for (int i = 0; i < 10 && (id.empty() || id[0] != MSG_CALL_ID); ++i)
        id = ana.ReceiveControl(5000);
    uint32_t callId = 0;
    ASSERT_TRUE(ParseCallIdRecord(id.data(), id.size(), callId));
    ASSERT_TRUE(ana.Control(BuildCallSetup(callId, "5550141", "Ana Gil", "5550142")));

    Bytes refused;
    for (int i = 0; i < 40 && (refused.empty() || refused[0] != MSG_CALL_REFUSED); ++i)
        refused = ana.ReceiveControl(1000);
    ASSERT_EQ(refused.size(), kCallSetupSize);
    EXPECT_EQ(refused[0], MSG_CALL_REFUSED);
    EXPECT_EQ(refused[327], kRefusedNoAnswer);
    EXPECT_EQ(bea.Count("ring 10"), 1);
    EXPECT_EQ(bea.Count("ring 11"), 0);
    EXPECT_EQ(bea.Count("call-connected"), 0);
}

TEST(CliCall, CallsToNobodyAndFromTheGuest) {
    SCallServer s("127.0.0.148");
    ASSERT_TRUE(s.started);
    CCli carla(s.address, "5550143", "pw-carla", {"--call", "5550199"});
    EXPECT_TRUE(carla.WaitLine("call-refused 18"));  // the server's answer for an NTV not connected

    CCli bea(s.address, "5550142", "pw-bea", {"--auto-answer"});
    ASSERT_TRUE(bea.WaitLine("state C"));
    CCli guest(s.address, CClientApp::kGuestNtv, CClientApp::kGuestNtv,
               {"--call", "5550142", "--hangup-after", "0"});
    EXPECT_TRUE(bea.WaitLine("incoming 888888888888888 Direct call"));
    EXPECT_TRUE(guest.WaitLine("call-connected"));
    EXPECT_TRUE(bea.WaitLine("hangup"));
}

// The counts of a client's last "stats NAME N ..." line.
std::map<std::string, long> LastStats(CCli& cli) {
    std::map<std::string, long> counts;
    const auto lines = cli.Lines();
    for (auto it = lines.rbegin(); it != lines.rend() && counts.empty(); ++it) {
        if (it->rfind("stats ", 0) != 0)
            continue;
        std::istringstream in(it->substr(6));
        std::string name;
        long value = 0;
        while (in >> name >> value)
            counts[name] = value;
    }
    return counts;
}

// Each side's stats line counts what it sent and what came from the peer, per channel: in a call with
// sound, chat and video both ways one side's sent matches the other's received, give or take what was on
// the way at the hang-up. The lines come while the call runs and once more when it ends.
TEST(CliCall, StatsLinesCountEachChannelBothWays) {
    SCallServer s("127.0.0.254");
    ASSERT_TRUE(s.started);
    const std::vector<std::string> media = {"--mic",        "tone", "--camera",      "test",
                                            "--chat-every", "200",  "--stats-every", "1"};
    std::vector<std::string> beaArgs = {"--auto-answer"};
    beaArgs.insert(beaArgs.end(), media.begin(), media.end());
    CCli bea(s.address, "5550142", "pw-bea", beaArgs);
    ASSERT_TRUE(bea.WaitLine("state C"));
    std::vector<std::string> anaArgs = {"--call", "5550142", "--hangup-after", "4"};
    anaArgs.insert(anaArgs.end(), media.begin(), media.end());
    CCli ana(s.address, "5550141", "pw-ana", anaArgs);
    ASSERT_TRUE(ana.WaitLine("hangup", 20000));
    ASSERT_TRUE(bea.WaitLine("hangup"));
    auto isStats = [](const std::string& line) { return line.rfind("stats ", 0) == 0; };
    for (CCli* cli : {&ana, &bea}) {
        // Lines every second while the call runs, and the call's last counts when it ends.
        std::vector<std::string> lines = cli->Lines();
        auto hangup = std::find(lines.begin(), lines.end(), "hangup");
        EXPECT_GE(std::count_if(lines.begin(), hangup, isStats), 2);
        for (int i = 0; i < 50 && std::none_of(hangup, lines.end(), isStats); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            lines = cli->Lines();
            hangup = std::find(lines.begin(), lines.end(), "hangup");
        }
        ASSERT_TRUE(std::any_of(hangup, lines.end(), isStats));
    }
    std::map<std::string, long> a = LastStats(ana), b = LastStats(bea);
    for (auto [from, to] : {std::pair{&a, &b}, std::pair{&b, &a}}) {
        EXPECT_GT((*from)["audio-sent"], 10);
        EXPECT_GT((*from)["video-sent"], 10);
        EXPECT_GT((*from)["chat-sent"], 5);
        EXPECT_GE((*to)["audio-received"], (*from)["audio-sent"] - 10);
        EXPECT_LE((*to)["audio-received"], (*from)["audio-sent"]);
        EXPECT_GE((*to)["video-received"], (*from)["video-sent"] - 15);
        EXPECT_LE((*to)["video-received"], (*from)["video-sent"]);
        EXPECT_GT((*to)["video-decoded"], 10);
        EXPECT_LE((*to)["video-decoded"], (*to)["video-received"]);
        EXPECT_GE((*to)["chat-received"], (*from)["chat-sent"] - 1);
        EXPECT_LE((*to)["chat-received"], (*from)["chat-sent"]);
        EXPECT_EQ((*from)["audio-dropped"], 0);
        EXPECT_GT((*from)["control-sent"], 0);
        EXPECT_GT((*from)["control-received"], 0);
    }
    EXPECT_EQ(a["chat-sent"], ana.Number("chat-sent"));
    EXPECT_EQ(ana.Stop(), 0);
    EXPECT_EQ(bea.Stop(), 0);
}

TEST(CliCall, CallOptionsAreChecked) {
    for (const std::vector<std::string>& extra : {std::vector<std::string>{"--reject", "--auto-answer"},
                                                  {"--auto-answer=x"},
                                                  {"--hangup-after", "-1"},
                                                  {"--mic", "/nonexistent.wav"},
                                                  {"--stats-every", "0"},
                                                  {"--call"}}) {
        CCli cli("127.0.0.149", "5550141", "pw", extra);
        EXPECT_EQ(cli.Wait(), 2) << extra[0];
        EXPECT_TRUE(cli.Lines().empty());
    }
}

}  // namespace
