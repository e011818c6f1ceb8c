#include "ui/VideoWindow.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <algorithm>
#include <string>

#include "platform/StringTable.h"
#include "ui/UiText.h"

namespace {

constexpr int kButtonWidth = 30;
constexpr int kButtonHeight = 26;
constexpr int kButtonGap = 4;
constexpr double kSmallestCaptionPoints = 6;

QPushButton* ZoomButton(const QString& text, const char* name, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    b->setFocusPolicy(Qt::NoFocus);
    b->setFixedSize(kButtonWidth, kButtonHeight);
    QFont f = b->font();
    f.setBold(true);
    b->setFont(f);
    return b;
}

}  // namespace

CVideoWindow::CVideoWindow(QWidget* parent) : CRoundedDialog(parent) {
    setObjectName("videoWindow");
    m_pZoomOut = ZoomButton(QString::fromUtf8("\u2212"), "zoomOut", this);
    m_pZoomIn = ZoomButton("+", "zoomIn", this);
    m_pView = new CVideoView(this);
    m_pCaption = new QLabel(this);
    m_pCaption->setObjectName("caption");
    m_CaptionFont = m_pCaption->font();
    m_CaptionFont.setBold(true);
    m_pCaption->setFont(m_CaptionFont);
    connect(m_pZoomIn, &QPushButton::clicked, this, &CVideoWindow::ZoomIn);
    connect(m_pZoomOut, &QPushButton::clicked, this, &CVideoWindow::ZoomOut);
    ApplyZoom();
    UpdateButtons();
}

void CVideoWindow::ShowAtZoom2() {
    if (isVisible())
        raise();
    else
        show();
}

void CVideoWindow::Hide() {
    hide();
    m_pView->ClearPicture();
}

QRect CVideoWindow::WorkArea() const {
    const QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    return s != nullptr ? s->availableGeometry() : QRect(0, 0, 1024, 768);
}

void CVideoWindow::showEvent(QShowEvent* e) {
    CRoundedDialog::showEvent(e);
    // Coming back from the taskbar is not a new show.
    if (e->spontaneous())
        return;
    const QRect area = WorkArea();
    m_nZoom = kVideoZoomOnShow;
    m_nMaxZoom = LargestVideoZoom(area.width(), area.height(), kBorders, m_nMaxZoom);
    ApplyZoom();
    UpdateButtons();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

void CVideoWindow::ZoomIn() {
    if (m_nZoom >= m_nMaxZoom)
        return;
    ++m_nZoom;
    ApplyZoom();
    UpdateButtons();
}

void CVideoWindow::ZoomOut() {
    if (m_nZoom <= 1)
        return;
    --m_nZoom;
    ApplyZoom();
    UpdateButtons();
}

void CVideoWindow::ApplyZoom() {
    const SVideoWindowSize size = VideoWindowSize(m_nZoom, kBorders);
    setFixedSize(size.width, size.height);
    const std::string caption = FormatString(
        IDS_VIDEO_CAPTION,
        {std::to_string(m_nZoom * kVideoZoomStepWidth), std::to_string(m_nZoom * kVideoZoomStepHeight)});
    m_pCaption->setText(QString::fromStdString(caption));
    setWindowTitle(m_pCaption->text());
    FitCaption();
    if (!isVisible())
        return;
    // A larger step grows to the right and down; pull it back where that leaves the work area.
    const QRect area = WorkArea();
    const int x = std::max(area.left(), std::min(pos().x(), area.right() + 1 - width()));
    const int y = std::max(area.top(), std::min(pos().y(), area.bottom() + 1 - height()));
    if (QPoint(x, y) != pos())
        move(x, y);
}

void CVideoWindow::UpdateButtons() {
    m_pZoomIn->setEnabled(m_nZoom < m_nMaxZoom);
    m_pZoomOut->setEnabled(m_nZoom > 1);
}

void CVideoWindow::resizeEvent(QResizeEvent* e) {
    CRoundedDialog::resizeEvent(e);
    const int viewWidth = std::max(width() - kBorders.left - kBorders.right, 0);
    const int viewHeight = std::max(height() - kBorders.top - kBorders.bottom, 0);
    m_pView->setGeometry(kBorders.left, kBorders.top, viewWidth, viewHeight);
    m_pView->SetTargetSize(CVideoView::TargetWidthFor(viewWidth), viewHeight);
    const int buttonY = (kBorders.top - kButtonHeight) / 2;
    const int zoomInX = width() - kBorders.right - kButtonWidth;
    m_pZoomIn->move(zoomInX, buttonY);
    m_pZoomOut->move(zoomInX - kButtonGap - kButtonWidth, buttonY);
    m_pCaption->setGeometry(kBorders.left + 4, buttonY,
                            std::max(zoomInX - 2 * kButtonGap - kButtonWidth - 12, 0), kButtonHeight);
    FitCaption();
}

void CVideoWindow::FitCaption() {
    // At zoom 1 the buttons leave less room than the caption takes in the dialog font.
    QFont f = m_CaptionFont;
    const QString text = m_pCaption->text();
    while (f.pointSizeF() > kSmallestCaptionPoints &&
           QFontMetrics(f).horizontalAdvance(text) > m_pCaption->width())
        f.setPointSizeF(f.pointSizeF() - 0.5);
    m_pCaption->setFont(f);
}
