#include "ui/TaskbarNotifier.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/StringTable.h"
#include "ui/UiText.h"

namespace {

constexpr int kTickMs = 15;
constexpr int kWidth = 260;
constexpr int kMargin = 8;  // from the corner of the work area

}  // namespace

CTaskbarNotifier::CTaskbarNotifier(HWND notify, QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus),
      m_hWndNotify(notify) {
    setObjectName("taskbarNotifier");
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setCursor(Qt::PointingHandCursor);

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(":/icons/velaphon.svg").pixmap(32, 32));
    m_pTitle = new QLabel(LoadText(IDS_APP_NAME), this);
    QFont bold = m_pTitle->font();
    bold.setBold(true);
    m_pTitle->setFont(bold);
    m_pText = new QLabel(this);
    m_pText->setObjectName("text");
    m_pText->setWordWrap(true);
    m_pText->setTextFormat(Qt::PlainText);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(m_pTitle);
    texts->addWidget(m_pText);
    texts->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(12);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addLayout(texts, 1);
    setFixedWidth(kWidth);

    m_Timer.setInterval(kTickMs);
    connect(&m_Timer, &QTimer::timeout, this, &CTaskbarNotifier::Tick);
}

void CTaskbarNotifier::SetTextFont(const QString& family, int tenthsOfPoint) {
    QFont f(family);
    f.setPointSizeF(tenthsOfPoint / 10.0);
    m_pText->setFont(f);
}

QString CTaskbarNotifier::Text() const {
    return m_pText->text();
}

void CTaskbarNotifier::Show(const QString& text, int appearMs, int stayMs, int hideMs, int step) {
    m_pText->setText(text);
    m_nAppearMs = std::max(0, appearMs);
    m_nStayMs = std::max(0, stayMs);
    m_nHideMs = std::max(0, hideMs);
    m_nStep = std::max(1, step);
    adjustSize();
    m_ePhase = EPhase::Appearing;
    m_nShown = 0;
    m_Clock.start();
    Place(0);
    show();
    m_Timer.start();
    Tick();
}

void CTaskbarNotifier::Hide() {
    m_Timer.stop();
    m_ePhase = EPhase::Hidden;
    hide();
}

void CTaskbarNotifier::Tick() {
    const int h = height();
    const qint64 t = m_Clock.elapsed();
    int target = 0;
    switch (m_ePhase) {
        case EPhase::Appearing:
            if (t >= m_nAppearMs) {
                m_ePhase = EPhase::Staying;
                m_Clock.start();
                target = h;
            } else {
                target = static_cast<int>(h * t / std::max(1, m_nAppearMs));
            }
            break;
        case EPhase::Staying:
            target = h;
            if (t >= m_nStayMs) {
                m_ePhase = EPhase::Hiding;
                m_Clock.start();
            }
            break;
        case EPhase::Hiding:
            if (t >= m_nHideMs) {
                Hide();
                return;
            }
            target = h - static_cast<int>(h * t / std::max(1, m_nHideMs));
            break;
        case EPhase::Hidden:
            m_Timer.stop();
            return;
    }
    // Moves in whole steps towards where the time says it should be.
    if (target > m_nShown)
        m_nShown = std::min(target, m_nShown + std::max(m_nStep, target - m_nShown));
    else if (target < m_nShown)
        m_nShown = std::max(target, m_nShown - std::max(m_nStep, m_nShown - target));
    Place(m_nShown);
}

void CTaskbarNotifier::Place(int shown) {
    QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    if (s == nullptr)
        return;
    const QRect area = s->availableGeometry();
    const int x = area.right() - width() - kMargin;
    const int y = area.bottom() - kMargin - shown;
    move(x, y);
    // Only the part that has come up is seen, as if it rose from behind the edge of the work area
    // (offscreen there is nothing to clip).
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        setMask(QRegion(0, 0, width(), std::max(1, shown)));
}

void CTaskbarNotifier::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        Hide();
        PostMessage(m_hWndNotify, WM_TASKBARNOTIFIERCLICKED, 0, 0);
        return;
    }
    QWidget::mousePressEvent(e);
}

void CTaskbarNotifier::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    p.fillPath(path, QColor(250, 250, 250));
    p.setPen(QColor(170, 170, 170));
    p.drawPath(path);
}
