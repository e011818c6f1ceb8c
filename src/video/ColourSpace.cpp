#include "video/ColourConversion.h"

int ColourSpaceOf(const CImageFormat& format) {
    const SBitmapInfoHeader& h = format.m_Header.header;
    switch (h.biCompression) {
        case 0:
            return h.biBitCount == 24 ? kColourSpaceRgb24 : h.biBitCount == 32 ? kColourSpaceRgb32 : 0;
        case MakeFourCC('U', 'Y', 'V', 'Y'):
            return kColourSpaceUyvy;
        case MakeFourCC('Y', 'U', 'Y', '2'):
        case MakeFourCC('Y', 'U', 'Y', 'V'):
        case MakeFourCC('V', '4', '2', '2'):
            return kColourSpaceYuy2;
        case MakeFourCC('Y', 'V', 'Y', 'U'):
            return kColourSpaceYvyu;
        case MakeFourCC('Y', 'V', '1', '2'):
            return kColourSpaceYv12;
        case kFourCCI420:
        case kFourCCIYUV:
            return kColourSpaceI420;
        default:
            return kColourSpaceUnknown;
    }
}
