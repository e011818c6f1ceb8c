#include "video/I420Format.h"

#include "video/VideoCodecXvid.h"

CImageFormat I420FormatOfSize(int width, int height) {
    SBitmapInfoHeader header = ZeroBitmapHeader();
    header.biSize = kBitmapInfoHeaderSize;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 12;
    header.biCompression = kFourCCI420;
    header.biSizeImage = static_cast<uint32_t>(I420PictureSize(width, height));
    return CImageFormat(header);
}
