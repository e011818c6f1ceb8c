#include "RedisPublisher.h"

using asio::ip::tcp;

namespace {

constexpr const char* kChannel = "velaphon-bench";

std::string Command(std::initializer_list<std::string_view> words) {
    std::string out;
    auto line = [&](char kind, size_t n) {
        out.push_back(kind);
        out.append(std::to_string(n));
        out.append("\r\n");
    };
    line('*', words.size());
    for (auto w : words) {
        line('$', w.size());
        out.append(w);
        out.append("\r\n");
    }
    return out;
}

}  // namespace

bool CRedisPublisher::Open(const std::string& address, uint16_t port) {
    tcp::endpoint at(asio::ip::make_address(address), port);
    asio::error_code ec;
    m_Publisher.connect(at, ec);
    if (!ec)
        m_Subscriber.connect(at, ec);
    if (!ec)
        asio::write(m_Subscriber, asio::buffer(Command({"SUBSCRIBE", kChannel})), ec);
    if (ec)
        return false;
    // The subscription's confirmation, before anything is published.
    char reply[256];
    size_t n = m_Subscriber.read_some(asio::buffer(reply), ec);
    if (ec || n == 0 || reply[0] != '*')
        return false;
    m_Publisher.set_option(tcp::no_delay(true), ec);
    Drain(m_Publisher, std::shared_ptr<uint8_t[]>(new uint8_t[65536]));
    Drain(m_Subscriber, std::shared_ptr<uint8_t[]>(new uint8_t[65536]));
    return true;
}

void CRedisPublisher::Publish(const Bytes& payload) {
    m_strPending +=
        Command({"PUBLISH", kChannel,
                 std::string_view(reinterpret_cast<const char*>(payload.data()), payload.size())});
    ++m_nPublished;
    Flush();
}

void CRedisPublisher::Flush() {
    if (m_bWriting || m_strPending.empty())
        return;
    m_bWriting = true;
    m_strSending.swap(m_strPending);
    m_strPending.clear();
    asio::async_write(m_Publisher, asio::buffer(m_strSending), [this](asio::error_code ec, size_t) {
        if (ec == asio::error::operation_aborted)
            return;  // closed: this may be gone
        m_bWriting = false;
        if (!ec)
            Flush();
    });
}

// Replies and messages are only read away: their count adds nothing Redis's CPU does not show.
void CRedisPublisher::Drain(tcp::socket& socket, std::shared_ptr<uint8_t[]> buffer) {
    socket.async_read_some(asio::buffer(buffer.get(), 65536),
                           [this, &socket, buffer](asio::error_code ec, size_t) {
                               if (!ec)
                                   Drain(socket, buffer);
                           });
}
