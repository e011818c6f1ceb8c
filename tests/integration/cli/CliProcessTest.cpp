// velaphon-cli as a process against a real velaphond: its lines, its exit codes, the own status others
// see, a server that goes away and comes back, and the one-shot mode that stores contacts.
#include <gtest/gtest.h>

#include <sstream>

#include "integration/app/SessionHarness.h"
#include "integration/call/CliProcess.h"

namespace {

using namespace sessiontest;

// A running velaphon-cli whose standard output is collected line by line; it may take a while to end.
class CCli : public calltest::CCli {
public:
    using calltest::CCli::CCli;
    // The exit code, waiting for the end (-1 when it did not end in time).
    int Wait(int timeoutMs = 30000) { return calltest::CCli::Wait(timeoutMs); }
};

const std::vector<SUser> kUsers = {
    {"5550001", "demo-a", "Ana Gil", {{"5550002", "Bea R."}}},
    {"5550002", "demo-b", "", {}},
};

struct SServer : SSeededServer {
    explicit SServer(const std::string& address, std::vector<std::string> extra = {})
        : SSeededServer(address, kUsers, std::move(extra)) {}
};

TEST(CliProcess, BadArgumentsEndWithCode2) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{},
          {"--host", "h", "--ntv", "1"},
          {"--host", "h", "--ntv", "1", "--password"},
          {"--host", "h", "--ntv", "1", "--password", "p", "--status", "busy"},
          {"--host", "h", "--ntv", "1", "--password", "p", "--duration", "-3"},
          {"--host", "h", "--ntv", "1", "--password", "p", "--frobnicate"},
          {"--host", "h", "--ntv", "1", "--password", "p", "--add-contact", ":Nick"},
          {"--host", "h", "--ntv", "1", "--password", "p", "--remove-contact", ""}}) {
        CCli cli(args);
        EXPECT_EQ(cli.Wait(), 2);
        EXPECT_TRUE(cli.Lines().empty());  // the usage goes to standard error
    }
}

TEST(CliProcess, ListsTheCamerasWithoutLoggingIn) {
    vp::test::CChildProcess cli;
    ASSERT_TRUE(cli.Start({calltest::CliBinary(), "--list-cameras"}, vp::test::CChildProcess::kOut, SIGKILL,
                          {"VELAPHON_VIRTUAL_CAMERA=1"}));
    EXPECT_EQ(cli.Wait(), 0);
    // Real cameras, if the machine has any, are listed beside the virtual one.
    int patterns = 0;
    for (const auto& line : cli.Lines()) {
        EXPECT_EQ(line.rfind("camera ", 0), 0u) << line;
        patterns += line.size() > 13 && line.compare(line.size() - 13, 13, " Test pattern") == 0;
    }
    EXPECT_EQ(patterns, 1);
}

TEST(CliProcess, LogsInPrintsTheSessionAndEndsAfterItsDuration) {
    SServer s("127.0.0.120");
    ASSERT_TRUE(s.started);
    CCli cli({"--host", "127.0.0.120", "--ntv", "5550001", "--password", "demo-a", "--duration", "2"});
    EXPECT_EQ(cli.Wait(), 0);
    const std::string base = "http://127.0.0.120:" + std::to_string(s.server.HttpPort());
    EXPECT_EQ(cli.Lines(),
              (std::vector<std::string>{"connecting", "state C",
                                        "user-info " + base + "/directory " + base + "/help Ana Gil",
                                        "contact 5550002 Bea R."}));
}

TEST(CliProcess, AnAwayClientIsSeenAwayAndLoginErrorsArePrinted) {
    SServer s("127.0.0.121");
    ASSERT_TRUE(s.started);
    CCli bea({"--host", "127.0.0.121", "--ntv", "5550002", "--password", "demo-b", "--status", "away"});
    ASSERT_TRUE(bea.WaitLine("state C"));
    ASSERT_TRUE(s.server.WaitForLog("status 5550002 A"));
    // An empty display name is written "-".
    EXPECT_TRUE(bea.WaitLine("user-info http://127.0.0.121:" + std::to_string(s.server.HttpPort()) +
                             "/directory http://127.0.0.121:" + std::to_string(s.server.HttpPort()) +
                             "/help -"));
    CCli ana({"--host", "127.0.0.121", "--ntv", "5550001", "--password", "demo-a"});
    EXPECT_TRUE(ana.WaitLine("contact-status 5550002 A"));
    EXPECT_EQ(ana.Count("popup User Bea R. ready"), 0);

    CCli wrong({"--host", "127.0.0.121", "--ntv", "5550001", "--password", "nope", "--duration", "3"});
    EXPECT_TRUE(wrong.WaitLine("login-error 2"));
    EXPECT_TRUE(wrong.WaitLine("notice 126 Incorrect data"));
    EXPECT_EQ(wrong.Wait(), 0);
    EXPECT_EQ(wrong.Count("connecting"), 1);

    // Ana is still logged in: a second Ana is refused as already connected.
    CCli twice({"--host", "127.0.0.121", "--ntv", "5550001", "--password", "demo-a", "--duration", "3"});
    EXPECT_TRUE(twice.WaitLine("login-error 8"));
    EXPECT_TRUE(twice.WaitLine("notice 124 User already connected"));

    // SIGTERM and SIGINT end a client without a duration normally.
    ana.Signal(SIGTERM);
    EXPECT_EQ(ana.Wait(), 0);
    bea.Signal(SIGINT);
    EXPECT_EQ(bea.Wait(), 0);
}

