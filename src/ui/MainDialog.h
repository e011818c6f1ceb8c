// CMainDialog (dialog 102): the main window. The whole program runs inside its modal loop; the window
// can be hidden to the notification area (or minimised where the desktop has none) without ending it.
//
// Its parts arrive in construction order and go in reverse: connector, service set, control channel,
// audio channel, text channel and video service (the session's members), then the call window, keypad
// and contacts window, then the tray icon, tooltips and pop-up notifier. The places are marked below.
#pragma once

#include <QPoint>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>
#include <string>

#include "app/SessionController.h"
#include "app/SessionWindow.h"
#include "platform/Messages.h"
#include "ui/ProgramSounds.h"
#include "ui/RoundedDialog.h"
#include "ui/TaskbarNotifier.h"

class CCallDialog;
class CClientApp;
class CContactsDialog;
class CKeypadWindow;
class CSessionCall;
class QComboBox;
class QEventLoop;
class QLabel;
class QMenu;
class QPushButton;

constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr WPARAM SC_MINIMIZE = 0xF020;

class CMainDialog : public CRoundedDialog, public CMessageTarget, public ISessionWindow {
    Q_OBJECT
public:
    enum { IDD = 102 };
    enum : UINT {
        IDC_CLOSE = 2,
        IDC_MINIMIZE = 3,
        IDC_SETTINGS = 1002,
        IDC_CONTACTS = 1003,
        IDC_KEYPAD = 1005,
        IDC_STATUS = 1081,
        IDC_HELP_LINK = 1101,
        ID_APP_EXIT = 57665,
    };
    static constexpr UINT WM_TRAY_NOTIFY = WM_USER + 1;
    static constexpr UINT kTrayIconId = 1;
    // The pop-up notifier's appear, stay and hide times.
    static constexpr int kPopupAppearMs = 500, kPopupStayMs = 3000, kPopupHideMs = 500;

    explicit CMainDialog(CClientApp& app, QWidget* parent = nullptr);
    ~CMainDialog() override;

    // Opens the window and runs its loop until EndDialog; returns EndDialog's code.
    int RunModal();
    void EndDialog(int result);
    bool IsRunning() const { return m_pLoop != nullptr && !m_bEnded; }
    bool HasEnded() const { return m_bEnded; }

