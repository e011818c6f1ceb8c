// Test helpers: a real velaphond process on a loopback address of its own, and a protocol-level client
// built from the network code's frame and record functions.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "net/Frame.h"
#include "net/Protocol.h"
#include "support/Process.h"

namespace servertest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline std::string Binary() {
    return std::string(VP_BINARY_DIR) + "/bin/velaphond";
}

// A scratch folder removed at the end of the test.
class CScratch {
public:
    CScratch() {
        m_path =
            fs::temp_directory_path() / ("vp_server_" + std::to_string(getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_path);
        fs::create_directories(m_path);
    }
    ~CScratch() { fs::remove_all(m_path); }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    fs::path m_path;
};

struct CRun {
    int nExit = -1;
    std::string strOut;
    std::string strErr;
};

// Runs velaphond with the arguments to its end, collecting both outputs.
inline CRun RunTool(const std::vector<std::string>& args) {
    std::vector<std::string> all = {Binary()};
    all.insert(all.end(), args.begin(), args.end());
    vp::test::CChildProcess process;
    CRun run;
    if (!process.Start(all, vp::test::CChildProcess::kOut | vp::test::CChildProcess::kErr))
        return run;
    run.nExit = process.Wait(-1);
    run.strOut = process.Text(vp::test::CChildProcess::kOut);
    run.strErr = process.Text(vp::test::CChildProcess::kErr);
    return run;
}

// `velaphond serve` on `address` with free ports; its log lines are collected as they come.
class CServerProcess {
public:
    // Starts (clients on `port`, 0: a free one) and waits for the "listening" line. False when the
    // process ended first.
    bool Start(const std::string& db, const std::string& address, const std::vector<std::string>& extra = {},
               uint16_t port = 0) {
        m_strAddress = address;
        std::vector<std::string> args = {Binary(), "serve",       "--db",
                                         db,       "--listen",    address + ":" + std::to_string(port),
                                         "--http", address + ":0"};
        args.insert(args.end(), extra.begin(), extra.end());
        if (!m_Process.Start(args, vp::test::CChildProcess::kErr))
            return false;
        std::string line;
        if (!WaitForLog("listening ", 20000, &line))
            return false;
        unsigned a = 0, b = 0;
        char host1[64], host2[64];
        if (std::sscanf(line.c_str(), "listening %63[^ ] http %63s", host1, host2) != 2)
            return false;
        std::string l = host1, h = host2;
        a = static_cast<unsigned>(std::stoul(l.substr(l.rfind(':') + 1)));
        b = static_cast<unsigned>(std::stoul(h.substr(h.rfind(':') + 1)));
        m_nPort = static_cast<uint16_t>(a);
        m_nHttpPort = static_cast<uint16_t>(b);
        return true;
    }

    // Sends the signal and waits for the exit code (128 + signal when killed by it).
    int Stop(int signal = SIGTERM) { return m_Process.Stop(signal, -1); }
    // Ends the process at once.
    void Kill() { m_Process.Kill(); }

    // Waits for a log line containing the text; gives the line.
    bool WaitForLog(const std::string& text, int timeoutMs = 10000, std::string* found = nullptr) {
        return m_Process.WaitLine(text, vp::test::CChildProcess::EMatch::Substring, timeoutMs, found);
    }
    // Whether a line holding the text has been logged (no waiting).
    bool Logged(const std::string& text) {
        return m_Process.Count(text, vp::test::CChildProcess::EMatch::Substring) > 0;
    }
    std::vector<std::string> Lines() { return m_Process.Lines(); }
    // Resident memory of the server process in KiB.
    long RssKb() const {
        FILE* f = std::fopen(("/proc/" + std::to_string(Pid()) + "/status").c_str(), "r");
        if (f == nullptr)
            return -1;
        char line[256];
        long kb = -1;
        while (std::fgets(line, sizeof line, f) != nullptr) {
            if (std::sscanf(line, "VmRSS: %ld kB", &kb) == 1)
                break;
        }
        std::fclose(f);
        return kb;
    }

    pid_t Pid() const { return m_Process.Pid(); }
    const std::string& Address() const { return m_strAddress; }
    uint16_t Port() const { return m_nPort; }
    uint16_t HttpPort() const { return m_nHttpPort; }

private:
    vp::test::CChildProcess m_Process;
    std::string m_strAddress;
    uint16_t m_nPort = 0;
    uint16_t m_nHttpPort = 0;
};

struct CFrame {
    SFrameHeader header;
    Bytes payload;
    Bytes raw;  // header and payload as received
};

// A client that speaks frames over a plain blocking socket.
class CTestClient {
public:
    ~CTestClient() { Close(); }

