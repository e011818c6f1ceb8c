#include "ui/KeypadWindow.h"

#include <QEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "platform/StringTable.h"
#include "ui/UiText.h"

namespace {

QPushButton* KeyButton(const QString& text, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setAutoDefault(false);
    b->setFocusPolicy(Qt::NoFocus);  // the keys reach the window, whichever button was pressed last
    b->setFixedSize(52, 40);
    QFont f = b->font();
    f.setPointSizeF(f.pointSizeF() * 1.3);
    b->setFont(f);
    return b;
}

}  // namespace

CKeypadWindow::CKeypadWindow(QWidget* anchor) : CRoundedDialog(anchor), m_pAnchor(anchor) {
    setObjectName("keypad");
    setWindowTitle(LoadText(IDS_BUTTON_KEYPAD));
    // A tool window beside the main one, not a dialog over it.
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);

    m_pDisplay = new QLabel(this);
    m_pDisplay->setObjectName("number");
    m_pDisplay->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_pDisplay->setMinimumHeight(34);
    m_pDisplay->setStyleSheet(
        "background: white; border: 1px solid #b8b8b8; border-radius: 4px; padding: 2px 8px;");
    QFont f = m_pDisplay->font();
    f.setPointSizeF(f.pointSizeF() * 1.4);
    m_pDisplay->setFont(f);

    auto* grid = new QGridLayout;
    grid->setSpacing(6);
    for (int d = 0; d < 10; ++d) {
        m_pDigits[d] = KeyButton(QString::number(d), this);
        m_pDigits[d]->setObjectName(QString("digit%1").arg(d));
        connect(m_pDigits[d], &QPushButton::clicked, this, [this, d] { AppendDigit(char('0' + d)); });
        if (d > 0)
            grid->addWidget(m_pDigits[d], (d - 1) / 3, (d - 1) % 3);
    }
    m_pClear = KeyButton(LoadText(IDS_KEYPAD_CLEAR), this);
    m_pClear->setObjectName("clear");
    QFont small = m_pClear->font();
    small.setPointSizeF(font().pointSizeF());
    m_pClear->setFont(small);
    connect(m_pClear, &QPushButton::clicked, this, &CKeypadWindow::Clear);
    m_pBack = KeyButton(QString::fromUtf8("\u2190"), this);
    m_pBack->setObjectName("backspace");
    m_pBack->setToolTip(LoadText(IDS_KEYPAD_BACKSPACE));
    connect(m_pBack, &QPushButton::clicked, this, &CKeypadWindow::Backspace);
    grid->addWidget(m_pClear, 3, 0);
    grid->addWidget(m_pDigits[0], 3, 1);
    grid->addWidget(m_pBack, 3, 2);

    m_pCall = new QPushButton(LoadText(IDS_KEYPAD_CALL), this);
    m_pCall->setObjectName("call");
    m_pCall->setAutoDefault(false);
    m_pCall->setFocusPolicy(Qt::NoFocus);
    m_pCall->setMinimumHeight(38);
    m_pCall->setStyleSheet(
        "QPushButton { background: #2e7d32; color: white; border: none; border-radius: 4px; font-weight: "
        "bold; }"
        "QPushButton:pressed { background: #1b5e20; }");
    connect(m_pCall, &QPushButton::clicked, this, &CKeypadWindow::Call);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);
    layout->addWidget(m_pDisplay);
    layout->addLayout(grid);
    layout->addWidget(m_pCall);
    setFocusPolicy(Qt::StrongFocus);
    adjustSize();

    if (m_pAnchor != nullptr)
        m_pAnchor->installEventFilter(this);
}

CKeypadWindow::~CKeypadWindow() {
    if (m_pAnchor != nullptr)
        m_pAnchor->removeEventFilter(this);
}

QPoint CKeypadWindow::DockPosition(const QRect& anchor, const QSize& keypad, const QRect& screen) {
    const int right = anchor.right() + 1 + kDockGap;
    if (right + keypad.width() <= screen.right() + 1)
        return QPoint(right, anchor.top());
    return QPoint(anchor.left() - kDockGap - keypad.width(), anchor.top());
}

void CKeypadWindow::Dock() {
    if (m_pAnchor == nullptr)
        return;
    QScreen* screen = m_pAnchor->screen() != nullptr ? m_pAnchor->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen != nullptr ? screen->geometry() : QRect(0, 0, 1 << 16, 1 << 16);
    move(DockPosition(m_pAnchor->frameGeometry(), frameGeometry().size(), area));
}

bool CKeypadWindow::eventFilter(QObject* watched, QEvent* e) {
    if (watched == m_pAnchor && isVisible() && (e->type() == QEvent::Move || e->type() == QEvent::Resize))
        Dock();
    return CRoundedDialog::eventFilter(watched, e);
}

void CKeypadWindow::showEvent(QShowEvent* e) {
    m_Number.Clear();
    UpdateDisplay();
    Dock();
    CRoundedDialog::showEvent(e);
}

void CKeypadWindow::hideEvent(QHideEvent* e) {
    CRoundedDialog::hideEvent(e);
    emit Hidden();
}

void CKeypadWindow::keyPressEvent(QKeyEvent* e) {
    const int key = e->key();
    // Qt::Key_0..9 come from the main keyboard and, with the keypad modifier, from the numeric pad.
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        AppendDigit(char('0' + (key - Qt::Key_0)));
        return;
    }
    if (key == Qt::Key_Backspace) {
        Backspace();
        return;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        Call();
        return;
    }
    CRoundedDialog::keyPressEvent(e);
}

void CKeypadWindow::AppendDigit(char digit) {
    if (m_Number.Append(digit))
        UpdateDisplay();
}

void CKeypadWindow::Backspace() {
    if (m_Number.Backspace())
        UpdateDisplay();
}

void CKeypadWindow::Clear() {
    m_Number.Clear();
    UpdateDisplay();
}

void CKeypadWindow::Call() {
    if (m_Number.IsEmpty())
        return;
    const std::string number = m_Number.Take();
    UpdateDisplay();
    if (m_onCall)
        m_onCall(number);
}

void CKeypadWindow::UpdateDisplay() {
    m_pDisplay->setText(QString::fromStdString(m_Number.Get()));
}
