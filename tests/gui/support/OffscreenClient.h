// What the window tests of the whole client share: a private home with the platform's messages dispatched
// by Qt's loops, the client run with a script acting on its main window, and the windows found by type.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/ClientApp.h"
#include "audio/MixerBackend.h"
#include "audio/VirtualWave.h"
#include "gui/support/QtEnvironment.h"
#include "platform/StringTable.h"
#include "platform/qt/QtMessagePump.h"
#include "support/TempEnvironment.h"
#include "ui/DesktopUi.h"
#include "ui/MainDialog.h"

namespace guitest {

// The first visible top-level window of the type (and, when given, the object name).
template <class T>
T* FindVisible(const char* name = nullptr) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* t = qobject_cast<T*>(w);
            t != nullptr && t->isVisible() && (name == nullptr || t->objectName() == name))
            return t;
    return nullptr;
}

// Runs `script` inside the loop that is about to start. Whatever happens in it, the windows it leaves
// open are closed afterwards, so a failed check never leaves a test hanging in a modal loop.
inline void Script(std::function<void()> script) {
    QTimer::singleShot(0, [script] {
        struct SCloser {
            ~SCloser() {
                for (QWidget* w : QApplication::topLevelWidgets()) {
                    if (auto* main = qobject_cast<CMainDialog*>(w)) {
                        if (!main->HasEnded())
                            main->EndDialog(-1);
                    } else if (auto* d = qobject_cast<QDialog*>(w); d != nullptr && d->isVisible()) {
                        d->reject();
                    }
                }
            }
        } closer;
        script();
    });
}

// Runs `act` on the first visible window of the type once it appears: modal dialogs run their own loops
// beneath whatever the test is doing, so they are answered from a timer.
template <class T>
void WhenShown(std::function<void(T*)> act, const char* name = nullptr) {
    auto* timer = new QTimer;
    timer->setInterval(20);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, act, tries, name] {
        T* w = FindVisible<T>(name);
        if (w == nullptr) {
            if (++*tries > 1000)
                timer->deleteLater();
            return;
        }
        timer->deleteLater();
        act(w);
    });
    timer->start();
}

// Start options of a client that reads no environment and installs no link handler.
inline SStartOptions TestOptions(std::vector<std::string> args) {
    SStartOptions o;
    o.m_args = std::move(args);
    o.m_getenv = [](const char*) -> const char* { return nullptr; };
    o.m_bInstallUrlHandler = false;
    return o;
}

// Runs the client with `script` acting on its main window; the client's exit code.
inline int RunClient(std::function<void(CMainDialog*, CClientApp&)> script, const SStartOptions& options) {
    CDesktopUi ui;
    CClientApp app;
    ui.m_onMainWindow = [&](CMainDialog* main) {
        if (main != nullptr)
            Script([main, &app, script] { script(main, app); });
    };
    return app.Run(options, ui);
}

// A window test of the client: each case (or the whole run) gets a private home (with, when asked, no
// sound device), the message pump, no tray and English texts, ended in the opposite order.
class COffscreenClientTest : public QObject {
protected:
    COffscreenClientTest() { UseQtEnvironment(); }
    void BeginClient(bool silent) {
        m_env = std::make_unique<CTempEnvironment>();
        if (silent)
            m_env->Set("VELAPHON_SOUND_DEVICE", "null");
        m_pump = std::make_unique<CQtMessagePump>();
        CMainDialog::SetTrayAvailableForTests(-1);
        SetStringLanguage(LANG_ENGLISH_US);
    }
    // The desktop's account on `host`, with virtual sound devices ("desk-mic" hears silence, "desk-speaker"
    // plays nowhere) and a free window: the hive a logged-in user would have.
    void SeedDesktopUser(const std::string& ntv, const std::string& password, const std::string& host) {
        auto devices = std::make_shared<CVirtualWaveBackend>();
        devices->AddSilenceCapture("desk-mic", EWavePacing::RealTime);
        devices->AddWavFilePlayback("desk-speaker", "", EWavePacing::RealTime);
        SetWaveBackends({devices});
        SetMixerBackends({});
        std::filesystem::create_directories(m_env->ConfigDir());
        std::ofstream(m_env->HivePath()) << "[Software\\Velaphon\\Settings]\n"
                                         << "\"UserNtv\"=text:\"" << ntv << "\"\n"
                                         << "\"UserPassword\"=text:\"" << password << "\"\n"
                                         << "\"Host\"=text:\"" << host << "\"\n"
                                         << "\"DeviceAudioInput\"=text:\"desk-mic\"\n"
                                         << "\"DeviceAudioOutput\"=text:\"desk-speaker\"\n"
                                         << "\"CornerPosition\"=dword:-1\n";
    }
    void EndClient() {
        m_pump.reset();
        m_env.reset();
    }

    std::unique_ptr<CTempEnvironment> m_env;
    std::unique_ptr<CQtMessagePump> m_pump;
};

}  // namespace guitest
