#include "ui/MainDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDesktopServices>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "app/ClientApp.h"
#include "app/MainWindowRules.h"
#include "app/SessionCall.h"
#include "platform/StringTable.h"
#include "platform/Trace.h"
#include "ui/CallDialog.h"
#include "ui/ContactDialog.h"
#include "ui/ContactsDialog.h"
#include "ui/DirectoryDialog.h"
#include "ui/KeypadWindow.h"
#include "ui/NoticeDialog.h"
#include "ui/PropertiesDialog.h"
#include "ui/UiText.h"

namespace {

int g_nTrayForTests = -1;

const UINT WM_HYPERLINK_EVENT = RegisterWindowMessage("WM_HYPERLINK_EVENT");

QPushButton* Button(QWidget* parent, UINT textId, const char* name) {
    auto* b = new QPushButton(LoadText(textId), parent);
    b->setObjectName(name);
    // Enter must not press whichever button has the focus.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

}  // namespace

void CMainDialog::SetTrayAvailableForTests(int available) {
    g_nTrayForTests = available;
}

CMainDialog::CMainDialog(CClientApp& app, QWidget* parent)
    : CRoundedDialog(parent), m_app(app), m_Session(app, *this) {
    setObjectName("mainDialog");
    setWindowTitle(LoadText(IDS_APP_NAME));
    setWindowIcon(QIcon(":/icons/velaphon.svg"));
    BuildControls();
    m_app.Settings().SetTopmostHook([this](bool on) { SetTopmost(on); });
}

CMainDialog::~CMainDialog() {
    m_app.Settings().SetTopmostHook(nullptr);
    if (m_pCallDialog != nullptr)
        m_pCallDialog->SetCallControl(nullptr);
    m_pCall.reset();
    // Reverse order: notifier, tray icon, companions, then the session's members.
    m_pNotifier.reset();
    if (m_pTray != nullptr) {
        m_pTray->hide();
        delete m_pTray;
        m_pTray = nullptr;
    }
}

namespace {

// The window's own look. Every rule reaches only this window's own widgets (the card's, or its direct
// children): a style sheet also applies to the dialogs opened below it, which keep the plain look.
const char* kMainStyle = R"(
CMainDialog > #userCard { background: #ffffff; border: 1px solid #d5d5d5; border-radius: 10px; }
CMainDialog > #userCard QLabel { background: transparent; }
CMainDialog > #userCard #user { font-weight: bold; }
CMainDialog > #userCard #ntv { color: #6b6b6b; }
CMainDialog > QPushButton#contacts, CMainDialog > QPushButton#keypad, CMainDialog > QPushButton#settings {
    padding: 6px 10px; border: 1px solid #c3c3c3; border-radius: 7px; background: #fbfbfb; }
CMainDialog > QPushButton#contacts:hover, CMainDialog > QPushButton#keypad:hover,
CMainDialog > QPushButton#settings:hover { border-color: #1f6fb2; background: #eef5fc; }
CMainDialog > QPushButton#keypad:checked { border-color: #1f6fb2; background: #dbe9f7; }
CMainDialog > QPushButton#contacts:disabled, CMainDialog > QPushButton#keypad:disabled,
CMainDialog > QPushButton#settings:disabled { color: #a0a0a0; background: #f2f2f2; border-color: #d8d8d8; }
CMainDialog > QPushButton#minimize, CMainDialog > QPushButton#close { border: none; border-radius: 5px;
    background: transparent; font-size: 15px; color: #505050; }
CMainDialog > QPushButton#minimize:hover { background: #dcdcdc; }
CMainDialog > QPushButton#close:hover { background: #d9534f; color: #ffffff; }
)";

constexpr int kAvatarSize = 44;

// A round picture with the initials of the name (the first letters of its first two words).
QPixmap AvatarPixmap(const QString& name, bool online) {
    const qreal ratio = qApp->devicePixelRatio();
    QPixmap pm(QSize(kAvatarSize, kAvatarSize) * ratio);
    pm.setDevicePixelRatio(ratio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(online ? QColor(0x1f, 0x6f, 0xb2) : QColor(0x9a, 0xa5, 0xb1));
    p.drawEllipse(QRectF(0, 0, kAvatarSize, kAvatarSize));
    QString initials;
    for (const QString& word : name.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (initials.size() == 2)
            break;
        initials += word.at(0).toUpper();
    }
    p.setPen(Qt::white);
    if (initials.isEmpty()) {
        // Nobody yet: a head and shoulders.
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(kAvatarSize * 0.34, kAvatarSize * 0.2, kAvatarSize * 0.32, kAvatarSize * 0.32));
        p.drawChord(QRectF(kAvatarSize * 0.2, kAvatarSize * 0.56, kAvatarSize * 0.6, kAvatarSize * 0.6), 0,
                    180 * 16);
    } else {
        QFont f = p.font();
        f.setBold(true);
        f.setPixelSize(kAvatarSize * 2 / 5);
        p.setFont(f);
        p.drawText(QRectF(0, 0, kAvatarSize, kAvatarSize), Qt::AlignCenter, initials);
    }
    return pm;
}

// The small coloured dot of the own presence.
QPixmap PresenceDot(const QColor& color) {
    const qreal ratio = qApp->devicePixelRatio();
    QPixmap pm(QSize(12, 12) * ratio);
    pm.setDevicePixelRatio(ratio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 1.5));
    p.setBrush(color);
    p.drawEllipse(QRectF(1, 1, 10, 10));
    return pm;
}

