#include "net/ChannelControl.h"

bool CChannelControl::SendRecord(const Bytes& record, uint32_t tag) {
    return PushSendQueued(tag, record.data(), record.size());
}

bool CChannelControl::SendLogin(std::string_view ntv, std::string_view password,
                                std::string_view localAddress, std::string_view version, uint32_t value) {
    return SendRecord(BuildLogin(ntv, password, localAddress, version, value), value);
}

bool CChannelControl::SendPing() {
    return SendRecord(BuildShortRecord(MSG_PING));
}
bool CChannelControl::SendCallRequest() {
    return SendRecord(BuildCallIdRecord(MSG_CALL_REQUEST, 0));
}
bool CChannelControl::SendCallAccept(uint32_t callId) {
    return SendRecord(BuildCallIdRecord(MSG_CALL_ACCEPT, callId));
}
bool CChannelControl::SendHangup() {
    return SendRecord(BuildShortRecord(MSG_HANGUP));
}

bool CChannelControl::SendCallSetup(std::string_view ntv, std::string_view displayName,
                                    std::string_view calledNtv, uint32_t callId) {
    return SendRecord(BuildCallSetup(callId, ntv, displayName, calledNtv));
}

bool CChannelControl::SendCallRefused(const uint8_t* record, size_t size) {
    Bytes out;
    if (!BuildCallRefused(record, size, size == kCallSetupSize ? record[327] : 0, out))
        return false;
    return SendRecord(out);
}

bool CChannelControl::SendCallConnected() {
    return SendRecord(BuildShortRecord(MSG_CALL_CONNECTED));
}
bool CChannelControl::SendContactAdd(std::string_view ntv, std::string_view name) {
    return SendRecord(BuildContactRecord(MSG_CONTACT_ADD, ntv, name));
}
bool CChannelControl::SendContactRemove(std::string_view ntv) {
    return SendRecord(BuildContactRemove(ntv));
}
bool CChannelControl::SendContactStatus(std::string_view ntv) {
    return SendRecord(BuildContactStatusQuery(ntv));
}
bool CChannelControl::SendContactsRequest() {
    return SendRecord(BuildShortRecord(MSG_CONTACTS));
}
bool CChannelControl::SendCallEnd() {
    return SendRecord(BuildShortRecord(MSG_CALL_END));
}
bool CChannelControl::SendStatus(char letter) {
    return SendRecord(BuildSetStatus(letter));
}
bool CChannelControl::SendVideoFormat(const SBitmapInfoHeader& header) {
    return SendRecord(BuildVideoFormat(header));
}
bool CChannelControl::SendVideoStop() {
    return SendRecord(BuildShortRecord(MSG_VIDEO_STOP));
}
bool CChannelControl::SendVideoKeyframeRequest() {
    return SendRecord(BuildShortRecord(MSG_VIDEO_KEYFRAME));
}
