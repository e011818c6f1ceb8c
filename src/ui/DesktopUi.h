// The desktop's side of start-up: the windows CClientApp asks for, made with Qt.
#pragma once

#include <functional>

#include "app/ClientApp.h"

class CMainDialog;

class CDesktopUi : public IClientAppUi {
public:
    CDesktopUi();

    void SetDialogColors(uint32_t background, uint32_t text) override;
    void ShowMessageBox(UINT id) override;
    bool ShowNotice(UINT id, bool okOnly) override;
    bool RunFirstRunDialog(std::string& ntv, std::string& password, std::string& server) override;
    bool RunProxyDialog(SProxyData& proxy) override;
    int RunMainWindow(CClientApp& app) override;

    CMainDialog* MainDialog() const { return m_pMain; }
    int MainWindowsMade() const { return m_nMainWindows; }
    // Called with the main window once it exists and again before it goes (nullptr).
    std::function<void(CMainDialog*)> m_onMainWindow;

    // The screen as CSystemInfo wants it.
    static void ScreenInfo(int& width, int& height, int& bits);

private:
    CMainDialog* m_pMain = nullptr;
    int m_nMainWindows = 0;
};
