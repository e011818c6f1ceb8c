#include "cli/VideoConsole.h"

#include <cmath>
#include <cstdio>

#include "cli/PngFile.h"
#include "video/I420Format.h"
#include "video/TestPatternCamera.h"

double PicturePsnr(const uint8_t* a, const uint8_t* b, size_t bytes) {
    if (bytes == 0)
        return 0.0;
    double sum = 0.0;
    for (size_t i = 0; i < bytes; ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0.0)
        return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * double(bytes) / sum);
}

void CVideoConsole::ShowVideo(int width, int height) {
    m_bShown = true;
    m_line("video-format " + std::to_string(width) + " " + std::to_string(height));
}

void CVideoConsole::HideVideo() {
    if (!m_bShown)
        return;
    m_bShown = false;
    m_line("video-remote-stopped");
}

void CVideoConsole::OnPictureDecoded(const uint8_t* i420, int width, int height) {
    const long number = ReadTestPatternNumber(i420, width, height);
    if (number < 0)
        return;
    const long size = I420PictureSize(width, height);
    m_Expected.resize(size_t(size));
    if (!RenderTestPattern(I420FormatOfSize(width, height).m_Header.header, uint32_t(number),
                           m_Expected.data()))
        return;
    char psnr[32];
    std::snprintf(psnr, sizeof psnr, "%.2f", PicturePsnr(i420, m_Expected.data(), m_Expected.size()));
    m_line("video-frame " + std::to_string(number) + " " + psnr);
}

void CVideoConsole::SetPicture(const CDataBuffer& rgb32, const CImageFormat& format) {
    const long bytes = long(format.Width()) * format.Height() * 4;
    if (format.Width() <= 0 || format.Height() <= 0 || rgb32.Size() < bytes)
        return;
    m_Last.assign(rgb32.Data(), rgb32.Data() + bytes);
    m_nLastWidth = format.Width();
    m_nLastHeight = format.Height();
}

bool CVideoConsole::SaveSnapshot(const std::string& path) const {
    if (m_Last.empty())
        return false;
    return WritePngRgb32(path, m_Last.data(), m_nLastWidth, m_nLastHeight);
}
