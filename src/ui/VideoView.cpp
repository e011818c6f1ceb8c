#include "ui/VideoView.h"

#include <QImage>
#include <QLinearGradient>
#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <utility>

#include "video/Surface.h"

namespace {

// The header of an unpadded 32-bit picture: CSurface then takes rows of exactly width x 4 bytes.
SBitmapInfoHeader Rgb32Header(int width, int height) {
    SBitmapInfoHeader h;
    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = 32;
    h.biSizeImage = uint32_t(width) * uint32_t(height) * 4;
    return h;
}

QColor ColorOf(uint32_t rgb) {
    return QColor::fromRgb(static_cast<QRgb>(rgb));
}

}  // namespace

CVideoView::CVideoView(QWidget* parent) : QWidget(parent) {
    setObjectName("videoView");
    // Every pixel is painted: the picture, the bands or the placeholder.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CVideoView::~CVideoView() = default;

void CVideoView::SetTargetSize(int width, int height) {
    if (width == m_nTargetWidth && height == m_nTargetHeight)
        return;
    m_nTargetWidth = width;
    m_nTargetHeight = height;
    update();
}

bool CVideoView::Showable(const CDataBuffer& rgb32, const CImageFormat& format) {
    const SBitmapInfoHeader& h = format.m_Header.header;
    if (h.biBitCount != 32 || h.biWidth < 1 || h.biHeight < 1 || h.biWidth > kMaxSide ||
        h.biHeight > kMaxSide)
        return false;
    return rgb32.Data() != nullptr && rgb32.Size() >= long(h.biWidth) * h.biHeight * 4;
}

void CVideoView::SetPicture(const CDataBuffer& rgb32, const CImageFormat& format) {
    if (!Showable(rgb32, format)) {
        ClearPicture();
        return;
    }
    const int width = format.Width(), height = format.Height();
    {
        CLockGuard writer(m_WriterLock);
        // The copy happens outside m_Lock, so painting never waits for it; the swap is all it waits for.
        m_Incoming.assign(rgb32.Data(), rgb32.Data() + size_t(width) * size_t(height) * 4);
        CLockGuard guard(m_Lock);
        std::swap(m_Picture, m_Incoming);
        m_nWidth = width;
        m_nHeight = height;
        ++m_nSerial;
    }
    RequestRepaint();
}

void CVideoView::ClearPicture() {
    {
        CLockGuard guard(m_Lock);
        m_Picture.clear();
        m_nWidth = m_nHeight = 0;
        ++m_nSerial;
    }
    RequestRepaint();
}

bool CVideoView::HasPicture() const {
    CLockGuard guard(m_Lock);
    return m_nWidth > 0;
}

void CVideoView::RequestRepaint() {
    if (m_bRepaintQueued.exchange(true))
        return;
    // update() belongs to the UI thread; a queued call also dies with the widget if it goes first.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_bRepaintQueued = false;
            update();
        },
        Qt::QueuedConnection);
}

bool CVideoView::Rescale() {
    const int w = m_nTargetWidth, h = m_nTargetHeight;
    if (w < 1 || h < 1)
        return false;
    CLockGuard guard(m_Lock);
    if (m_nWidth == 0)
        return false;
    if (m_nScaledSerial == m_nSerial && m_nScaledWidth == w && m_nScaledHeight == h)
        return true;
    m_Scaled.resize(size_t(w) * size_t(h) * 4);
    const SBitmapInfoHeader srcHeader = Rgb32Header(m_nWidth, m_nHeight);
    const SBitmapInfoHeader dstHeader = Rgb32Header(w, h);
    const CSurface src(reinterpret_cast<const uint8_t*>(&srcHeader), m_Picture.data());
    CSurface dst(reinterpret_cast<const uint8_t*>(&dstHeader), m_Scaled.data());
    if (!dst.StretchBilinear(0, 0, w, h, src, 0, 0, m_nWidth, m_nHeight))
        return false;
    m_nScaledSerial = m_nSerial;
    m_nScaledWidth = w;
    m_nScaledHeight = h;
    return true;
}

void CVideoView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect client = rect();
    if (!Rescale()) {
        // In the area's own units, so the other two corners meet halfway whatever the aspect.
        QLinearGradient gradient(0, 0, 1, 1);
        gradient.setCoordinateMode(QGradient::ObjectMode);
        gradient.setColorAt(0, ColorOf(kPlaceholderLight));
        gradient.setColorAt(1, ColorOf(kPlaceholderDark));
        painter.fillRect(client, gradient);
        return;
    }
    const int w = m_nScaledWidth, h = m_nScaledHeight;
    const int x = std::max(client.width() / 2 - w / 2, 0);
    const int y = std::max(client.height() / 2 - h / 2, 0);
    const QRect picture(x, y, w, h);

    // The scaled rows are bottom first: drawn through a vertical flip rather than copied upright.
    const QImage image(m_Scaled.data(), w, h, w * 4, QImage::Format_RGB32);
    painter.save();
    painter.translate(x, y + h);
    painter.scale(1, -1);
    painter.drawImage(0, 0, image);
    painter.restore();

    if (!picture.contains(client)) {
        // The bands are clipped around the picture, so it is never painted over and does not flicker.
        painter.setClipRegion(QRegion(client).subtracted(QRegion(picture)));
        painter.fillRect(client, Qt::black);
    }
}