const QColor kReady(0x2e, 0xa0, 0x43), kAway(0xe0, 0x9a, 0x1a), kOffline(0x9a, 0x9a, 0x9a);

}  // namespace

void CMainDialog::BuildControls() {
    setStyleSheet(QString::fromLatin1(kMainStyle));
    auto* logo = new QLabel(this);
    logo->setPixmap(QIcon(":/icons/velaphon.svg").pixmap(28, 28));
    auto* name = new QLabel(LoadText(IDS_APP_NAME), this);
    QFont big = name->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    name->setFont(big);

    m_pMinimize = Button(this, IDS_MINIMIZE, "minimize");
    m_pMinimize->setText(QStringLiteral("–"));
    m_pMinimize->setToolTip(LoadText(IDS_MINIMIZE));
    m_pMinimize->setFixedSize(26, 24);
    m_pClose = Button(this, IDS_CLOSE, "close");
    m_pClose->setText(QStringLiteral("×"));
    m_pClose->setToolTip(LoadText(IDS_CLOSE));
    m_pClose->setFixedSize(26, 24);
    connect(m_pMinimize, &QPushButton::clicked, this, [this] { OnCommand(IDC_MINIMIZE); });
    connect(m_pClose, &QPushButton::clicked, this, [this] { OnCommand(IDC_CLOSE); });

    auto* caption = new QHBoxLayout;
    caption->setSpacing(8);
    caption->addWidget(logo);
    caption->addWidget(name);
    caption->addStretch();
    caption->addWidget(m_pMinimize);
    caption->addWidget(m_pClose);

    // The user card: picture, name (the user label), NTV, and the presence dot on the picture.
    auto* card = new QWidget(this);
    card->setObjectName("userCard");
    card->setAttribute(Qt::WA_StyledBackground);
    m_pAvatar = new QLabel(card);
    m_pAvatar->setObjectName("avatar");
    m_pAvatar->setFixedSize(kAvatarSize, kAvatarSize);
    m_pPresence = new QLabel(m_pAvatar);
    m_pPresence->setObjectName("presence");
    m_pPresence->setFixedSize(12, 12);
    m_pPresence->move(kAvatarSize - 12, kAvatarSize - 12);
    m_pUser = new QLabel(card);
    m_pUser->setObjectName("user");
    QFont userFont = m_pUser->font();
    userFont.setPointSizeF(userFont.pointSizeF() * 1.15);
    m_pUser->setFont(userFont);
    m_pNtv = new QLabel(card);
    m_pNtv->setObjectName("ntv");
    m_pStatus = new QComboBox(card);
    m_pStatus->setObjectName("status");
    m_pStatus->addItem(PresenceDot(kReady), LoadText(IDS_STATUS_CONNECTED));
    m_pStatus->addItem(PresenceDot(kAway), LoadText(IDS_STATUS_AWAY));
    m_pStatus->setCurrentIndex(-1);
    m_pStatus->setEnabled(false);  // until logged in
    // Only the user's choice is sent; the window's own selection at login is not.
    connect(m_pStatus, &QComboBox::activated, this, &CMainDialog::OnStatusChosen);

    auto* names = new QVBoxLayout;
    names->setSpacing(1);
    names->addWidget(m_pUser);
    names->addWidget(m_pNtv);
    auto* who = new QHBoxLayout;
    who->setSpacing(10);
    who->addWidget(m_pAvatar);
    who->addLayout(names, 1);
    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(12, 10, 12, 10);
    cardLayout->setSpacing(8);
    cardLayout->addLayout(who);
    cardLayout->addWidget(m_pStatus);

    m_pContacts = Button(this, IDS_BUTTON_CONTACTS, "contacts");
    m_pContacts->setIcon(QIcon(":/icons/contacts.svg"));
    m_pKeypad = Button(this, IDS_BUTTON_KEYPAD, "keypad");
    m_pKeypad->setIcon(QIcon(":/icons/keypad.svg"));
    m_pKeypad->setCheckable(true);
    m_pSettings = Button(this, IDS_BUTTON_SETTINGS, "settings");
    m_pSettings->setIcon(QIcon(":/icons/settings.svg"));
    for (QPushButton* b : {m_pContacts, m_pKeypad, m_pSettings})
        b->setIconSize(QSize(18, 18));
    m_pContacts->setEnabled(false);
    m_pKeypad->setEnabled(false);
    // A dynamic-mode guest has no settings of its own to edit.
    m_pSettings->setEnabled(!m_app.IsDynamic());
    connect(m_pContacts, &QPushButton::clicked, this, [this] { OnCommand(IDC_CONTACTS); });
    connect(m_pKeypad, &QPushButton::clicked, this, [this] { OnCommand(IDC_KEYPAD); });
    connect(m_pSettings, &QPushButton::clicked, this, [this] { OnCommand(IDC_SETTINGS); });

    m_pHelp = new QLabel(
        QStringLiteral("<a href=\"help\" style=\"color:#1f6fb2;\">%1</a>").arg(LoadText(IDS_HELP_LINK)),
        this);
    m_pHelp->setObjectName("help");
    m_pHelp->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    connect(m_pHelp, &QLabel::linkActivated, this,
            [this] { PostMessage(GetSafeHwnd(), WM_HYPERLINK_EVENT, 0, 0); });

    auto* buttons = new QGridLayout;
    buttons->setHorizontalSpacing(8);
    buttons->setVerticalSpacing(8);
    buttons->addWidget(m_pContacts, 0, 0);
    buttons->addWidget(m_pKeypad, 0, 1);
    buttons->addWidget(m_pSettings, 1, 0);
    buttons->addWidget(m_pHelp, 1, 1, Qt::AlignRight | Qt::AlignVCenter);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 10, 14, 14);
    layout->setSpacing(10);
    layout->addLayout(caption);
    layout->addWidget(card);
    // The silence slider and the session's controls join here.
    layout->addStretch();
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setMinimumWidth(290);
    ShowIdentity(QString::fromStdString(m_app.Settings().GetNtv()), 'D');
}

