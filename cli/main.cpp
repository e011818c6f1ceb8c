// velaphon-cli: the headless client. It runs the desktop client's session controller with its events
// printed on standard output, and reads and writes no settings file.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "Version.h"
#include "app/ClientApp.h"
#include "app/SessionCall.h"
#include "app/SessionController.h"
#include "audio/MixerBackend.h"
#include "audio/VirtualWave.h"
#include "audio/WavFile.h"
#include "cli/CallConsole.h"
#include "cli/CliOptions.h"
#include "cli/ConsoleWindow.h"
#include "net/Channel.h"
#include "platform/Messages.h"
#include "platform/StringTable.h"
#include "platform/Thread.h"
#include "video/CaptureBackend.h"
#include "video/CaptureDrivers.h"
#include "video/TestPatternCamera.h"

namespace {

enum { EXIT_DONE = 0, EXIT_NOT_DONE = 1, EXIT_BAD_ARGUMENTS = 2 };
constexpr UINT kTickMs = 10;

// Waits for SIGINT or SIGTERM (blocked in every thread) and ends the main loop.
class CSignalThread : public CThread {
public:
    explicit CSignalThread(CMessageLoop& loop) : m_loop(loop) { SetName("CSignalThread"); }
    ~CSignalThread() override { Stop(); }

protected:
    void Run() override {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        const timespec slice{0, 50 * 1000 * 1000};
        while (!IsStopRequested()) {
            if (sigtimedwait(&set, nullptr, &slice) > 0) {
                m_loop.Quit(EXIT_DONE);
                return;
            }
        }
    }

private:
    CMessageLoop& m_loop;
};

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(CliUsage(), stdout);
            return EXIT_DONE;
        }
        if (arg == "--version") {
            std::printf("velaphon-cli %s\n", kVelaphonVersion);
            return EXIT_DONE;
        }
    }
    SCliOptions options;
    std::string error;
    if (!ParseCliArguments(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "velaphon-cli: %s\n%s", error.c_str(), CliUsage());
        return EXIT_BAD_ARGUMENTS;
    }
    if (options.m_bListCameras) {
        for (const auto& [name, index] : EnumerateDrivers())
            std::printf("camera %d %s\n", index, CConsoleWindow::LastField(name).c_str());
        return EXIT_DONE;
    }

    // Before any thread exists, so that every thread inherits the mask and only sigtimedwait sees them.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);

    // Sound comes from and goes to virtual devices only: a file, a tone or silence.
    constexpr const char* kMic = "velaphon-cli microphone";
    constexpr const char* kSpeaker = "velaphon-cli speaker";
    auto devices = std::make_shared<CVirtualWaveBackend>();
    if (options.m_strMic.empty() || options.m_strMic == "silence") {
        devices->AddSilenceCapture(kMic, EWavePacing::RealTime);
    } else if (options.m_strMic == "tone") {
        devices->AddToneCapture(kMic, 440.0, 0.3, EWavePacing::RealTime);
    } else {
        SWavFormat format;
        std::vector<int16_t> samples;
        if (!ReadWavFile(options.m_strMic, format, samples)) {
            std::fprintf(stderr, "velaphon-cli: cannot read %s as a WAV file\n", options.m_strMic.c_str());
            return EXIT_BAD_ARGUMENTS;
        }
        devices->AddWavFileCapture(kMic, options.m_strMic, EWavePacing::RealTime);
    }
    devices->AddWavFilePlayback(kSpeaker, options.m_strSpeaker, EWavePacing::RealTime);
    SetWaveBackends({devices});
    SetMixerBackends({});

    // The test pattern is opt-in: only this option (or VELAPHON_VIRTUAL_CAMERA=1) lists it.
    std::shared_ptr<CTestPatternBackend> pattern;
    if (options.m_Call.m_strCamera == "test") {
        pattern = std::make_shared<CTestPatternBackend>();
        pattern->SetStill(options.m_Call.m_bStill);
        AddCaptureBackend(pattern);
        options.m_Call.m_strCamera = kTestPatternName;
    }

    CClientApp app;
    app.Settings().SetVideoIn(options.m_Call.m_strCamera);
    app.Settings().SetUser(options.m_strNtv, options.m_strPassword);
    app.Settings().SetAudioIn(kMic);
    app.Settings().SetAudioOut(kSpeaker);
    app.Settings().SetServer(options.m_strHost, CSettings::kServerPort);

    CMessageLoop loop;
    CConsoleWindow window;
    CSessionController session(app, window);
    CCallConsole callView(options.m_Call);
    CSessionCall call(session, callView, [&] { loop.Quit(EXIT_DONE); });
    callView.SetCall(&call, &session.Control());
    call.Control().Receiver().LosePictures(static_cast<uint32_t>(options.m_Call.m_nLosePictures));
    if (pattern != nullptr && options.m_Call.m_bStill) {
        callView.SetCameraMover([pattern] {
            pattern->SetStill(false);
            // The next grab would repeat the still frame once more; the scene moves now.
            pattern->TakeFrameNumber();
            return pattern->FramesGrabbed();
        });
    }
    bool placed = false;

    auto addedKnown = [&] {
        for (const auto& [ntv, nick] : options.m_AddContacts) {
            const SContactRecord* c = app.Contacts().Find(ntv);
            if (c == nullptr || c->m_cStatus == 0)
                return false;
        }
        return true;
    };
    // The NTVs still to remove in this login: the server lists them some time after the login.
    std::vector<std::string> toRemove;
    bool done = false;
    auto checkDone = [&] {
        if (options.m_bOnce && session.IsConnected() && addedKnown() && toRemove.empty() && !done) {
            done = true;
            loop.Quit(EXIT_DONE);
        }
    };
    // Removal waits for a posted message: the list is not changed beneath the event that announced it.
    constexpr UINT WM_REMOVE_LISTED = WM_APP + 1;
    CFunctionTarget remover([&](UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message != WM_REMOVE_LISTED)
            return 0;
        for (auto it = toRemove.begin(); it != toRemove.end();) {
            if (session.RemoveContact(*it))
                it = toRemove.erase(it);
            else
                ++it;
        }
        checkDone();
        return 0;
    });
    window.m_onContactAdded = [&](const std::string& ntv) {
        if (std::find(toRemove.begin(), toRemove.end(), ntv) != toRemove.end())
            PostMessage(remover.GetSafeHwnd(), WM_REMOVE_LISTED, 0, 0);
    };
    window.m_onState = [&](char state) {
        if (state != 'C')
            return;
        toRemove = options.m_RemoveContacts;
        if (options.m_bAway)
            session.SetAway(true);
        if (!options.m_strCall.empty() && !placed) {
            placed = true;
            call.Control().PlaceCall(options.m_strCall);
        }
        // The poll that follows the login asks for their letters, which tells they are stored.
        for (const auto& [ntv, nick] : options.m_AddContacts)
            session.AddContact(ntv, nick);
        if (options.m_AddContacts.empty())
            checkDone();
    };
    window.m_onContactStatus = checkDone;

    CFunctionTarget timer([&](UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_TIMER)
            loop.Quit(options.m_bOnce ? EXIT_NOT_DONE : EXIT_DONE);
        return 0;
    });
    if (options.m_nDurationSeconds >= 0)
        SetTimer(timer.GetSafeHwnd(), 1, static_cast<UINT>(options.m_nDurationSeconds) * 1000);

    // How the main loop keeps up: a 10 ms timer, and how late each of its ticks came.
    CChannel::MarkNoWaitThread();
    std::vector<double> lateness;
    auto lastTick = std::chrono::steady_clock::now();
    CFunctionTarget ticker([&](UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message != WM_TIMER)
            return 0;
        // Every tick that fell due since the last one was served only now: a loop held for 800 ms
        // counts as 80 late ticks, not one.
        const auto now = std::chrono::steady_clock::now();
        const double gap = std::chrono::duration<double, std::milli>(now - lastTick).count();
        const int due = std::max(1, static_cast<int>(gap / kTickMs));
        for (int i = 1; i <= due; ++i)
            lateness.push_back(std::max(0.0, gap - i * static_cast<double>(kTickMs)));
        lastTick = now;
        return 0;
    });
    if (options.m_bLoopReport)
        SetTimer(ticker.GetSafeHwnd(), 1, kTickMs);

    CSignalThread signals(loop);
    signals.Start();
    session.Start();
    int code = loop.Run();
    signals.Stop();
    if (options.m_bLoopReport) {
        std::printf("transport-waits %llu\n",
                    static_cast<unsigned long long>(CChannel::WaitsOnNoWaitThreads()));
        std::sort(lateness.begin(), lateness.end());
        auto at = [&](double q) {
            return lateness.empty()
                       ? 0.0
                       : lateness[static_cast<size_t>(q * static_cast<double>(lateness.size() - 1))];
        };
        std::printf("loop-lateness %.1f %.1f %.1f\n", at(0.5), at(0.99), at(1.0));
        std::fflush(stdout);
    }
    return code;
}
