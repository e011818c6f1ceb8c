// xvid_encore called directly with the settings the codec class uses: the reference the video benchmarks
// measure our pictures against.
#pragma once

#include <xvid.h>

#include <vector>

#include "video/VideoCodecXvid.h"

// The library called directly with the settings the codec class uses, writing straight into one area.
class CBareEncoder {
public:
    CBareEncoder(int width, int height, int frameRate = CVideoCodecXvid::kDefaultFrameRate)
        : m_nWidth(width), m_Out(static_cast<size_t>(MaxEncodedPictureSize(width, height))) {
        InitCodecLibrary();
        xvid_plugin_single_t single{};
        single.version = XVID_VERSION;
        single.reaction_delay_factor = 16;
        single.averaging_period = 100;
        single.buffer = 10;
        xvid_enc_plugin_t plugin{xvid_plugin_single, &single};
        xvid_enc_create_t create{};
        create.version = XVID_VERSION;
        create.width = width;
        create.height = height;
        create.plugins = &plugin;
        create.num_plugins = 1;
        create.fincr = 1;
        create.fbase = frameRate;
        create.max_key_interval = CVideoCodecXvid::kMaxKeyInterval;
        xvid_encore(nullptr, XVID_ENC_CREATE, &create, nullptr);
        m_hEncoder = create.handle;
    }
    ~CBareEncoder() { xvid_encore(m_hEncoder, XVID_ENC_DESTROY, nullptr, nullptr); }

    int Encode(const uint8_t* picture, bool key) {
        xvid_enc_frame_t frame{};
        frame.version = XVID_VERSION;
        frame.vop_flags = XVID_VOP_HALFPEL | XVID_VOP_INTER4V;
        frame.motion =
            XVID_ME_HALFPELREFINE16 | XVID_ME_EXTSEARCH16 | XVID_ME_USESQUARES16 | XVID_ME_HALFPELREFINE8;
        frame.input.csp = XVID_CSP_I420;
        frame.input.plane[0] = const_cast<uint8_t*>(picture);
        frame.input.stride[0] = m_nWidth;
        frame.type = key ? XVID_TYPE_IVOP : XVID_TYPE_AUTO;
        frame.bitstream = m_Out.data();
        frame.length = static_cast<int>(m_Out.size());
        xvid_enc_stats_t stats{};
        stats.version = XVID_VERSION;
        return xvid_encore(m_hEncoder, XVID_ENC_ENCODE, &frame, &stats);
    }

private:
    int m_nWidth;
    std::vector<uint8_t> m_Out;
    void* m_hEncoder = nullptr;
};