void CMainDialog::ShowIdentity(const QString& name, char state) {
    const bool online = state == 'C';
    m_pAvatar->setPixmap(AvatarPixmap(name, online));
    m_pPresence->setPixmap(PresenceDot(!online ? kOffline : m_pStatus->currentIndex() == 1 ? kAway : kReady));
    const std::string& ntv = m_app.Settings().GetNtv();
    m_pNtv->setText(ntv.empty() ? QString()
                                : LoadText(IDS_LABEL_NTV) + QLatin1Char(' ') + QString::fromStdString(ntv));
}

int CMainDialog::RunModal() {
    OnInitDialog();
    if (!m_bEnded)
        show();
    if (!m_bEnded) {
        QEventLoop loop;
        m_pLoop = &loop;
        loop.exec(QEventLoop::DialogExec);
        m_pLoop = nullptr;
    }
    hide();
    return m_nResult;
}

void CMainDialog::EndDialog(int result) {
    m_nResult = result;
    m_bEnded = true;
    // Its loop runs inside this window's: it must end first for the program to end.
    if (m_pContactsDialog != nullptr)
        m_pContactsDialog->reject();
    if (m_pLoop != nullptr)
        m_pLoop->quit();
}

void CMainDialog::CreateCallWindows() {
    if (m_pCall != nullptr)
        return;
    m_pCallDialog = new CCallDialog(this);
    m_pCall = std::make_unique<CSessionCall>(m_Session, *m_pCallDialog, [this] { EndDialog(0); });
    m_pCallDialog->SetCallControl(&m_pCall->Control());
    m_pKeypadWindow = new CKeypadWindow(this);
    m_pKeypadWindow->SetCallHandler([this](const std::string& ntv) { m_pCall->Control().PlaceCall(ntv); });
    connect(m_pKeypadWindow, &CKeypadWindow::Hidden, this, [this] { m_pKeypad->setChecked(false); });
    SetKeypadHook([this](bool show) { m_pKeypadWindow->setVisible(show); });
    SetContactsWindowHook(
        {[this] { return m_pContactsDialog != nullptr; }, [this] { OpenContactsWindow(); }});
    if (!m_ContactsSearch)
        m_ContactsSearch = [this] { OpenDirectory(); };
}

