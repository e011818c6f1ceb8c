#include "ui/DesktopUi.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include "ui/FirstRunDialog.h"
#include "ui/MainDialog.h"
#include "ui/NoticeDialog.h"
#include "ui/ProxyDialog.h"
#include "ui/UiText.h"

namespace {

// Diagnostics for scripted runs (make run offscreen): VELAPHON_SNAPSHOT=<png> saves a picture of the
// main window once it is up; VELAPHON_EXIT_AFTER_MS=<ms> ends the program like the exit command.
void ArmRunHooks(CMainDialog* main) {
    QString snapshot = qEnvironmentVariable("VELAPHON_SNAPSHOT");
    bool ok = false;
    int exitAfter = qEnvironmentVariableIntValue("VELAPHON_EXIT_AFTER_MS", &ok);
    if (!snapshot.isEmpty()) {
        QTimer::singleShot(ok ? std::max(0, exitAfter / 2) : 1000, main, [main, snapshot] {
            if (!main->grab().save(snapshot))
                qWarning("velaphon: could not save %s", qPrintable(snapshot));
        });
    }
    if (ok)
        QTimer::singleShot(exitAfter, main, [main] { main->OnCommand(CMainDialog::ID_APP_EXIT); });
}

}  // namespace

CDesktopUi::CDesktopUi() {
    // The main window hides to the tray; only its own loop decides when the program ends.
    QApplication::setQuitOnLastWindowClosed(false);
}

void CDesktopUi::SetDialogColors(uint32_t background, uint32_t text) {
    CRoundedDialog::SetDialogColors(background, text);
}

void CDesktopUi::ShowMessageBox(UINT id) {
    QMessageBox::critical(nullptr, LoadText(IDS_APP_NAME), LoadText(id));
}

bool CDesktopUi::ShowNotice(UINT id, bool okOnly) {
    return CNoticeDialog::Ask(m_pMain, id, okOnly);
}

bool CDesktopUi::RunFirstRunDialog(std::string& ntv, std::string& password, std::string& server) {
    CFirstRunDialog dialog;
    if (dialog.exec() != QDialog::Accepted)
        return false;
    ntv = dialog.Ntv();
    password = dialog.Password();
    server = dialog.Server();
    return true;
}

bool CDesktopUi::RunProxyDialog(SProxyData& proxy) {
    CProxyDialog dialog(proxy);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    proxy = dialog.Proxy();
    return true;
}

int CDesktopUi::RunMainWindow(CClientApp& app) {
    CMainDialog main(app);
    m_pMain = &main;
    ++m_nMainWindows;
    if (m_onMainWindow)
        m_onMainWindow(&main);
    ArmRunHooks(&main);
    int result = main.RunModal();
    if (m_onMainWindow)
        m_onMainWindow(nullptr);
    m_pMain = nullptr;
    return result;
}

void CDesktopUi::ScreenInfo(int& width, int& height, int& bits) {
    QScreen* s = QGuiApplication::primaryScreen();
    if (s == nullptr)
        return;
    width = s->geometry().width();
    height = s->geometry().height();
    bits = s->depth();
}
