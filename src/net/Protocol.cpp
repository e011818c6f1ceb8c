#include "net/Protocol.h"

#include <algorithm>
#include <cstring>

#include "platform/Ascii.h"

namespace {

void PutText(Bytes& out, size_t offset, std::string_view text, size_t maxChars) {
    const size_t n = std::min(text.size(), maxChars);
    if (n > 0)
        std::memcpy(out.data() + offset, text.data(), n);
}

// The text of a field: up to its first NUL, the field's width or the record's end, whichever is first.
std::string GetText(const uint8_t* data, size_t size, size_t offset, size_t width) {
    if (offset >= size)
        return {};
    const size_t avail = std::min(width, size - offset);
    const char* p = reinterpret_cast<const char*>(data + offset);
    return std::string(p, strnlen(p, avail));
}

void PutLE32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t GetLE32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void PutLE16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

uint16_t GetLE16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

bool HasCode(const uint8_t* data, size_t size, size_t minSize, uint8_t code) {
    return data != nullptr && size >= minSize && data[0] == code;
}

}  // namespace

// ---- login -----------------------------------------------------------------------------------------

Bytes BuildLogin(std::string_view ntv, std::string_view password, std::string_view localAddress,
                 std::string_view version, uint32_t value) {
    Bytes out(kLoginSize, 0);
    out[0] = MSG_LOGIN;
    PutText(out, 1, ntv, kNtvMax);
    PutText(out, 17, password, kPasswordMax);
    PutText(out, 68, localAddress, kLocalAddressMax);
    PutText(out, 85, version, kVersionMax);
    PutLE32(out.data() + 96, value);
    return out;
}

bool ParseLogin(const uint8_t* data, size_t size, SLogin& out) {
    if (!HasCode(data, size, kLoginSize, MSG_LOGIN))
        return false;
    out.ntv = GetText(data, size, 1, kNtvMax + 1);
    out.password = GetText(data, size, 17, kPasswordMax + 1);
    out.localAddress = GetText(data, size, 68, kLocalAddressMax + 1);
    out.version = GetText(data, size, 85, kVersionMax + 1);
    out.value = GetLE32(data + 96);
    return true;
}

// ---- small records ---------------------------------------------------------------------------------

Bytes BuildShortRecord(uint8_t code) {
    return Bytes{code, 0};
}

Bytes BuildCallIdRecord(uint8_t code, uint32_t callId) {
    Bytes out(kCallIdRecordSize, 0);
    out[0] = code;
    PutLE32(out.data() + 1, callId);
    return out;
}

bool ParseCallIdRecord(const uint8_t* data, size_t size, uint32_t& callId) {
    if (data == nullptr || size < kCallIdRecordSize)
        return false;
    callId = GetLE32(data + 1);
    return true;
}

// ---- call set-up -----------------------------------------------------------------------------------

Bytes BuildCallSetup(uint32_t callId, std::string_view callerNtv, std::string_view callerName,
                     std::string_view calledNtv) {
    Bytes out(kCallSetupSize, 0);
    out[0] = MSG_CALL_SETUP;
    PutLE32(out.data() + 1, callId);
    PutText(out, 22, callerNtv, kNtvMax);
    PutText(out, 38, callerName, kNameMax);
    PutText(out, 311, calledNtv, kNtvMax);
    return out;
}

bool ParseCallSetup(const uint8_t* data, size_t size, SCallSetup& out) {
    if (data == nullptr || size < kCallSetupSize)
        return false;
    out.callId = GetLE32(data + 1);
    out.callerNtv = GetText(data, size, 22, kNtvMax + 1);
    out.callerName = GetText(data, size, 38, kNameMax + 1);
    out.calledNtv = GetText(data, size, 311, kNtvMax + 1);
    out.reason = data[327];
    return true;
}

bool BuildCallRefused(const uint8_t* setup, size_t size, uint8_t reason, Bytes& out) {
    if (setup == nullptr || size != kCallSetupSize)
        return false;
    out.assign(setup, setup + size);
    out[0] = MSG_CALL_REFUSED;
    out[327] = reason;
    return true;
}

// ---- contacts --------------------------------------------------------------------------------------

Bytes BuildContactRecord(uint8_t code, std::string_view ntv, std::string_view name) {
    Bytes out(kContactSize, 0);
    out[0] = code;
    PutText(out, 1, ntv, kNtvMax);
    PutText(out, 17, name, kNameMax);
    return out;
}