void CMainDialog::OpenDirectory() {
    QWidget* parent = m_pContactsDialog != nullptr ? static_cast<QWidget*>(m_pContactsDialog) : this;
    CDirectoryDialog directory(
        m_app.m_strDirectoryUrl,
        {[this](const std::string& ntv) { m_pCall->PlaceCall(ntv); },
         [this, parent](const std::string& ntv) { OfferNewContact(parent, m_Session, ntv); }},
        parent);
    directory.exec();
}

void CMainDialog::OpenContactsWindow() {
    if (m_pContactsDialog != nullptr) {
        m_pContactsDialog->raise();
        m_pContactsDialog->activateWindow();
        return;
    }
    CContactsDialog contacts(m_Session, this);
    contacts.SetCallHandler([this](const std::string& ntv) { m_pCall->PlaceCall(ntv); });
    contacts.SetSearchHook(m_ContactsSearch);
    contacts.CloseWhenShown(m_pCallDialog);
    m_pContactsDialog = &contacts;
    contacts.exec();
    m_pContactsDialog = nullptr;
}

void CMainDialog::OnInitDialog() {
    // 1. The call window, keypad and contacts window are made here, hidden.
    CreateCallWindows();
    // 2. The first connection attempt (and in dynamic mode timer 1 for the direct call).
    m_Session.Start();
    // 3. Tray icon.
    CreateTrayIcon();
    // 4. The rounded region comes with every resize (CRoundedDialog).
    // 5. Mode.
    if (m_app.IsDynamic()) {
        m_pHelp->hide();
        m_pUser->setText(LoadText(IDS_DIRECT_CALL));
    } else {
        m_pHelp->setEnabled(true);
        m_pUser->setText(QString::fromStdString(m_app.Settings().GetNtv()));
        m_pNotifier = std::make_unique<CTaskbarNotifier>(GetSafeHwnd());
        m_pNotifier->SetTextFont(QStringLiteral("Arial"), 90);
    }
    ShowIdentity(m_pUser->text(), m_app.Settings().GetStatus());
    // 6. Always on top.
    if (m_app.Settings().GetAlwaysOnTop())
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
    // 7. Corner.
    adjustSize();
    PlaceByCorner();
    // A panel that appears or a changed resolution moves the corner; the window follows it.
    if (QScreen* s = screen())
        connect(s, &QScreen::availableGeometryChanged, this, &CMainDialog::PlaceByCorner);
    // 8. The video service window starts here.
    // 9. Start hidden.
    if (m_app.Settings().GetStartMinimized())
        PostMessage(GetSafeHwnd(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
}

void CMainDialog::CreateTrayIcon() {
    bool available = g_nTrayForTests >= 0 ? g_nTrayForTests == 1 : QSystemTrayIcon::isSystemTrayAvailable();
    if (!available)
        return;
    m_pTray = new QSystemTrayIcon(QIcon(":/icons/velaphon.svg"), this);
    m_pTray->setToolTip(LoadText(IDS_APP_NAME));
    m_pTrayMenu = std::make_unique<QMenu>();
    m_pTrayMenu->addAction(LoadText(IDS_TRAY_PROPERTIES), this, [this] { OnCommand(IDC_SETTINGS); })
        ->setObjectName("properties");
    m_pTrayMenu->addAction(LoadText(IDS_TRAY_EXIT), this, [this] { OnCommand(ID_APP_EXIT); })
        ->setObjectName("exit");
    connect(m_pTray, &QSystemTrayIcon::activated, this, &CMainDialog::OnTrayActivated);
    m_pTray->show();
}

bool CMainDialog::TrayMenuAllowed() const {
    return ::TrayMenuAllowed(m_app.IsDynamic(), m_app.Settings().GetMinimizeOnClose(), m_bPropertiesOpen);
}

void CMainDialog::OnTrayActivated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            if (isVisible() && !isMinimized())
                Minimize();
            else
                ShowFromTray();
            break;
        case QSystemTrayIcon::DoubleClick:
            ShowFromTray();
            break;
        case QSystemTrayIcon::Context:
            if (TrayMenuAllowed() && m_pTrayMenu)
                m_pTrayMenu->popup(QCursor::pos());
            break;
        default:
            break;
    }
}

