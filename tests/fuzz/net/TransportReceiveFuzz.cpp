// The receive side of the transport with payloads of every size up to and past the frame limit: a
// stream of frames, read through the read-ahead buffer from a socket that delivers it in pieces of
// chosen sizes, then filed into the channels' rings and drained in order.
//
// The input is a script. Its first byte picks the read-ahead size (so small inputs also reach the path
// where a payload bypasses it); then each step adds a frame with a literal payload, a frame of up to
// 1.06 MB whose payload is generated, a new delivery size, or raw bytes that break the stream. Every
// frame read must be the one written, bytes included, until the stream breaks or a length past the
// limit ends it as corrupt.
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "net/Channel.h"
#include "net/Frame.h"
#include "net/ReadAhead.h"
#include "net/SocketError.h"

namespace {

struct SExpected {
    uint8_t channel;
    uint32_t tag;
    const uint8_t* payload;  // in the input or in the pattern
    size_t size;
};

// Generated payloads are windows of one pattern, so that a frame of a megabyte costs a copy, not a loop.
const std::vector<uint8_t>& Pattern() {
    static const std::vector<uint8_t> pattern = [] {
        std::vector<uint8_t> p(kMaxFramePayload + 256);
        for (size_t i = 0; i < p.size(); ++i)
            p[i] = static_cast<uint8_t>(i * 131u + (i >> 8));
        return p;
    }();
    return pattern;
}

// What one input may add up to, so that every run stays quick.
constexpr size_t kMaxStream = 8u << 20;

// A socket whose peer has written `stream` and closed, delivering at most the current piece size per
// receive; the piece sizes cycle through those the script gave.
class CScriptedSocket : public CSocketTCP {
public:
    CScriptedSocket(const std::vector<uint8_t>& stream, std::vector<int> pieces)
        : m_Stream(stream), m_Pieces(std::move(pieces)) {}
    int Receive(void* buffer, int length) override {
        if (m_nPos == m_Stream.size()) {
            SetLastSocketError(WSAEDISCON);
            return 0;
        }
        // Tiny pieces for the first receives only: a megabyte a byte at a time finds nothing more and
        // would make the run take seconds.
        const int piece =
            m_Pieces.empty() || m_nNext >= kSmallPieceReceives ? 1460 : m_Pieces[m_nNext++ % m_Pieces.size()];
        const size_t n =
            std::min({static_cast<size_t>(length), static_cast<size_t>(piece), m_Stream.size() - m_nPos});
        std::memcpy(buffer, m_Stream.data() + m_nPos, n);
        m_nPos += n;
        return static_cast<int>(n);
    }
    int ReceiveAll(void* buffer, int length) override {
        auto* p = static_cast<uint8_t*>(buffer);
        int got = 0;
        while (got < length) {
            const int r = Receive(p + got, length - got);
            if (r <= 0)
                return -1;
            got += r;
        }
        return length;
    }
    bool WaitReadable(int) override { return true; }

private:
    static constexpr size_t kSmallPieceReceives = 16384;
    const std::vector<uint8_t>& m_Stream;
    std::vector<int> m_Pieces;
    size_t m_nPos = 0;
    size_t m_nNext = 0;
};

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

}  // namespace

