// CRedisConnection: one blocking connection to a Redis server, used from a single thread. Every call
// waits at most the timeout it was opened with; a broken connection stays broken until opened again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct redisContext;

// A reply made plain: no hiredis types beyond this file's implementation.
struct SRedisReply {
    enum class EType { Nil, String, Integer, Array, Status, Error };
    EType eType = EType::Nil;
    std::string strText;  // strings, statuses and errors
    long long nInteger = 0;
    std::vector<SRedisReply> elements;

    bool IsNil() const { return eType == EType::Nil; }
    bool IsError() const { return eType == EType::Error; }
};

class CRedisConnection {
public:
    CRedisConnection() = default;
    ~CRedisConnection();
    CRedisConnection(const CRedisConnection&) = delete;
    CRedisConnection& operator=(const CRedisConnection&) = delete;

    bool Open(const std::string& host, uint16_t port, int timeoutMs, std::string& error);
    void Close();
    bool IsOpen() const { return m_pContext != nullptr; }

    // Sends every command in one write and reads the replies in order. False when the connection
    // failed (it is then closed); errors answered by the server are replies, not failures.
    bool Pipeline(const std::vector<std::vector<std::string>>& commands, std::vector<SRedisReply>& replies,
                  std::string& error);
    bool Command(const std::vector<std::string>& command, SRedisReply& reply, std::string& error);

    // For a subscription, whose replies come when they come: the socket to wait on, a command sent
    // without waiting for its reply, and the replies that have arrived (call when the socket is
    // readable; it then does not block). Both return false when the connection failed (it is then closed).
    int Fd() const;
    bool Send(const std::vector<std::string>& command, std::string& error);
    bool ReadArrived(std::vector<SRedisReply>& replies, std::string& error);

private:
    redisContext* m_pContext = nullptr;
};