void CMainDialog::ShowFromTray() {
    showNormal();
    raise();
    activateWindow();
}

void CMainDialog::Minimize() {
    m_pKeypad->setChecked(false);
    if (m_KeypadHook)
        m_KeypadHook(false);
    if (m_pTray != nullptr)
        hide();
    else
        showMinimized();  // without a tray a hidden window could not be brought back
}

void CMainDialog::OnCommand(UINT id) {
    switch (id) {
        case IDC_CLOSE:
            OnClose();
            break;
        case IDC_MINIMIZE:
            if (isVisible())
                Minimize();
            break;
        case ID_APP_EXIT:
            EndDialog(0);
            break;
        case IDC_SETTINGS:
            RunProperties();
            break;
        case IDC_CONTACTS:
            if (m_ContactsHook.open)
                m_ContactsHook.open();
            break;
        case IDC_KEYPAD:
            if (m_KeypadHook)
                m_KeypadHook(m_pKeypad->isChecked());
            break;
        default:
            break;
    }
}

void CMainDialog::RunProperties() {
    if (m_app.IsDynamic() || m_bPropertiesOpen)
        return;
    m_bPropertiesOpen = true;
    {
        CPropertiesDialog sheet(
            m_app, m_Session, [this] { PlaceByCorner(); }, this);
        sheet.exec();
    }
    m_bPropertiesOpen = false;
    PlaceByCorner();
}

void CMainDialog::OnClose() {
    if (CloseAction(m_app.Settings().GetMinimizeOnClose()) == ECloseAction::Minimize) {
        Minimize();
        return;
    }
    if (CNoticeDialog::Ask(this, IDS_EXIT_QUESTION, false))
        EndDialog(0);
}

void CMainDialog::accept() {}

void CMainDialog::reject() {
    OnClose();
}

void CMainDialog::closeEvent(QCloseEvent* e) {
    e->ignore();
    OnClose();
}

void CMainDialog::changeEvent(QEvent* e) {
    CRoundedDialog::changeEvent(e);
    // Minimised by the desktop (taskbar, keyboard): with a tray this too hides the window there.
    if (e->type() == QEvent::WindowStateChange && isMinimized() && m_pTray != nullptr)
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                Minimize();
        });
}

bool CMainDialog::CanMove() const {
    return IsMovable(m_app.Settings().GetCornerPosition());
}

void CMainDialog::moveEvent(QMoveEvent* e) {
    CRoundedDialog::moveEvent(e);
    // Locked to a corner: whoever moves the window, it goes back.
    if (m_bPlaced && !CanMove() && pos() != m_lockedPos)
        move(m_lockedPos);
}