    // The window's commands (buttons, tray menu, exit).
    void OnCommand(UINT id);
    // Hides to the tray, or minimises when there is no tray.
    void Minimize();
    void ShowFromTray();
    // Puts the window in the corner of the work area that the settings name; no change for -1.
    void PlaceByCorner();
    void SetTopmost(bool on);
    void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);
    bool TrayMenuAllowed() const;
    bool IsPropertiesOpen() const { return m_bPropertiesOpen; }

    bool HasTray() const { return m_pTray != nullptr; }
    QSystemTrayIcon* Tray() const { return m_pTray; }
    QMenu* TrayMenu() const { return m_pTrayMenu.get(); }
    QPushButton* CloseButton() const { return m_pClose; }
    QPushButton* MinimizeButton() const { return m_pMinimize; }
    QPushButton* KeypadButton() const { return m_pKeypad; }
    QLabel* UserLabel() const { return m_pUser; }
    QLabel* HelpLink() const { return m_pHelp; }
    QComboBox* StatusBox() const { return m_pStatus; }
    QPushButton* ContactsButton() const { return m_pContacts; }
    QPushButton* SettingsButton() const { return m_pSettings; }
    // The pop-up notifier; null in dynamic mode and before the window opens.
    CTaskbarNotifier* Notifier() const { return m_pNotifier.get(); }
    const CProgramSounds& Sounds() const { return m_Sounds; }

    // The session this window presents; the call logic registers its hooks here.
    CSessionController& Session() { return m_Session; }
    // The call window, the keypad and the call logic (made hidden when the window opens).
    CCallDialog* CallDialog() const { return m_pCallDialog; }
    CKeypadWindow* KeypadWindow() const { return m_pKeypadWindow; }
    CSessionCall* Call() const { return m_pCall.get(); }

    // The contacts window (its own work) plugs in here: whether it is open, and how to open it.
    struct SContactsWindowHook {
        std::function<bool()> isOpen;
        std::function<void()> open;
    };
    void SetContactsWindowHook(SContactsWindowHook hook) { m_ContactsHook = std::move(hook); }
    // The contacts window's Search button opens what this gives (the directory); disabled without it.
    void SetContactsSearchHook(std::function<void()> search) { m_ContactsSearch = std::move(search); }
    // The contacts window while it is open; null otherwise.
    CContactsDialog* ContactsDialog() const { return m_pContactsDialog; }
    // The keypad window plugs in here: shown (true) or hidden beside this window.
    void SetKeypadHook(std::function<void(bool)> show) { m_KeypadHook = std::move(show); }

    // ISessionWindow
    void OnSessionState(char state) override;
    void OnUserInfo(const SSessionUserInfo& info) override;
    bool ShowNotice(UINT id, const std::string& text, bool okOnly) override;
    void PlaySound(UINT resource) override;
    void ShowPopup(const std::string& text) override;
    void CloseWindow() override;
    void OnContactAdded(const SContactRecord& contact) override;
    void OnContactRemoved(const std::string& ntv) override;
    void OnContactStatus(const SContactRecord& contact, char before) override;

    // -1 follows the desktop; 0 or 1 pretends there is no tray or one (tests).
    static void SetTrayAvailableForTests(int available);

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
    bool CanMove() const override;
    void accept() override;
    void reject() override;
    void closeEvent(QCloseEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void BuildControls();
    void OnInitDialog();
    void OnClose();
    // The properties sheet, modal (never in dynamic mode); the window is placed by its corner afterwards.
    void RunProperties();
    void OnStatusChosen(int index);
    void OnNotifierClicked();
    // The user card: picture with initials of `name`, presence dot and NTV line.
    void ShowIdentity(const QString& name, char state);
    void OnHyperlink();
    void CreateTrayIcon();

    CClientApp& m_app;

    // Connector, service set and control channel; the call logic owns the audio, text and video channels.
    CSessionController m_Session;
    SContactsWindowHook m_ContactsHook;
    std::function<void(bool)> m_KeypadHook;
    CProgramSounds m_Sounds;

    bool m_bPropertiesOpen = false;
    bool m_bPlaced = false;
    QPoint m_lockedPos;
    int m_nResult = 0;
    bool m_bEnded = false;
    QEventLoop* m_pLoop = nullptr;

    QLabel* m_pUser = nullptr;
    QLabel* m_pNtv = nullptr;
    QLabel* m_pAvatar = nullptr;
    QLabel* m_pPresence = nullptr;
    QComboBox* m_pStatus = nullptr;
    QPushButton* m_pSettings = nullptr;
    QPushButton* m_pContacts = nullptr;
    QPushButton* m_pKeypad = nullptr;
    QPushButton* m_pMinimize = nullptr;
    QPushButton* m_pClose = nullptr;
    QLabel* m_pHelp = nullptr;

    // Companion windows (call window, keypad, contacts) join here. The windows are children of this
    // one; the call logic goes first, as it draws into the call window.
    CCallDialog* m_pCallDialog = nullptr;
    CKeypadWindow* m_pKeypadWindow = nullptr;
    std::unique_ptr<CSessionCall> m_pCall;
    void CreateCallWindows();
    // Runs the contacts window modally; one at a time.
    void OpenContactsWindow();
    // The user directory, over the contacts window when that is open.
    void OpenDirectory();
    CContactsDialog* m_pContactsDialog = nullptr;
    std::function<void()> m_ContactsSearch;

    QSystemTrayIcon* m_pTray = nullptr;
    std::unique_ptr<QMenu> m_pTrayMenu;
    std::unique_ptr<CTaskbarNotifier> m_pNotifier;  // normal mode only
};