// Frames of a megabyte make each run slow: the replay in the test suite takes fewer generated inputs.
extern "C" int VpReplayGeneratedInputs() {
    return 200;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    static const size_t kSizes[] = {CReadAhead::kDefaultBytes, 4096, 64, 31};
    CReadAhead readAhead(kSizes[data[0] % 4]);

    std::vector<uint8_t> stream;
    std::vector<SExpected> expected;
    std::vector<int> pieces;
    // What first made the rest of the stream unpredictable.
    enum class EBreak { None, RawBytes, TooLong } broken = EBreak::None;
    size_t at = 1;
    auto take = [&](size_t n) {
        const uint8_t* p = data + at;
        at += n;
        return p;
    };
    while (at < size) {
        const uint8_t op = *take(1);
        switch (op % 4) {
            case 0: {  // a small frame with its payload from the input
                if (size - at < 3)
                    return 0;
                const uint8_t* h = take(3);
                const size_t n = std::min<size_t>(h[2], size - at);
                SExpected e{h[0], static_cast<uint32_t>(h[1]) << (op & 0x18), data + at, n};
                at += n;
                CByteBuffer frame;
                BuildFrame(frame, e.channel, e.tag, e.payload, static_cast<uint32_t>(n), "1001", op & 0x80);
                stream.insert(stream.end(), frame.Data(), frame.Data() + frame.Size());
                if (broken == EBreak::None)
                    expected.push_back(std::move(e));
                break;
            }
            case 1: {  // a large frame, its payload generated
                if (size - at < 4)
                    return 0;
                const uint8_t* h = take(4);
                const uint32_t length = (static_cast<uint32_t>(h[1]) << 8 | h[2]) * 17u + h[3];
                if (stream.size() + length > kMaxStream)
                    break;
                uint8_t header[kFrameHeaderSize];
                BuildFrameHeader(header, h[0], length, "1002", length, false);
                stream.insert(stream.end(), header, header + kFrameHeaderSize);
                if (length > kMaxFramePayload) {
                    if (broken == EBreak::None)
                        broken = EBreak::TooLong;
                    break;
                }
                SExpected e{h[0], length, Pattern().data() + length % 256, length};
                stream.insert(stream.end(), e.payload, e.payload + length);
                if (broken == EBreak::None)
                    expected.push_back(std::move(e));
                break;
            }
            case 2: {  // how much the socket delivers per receive from now on
                if (size - at < 2)
                    return 0;
                const uint8_t* h = take(2);
                pieces.push_back(1 + (h[0] << 8 | h[1]));
                break;
            }
            default: {  // raw bytes
                const size_t n = std::min<size_t>(op >> 2, size - at);
                stream.insert(stream.end(), data + at, data + at + n);
                at += n;
                if (broken == EBreak::None && n > 0)
                    broken = EBreak::RawBytes;
            }
        }
    }

    CScriptedSocket socket(stream, pieces);
    std::map<uint8_t, std::unique_ptr<CChannel>> channels;
    std::map<uint8_t, std::deque<size_t>> inRing;  // per channel, the indexes of the frames it holds
    auto drain = [&](uint8_t id) {
        uint32_t tag;
        CByteBuffer out;
        while (channels[id]->PopReceived(tag, out)) {
            Check(!inRing[id].empty());
            const SExpected& e = expected[inRing[id].front()];
            inRing[id].pop_front();
            Check(tag == e.tag && out.Size() == e.size &&
                  (e.size == 0 || std::memcmp(out.Data(), e.payload, e.size) == 0));
        }
    };

    SFrameHeader header;
    CByteBuffer payload;
    size_t index = 0;
    for (;;) {
        const EFrameRead r =
            ReadFrame([&](void* p, int n) { return readAhead.Read(socket, p, n); }, header, payload);
        if (r != EFrameRead::Ok) {
            // Every predicted frame came first; a clean stream ends with its end, and an over-long
            // length right after the predicted frames is reported as corrupt.
            Check(index >= expected.size());
            if (broken == EBreak::None)
                Check(index == expected.size() && r == EFrameRead::ReadFailed);
            if (broken == EBreak::TooLong && index == expected.size())
                Check(r == EFrameRead::TooLong);
            break;
        }
        if (index < expected.size()) {
            const SExpected& e = expected[index];
            Check(header.channel == e.channel && header.tag == e.tag && payload.Size() == e.size);
            Check(e.size == 0 || std::memcmp(payload.Data(), e.payload, e.size) == 0);
        }
        auto& channel = channels[header.channel];
        if (!channel)
            channel = std::make_unique<CChannel>(header.channel, false);
        const bool predicted = index < expected.size();
        if (!predicted)
            drain(header.channel);  // what the ring holds is checked; this frame is not compared
        if (!channel->PushReceived(header.tag, payload.Data(), payload.Size())) {
            drain(header.channel);
            Check(channel->PushReceived(header.tag, payload.Data(), payload.Size()));
        }
        if (predicted) {
            inRing[header.channel].push_back(index);
        } else {
            uint32_t tag;
            CByteBuffer out;
            Check(channel->PopReceived(tag, out) && tag == header.tag && out.Size() == payload.Size());
        }
        ++index;
    }
    for (auto& [id, channel] : channels)
        drain(id);
    return 0;
}