void CMainDialog::PlaceByCorner() {
    QScreen* s = screen();
    if (s == nullptr)
        return;
    QRect area = s->availableGeometry();
    QRect frame = frameGeometry();
    int x = 0, y = 0;
    if (!CornerPoint(m_app.Settings().GetCornerPosition(),
                     SRect{area.x(), area.y(), area.width(), area.height()}, frame.width(), frame.height(), x,
                     y)) {
        m_bPlaced = false;
        return;
    }
    m_bPlaced = false;  // this move is ours
    move(x, y);
    m_lockedPos = QPoint(x, y);
    m_bPlaced = true;
}

void CMainDialog::SetTopmost(bool on) {
    bool shown = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
    // Changing the flags hides a window; a visible one comes back.
    if (shown)
        show();
}

LRESULT CMainDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_MINIMIZE) {
        Minimize();
    } else if (message == WM_COMMAND) {
        OnCommand(static_cast<UINT>(wParam & 0xFFFF));
    } else if (message == WM_HYPERLINK_EVENT) {
        OnHyperlink();
    } else if (message == WM_TASKBARNOTIFIERCLICKED) {
        OnNotifierClicked();
    }
    return 0;
}

void CMainDialog::OnHyperlink() {
    if (!m_app.m_strHelpUrl.empty())
        QDesktopServices::openUrl(QUrl(QString::fromStdString(m_app.m_strHelpUrl)));
}

void CMainDialog::OnStatusChosen(int index) {
    m_Session.SetAway(index == 1);
    ShowIdentity(m_pUser->text(), m_app.Settings().GetStatus());
}

// ---- the session's requests ------------------------------------------------------------------------

void CMainDialog::OnSessionState(char state) {
    const bool connected = state == 'C';
    {
        QSignalBlocker block(m_pStatus);
        m_pStatus->setCurrentIndex(connected ? 0 : -1);
    }
    m_pStatus->setEnabled(connected);
    if (!connected)
        m_pUser->clear();
    m_pContacts->setEnabled(connected);
    m_pKeypad->setEnabled(connected);
    ShowIdentity(m_pUser->text(), state);
    // A new login empties the list, and a lost session stops the changes that need the server.
    if (m_pContactsDialog != nullptr)
        m_pContactsDialog->Refresh();
}

void CMainDialog::OnContactAdded(const SContactRecord&) {
    if (m_pContactsDialog != nullptr)
        m_pContactsDialog->Refresh();
}

void CMainDialog::OnContactRemoved(const std::string&) {
    if (m_pContactsDialog != nullptr)
        m_pContactsDialog->Refresh();
}

void CMainDialog::OnContactStatus(const SContactRecord&, char) {
    if (m_pContactsDialog != nullptr)
        m_pContactsDialog->Refresh();
}

void CMainDialog::OnUserInfo(const SSessionUserInfo& info) {
    m_pUser->setText(QString::fromStdString(info.m_strLabel));
    ShowIdentity(m_pUser->text(), m_app.Settings().GetStatus());
    setWindowTitle(LoadText(IDS_APP_NAME) + QStringLiteral(" : ") +
                   QString::fromStdString(info.m_strTitleName));
}

bool CMainDialog::ShowNotice(UINT id, const std::string& text, bool okOnly) {
    (void)id;
    CNoticeDialog notice(QString::fromStdString(text), okOnly, this);
    return notice.exec() == QDialog::Accepted;
}

void CMainDialog::PlaySound(UINT resource) {
    m_Sounds.Play(resource);
}

void CMainDialog::ShowPopup(const std::string& text) {
    if (m_pNotifier)
        m_pNotifier->Show(QString::fromStdString(text), kPopupAppearMs, kPopupStayMs, kPopupHideMs, 1);
}

void CMainDialog::OnNotifierClicked() {
    if (m_ContactsHook.open && !(m_ContactsHook.isOpen && m_ContactsHook.isOpen()))
        m_ContactsHook.open();
}

void CMainDialog::CloseWindow() {
    OnClose();
}
