// The video view and the remote video window, drawn offscreen.
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "gui/support/QtEnvironment.h"
#include "gui/support/Screenshot.h"
#include "ui/VideoView.h"
#include "ui/VideoWindow.h"

namespace {

// A 32-bit bottom-up picture whose upright pixel (x, y) is `colour(x, y)`.
template <typename F>
void MakePicture(int width, int height, F colour, CDataBuffer& rgb, CImageFormat& format) {
    format = CImageFormat();
    format.m_Header.header.biSize = kBitmapInfoHeaderSize;
    format.m_Header.header.biWidth = width;
    format.m_Header.header.biHeight = height;
    format.m_Header.header.biPlanes = 1;
    format.SetUncompressed(32);
    rgb.Resize(long(width) * height * 4);
    auto* pixels = reinterpret_cast<uint32_t*>(rgb.Data());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels[size_t(height - 1 - y) * width + x] = colour(x, y) & 0xFFFFFF;
}

// Quarters, upright: red, green / blue, white.
uint32_t Quarters(int x, int y, int width, int height) {
    const bool right = x >= width / 2, bottom = y >= height / 2;
    return bottom ? (right ? 0xFFFFFF : 0x0000FF) : (right ? 0x00FF00 : 0xFF0000);
}

// Different in every pixel and channel, so a shift or flip by one row or column shows.
uint32_t Texture(int x, int y) {
    const uint32_t r = (x * 7 + y * 3) & 0xFF, g = ((x * 5) ^ (y * 11)) & 0xFF, b = (x + y * 13) & 0xFF;
    return (r << 16) | (g << 8) | b;
}

uint32_t Rgb(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFF;
}

// Alike to within the rounding of a gradient.
bool Near(uint32_t a, uint32_t b) {
    for (int shift = 0; shift < 24; shift += 8)
        if (std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)) > 3)
            return false;
    return true;
}

using guitest::ScreenshotPath;

QImage Grab(QWidget& w, const char* screenshot = nullptr) {
    QApplication::processEvents();
    const QImage image = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (screenshot != nullptr)
        image.save(QString::fromStdString(ScreenshotPath(screenshot)));
    return image;
}

// The window on a work area the test chooses.
class CTestVideoWindow : public CVideoWindow {
public:
    QRect m_area{0, 0, 1024, 768};

protected:
    QRect WorkArea() const override { return m_area; }
};

}  // namespace

class VideoViewsTest : public QObject {
    Q_OBJECT

public:
    VideoViewsTest() { guitest::UseQtEnvironment(); }

private slots:
    void pictureIsStretchedToTheTargetSize() {
        CVideoView view;
        view.resize(640, 480);
        view.SetTargetSize(CVideoView::TargetWidthFor(640), 480);
        CDataBuffer rgb;
        CImageFormat format;
        MakePicture(
            320, 240, [](int x, int y) { return Quarters(x, y, 320, 240); }, rgb, format);
        view.SetPicture(rgb, format);
        const QImage image = Grab(view, "video-view-stretched.png");
        // Upright, and reaching every edge: the quarters meet in the middle of the view.
        QCOMPARE(Rgb(image, 0, 0), 0xFF0000u);
        QCOMPARE(Rgb(image, 639, 0), 0x00FF00u);
        QCOMPARE(Rgb(image, 0, 479), 0x0000FFu);
        QCOMPARE(Rgb(image, 639, 479), 0xFFFFFFu);
        QCOMPARE(Rgb(image, 317, 237), 0xFF0000u);
        QCOMPARE(Rgb(image, 322, 242), 0xFFFFFFu);
    }

    void roundedTargetIsDrawnFromTheCorner() {
        // The owner rounds a 325-pixel client width up to 328: the picture starts at (0, 0) and the
        // columns past the client edge are cut, with no band anywhere.
        CVideoView view;
        view.resize(325, 250);
        view.SetTargetSize(CVideoView::TargetWidthFor(325), 250);
        QCOMPARE(view.TargetWidth(), 328);
        CDataBuffer rgb;
        CImageFormat format;
        MakePicture(
            320, 240, [](int x, int y) { return Quarters(x, y, 320, 240); }, rgb, format);
        view.SetPicture(rgb, format);
        const QImage image = Grab(view);
        QCOMPARE(Rgb(image, 0, 0), 0xFF0000u);
        QCOMPARE(Rgb(image, 324, 0), 0x00FF00u);
        QCOMPARE(Rgb(image, 0, 249), 0x0000FFu);
        QCOMPARE(Rgb(image, 324, 249), 0xFFFFFFu);
        // The middle of the 328-wide picture, not of the 325-wide client area.
        QCOMPARE(Rgb(image, 162, 10), 0xFF0000u);
        QCOMPARE(Rgb(image, 165, 10), 0x00FF00u);
    }