TEST(CliProcess, FollowsTheServerAwayAndBackAndANewerVersion) {
    SServer s("127.0.0.122", {"--current-version", "0300000"});
    ASSERT_TRUE(s.started);
    CCli cli({"--host", "127.0.0.122", "--ntv", "5550001", "--password", "demo-a"});
    ASSERT_TRUE(cli.WaitLine("state C"));
    EXPECT_TRUE(cli.WaitLine("new-version"));
    s.server.Crash();
    ASSERT_TRUE(cli.WaitLine("state D"));
    ASSERT_TRUE(s.server.Start());
    ASSERT_TRUE(cli.WaitLine("state C") && cli.Count("state C") >= 1);
    for (int i = 0; i < 2000 && cli.Count("state C") < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(cli.Count("state C"), 2);
    EXPECT_GE(cli.Count("connecting"), 2);
    cli.Signal(SIGTERM);
    EXPECT_EQ(cli.Wait(), 0);
}

TEST(CliProcess, EveryEventStaysOnOneLine) {
    CScratch scratch;
    ASSERT_TRUE(
        SeedDatabase(scratch.File("accounts.db"), {{"5550003", "pw", "Eve\nNew 100%", {{"5550001", ""}}}}));
    CVelaphond server(scratch.File("accounts.db"), "127.0.0.125");
    ASSERT_TRUE(server.Start());
    CCli cli({"--host", "127.0.0.125", "--ntv", "5550003", "--password", "pw", "--duration", "2"});
    EXPECT_EQ(cli.Wait(), 0);
    const std::string base = "http://127.0.0.125:" + std::to_string(server.HttpPort());
    EXPECT_EQ(cli.Count("user-info " + base + "/directory " + base + "/help Eve%0ANew 100%25"), 1);
    EXPECT_EQ(cli.Count("contact 5550001 -"), 1);  // no nickname
}

TEST(CliProcess, OnceStoresTheContactsItAddsOrRemovesAndEnds) {
    SServer s("127.0.0.123");
    ASSERT_TRUE(s.started);
    CCli add({"--host", "127.0.0.123", "--ntv", "5550002", "--password", "demo-b", "--add-contact",
              "5550001:Ana with spaces", "--once", "--duration", "20"});
    EXPECT_EQ(add.Wait(), 0);
    EXPECT_EQ(add.Count("contact-status 5550001 D"), 1);
    // The next login finds it in the stored list.
    CCli check({"--host", "127.0.0.123", "--ntv", "5550002", "--password", "demo-b", "--duration", "2"});
    EXPECT_EQ(check.Wait(), 0);
    EXPECT_EQ(check.Count("contact 5550001 Ana with spaces"), 1);

    // Removed once the server has listed it; the next login no longer finds it.
    CCli remove({"--host", "127.0.0.123", "--ntv", "5550002", "--password", "demo-b", "--remove-contact",
                 "5550001", "--once", "--duration", "20"});
    EXPECT_EQ(remove.Wait(), 0);
    EXPECT_EQ(remove.Count("contact-removed 5550001"), 1);
    CCli gone({"--host", "127.0.0.123", "--ntv", "5550002", "--password", "demo-b", "--duration", "2"});
    EXPECT_EQ(gone.Wait(), 0);
    EXPECT_EQ(gone.Count("contact 5550001 Ana with spaces"), 0);
    EXPECT_EQ(gone.Count("state C"), 1);

    // Nothing to log in to before the duration ends: code 1.
    CCli never(
        {"--host", "127.0.0.124", "--ntv", "5550002", "--password", "demo-b", "--once", "--duration", "1"});
    EXPECT_EQ(never.Wait(), 1);
}

}  // namespace
