// Frames published straight to Redis on one channel, with a subscriber reading them: what Redis spends on a
// frame with no velaphond in the way, the reference for the frames the nodes relay between them.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <memory>
#include <string>

#include "net/Protocol.h"

class CRedisPublisher {
public:
    explicit CRedisPublisher(asio::io_context& io) : m_Publisher(io), m_Subscriber(io) {}
    // Connects both ends and subscribes; false when Redis does not answer.
    bool Open(const std::string& address, uint16_t port);
    // Queues one PUBLISH of `payload`; sent with the others of the same turn of the loop.
    void Publish(const Bytes& payload);
    uint64_t Published() const { return m_nPublished; }

private:
    void Flush();
    void Drain(asio::ip::tcp::socket& socket, std::shared_ptr<uint8_t[]> buffer);

    asio::ip::tcp::socket m_Publisher, m_Subscriber;
    std::string m_strPending, m_strSending;
    bool m_bWriting = false;
    uint64_t m_nPublished = 0;
};