    void largerAreaCentresThePictureBetweenBlackBands() {
        CVideoView view;
        view.resize(400, 300);
        view.SetTargetSize(320, 240);
        CDataBuffer rgb;
        CImageFormat format;
        MakePicture(320, 240, Texture, rgb, format);
        view.SetPicture(rgb, format);
        const QImage image = Grab(view, "video-view-bands.png");
        const QRect picture(40, 30, 320, 240);
        int wrong = 0;
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 400; ++x) {
                const uint32_t expected =
                    picture.contains(x, y) ? Texture(x - 40, y - 30) & 0xFFFFFF : 0x000000;
                wrong += Rgb(image, x, y) != expected;
            }
        QCOMPARE(wrong, 0);
    }

    void placeholderWithoutAPicture() {
        CVideoView view;
        view.resize(200, 150);
        const QImage image = Grab(view, "video-view-placeholder.png");
        QVERIFY(Near(Rgb(image, 0, 0), CVideoView::kPlaceholderLight));
        QVERIFY(Near(Rgb(image, 199, 149), CVideoView::kPlaceholderDark));
        // Diagonal: the other two corners are alike and lie between the ends.
        QVERIFY(Near(Rgb(image, 199, 0), Rgb(image, 0, 149)));
        const int mid = int(Rgb(image, 199, 0) & 0xFF);
        QVERIFY(mid > 0x70 && mid < 0xF0);
    }

    void pictureThatDoesNotFillItsFormatIsNotShown() {
        CVideoView view;
        view.resize(160, 120);
        view.SetTargetSize(160, 120);
        CDataBuffer rgb;
        CImageFormat format;
        MakePicture(
            160, 120, [](int, int) { return 0x0000FFu; }, rgb, format);
        view.SetPicture(rgb, format);
        QVERIFY(view.HasPicture());
        // A new, larger format with the old-sized bytes: the old picture goes and the placeholder shows.
        CImageFormat larger = format;
        larger.m_Header.header.biWidth = 320;
        larger.m_Header.header.biHeight = 240;
        larger.SetUncompressed(32);
        view.SetPicture(rgb, larger);
        QVERIFY(!view.HasPicture());
        QVERIFY(Near(Rgb(Grab(view), 0, 0), CVideoView::kPlaceholderLight));
        // Nor are 24-bit pictures, nor top-down ones, whatever their size.
        MakePicture(
            160, 120, [](int, int) { return 0x0000FFu; }, rgb, format);
        CImageFormat rgb24 = format;
        rgb24.SetUncompressed(24);
        view.SetPicture(rgb, rgb24);
        QVERIFY(!view.HasPicture());
        CImageFormat topDown = format;
        topDown.m_Header.header.biHeight = -120;
        view.SetPicture(rgb, topDown);
        QVERIFY(!view.HasPicture());
        view.SetPicture(rgb, format);
        QVERIFY(view.HasPicture());
        view.ClearPicture();
        QVERIFY(!view.HasPicture());
    }

    void pictureSetFromAnotherThreadWhilePainting() {
        CVideoView view;
        view.resize(330, 250);
        view.SetTargetSize(CVideoView::TargetWidthFor(330), 250);
        view.show();
        CDataBuffer small, large;
        CImageFormat smallFormat, largeFormat;
        MakePicture(160, 120, Texture, small, smallFormat);
        MakePicture(320, 240, Texture, large, largeFormat);
        std::atomic<bool> stop{false};
        std::atomic<int> sent{0};
        std::thread producer([&] {
            for (int i = 0; !stop; ++i) {
                if (i % 7 == 6)
                    view.SetPicture(small, largeFormat);  // refused: too few bytes
                else if (i % 2 == 0)
                    view.SetPicture(small, smallFormat);
                else
                    view.SetPicture(large, largeFormat);
                ++sent;
            }
        });
        for (int i = 0; i < 1000; ++i) {
            view.repaint();
            if (i % 100 == 0)
                view.SetTargetSize(CVideoView::TargetWidthFor(330 - i / 100), 250 - i / 100);
            QApplication::processEvents();
        }
        stop = true;
        producer.join();
        QVERIFY(sent > 0);
        // The last picture is the one shown.
        view.SetPicture(large, largeFormat);
        view.SetTargetSize(320, 240);
        view.resize(320, 240);
        const QImage image = Grab(view);
        QCOMPARE(Rgb(image, 17, 23), Texture(17, 23) & 0xFFFFFF);
    }

    void windowOpensAtZoom2CentredWithItsCaption() {
        CTestVideoWindow window;
        window.m_area = QRect(10, 20, 1024, 768);
        CDataBuffer rgb;
        CImageFormat format;
        MakePicture(320, 240, Texture, rgb, format);
        window.View()->SetPicture(rgb, format);
        window.ShowAtZoom2();
        QCOMPARE(window.Zoom(), 2);
        QCOMPARE(window.MaxZoom(), 6);
        QCOMPARE(window.Caption()->text(), QString("Video 320 x 240"));
        const QSize outer(320 + 16, 240 + 46);
        QCOMPARE(window.size(), outer);
        QCOMPARE(window.pos(), QPoint(10 + (1024 - outer.width()) / 2, 20 + (768 - outer.height()) / 2));
        QCOMPARE(window.View()->geometry(), QRect(8, 38, 320, 240));
        QCOMPARE(window.View()->TargetWidth(), 320);
        QCOMPARE(window.View()->TargetHeight(), 240);
        QVERIFY(window.ZoomInButton()->isEnabled());
        QVERIFY(window.ZoomOutButton()->isEnabled());
        const QImage image = Grab(window, "video-window-zoom2.png");
        QCOMPARE(Rgb(image, 8 + 17, 38 + 23), Texture(17, 23));
    }

    void zoomButtonsStopAtTheLimits() {
        CTestVideoWindow window;
        window.m_area = QRect(0, 0, 800, 600);
        window.ShowAtZoom2();
        QCOMPARE(window.MaxZoom(), 4);  // 5 x 160 + 16 > 800
        QTest::mouseClick(window.ZoomInButton(), Qt::LeftButton);
        QTest::mouseClick(window.ZoomInButton(), Qt::LeftButton);
        QCOMPARE(window.Zoom(), 4);
        QVERIFY(!window.ZoomInButton()->isEnabled());
        QVERIFY(window.ZoomOutButton()->isEnabled());
        window.ZoomIn();
        QCOMPARE(window.Zoom(), 4);
        QCOMPARE(window.Caption()->text(), QString("Video 640 x 480"));
        QCOMPARE(window.View()->TargetWidth(), 640);
        QCOMPARE(window.View()->TargetHeight(), 480);
        // Grown from the centre of the work area, the window was pulled back inside it.
        QVERIFY(window.m_area.contains(window.frameGeometry()));
        for (int i = 0; i < 3; ++i)
            QTest::mouseClick(window.ZoomOutButton(), Qt::LeftButton);
        QCOMPARE(window.Zoom(), 1);
        QVERIFY(!window.ZoomOutButton()->isEnabled());
        QVERIFY(window.ZoomInButton()->isEnabled());
        window.ZoomOut();
        QCOMPARE(window.Zoom(), 1);
        QCOMPARE(window.Caption()->text(), QString("Video 160 x 120"));
        QCOMPARE(window.size(), QSize(160 + 16, 120 + 46));
        QVERIFY(QFontMetrics(window.Caption()->font()).horizontalAdvance(window.Caption()->text()) <=
                window.Caption()->width());
        Grab(window, "video-window-zoom1.png");

        // Every new show starts again at zoom 2.
        window.hide();
        window.ShowAtZoom2();
        QCOMPARE(window.Zoom(), 2);
        QVERIFY(window.ZoomInButton()->isEnabled());
        QVERIFY(window.ZoomOutButton()->isEnabled());
    }

    void smallWorkAreaStillOpensAtZoom2() {
        CTestVideoWindow window;
        window.m_area = QRect(0, 0, 300, 250);
        window.ShowAtZoom2();
        QCOMPARE(window.MaxZoom(), 1);
        QCOMPARE(window.Zoom(), 2);
        QVERIFY(!window.ZoomInButton()->isEnabled());
        QVERIFY(window.ZoomOutButton()->isEnabled());
        // Where not even zoom 1 fits, the last limit stays.
        window.hide();
        window.m_area = QRect(0, 0, 1024, 768);
        window.ShowAtZoom2();
        QCOMPARE(window.MaxZoom(), 6);
        window.hide();
        window.m_area = QRect(0, 0, 170, 150);
        window.ShowAtZoom2();
        QCOMPARE(window.MaxZoom(), 6);
    }

    void hidingForgetsThePicture() {
        // The next stream opens on the placeholder, not on the last picture of the previous one.
        CTestVideoWindow window;
        CDataBuffer rgb;
        CImageFormat format;
        MakePicture(160, 120, Texture, rgb, format);
        window.ShowAtZoom2();
        window.View()->SetPicture(rgb, format);
        window.Hide();
        QVERIFY(window.isHidden());
        window.ShowAtZoom2();
        QVERIFY(!window.View()->HasPicture());
    }

    void windowIsDraggedFromThePicture() {
        CTestVideoWindow window;
        window.ShowAtZoom2();
        const QPoint before = window.pos();
        QWidget* view = window.View();
        QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
        QMouseEvent move(QEvent::MouseMove, QPointF(80, 60), view->mapToGlobal(QPointF(80, 60)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &move);
        QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, QPoint(80, 60));
        QCOMPARE(window.pos(), before + QPoint(30, 10));
    }
};

QTEST_MAIN(VideoViewsTest)
#include "VideoViewsTest.moc"
