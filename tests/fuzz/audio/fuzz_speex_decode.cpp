// Received audio frames: any encoded bytes decode within the input and the scratch area.
#include <cstddef>
#include <cstdint>

#include "audio/SpeexCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CSpeexCodec* codec = [] {
        auto* c = new CSpeexCodec;
        c->OpenDecoder();
        return c;
    }();
    CByteBuffer in;
    in.SetSize(0);
    in.Append(data, size);
    CByteBuffer out;
    const int n = codec->Decode(in, out);
    // Every frame taken costs at least its length byte, so the output is bounded by the input.
    if (n < 0 || static_cast<size_t>(n) > size * 320 || static_cast<size_t>(n) != out.Size())
        __builtin_trap();
    return 0;
}
