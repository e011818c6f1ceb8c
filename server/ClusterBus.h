// CClusterBus: the messages between the nodes of a cluster, over Redis publish/subscribe. Each node
// listens on a channel of its own name; one connection publishes everything the node sends, so what it
// sends one node arrives in the order sent. Two threads with blocking connections: the publisher drains
// a queue in pipelined batches (and checks that the nodes this one shares calls with still listen), the
// subscriber waits on its socket. Everything they report is posted to the protocol thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/ClusterDirectory.h"
#include "server/RedisConnection.h"

class CClusterBus : public IClusterBus {
public:
    using Post = std::function<void(std::function<void()>)>;
    struct SHandlers {
        std::function<void(const std::vector<uint8_t>& message)> message;
        std::function<void(const std::string& node)> gone;
        std::function<void(bool bUp)> state;
    };

    // `node` is this node's name; `post` runs a task on the protocol thread.
    CClusterBus(std::string redisHost, uint16_t redisPort, std::string node, Post post, SHandlers handlers);
    ~CClusterBus() override;

    void Start();
    void Stop();

    // Audio and video dropped because the bus fell behind.
    uint64_t Dropped() const { return m_nDropped.load(std::memory_order_relaxed); }

    // IClusterBus
    const std::string& Node() const override { return m_strNode; }
    bool IsUp() const override { return m_bUp.load(std::memory_order_relaxed); }
    void SendTo(const std::string& node, std::vector<uint8_t> message, bool bDroppable) override;
    void Watch(std::vector<std::string> nodes) override;

    // Beyond this many queued bytes, audio and video wait no more; beyond the hard limit nothing does,
    // and the nodes whose messages are refused count as gone.
    static constexpr size_t kMediaQueueLimit = 1024 * 1024;
    static constexpr size_t kHardQueueLimit = 16 * 1024 * 1024;

private:
    struct SOutgoing {
        std::string strNode;
        std::string strBytes;
    };

    void RunPublisher();
    void RunSubscriber();
    // False when the subscription could not be made.
    bool Subscribe(CRedisConnection& redis);
    void ReportGone(const std::vector<std::string>& nodes);
    void SetUp(bool bUp, const std::string& error);
    void Wake();

    std::string m_strHost;
    uint16_t m_nPort;
    std::string m_strNode;
    Post m_Post;
    SHandlers m_Handlers;

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<SOutgoing> m_Out;
    size_t m_nOutBytes = 0;
    std::vector<std::string> m_Watched;
    bool m_bStop = false;

    std::atomic<bool> m_bUp{false};
    std::atomic<uint64_t> m_nDropped{0};
    int m_nWakeFd = -1;
    std::thread m_Publisher;
    std::thread m_Subscriber;
};
