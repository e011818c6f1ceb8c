// CVideoConsole: the headless client's remote video window. It prints the peer's format, reads the frame
// number back from each decoded test-pattern picture with its PSNR against that frame, tells each key
// frame asked of the peer, and keeps the last picture to save it when the call ends.
#pragma once

#include <functional>
#include <string>

#include "app/VideoReceiver.h"
#include "video/VideoPicture.h"

// Peak signal-to-noise ratio in dB between two pictures of `bytes` bytes; 99 for identical ones.
double PicturePsnr(const uint8_t* a, const uint8_t* b, size_t bytes);

class CVideoConsole : public IRemoteVideoWindow, public IVideoPicture {
public:
    explicit CVideoConsole(std::function<void(const std::string&)> line) : m_line(std::move(line)) {}

    void ShowVideo(int width, int height) override;
    void HideVideo() override;
    IVideoPicture& Picture() override { return *this; }
    void OnPictureDecoded(const uint8_t* i420, int width, int height) override;
    void OnKeyFrameRequested() override { m_line("video-keyframe-request"); }

    void SetPicture(const CDataBuffer& rgb32, const CImageFormat& format) override;
    // The view's picture goes, the last one received stays for the snapshot.
    void ClearPicture() override {}

    // Writes the last picture as PNG; false when there is none or the file cannot be written.
    bool SaveSnapshot(const std::string& path) const;

private:
    std::function<void(const std::string&)> m_line;
    bool m_bShown = false;
    std::vector<uint8_t> m_Expected;
    std::vector<uint8_t> m_Last;  // 32-bit, bottom row first
    int m_nLastWidth = 0;
    int m_nLastHeight = 0;
};
