#include "support/PulseServer.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "support/Environment.h"

namespace vp::test {

namespace {

constexpr int kStartTimeoutMs = 15000;

}  // namespace

CPulseServer::~CPulseServer() {
    Stop();
}

std::vector<std::string> CPulseServer::ClientEnvironment() const {
    if (!m_pDir)
        return {};
    const std::string& dir = m_pDir->Path();
    return {"XDG_RUNTIME_DIR=" + dir + "/run", "PULSE_SERVER=unix:" + dir + "/run/pulse/native",
            std::string("PULSE_SINK=") + kSinkName, std::string("PULSE_SOURCE=") + kSinkName + ".monitor",
            "PULSE_COOKIE=" + dir + "/home/.config/pulse/cookie"};
}

bool CPulseServer::Start(std::string* error) {
    auto fail = [&](const std::string& why) { return Failed(error, why, [this] { Stop(); }); };
    if (m_pid > 0)
        return true;
    m_pDir = std::make_unique<CTempDir>("vp-pulse");
    const std::string dir = m_pDir->Path();
    if (dir.empty())
        return fail("no temporary folder");
    std::filesystem::create_directories(dir + "/run");
    std::filesystem::create_directories(dir + "/home");
    chmod((dir + "/run").c_str(), 0700);

    const std::vector<std::string> serverEnv = {"XDG_RUNTIME_DIR=" + dir + "/run", "HOME=" + dir + "/home",
                                                "XDG_CONFIG_HOME=" + dir + "/home/.config"};
    m_pid = StartProgram({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                          "--disable-shm=yes", "-L",
                          std::string("module-null-sink sink_name=") + kSinkName + " rate=8000 channels=1",
                          "-L", "module-native-protocol-unix auth-anonymous=1"},
                         serverEnv);
    if (m_pid <= 0)
        return fail("pulseaudio could not be started");

    const auto env = ClientEnvironment();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    for (;;) {
        if (std::filesystem::exists(dir + "/run/pulse/native") && RunProgram({"pactl", "info"}, env) == 0)
            break;
        if (std::chrono::steady_clock::now() > deadline)
            return fail("pulseaudio did not answer");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (const auto& entry : env) {
        const auto eq = entry.find('=');
        const std::string name = entry.substr(0, eq);
        const char* old = std::getenv(name.c_str());
        m_SavedEnv.emplace_back(name, old != nullptr ? std::string(old) : std::string("\x01"));
        SetEnv(name, entry.substr(eq + 1));
    }
    return true;
}

void CPulseServer::Stop() {
    for (const auto& [name, value] : m_SavedEnv) {
        if (value == "\x01") {
            UnsetEnv(name);
        } else {
            SetEnv(name, value);
        }
    }
    m_SavedEnv.clear();
    if (m_pid > 0)
        StopProgram(m_pid);
    m_pid = -1;
    m_pDir.reset();
}

}  // namespace vp::test
