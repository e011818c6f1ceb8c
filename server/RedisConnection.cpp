#include "server/RedisConnection.h"

#include <hiredis/hiredis.h>

namespace {

SRedisReply Convert(const redisReply* r) {
    SRedisReply out;
    switch (r->type) {
        case REDIS_REPLY_STRING:
            out.eType = SRedisReply::EType::String;
            out.strText.assign(r->str, r->len);
            break;
        case REDIS_REPLY_STATUS:
            out.eType = SRedisReply::EType::Status;
            out.strText.assign(r->str, r->len);
            break;
        case REDIS_REPLY_ERROR:
            out.eType = SRedisReply::EType::Error;
            out.strText.assign(r->str, r->len);
            break;
        case REDIS_REPLY_INTEGER:
            out.eType = SRedisReply::EType::Integer;
            out.nInteger = r->integer;
            break;
        case REDIS_REPLY_ARRAY:
            out.eType = SRedisReply::EType::Array;
            for (size_t i = 0; i < r->elements; ++i)
                out.elements.push_back(Convert(r->element[i]));
            break;
        default:
            break;
    }
    return out;
}

timeval ToTimeval(int ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return tv;
}

}  // namespace

CRedisConnection::~CRedisConnection() {
    Close();
}

bool CRedisConnection::Open(const std::string& host, uint16_t port, int timeoutMs, std::string& error) {
    Close();
    redisContext* c = redisConnectWithTimeout(host.c_str(), port, ToTimeval(timeoutMs));
    if (c == nullptr) {
        error = "out of memory";
        return false;
    }
    if (c->err != 0) {
        error = c->errstr;
        redisFree(c);
        return false;
    }
    // Replies, too, must not wait forever on a server that stopped answering.
    if (redisSetTimeout(c, ToTimeval(timeoutMs)) != REDIS_OK) {
        error = c->errstr;
        redisFree(c);
        return false;
    }
    m_pContext = c;
    return true;
}

void CRedisConnection::Close() {
    if (m_pContext != nullptr)
        redisFree(m_pContext);
    m_pContext = nullptr;
}

bool CRedisConnection::Pipeline(const std::vector<std::vector<std::string>>& commands,
                                std::vector<SRedisReply>& replies, std::string& error) {
    replies.clear();
    if (m_pContext == nullptr) {
        error = "not connected";
        return false;
    }
    std::vector<const char*> argv;
    std::vector<size_t> lengths;
    for (const auto& command : commands) {
        argv.clear();
        lengths.clear();
        for (const std::string& arg : command) {
            argv.push_back(arg.data());
            lengths.push_back(arg.size());
        }
        if (redisAppendCommandArgv(m_pContext, static_cast<int>(argv.size()), argv.data(), lengths.data()) !=
            REDIS_OK) {
            error = m_pContext->errstr;
            Close();
            return false;
        }
    }
    for (size_t i = 0; i < commands.size(); ++i) {
        void* raw = nullptr;
        if (redisGetReply(m_pContext, &raw) != REDIS_OK || raw == nullptr) {
            error = m_pContext->errstr[0] != '\0' ? m_pContext->errstr : "no reply";
            Close();
            return false;
        }
        replies.push_back(Convert(static_cast<redisReply*>(raw)));
        freeReplyObject(raw);
    }
    return true;
}

bool CRedisConnection::Command(const std::vector<std::string>& command, SRedisReply& reply,
                               std::string& error) {
    std::vector<SRedisReply> replies;
    if (!Pipeline({command}, replies, error))
        return false;
    reply = std::move(replies.front());
    return true;
}

int CRedisConnection::Fd() const {
    return m_pContext != nullptr ? m_pContext->fd : -1;
}

bool CRedisConnection::Send(const std::vector<std::string>& command, std::string& error) {
    if (m_pContext == nullptr) {
        error = "not connected";
        return false;
    }
    std::vector<const char*> argv;
    std::vector<size_t> lengths;
    for (const std::string& arg : command) {
        argv.push_back(arg.data());
        lengths.push_back(arg.size());
    }
    int done = 0;
    if (redisAppendCommandArgv(m_pContext, static_cast<int>(argv.size()), argv.data(), lengths.data()) !=
        REDIS_OK)
        done = -1;
    while (done == 0) {
        if (redisBufferWrite(m_pContext, &done) != REDIS_OK)
            done = -1;
    }
    if (done < 0) {
        error = m_pContext->errstr;
        Close();
        return false;
    }
    return true;
}

bool CRedisConnection::ReadArrived(std::vector<SRedisReply>& replies, std::string& error) {
    if (m_pContext == nullptr) {
        error = "not connected";
        return false;
    }
    if (redisBufferRead(m_pContext) != REDIS_OK) {
        error = m_pContext->errstr[0] != '\0' ? m_pContext->errstr : "connection closed";
        Close();
        return false;
    }
    for (;;) {
        void* raw = nullptr;
        if (redisGetReplyFromReader(m_pContext, &raw) != REDIS_OK) {
            error = m_pContext->errstr;
            Close();
            return false;
        }
        if (raw == nullptr)
            return true;
        replies.push_back(Convert(static_cast<redisReply*>(raw)));
        freeReplyObject(raw);
    }
}
