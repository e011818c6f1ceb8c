// CVideoView: a child widget showing one 32-bit bottom-up picture stretched to the size its owner sets,
// centred, with black bands where the widget is larger; a grey gradient while there is no picture. It is
// the local preview, the settings preview and the picture area of the remote video window.
#pragma once

#include <QWidget>
#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/Lock.h"
#include "video/VideoPicture.h"

class CVideoView : public QWidget, public IVideoPicture {
    Q_OBJECT
public:
    enum { IDC = 1117 };
    static constexpr int kDefaultWidth = 320;
    static constexpr int kDefaultHeight = 240;
    // Larger pictures are refused: no camera or peer of this program sends them.
    static constexpr int kMaxSide = 4096;
    // The placeholder's corners: white at the top left, grey at the bottom right.
    static constexpr uint32_t kPlaceholderLight = 0xFFFFFF;
    static constexpr uint32_t kPlaceholderDark = 0x646464;

    explicit CVideoView(QWidget* parent = nullptr);
    ~CVideoView() override;

    // What owners pass: the client width rounded up to a multiple of 8, and the client height.
    static int TargetWidthFor(int clientWidth) { return (clientWidth + 7) & ~7; }
    // The size the picture is drawn at. UI thread only.
    void SetTargetSize(int width, int height);
    int TargetWidth() const { return m_nTargetWidth; }
    int TargetHeight() const { return m_nTargetHeight; }

    // Any thread, while the view exists: owners stop their producers before they destroy it. A picture that
    // does not hold width x height x 4 bytes of a 32-bit format replaces the old one with nothing, so an old
    // picture is never drawn at a new format's size.
    void SetPicture(const CDataBuffer& rgb32, const CImageFormat& format) override;
    void ClearPicture() override;
    bool HasPicture() const;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    static bool Showable(const CDataBuffer& rgb32, const CImageFormat& format);
    void RequestRepaint();
    // Stretches the held picture into m_Scaled when it or the target size changed; false without one.
    bool Rescale();

    // Guards m_Picture, m_nWidth, m_nHeight and m_nSerial: the producer's swap against painting.
    mutable CLock m_Lock;
    std::vector<uint8_t> m_Picture;
    int m_nWidth = 0;
    int m_nHeight = 0;
    uint64_t m_nSerial = 0;

    // Producers fill this outside m_Lock and swap it in; m_WriterLock keeps two producers apart.
    CLock m_WriterLock;
    std::vector<uint8_t> m_Incoming;

    // UI thread only.
    std::vector<uint8_t> m_Scaled;
    uint64_t m_nScaledSerial = 0;
    int m_nScaledWidth = 0;
    int m_nScaledHeight = 0;
    int m_nTargetWidth = kDefaultWidth;
    int m_nTargetHeight = kDefaultHeight;

    // One queued repaint at a time however fast pictures arrive.
    std::atomic<bool> m_bRepaintQueued{false};
};
