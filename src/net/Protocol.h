// Every payload carried in frames: control records (channel 0), chat lines (channel 1), audio (2) and
// video (4). Builders return the exact wire bytes; parsers check the length before reading any field
// and return false for a record too short to hold what they read. Text fields are NUL-padded and cut
// to their limit; integers are little-endian except the chat line length (big-endian).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Channel numbers.
constexpr uint8_t kChannelControl = 0;
constexpr uint8_t kChannelText = 1;
constexpr uint8_t kChannelAudio = 2;
constexpr uint8_t kChannelVideo = 4;

// Frame tags by kind of message.
constexpr uint32_t kTagControl = 0;
constexpr uint32_t kTagVideo = 4;

// Control message codes (first payload byte).
enum : uint8_t {
    MSG_LOGIN = 1,
    MSG_LOGIN_OK = 3,
    MSG_LOGIN_ERROR = 4,
    MSG_NEW_VERSION = 5,
    MSG_PING = 8,
    MSG_USER_INFO = 9,
    MSG_CALL_REQUEST = 10,
    MSG_CALL_ID = 11,
    MSG_CALL_ACCEPT = 13,
    MSG_CALL_ACCEPTED = 14,
    MSG_CALL_ABORT = 15,
    MSG_HANGUP = 16,
    MSG_CALL_SETUP = 17,
    MSG_CALL_REFUSED = 18,
    MSG_CALL_CONNECTED = 19,
    MSG_CONTACT_ADD = 33,
    MSG_CONTACT_REMOVE = 34,
    MSG_CONTACT_STATUS = 35,
    MSG_CONTACTS = 37,
    MSG_CALL_END = 46,
    MSG_SET_STATUS = 48,
    MSG_VIDEO_FORMAT = 49,
    MSG_VIDEO_STOP = 50,
    MSG_VIDEO_KEYFRAME = 51,
};

// Reasons of MSG_LOGIN_ERROR and MSG_CALL_REFUSED.
constexpr uint8_t kLoginErrorCredentials = 2;
constexpr uint8_t kLoginErrorAlreadyConnected = 8;
constexpr uint8_t kRefusedByUser = 0;
constexpr uint8_t kRefusedBusy = 17;
constexpr uint8_t kRefusedNoAnswer = 18;

// Record sizes.
constexpr size_t kLoginSize = 100;
constexpr size_t kShortRecordSize = 2;   // code and one byte: ping, hang-up, connected, ...
constexpr size_t kCallIdRecordSize = 5;  // code and a u32: call request, call id, call accept
constexpr size_t kUserInfoSize = 659;    // two 201-byte addresses at 1 and 202, the name field at 403
constexpr size_t kCallSetupSize = 328;
constexpr size_t kContactSize = 273;
constexpr size_t kContactStatusSize = 276;
constexpr size_t kVideoFormatSize = 41;
constexpr size_t kBitmapInfoHeaderSize = 40;

constexpr const char* kClientVersion = "0200003";
constexpr size_t kNtvMax = 15;
constexpr size_t kPasswordMax = 50;
constexpr size_t kLocalAddressMax = 16;
constexpr size_t kVersionMax = 10;
constexpr size_t kNameMax = 255;
constexpr size_t kAddressFieldSize = 201;

// ---- client → server -------------------------------------------------------------------------------

struct SLogin {
    std::string ntv, password, localAddress, version;
    uint32_t value = 0;
};
Bytes BuildLogin(std::string_view ntv, std::string_view password, std::string_view localAddress,
                 std::string_view version, uint32_t value);
bool ParseLogin(const uint8_t* data, size_t size, SLogin& out);

// Records of one code byte and a zero (ping, hang-up, call connected, call end, contacts request,
// video stop, key frame request; also login ok, new version, call accepted, call abort from the server).
Bytes BuildShortRecord(uint8_t code);

// Code and a u32 (call request with 0, call id, call accept).
Bytes BuildCallIdRecord(uint8_t code, uint32_t callId);
bool ParseCallIdRecord(const uint8_t* data, size_t size, uint32_t& callId);

struct SCallSetup {
    uint32_t callId = 0;
    std::string callerNtv, callerName, calledNtv;
    uint8_t reason = 0;
};
Bytes BuildCallSetup(uint32_t callId, std::string_view callerNtv, std::string_view callerName,
                     std::string_view calledNtv);
