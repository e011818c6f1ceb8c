#include "video/VideoCodec.h"

void CVideoCodec::SetInputFormat(const CImageFormat& format) {
    m_InputFormat.CopyFrom(format);
}

int CVideoCodec::Encode(const uint8_t*, long, uint8_t*, long, bool) {
    return -1;
}

int CVideoCodec::Decode(const uint8_t*, long, uint8_t*, long, bool) {
    return -1;
}
