#include "video/VideoCodecXvid.h"

#include <xvid.h>

#include <algorithm>
#include <cstring>
#include <exception>

#include "platform/Trace.h"

namespace {

constexpr int kVopFlags = XVID_VOP_HALFPEL | XVID_VOP_INTER4V;
// Fast searches; the early-stop flags of the library's older interface have no counterpart in 1.x.
constexpr int kMotionFlags =
    XVID_ME_HALFPELREFINE16 | XVID_ME_EXTSEARCH16 | XVID_ME_USESQUARES16 | XVID_ME_HALFPELREFINE8;

// Single-pass rate control; a bit rate of 0 is the library's 900 kbit/s.
constexpr int kRcBitRate = 0;
constexpr int kRcReactionDelay = 16;
constexpr int kRcAveragingPeriod = 100;
constexpr int kRcBuffer = 10;

// The longest code of one coefficient is the third escape: 30 bits. 6 blocks of 64 take 11520 bits; the
// macroblock's own codes and four motion vectors stay well under the rest of 1536 bytes.
constexpr long kMaxBytesPerMacroblock = 1536;
constexpr long kMaxHeaderBytes = 4096;

// A key frame comes back in two calls (stream header, then picture); a few more allow for repeated
// headers. Bounded so a stream of headers cannot keep the decoder busy.
constexpr int kMaxDecodeCalls = 8;

void SetI420Planes(xvid_image_t& image, uint8_t* picture, int width, int height) {
    const size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
    image.csp = XVID_CSP_I420;
    image.plane[0] = picture;
    image.plane[1] = picture + luma;
    image.plane[2] = picture + luma + luma / 4;
    image.stride[0] = width;
    image.stride[1] = width / 2;
    image.stride[2] = width / 2;
}

// Whether a video-object-layer start code (00 00 01 2x) begins in the first `count` bytes of `p`; the
// three bytes after them must be readable.
bool HasLayerStart(const uint8_t* p, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && (p[i + 3] & 0xF0) == 0x20)
            return true;
    }
    return false;
}

void* OpenDecoder(int width, int height) {
    xvid_dec_create_t create{};
    create.version = XVID_VERSION;
    create.width = width;
    create.height = height;
    const int r = xvid_decore(nullptr, XVID_DEC_CREATE, &create, nullptr);
    if (r < 0 || create.handle == nullptr) {
        Trace("%s:%d | xvid_decore(DEC_CREATE) devolvio %d\n", "VideoCodecXvid", __LINE__, r);
        return nullptr;
    }
    return create.handle;
}

}  // namespace

bool InitCodecLibrary() {
    static const bool initialised = [] {
        xvid_gbl_info_t info{};
        info.version = XVID_VERSION;
        int r = xvid_global(nullptr, XVID_GBL_INFO, &info, nullptr);
        if (r < 0) {
            Trace("%s:%d | xvid_global(GBL_INFO) devolvio %d\n", "VideoCodecXvid", __LINE__, r);
            return false;
        }
        xvid_gbl_init_t init{};
        init.version = XVID_VERSION;
        init.cpu_flags = info.cpu_flags | XVID_CPU_FORCE;
        r = xvid_global(nullptr, XVID_GBL_INIT, &init, nullptr);
        if (r < 0) {
            Trace("%s:%d | xvid_global(GBL_INIT) devolvio %d\n", "VideoCodecXvid", __LINE__, r);
            return false;
        }
        return true;
    }();
    return initialised;
}

bool IsCodecPictureSize(int width, int height) {
    return width > 0 && height > 0 && width % 2 == 0 && height % 2 == 0 && width <= kMaxCodecDimension &&
           height <= kMaxCodecDimension;
}

long I420PictureSize(int width, int height) {
    if (!IsCodecPictureSize(width, height))
        return 0;
    return long{width} * height * 3 / 2;
}

long MaxEncodedPictureSize(int width, int height) {
    if (!IsCodecPictureSize(width, height))
        return 0;
    const long macroblocks = long{(width + 15) / 16} * ((height + 15) / 16);
    return macroblocks * kMaxBytesPerMacroblock + kMaxHeaderBytes;
}

CVideoCodecXvid::~CVideoCodecXvid() {
    Destroy(true);
    Destroy(false);
}

void CVideoCodecXvid::SetInputFormat(const CImageFormat& format) {
    if (!format.IsI420())
        return;
    m_InputFormat.CopyFrom(format);
    m_OutputFormat.CopyFrom(format);
}

void CVideoCodecXvid::SetFrameRate(int picturesPerSecond) {
    if (picturesPerSecond >= 1 && picturesPerSecond <= kMaxFrameRate)
        m_nFrameRate = picturesPerSecond;
}

