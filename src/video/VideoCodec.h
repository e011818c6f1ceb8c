// CVideoCodec: a picture codec with an input and an output format; one object holds at most one encoder
// and at most one decoder.
#pragma once

#include <cstdint>

#include "video/Codec.h"
#include "video/ImageFormat.h"

class CVideoCodec : public CCodec {
public:
    // Copies `format` into the input format.
    virtual void SetInputFormat(const CImageFormat& format);
    virtual const CImageFormat& InputFormat() const { return m_InputFormat; }
    virtual const CImageFormat& OutputFormat() const { return m_OutputFormat; }

    // One picture into `bitstream` (`capacity` bytes): the encoded length, or -1.
    virtual int Encode(const uint8_t* picture, long pictureSize, uint8_t* bitstream, long capacity,
                       bool forceKey);
    // One encoded picture into `picture` (`pictureSize` bytes): the bytes taken, or -1.
    virtual int Decode(const uint8_t* bitstream, long length, uint8_t* picture, long pictureSize,
                       bool keyFlag);

    virtual bool IsCreated(bool encoder) const = 0;
    virtual bool Create(bool encoder) = 0;
    virtual bool Destroy(bool encoder) = 0;

protected:
    CImageFormat m_InputFormat;
    CImageFormat m_OutputFormat;
};