bool ParseContactRecord(const uint8_t* data, size_t size, SContact& out) {
    if (data == nullptr || size < kContactSize)
        return false;
    out.ntv = GetText(data, size, 1, kNtvMax + 1);
    out.name = GetText(data, size, 17, kNameMax + 1);
    return true;
}

Bytes BuildContactRemove(std::string_view ntv) {
    return BuildContactRecord(MSG_CONTACT_REMOVE, ntv, {});
}

Bytes BuildContactStatusQuery(std::string_view ntv) {
    Bytes out(kContactStatusSize, 0);
    out[0] = MSG_CONTACT_STATUS;
    PutText(out, 1, ntv, kNtvMax);
    return out;
}

bool ParseContactNtv(const uint8_t* data, size_t size, std::string& ntv) {
    if (data == nullptr || size < 1 + kNtvMax + 1)
        return false;
    ntv = GetText(data, size, 1, kNtvMax + 1);
    return true;
}

Bytes BuildContactStatus(std::string_view ntv, char status) {
    Bytes out = BuildContactStatusQuery(ntv);
    out[273] = static_cast<uint8_t>(status);
    return out;
}

bool ParseContactStatus(const uint8_t* data, size_t size, SContactStatus& out) {
    if (data == nullptr || size < 274)
        return false;
    // The NTV runs to its NUL; it can be no longer than the bytes before the status letter.
    out.ntv = GetText(data, size, 1, 272);
    out.status = static_cast<char>(data[273]);
    return true;
}

// ---- status and video format -----------------------------------------------------------------------

Bytes BuildSetStatus(char letter) {
    return Bytes{MSG_SET_STATUS, static_cast<uint8_t>(letter)};
}

bool ParseSetStatus(const uint8_t* data, size_t size, char& letter) {
    if (data == nullptr || size < kShortRecordSize)
        return false;
    letter = static_cast<char>(data[1]);
    return true;
}

Bytes BuildVideoFormat(const SBitmapInfoHeader& h) {
    Bytes out(kVideoFormatSize, 0);
    out[0] = MSG_VIDEO_FORMAT;
    uint8_t* p = out.data() + 1;
    PutLE32(p + 0, h.biSize);
    PutLE32(p + 4, static_cast<uint32_t>(h.biWidth));
    PutLE32(p + 8, static_cast<uint32_t>(h.biHeight));
    PutLE16(p + 12, h.biPlanes);
    PutLE16(p + 14, h.biBitCount);
    PutLE32(p + 16, h.biCompression);
    PutLE32(p + 20, h.biSizeImage);
    PutLE32(p + 24, static_cast<uint32_t>(h.biXPelsPerMeter));
    PutLE32(p + 28, static_cast<uint32_t>(h.biYPelsPerMeter));
    PutLE32(p + 32, h.biClrUsed);
    PutLE32(p + 36, h.biClrImportant);
    return out;
}

bool ParseVideoFormat(const uint8_t* data, size_t size, SBitmapInfoHeader& h) {
    if (data == nullptr || size < kVideoFormatSize)
        return false;
    const uint8_t* p = data + 1;
    h.biSize = GetLE32(p + 0);
    h.biWidth = static_cast<int32_t>(GetLE32(p + 4));
    h.biHeight = static_cast<int32_t>(GetLE32(p + 8));
    h.biPlanes = GetLE16(p + 12);
    h.biBitCount = GetLE16(p + 14);
    h.biCompression = GetLE32(p + 16);
    h.biSizeImage = GetLE32(p + 20);
    h.biXPelsPerMeter = static_cast<int32_t>(GetLE32(p + 24));
    h.biYPelsPerMeter = static_cast<int32_t>(GetLE32(p + 28));
    h.biClrUsed = GetLE32(p + 32);
    h.biClrImportant = GetLE32(p + 36);
    return true;
}

// ---- server records --------------------------------------------------------------------------------

Bytes BuildLoginError(uint8_t reason) {
    return Bytes{MSG_LOGIN_ERROR, reason};
}

bool ParseLoginError(const uint8_t* data, size_t size, uint8_t& reason) {
    if (data == nullptr || size < 2)
        return false;
    reason = data[1];
    return true;
}