bool CVideoCodecXvid::IsCreated(bool encoder) const {
    return encoder ? m_hEncoder.load(std::memory_order_acquire) != nullptr : m_hDecoder != nullptr;
}

bool CVideoCodecXvid::Create(bool encoder) {
    if (IsCreated(encoder))
        return false;
    const int width = m_InputFormat.Width();
    const int height = m_InputFormat.Height();
    if (!IsCodecPictureSize(width, height)) {
        Trace("%s:%d | tamano sin codec %dx%d\n", "VideoCodecXvid", __LINE__, width, height);
        return false;
    }
    if (!InitCodecLibrary())
        return false;
    try {
        return encoder ? CreateEncoder(width, height) : CreateDecoder(width, height);
    } catch (const std::exception& e) {
        Trace("%s:%d | excepcion al crear: %s\n", "VideoCodecXvid", __LINE__, e.what());
        return false;
    }
}

std::unique_ptr<uint8_t[]> CVideoCodecXvid::NewEncodedArea(size_t bytes) {
    return std::make_unique_for_overwrite<uint8_t[]>(bytes);
}

bool CVideoCodecXvid::CreateEncoder(int width, int height) {
    const long capacity = MaxEncodedPictureSize(width, height);
    std::unique_ptr<uint8_t[]> area = NewEncodedArea(static_cast<size_t>(capacity));

    xvid_plugin_single_t single{};
    single.version = XVID_VERSION;
    single.bitrate = kRcBitRate;
    single.reaction_delay_factor = kRcReactionDelay;
    single.averaging_period = kRcAveragingPeriod;
    single.buffer = kRcBuffer;
    xvid_enc_plugin_t plugin{xvid_plugin_single, &single};

    xvid_enc_create_t create{};
    create.version = XVID_VERSION;
    create.width = width;
    create.height = height;
    create.plugins = &plugin;
    create.num_plugins = 1;
    create.fincr = 1;
    create.fbase = m_nFrameRate;
    create.max_key_interval = kMaxKeyInterval;
    // min_quant and max_quant stay 0: the library's limits.
    const int r = xvid_encore(nullptr, XVID_ENC_CREATE, &create, nullptr);
    if (r < 0 || create.handle == nullptr) {
        Trace("%s:%d | xvid_encore(ENC_CREATE) devolvio %d\n", "VideoCodecXvid", __LINE__, r);
        return false;
    }
    m_pEncoded = std::move(area);
    m_nEncodedCapacity = capacity;
    m_nEncodeWidth = width;
    m_nEncodeHeight = height;
    m_bKeyOwed = false;
    m_hEncoder.store(create.handle, std::memory_order_release);
    return true;
}

bool CVideoCodecXvid::CreateDecoder(int width, int height) {
    // The library's bit reader runs ahead of the bytes it is given, and over a damaged picture it may run
    // on for as much as a whole picture can take: the copy it reads is padded with that many zeros.
    const size_t pad = static_cast<size_t>(MaxEncodedPictureSize(width, height));
    m_Stream.assign(2 * pad, 0);
    m_nStreamPad = pad;
    m_nStreamUsed = 0;
    void* handle = OpenDecoder(width, height);
    if (handle == nullptr) {
        std::vector<uint8_t>().swap(m_Stream);
        return false;
    }
    m_nDecodeWidth = width;
    m_nDecodeHeight = height;
    m_bDecodeSized = false;
    m_hDecoder = handle;
    return true;
}

bool CVideoCodecXvid::Destroy(bool encoder) {
    if (encoder) {
        if (void* handle = m_hEncoder.exchange(nullptr, std::memory_order_acq_rel)) {
            xvid_encore(handle, XVID_ENC_DESTROY, nullptr, nullptr);
            m_pEncoded.reset();
            m_nEncodedCapacity = 0;
        }
    } else if (m_hDecoder != nullptr) {
        xvid_decore(m_hDecoder, XVID_DEC_DESTROY, nullptr, nullptr);
        m_hDecoder = nullptr;
        std::vector<uint8_t>().swap(m_Stream);
        m_nStreamUsed = 0;
    }
    return true;
}

