#include "LoadPeer.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "net/Protocol.h"

namespace {

uint64_t NowNs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

Bytes Frame(uint8_t channel, const Bytes& payload) {
    Bytes frame(kFrameHeaderSize + payload.size());
    BuildFrameHeader(frame.data(), channel, static_cast<uint32_t>(payload.size()), "", 0, false);
    std::copy(payload.begin(), payload.end(), frame.begin() + kFrameHeaderSize);
    return frame;
}

// An audio message of a usual size (160 encoded bytes) whose first encoded bytes carry the send time.
Bytes TimedAudio(uint32_t counter) {
    Bytes encoded(160, 0x2a);
    uint64_t t = NowNs();
    std::memcpy(encoded.data(), &t, sizeof t);
    return BuildAudio(counter, encoded.data(), static_cast<uint32_t>(encoded.size()), 1600);
}

uint64_t SentAt(const Bytes& audioPayload) {
    uint64_t t = 0;
    if (audioPayload.size() >= kAudioHeaderSize + sizeof t) {
        std::memcpy(&t, audioPayload.data() + kAudioHeaderSize, sizeof t);
    }
    return t;
}

}  // namespace

int EnvInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && std::atoi(v) > 0 ? std::atoi(v) : fallback;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

void CPeer::Begin() {
    asio::error_code ec;
    m_Socket.set_option(asio::ip::tcp::no_delay(true), ec);
    Read();
}

void CPeer::Send(Bytes frame) {
    m_Queue.push_back(std::move(frame));
    Write();
}

void CPeer::Control(const Bytes& record) {
    Send(Frame(kChannelControl, record));
}

void CPeer::Poll() {
    for (const auto& c : contacts) {
        Control(BuildContactStatusQuery(c));
        if (m_Stats.measuring)
            ++m_Stats.queriesSent;
    }
}

void CPeer::SendAudio() {
    Send(Frame(m_eRole == ERole::Probe ? 9 : kChannelAudio, TimedAudio(++m_nCounter)));
    if (m_Stats.measuring && m_eRole != ERole::Probe)
        ++m_Stats.audioSent;
}

void CPeer::Read() {
    m_Socket.async_read_some(asio::buffer(m_Buffer),
                             [self = shared_from_this()](asio::error_code ec, size_t n) {
                                 if (ec)
                                     return;
                                 self->m_Splitter.Append(self->m_Buffer, n);
                                 SFrameHeader h;
                                 Bytes f;
                                 while (self->m_Splitter.Next(h, f) == CFrameSplitter::EResult::Frame)
                                     self->Handle(h, f);
                                 self->Read();
                             });
}

void CPeer::Handle(const SFrameHeader& h, Bytes& frame) {
    Bytes payload(frame.begin() + kFrameHeaderSize, frame.end());
    if (m_eRole == ERole::Echo) {
        Send(std::move(frame));
        return;
    }
    if (m_eRole == ERole::Probe) {
        if (m_Stats.collecting)
            m_Stats.loopbackUs.push_back(static_cast<double>(NowNs() - SentAt(payload)) / 1000.0);
        return;
    }
    if (h.channel == kChannelAudio) {
        if (m_Stats.collecting) {
            ++m_Stats.audioReceived;
            m_Stats.relayUs.push_back(static_cast<double>(NowNs() - SentAt(payload)) / 1000.0);
        }
        return;
    }
    if (h.channel != kChannelControl || payload.empty())
        return;
    switch (payload[0]) {
        case MSG_PING:
            Control(BuildShortRecord(MSG_PING));
            break;
        case MSG_LOGIN_OK:
            ++m_Stats.loggedIn;
            break;
        case MSG_CONTACT_STATUS:
            if (m_Stats.collecting)
                ++m_Stats.queryReplies;
            break;
        case MSG_CALL_ID: {
            uint32_t id = 0;
            ParseCallIdRecord(payload.data(), payload.size(), id);
            Control(BuildCallSetup(id, strNtv, "bench", strPeerNtv));
            break;
        }
        case MSG_CALL_SETUP: {
            SCallSetup setup;
            if (ParseCallSetup(payload.data(), payload.size(), setup)) {
                Control(BuildCallIdRecord(MSG_CALL_ACCEPT, setup.callId));
            }
            break;
        }
        case MSG_CALL_ACCEPTED:
            bInCall = true;
            Control(BuildShortRecord(MSG_CALL_CONNECTED));
            break;
        case MSG_CALL_CONNECTED:
            bInCall = true;
            ++m_Stats.established;
            break;
        case MSG_CALL_REFUSED:
            // A call that can never carry audio: counted, so the set-up wait ends.
            ++m_Stats.refused;
            break;
        default:
            break;
    }
}

void CPeer::Write() {
    if (m_bWriting || m_Queue.empty())
        return;
    m_bWriting = true;
    m_Out = std::move(m_Queue.front());
    m_Queue.pop_front();
    asio::async_write(m_Socket, asio::buffer(m_Out),
                      [self = shared_from_this()](asio::error_code ec, size_t) {
                          self->m_bWriting = false;
                          if (!ec)
                              self->Write();
                      });
}
