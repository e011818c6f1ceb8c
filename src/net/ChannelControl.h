// CChannelControl: channel 0. One send operation per control message: each builds the record and
// queues it without waiting (behind the ring when it is full). True once queued.
#pragma once

#include <string_view>

#include "net/Channel.h"
#include "net/Protocol.h"

class CChannelControl : public CChannel {
public:
    CChannelControl() : CChannel(kChannelControl, true) {}

    bool SendLogin(std::string_view ntv, std::string_view password, std::string_view localAddress,
                   std::string_view version, uint32_t value);
    bool SendPing();
    bool SendCallRequest();
    bool SendCallAccept(uint32_t callId);
    bool SendHangup();
    bool SendCallSetup(std::string_view ntv, std::string_view displayName, std::string_view calledNtv,
                       uint32_t callId);
    // `record` is a received MSG_CALL_SETUP (328 bytes) whose byte 327 the caller has set to the reason.
    bool SendCallRefused(const uint8_t* record, size_t size);
    bool SendCallConnected();
    bool SendContactAdd(std::string_view ntv, std::string_view name);
    bool SendContactRemove(std::string_view ntv);
    bool SendContactStatus(std::string_view ntv);
    bool SendContactsRequest();
    bool SendCallEnd();
    bool SendStatus(char letter);
    bool SendVideoFormat(const SBitmapInfoHeader& header);
    bool SendVideoStop();
    bool SendVideoKeyframeRequest();

    // Queues any record (the server's replies use this too).
    bool SendRecord(const Bytes& record, uint32_t tag = kTagControl);
};