Bytes BuildUserInfo(std::string_view directoryAddress, std::string_view helpAddress,
                    std::string_view displayName) {
    Bytes out(kUserInfoSize, 0);
    out[0] = MSG_USER_INFO;
    PutText(out, 1, directoryAddress, kAddressFieldSize - 1);
    PutText(out, 202, helpAddress, kAddressFieldSize - 1);
    PutText(out, 403, displayName, kNameMax);
    return out;
}

bool ParseUserInfo(const uint8_t* data, size_t size, SUserInfo& out) {
    if (data == nullptr || size < 404)
        return false;
    out.directoryAddress = GetText(data, size, 1, kAddressFieldSize);
    out.helpAddress = GetText(data, size, 202, kAddressFieldSize);
    out.displayName = GetText(data, size, 403, kNameMax + 1);
    return true;
}

std::string AbsoluteUserInfoAddress(std::string_view address, std::string_view serverHost) {
    if (ascii::StartsWithNoCase(address, "http"))
        return std::string(address);
    return "http://" + std::string(serverHost) + std::string(address);
}

// ---- text ------------------------------------------------------------------------------------------

Bytes BuildText(std::string_view text) {
    const auto n = static_cast<uint32_t>(text.size());
    Bytes out(4 + text.size() + 1, 0);
    out[0] = static_cast<uint8_t>(n >> 24);
    out[1] = static_cast<uint8_t>(n >> 16);
    out[2] = static_cast<uint8_t>(n >> 8);
    out[3] = static_cast<uint8_t>(n);
    if (!text.empty())
        std::memcpy(out.data() + 4, text.data(), text.size());
    return out;
}

bool ParseText(const uint8_t* data, size_t size, std::string& text) {
    if (data == nullptr || size < 4)
        return false;
    const uint32_t n =
        (uint32_t{data[0]} << 24) | (uint32_t{data[1]} << 16) | (uint32_t{data[2]} << 8) | data[3];
    text = GetText(data, size, 4, n);
    return true;
}

// ---- audio and video -------------------------------------------------------------------------------

Bytes BuildAudio(uint32_t counter, const uint8_t* encoded, uint32_t encodedLength, uint32_t rawLength) {
    Bytes out(kAudioHeaderSize + encodedLength, 0);
    PutLE32(out.data(), counter);
    PutLE32(out.data() + 4, encodedLength);
    PutLE32(out.data() + 8, rawLength);
    if (encodedLength > 0)
        std::memcpy(out.data() + kAudioHeaderSize, encoded, encodedLength);
    return out;
}

bool ParseAudio(const uint8_t* data, size_t size, SAudioFrame& out) {
    if (data == nullptr || size < kAudioHeaderSize)
        return false;
    const uint32_t stated = GetLE32(data + 4);
    const size_t carried = size - kAudioHeaderSize;
    out.truncated = stated > carried;
    out.counter = GetLE32(data);
    out.encodedLength = out.truncated ? static_cast<uint32_t>(carried) : stated;
    out.rawLength = GetLE32(data + 8);
    out.encoded = data + kAudioHeaderSize;
    return true;
}

void WriteVideoHeader(uint8_t* out, uint32_t encodedLength, uint32_t decodedSize, bool keyFrame) {
    PutLE32(out, encodedLength);
    PutLE32(out + 4, decodedSize);
    out[8] = keyFrame ? 1 : 0;
}

Bytes BuildVideo(const uint8_t* encoded, uint32_t encodedLength, uint32_t decodedSize, bool keyFrame) {
    Bytes out(kVideoHeaderSize + encodedLength, 0);
    WriteVideoHeader(out.data(), encodedLength, decodedSize, keyFrame);
    if (encodedLength > 0)
        std::memcpy(out.data() + kVideoHeaderSize, encoded, encodedLength);
    return out;
}

bool ParseVideo(const uint8_t* data, size_t size, SVideoFrame& out) {
    if (data == nullptr || size < kVideoHeaderSize)
        return false;
    const uint32_t e = GetLE32(data);
    if (e > size - kVideoHeaderSize)
        return false;
    out.encodedLength = e;
    out.decodedSize = GetLE32(data + 4);
    out.keyFrame = data[8] != 0;
    out.encoded = data + kVideoHeaderSize;
    return true;
}
