// One connection of a server benchmark's load: a logged-in client (polling presence, or a party of a call
// with timed audio), or either end of the plain loopback echo that serves as the reference.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "net/Frame.h"
#include "server/FrameSplitter.h"

int EnvInt(const char* name, int fallback);
double Percentile(std::vector<double> v, double p);

struct CStats {
    uint64_t queriesSent = 0, queryReplies = 0;
    uint64_t audioSent = 0, audioReceived = 0;
    uint64_t loggedIn = 0, established = 0, refused = 0;
    bool measuring = false;   // sends and latencies are counted
    bool collecting = false;  // answers are counted (a little longer, for those on their way)
    std::vector<double> relayUs;
    std::vector<double> loopbackUs;
};

class CPeer : public std::enable_shared_from_this<CPeer> {
public:
    enum class ERole { Idle, Caller, Callee, Probe, Echo };

    CPeer(asio::io_context& io, CStats& stats, ERole role) : m_Socket(io), m_Stats(stats), m_eRole(role) {}

    asio::ip::tcp::socket& Socket() { return m_Socket; }
    ERole Role() const { return m_eRole; }
    std::string strNtv, strPeerNtv;
    std::vector<std::string> contacts;
    bool bInCall = false;

    void Begin();
    void Send(Bytes frame);
    void Control(const Bytes& record);
    void Poll();
    void SendAudio();

private:
    void Read();
    void Handle(const SFrameHeader& h, Bytes& frame);
    void Write();

    asio::ip::tcp::socket m_Socket;
    CStats& m_Stats;
    ERole m_eRole;
    CFrameSplitter m_Splitter;
    uint8_t m_Buffer[16384];
    std::deque<Bytes> m_Queue;
    Bytes m_Out;
    bool m_bWriting = false;
    uint32_t m_nCounter = 0;
};