    bool Connect(const std::string& address, uint16_t port) {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        if (m_fd < 0)
            return false;
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
        int one = 1;
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return connect(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    }
    void Close() {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

    // A fixed receive buffer: the kernel then holds a known, small part of what a stalled reader is sent.
    void SetReceiveBuffer(int bytes) { setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes); }

    static Bytes MakeFrame(uint8_t channel, const Bytes& payload, const std::string& sender = "",
                           uint32_t tag = 0) {
        Bytes frame(kFrameHeaderSize + payload.size());
        BuildFrameHeader(frame.data(), channel, static_cast<uint32_t>(payload.size()), sender, tag, false);
        std::copy(payload.begin(), payload.end(), frame.begin() + kFrameHeaderSize);
        return frame;
    }
    bool SendRaw(const Bytes& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            ssize_t n = send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }
    bool Send(uint8_t channel, const Bytes& payload, uint32_t tag = 0) {
        return SendRaw(MakeFrame(channel, payload, m_strNtv, tag));
    }
    bool Control(const Bytes& record) { return Send(kChannelControl, record); }

    // The next frame within the time; pings are answered and skipped unless asked for.
    std::optional<CFrame> Receive(int timeoutMs = 5000, bool bKeepPings = false) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            CFrame f;
            if (!ReadExactly(f.raw, kFrameHeaderSize, deadline))
                return std::nullopt;
            if (!ParseFrameHeader(f.raw.data(), f.raw.size(), f.header))
                return std::nullopt;
            Bytes payload;
            if (!ReadExactly(payload, f.header.length, deadline)) {
                Unread(f.raw);  // the rest comes with the next call: a frame is never cut in two
                return std::nullopt;
            }
            f.raw.insert(f.raw.end(), payload.begin(), payload.end());
            f.payload = std::move(payload);
            if (!bKeepPings && f.header.channel == kChannelControl && f.payload.size() == 2 &&
                f.payload[0] == MSG_PING) {
                Control(BuildShortRecord(MSG_PING));
                continue;
            }
            return f;
        }
    }
    // The payload of the next control message (pings skipped); empty when none came.
    Bytes ReceiveControl(int timeoutMs = 5000) {
        for (;;) {
            auto f = Receive(timeoutMs);
            if (!f)
                return {};
            if (f->header.channel == kChannelControl)
                return f->payload;
        }
    }
    // True when nothing but pings arrives within the time.
    bool Quiet(int ms = 200) {
        auto f = Receive(ms);
        return !f.has_value() && !m_bClosed;
    }
    // True when the server closes the connection within the time (anything received before is dropped).
    bool WaitClosed(int timeoutMs = 5000) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < deadline) {
            Bytes ignored;
            if (!ReadExactly(ignored, 1, deadline) && m_bClosed)
                return true;
        }
        return m_bClosed;
    }
    bool IsClosed() const { return m_bClosed; }

    // Logs in; true on MSG_LOGIN_OK (the user information and any new-version notice stay queued).
    bool Login(const std::string& ntv, const std::string& password, const std::string& version = "0200003") {
        m_strNtv = ntv;
        if (!Control(BuildLogin(ntv, password, "127.0.0.1", version, 0)))
            return false;
        Bytes r = ReceiveControl(20000);
        return r == BuildShortRecord(MSG_LOGIN_OK);
    }
    // Logs in and takes the user information.
    bool LoginFully(const std::string& ntv, const std::string& password) {
        if (!Login(ntv, password))
            return false;
        Bytes info = ReceiveControl();
        return !info.empty() && info[0] == MSG_USER_INFO;
    }

    int Fd() const { return m_fd; }

private:
    // Reads n bytes before the deadline. Bytes that came before a timeout are kept for the next read.
    bool ReadExactly(Bytes& out, size_t n, Clock::time_point deadline) {
        while (m_pending.size() < n) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0)
                return false;
            uint8_t buf[16384];
            ssize_t r = recv(m_fd, buf, sizeof buf, 0);
            if (r <= 0) {
                m_bClosed = true;
                return false;
            }
            m_pending.insert(m_pending.end(), buf, buf + r);
        }
        out.assign(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(n));
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(n));
        return true;
    }
    void Unread(const Bytes& bytes) { m_pending.insert(m_pending.begin(), bytes.begin(), bytes.end()); }

    int m_fd = -1;
    std::string m_strNtv;
    bool m_bClosed = false;
    Bytes m_pending;  // received, not yet taken
};

}  // namespace servertest
