// Every parser of received payloads over the same bytes, from an exact-size copy so any read past the
// record's end is caught.
#include <cstring>
#include <memory>
#include <string>

#include "net/Protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto copy = std::make_unique<uint8_t[]>(size + 1);
    if (size > 0)
        std::memcpy(copy.get(), data, size);
    const uint8_t* p = size > 0 ? copy.get() : nullptr;

    SLogin login;
    ParseLogin(p, size, login);
    uint32_t id;
    ParseCallIdRecord(p, size, id);
    SCallSetup setup;
    if (ParseCallSetup(p, size, setup)) {
        if (setup.callerNtv.size() > 16 || setup.callerName.size() > 256 || setup.calledNtv.size() > 16) {
            __builtin_trap();
        }
    }
    Bytes refused;
    if (BuildCallRefused(p, size, kRefusedBusy, refused) && refused.size() != kCallSetupSize)
        __builtin_trap();
    SContact contact;
    ParseContactRecord(p, size, contact);
    std::string text;
    ParseContactNtv(p, size, text);
    char letter;
    ParseSetStatus(p, size, letter);
    SBitmapInfoHeader bih;
    ParseVideoFormat(p, size, bih);
    uint8_t reason;
    ParseLoginError(p, size, reason);
    SUserInfo info;
    ParseUserInfo(p, size, info);
    SContactStatus status;
    ParseContactStatus(p, size, status);
    if (ParseText(p, size, text) && text.size() + 4 > size)
        __builtin_trap();
    SAudioFrame audio;
    if (ParseAudio(p, size, audio) && audio.encoded + audio.encodedLength > p + size)
        __builtin_trap();
    SVideoFrame video;
    if (ParseVideo(p, size, video) && video.encoded + video.encodedLength > p + size)
        __builtin_trap();
    return 0;
}