int CVideoCodecXvid::Encode(const uint8_t* picture, long pictureSize, uint8_t* bitstream, long capacity,
                            bool forceKey) {
    void* const handle = m_hEncoder.load(std::memory_order_acquire);
    if (handle == nullptr)
        return -1;
    if (picture == nullptr || pictureSize < I420PictureSize(m_nEncodeWidth, m_nEncodeHeight) ||
        bitstream == nullptr || capacity <= 0) {
        return -1;
    }
    xvid_enc_frame_t frame{};
    frame.version = XVID_VERSION;
    frame.vol_flags = 0;  // H.263 quantisation
    frame.vop_flags = kVopFlags;
    frame.motion = kMotionFlags;
    // The library only reads the input picture.
    SetI420Planes(frame.input, const_cast<uint8_t*>(picture), m_nEncodeWidth, m_nEncodeHeight);
    frame.type = forceKey || m_bKeyOwed ? XVID_TYPE_IVOP : XVID_TYPE_AUTO;
    frame.quant = 0;
    frame.bitstream = m_pEncoded.get();
    frame.length = static_cast<int>(m_nEncodedCapacity);
    xvid_enc_stats_t stats{};
    stats.version = XVID_VERSION;
    const int r = xvid_encore(handle, XVID_ENC_ENCODE, &frame, &stats);
    if (r < 0 || r > m_nEncodedCapacity) {
        Trace("%s:%d | xvid_encore(ENC_ENCODE) devolvio %d\n", "VideoCodecXvid", __LINE__, r);
        m_bKeyOwed = true;
        return -1;
    }
    if (r > capacity) {
        // The peer never sees this picture, so the next one must not be predicted from it.
        m_bKeyOwed = true;
        return -1;
    }
    std::memcpy(bitstream, m_pEncoded.get(), static_cast<size_t>(r));
    if (r > 0)
        m_bKeyOwed = false;
    return r;
}

const uint8_t* CVideoCodecXvid::StageBitstream(const uint8_t* bitstream, size_t length) {
    std::memcpy(m_Stream.data(), bitstream, length);
    if (m_nStreamUsed > length)
        std::memset(m_Stream.data() + length, 0, m_nStreamUsed - length);
    m_nStreamUsed = length;
    return m_Stream.data();
}

void CVideoCodecXvid::RenewDecoder() {
    m_bDecodeSized = false;
    xvid_decore(m_hDecoder, XVID_DEC_DESTROY, nullptr, nullptr);
    m_hDecoder = OpenDecoder(m_nDecodeWidth, m_nDecodeHeight);
    if (m_hDecoder == nullptr) {
        std::vector<uint8_t>().swap(m_Stream);
        m_nStreamUsed = 0;
    }
}

int CVideoCodecXvid::Decode(const uint8_t* bitstream, long length, uint8_t* picture, long pictureSize,
                            bool /*keyFlag*/) {
    if (m_hDecoder == nullptr || bitstream == nullptr || length <= 0 || picture == nullptr)
        return -1;
    const int width = m_nDecodeWidth;
    const int height = m_nDecodeHeight;
    // No picture of this size takes more than the pad; the staging area holds that much and its pad.
    if (pictureSize < I420PictureSize(width, height) || static_cast<size_t>(length) > m_nStreamPad)
        return -1;
    const uint8_t* stream = StageBitstream(bitstream, static_cast<size_t>(length));

    long taken = 0;
    bool pictured = false;
    for (int call = 0; call < kMaxDecodeCalls && taken < length && !pictured; ++call) {
        xvid_dec_frame_t frame{};
        frame.version = XVID_VERSION;
        frame.general = 0;
        frame.bitstream = const_cast<uint8_t*>(stream + taken);
        frame.length = static_cast<int>(length - taken);
        SetI420Planes(frame.output, picture, width, height);
        xvid_dec_stats_t stats{};
        stats.version = XVID_VERSION;
        const int r = xvid_decore(m_hDecoder, XVID_DEC_DECODE, &frame, &stats);
        if (r < 0) {
            Trace("%s:%d | xvid_decore(DEC_DECODE) devolvio %d\n", "VideoCodecXvid", __LINE__, r);
            return -1;
        }
        const long used = std::min<long>(r, length - taken);
        // A decoder made for a size passes over a stream header of another size without a word, then
        // decodes what follows as if it were of its own size.
        const bool sized =
            stats.type == XVID_TYPE_VOL && stats.data.vol.width == width && stats.data.vol.height == height;
        if (!sized &&
            (stats.type == XVID_TYPE_VOL || HasLayerStart(stream + taken, static_cast<size_t>(used)))) {
            Trace("%s:%d | flujo de otro tamano\n", "VideoCodecXvid", __LINE__);
            RenewDecoder();
            return -1;
        }
        if (sized)
            m_bDecodeSized = true;
        taken += used;
        pictured = stats.type > 0;
        if (used == 0)
            break;
    }
    if (!m_bDecodeSized)
        return -1;
    return pictured ? static_cast<int>(taken) : 0;
}
