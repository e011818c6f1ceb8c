// velaphon-cli as a process against a real velaphond: its lines, its exit codes, the own status others
// see, a server that goes away and comes back, and the one-shot mode that stores contacts.
#include <gtest/gtest.h>

#include <sstream>

#include "integration/app/SessionHarness.h"

namespace {

using namespace sessiontest;

std::string CliBinary() {
    return std::string(VP_BINARY_DIR) + "/bin/velaphon-cli";
}

// A running velaphon-cli whose standard output is collected line by line.
class CCli {
public:
    explicit CCli(std::vector<std::string> args) {
        int out[2];
        if (pipe(out) != 0)
            return;
        std::vector<std::string> all = {CliBinary()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t parent = getpid();
        m_pid = fork();
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(127);
            dup2(out[1], 1);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 2);
            close_range(3, ~0U, 0);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        m_reader = std::thread([this, fd = out[0]] {
            std::string pending;
            char buf[1024];
            ssize_t n;
            while ((n = read(fd, buf, sizeof buf)) > 0) {
                pending.append(buf, static_cast<size_t>(n));
                size_t nl;
                while ((nl = pending.find('\n')) != std::string::npos) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_lines.push_back(pending.substr(0, nl));
                    pending.erase(0, nl + 1);
                    m_cv.notify_all();
                }
            }
            close(fd);
        });
    }
    ~CCli() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_reader.joinable())
            m_reader.join();
    }
    // Waits for a line equal to `line`.
    bool WaitLine(const std::string& line, int timeoutMs = 20000) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            return std::find(m_lines.begin(), m_lines.end(), line) != m_lines.end();
        });
    }
    int Count(const std::string& line) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(std::count(m_lines.begin(), m_lines.end(), line));
    }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    void Signal(int sig) { kill(m_pid, sig); }
    // The exit code, waiting for the end (-1 when it did not end in time).
    int Wait(int timeoutMs = 30000) {
        for (int waited = 0; waited < timeoutMs; waited += 10) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                if (m_reader.joinable())
                    m_reader.join();
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

private:
    pid_t m_pid = -1;
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::string> m_lines;
};

const std::vector<SUser> kUsers = {
    {"5550001", "demo-a", "Ana Gil", {{"5550002", "Bea R."}}},
    {"5550002", "demo-b", "", {}},
};

struct SServer {
    explicit SServer(const std::string& address, std::vector<std::string> extra = {})
        : server(scratch.File("accounts.db"), address, std::move(extra)) {
        EXPECT_TRUE(SeedDatabase(scratch.File("accounts.db"), kUsers));
        started = server.Start();
    }
    CScratch scratch;
    CVelaphond server;
    bool started = false;
};

TEST(CliProcess, BadArgumentsEndWithCode2) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{},
          {"--host", "h", "--ntv", "1"},
          {"--host", "h", "--ntv", "1", "--password"},
          {"--host", "h", "--ntv", "1", "--password", "p", "--status", "busy"},
          {"--host", "h", "--ntv", "1", "--password", "p", "--duration", "-3"},
          {"--host", "h", "--ntv", "1", "--password", "p", "--frobnicate"},
          {"--host", "h", "--ntv", "1", "--password", "p", "--add-contact", ":Nick"}}) {
        CCli cli(args);
        EXPECT_EQ(cli.Wait(), 2);
        EXPECT_TRUE(cli.Lines().empty());  // the usage goes to standard error
    }
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

TEST(CliProcess, OnceStoresTheContactsItAddsAndEnds) {
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

    // Nothing to log in to before the duration ends: code 1.
    CCli never(
        {"--host", "127.0.0.124", "--ntv", "5550002", "--password", "demo-b", "--once", "--duration", "1"});
    EXPECT_EQ(never.Wait(), 1);
}

}  // namespace