bool ParseCallSetup(const uint8_t* data, size_t size, SCallSetup& out);
// The received set-up record sent back with only byte 0 (MSG_CALL_REFUSED) and byte 327 (reason)
// changed. False when the record is not 328 bytes long.
bool BuildCallRefused(const uint8_t* setup, size_t size, uint8_t reason, Bytes& out);

struct SContact {
    std::string ntv, name;
};
// MSG_CONTACT_ADD (also MSG_CONTACTS from the server: one stored contact).
Bytes BuildContactRecord(uint8_t code, std::string_view ntv, std::string_view name);
bool ParseContactRecord(const uint8_t* data, size_t size, SContact& out);
// MSG_CONTACT_REMOVE (273 bytes) and the client's MSG_CONTACT_STATUS query (276 bytes).
Bytes BuildContactRemove(std::string_view ntv);
Bytes BuildContactStatusQuery(std::string_view ntv);
// The NTV of a remove or status query record.
bool ParseContactNtv(const uint8_t* data, size_t size, std::string& ntv);

Bytes BuildSetStatus(char letter);
bool ParseSetStatus(const uint8_t* data, size_t size, char& letter);

// The platform bitmap header, field by field in its published order, little-endian.
struct SBitmapInfoHeader {
    uint32_t biSize = kBitmapInfoHeaderSize;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
    bool operator==(const SBitmapInfoHeader&) const = default;
};
Bytes BuildVideoFormat(const SBitmapInfoHeader& header);
bool ParseVideoFormat(const uint8_t* data, size_t size, SBitmapInfoHeader& out);

// ---- server → client -------------------------------------------------------------------------------

Bytes BuildLoginError(uint8_t reason);
bool ParseLoginError(const uint8_t* data, size_t size, uint8_t& reason);

struct SUserInfo {
    std::string directoryAddress, helpAddress, displayName;
};
Bytes BuildUserInfo(std::string_view directoryAddress, std::string_view helpAddress,
                    std::string_view displayName);
// Needs at least 404 bytes; every text ends at its NUL, its field's end or the record's end.
bool ParseUserInfo(const uint8_t* data, size_t size, SUserInfo& out);

// A directory or help address as the client opens it: kept when it begins with "http" in any case,
// otherwise "http://" + the configured server host + the text, joined as they stand.
std::string AbsoluteUserInfoAddress(std::string_view address, std::string_view serverHost);

struct SContactStatus {
    std::string ntv;
    char status = 'D';
};
Bytes BuildContactStatus(std::string_view ntv, char status);
bool ParseContactStatus(const uint8_t* data, size_t size, SContactStatus& out);

// ---- channel 1: chat lines -------------------------------------------------------------------------

// Length (big-endian), the text, a terminating 0.
Bytes BuildText(std::string_view text);
// The text from offset 4 up to its terminator, bounded by the stated length and the record's end.
bool ParseText(const uint8_t* data, size_t size, std::string& text);

// ---- channel 2: audio ------------------------------------------------------------------------------

constexpr size_t kAudioHeaderSize = 12;
struct SAudioFrame {
    uint32_t counter = 0;              // talk-spurt counter; 0 ends a spurt
    uint32_t rawLength = 0;            // bytes of raw sound that were encoded
    const uint8_t* encoded = nullptr;  // points into the parsed record
    uint32_t encodedLength = 0;
    bool truncated = false;  // the stated encoded length ran past the record and was cut to it
};
Bytes BuildAudio(uint32_t counter, const uint8_t* encoded, uint32_t encodedLength, uint32_t rawLength);
// False only when the record is shorter than its header. A stated encoded length that runs past the
// record is trusted only as far as the record reaches (`truncated` tells), so the header fields of a
// damaged packet still reach the playback start-up rule.
bool ParseAudio(const uint8_t* data, size_t size, SAudioFrame& out);

// ---- channel 4: video ------------------------------------------------------------------------------

constexpr size_t kVideoHeaderSize = 9;
struct SVideoFrame {
    uint32_t decodedSize = 0;
    bool keyFrame = false;
    const uint8_t* encoded = nullptr;  // points into the parsed record
    uint32_t encodedLength = 0;
};
// The 9-byte header in front of the encoded bytes, written at `out` (for a sender that encodes straight
// into the record after it).
void WriteVideoHeader(uint8_t* out, uint32_t encodedLength, uint32_t decodedSize, bool keyFrame);
Bytes BuildVideo(const uint8_t* encoded, uint32_t encodedLength, uint32_t decodedSize, bool keyFrame);
bool ParseVideo(const uint8_t* data, size_t size, SVideoFrame& out);
