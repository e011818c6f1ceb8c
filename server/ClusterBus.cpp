#include "server/ClusterBus.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "server/ServerLog.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRedisTimeoutMs = 2000;
constexpr auto kReconnectPause = std::chrono::milliseconds(1000);
// How often the nodes this one shares calls with are checked: a call ends this long at most after its
// other node died, even when nobody speaks.
constexpr auto kWatchInterval = std::chrono::milliseconds(1000);

std::string Channel(const std::string& node) {
    return "velaphon:node:" + node;
}

void AddOnce(std::vector<std::string>& nodes, const std::string& node) {
    if (std::find(nodes.begin(), nodes.end(), node) == nodes.end())
        nodes.push_back(node);
}

}  // namespace

CClusterBus::CClusterBus(std::string redisHost, uint16_t redisPort, std::string node, Post post,
                         SHandlers handlers)
    : m_strHost(std::move(redisHost)),
      m_nPort(redisPort),
      m_strNode(std::move(node)),
      m_Post(std::move(post)),
      m_Handlers(std::move(handlers)) {
    m_nWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

CClusterBus::~CClusterBus() {
    Stop();
    if (m_nWakeFd >= 0)
        close(m_nWakeFd);
}

void CClusterBus::Start() {
    m_Publisher = std::thread([this] { RunPublisher(); });
    m_Subscriber = std::thread([this] { RunSubscriber(); });
}

void CClusterBus::Stop() {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_bStop = true;
    }
    m_cv.notify_all();
    Wake();
    if (m_Publisher.joinable())
        m_Publisher.join();
    if (m_Subscriber.joinable())
        m_Subscriber.join();
}

void CClusterBus::Wake() {
    const uint64_t one = 1;
    if (m_nWakeFd >= 0 && write(m_nWakeFd, &one, sizeof one) < 0) {
        // The counter is full only if nobody reads it: the subscriber wakes anyway.
    }
}

void CClusterBus::SendTo(const std::string& node, std::vector<uint8_t> message, bool bDroppable) {
    bool refused = false;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (bDroppable && m_nOutBytes + message.size() > kMediaQueueLimit) {
            m_nDropped.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        refused = m_nOutBytes + message.size() > kHardQueueLimit;
        if (!refused) {
            m_nOutBytes += message.size();
            m_Out.push_back(SOutgoing{node, std::string(message.begin(), message.end())});
        }
    }
    if (refused) {
        ServerLog("cluster: messages to node %s given up: the bus is %zu bytes behind", LogSafe(node).c_str(),
                  kHardQueueLimit);
        ReportGone({node});
        return;
    }
    m_cv.notify_all();
}

void CClusterBus::Watch(std::vector<std::string> nodes) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_Watched = std::move(nodes);
}

void CClusterBus::ReportGone(const std::vector<std::string>& nodes) {
    if (!m_Handlers.gone)
        return;
    for (const std::string& node : nodes)
        m_Post([gone = m_Handlers.gone, node] { gone(node); });
}

void CClusterBus::SetUp(bool bUp, const std::string& error) {
    if (m_bUp.exchange(bUp) == bUp)
        return;
    if (bUp)
        ServerLog("cluster: calls with other nodes go through Redis at %s:%u", m_strHost.c_str(), m_nPort);
    else
        ServerLog("cluster: calls with other nodes end: Redis at %s:%u is out of reach (%s)",
                  m_strHost.c_str(), m_nPort, error.c_str());
    if (m_Handlers.state)
        m_Post([state = m_Handlers.state, bUp] { state(bUp); });
}

// ---- the publisher ----------------------------------------------------------------------------------

void CClusterBus::RunPublisher() {
    CRedisConnection redis;
    Clock::time_point nextConnect = Clock::now();
    Clock::time_point nextWatch = Clock::now() + kWatchInterval;
    for (;;) {
        std::deque<SOutgoing> batch;
        std::vector<std::string> watched;
        bool stopping = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cv.wait_until(lock, nextWatch, [this] { return m_bStop || !m_Out.empty(); });
            // A stopping node still passes on what it has queued: the hang-ups of its last calls.
            stopping = m_bStop;
            batch.swap(m_Out);
            m_nOutBytes = 0;
            if (Clock::now() >= nextWatch) {
                watched = m_Watched;
                nextWatch = Clock::now() + kWatchInterval;
            }
        }
        if (stopping && (!redis.IsOpen() || batch.empty()))
            break;
        std::string error;
        if (!redis.IsOpen() && Clock::now() >= nextConnect) {
            nextConnect = Clock::now() + kReconnectPause;
            redis.Open(m_strHost, m_nPort, kRedisTimeoutMs, error);
        }
        std::vector<std::vector<std::string>> commands;
        for (SOutgoing& out : batch)
            commands.push_back({"PUBLISH", Channel(out.strNode), std::move(out.strBytes)});
        if (!watched.empty()) {
            commands.push_back({"PUBSUB", "NUMSUB"});
            for (const std::string& node : watched)
                commands.back().push_back(Channel(node));
        }
        if (commands.empty())
            continue;
        if (stopping) {
            std::vector<SRedisReply> ignored;
            redis.Pipeline(commands, ignored, error);
            break;
        }
        std::vector<SRedisReply> replies;
        std::vector<std::string> gone;
        if (!redis.IsOpen() || !redis.Pipeline(commands, replies, error)) {
            // What was not passed on is lost: the calls it belonged to cannot go on.
            for (const SOutgoing& out : batch)
                AddOnce(gone, out.strNode);
            ReportGone(gone);
            continue;
        }
        for (size_t i = 0; i < batch.size(); ++i) {
            // Nobody listens on that node's channel: it died, or lost Redis.
            if (replies[i].eType == SRedisReply::EType::Integer && replies[i].nInteger == 0)
                AddOnce(gone, batch[i].strNode);
        }
        if (!watched.empty()) {
            const SRedisReply& counts = replies.back();
            for (size_t i = 0; i + 1 < counts.elements.size() && i / 2 < watched.size(); i += 2) {
                if (counts.elements[i + 1].nInteger == 0)
                    AddOnce(gone, watched[i / 2]);
            }
        }
        ReportGone(gone);
    }
}

// ---- the subscriber ---------------------------------------------------------------------------------

bool CClusterBus::Subscribe(CRedisConnection& redis) {
    std::string error;
    if (!redis.Open(m_strHost, m_nPort, kRedisTimeoutMs, error) ||
        !redis.Send({"SUBSCRIBE", Channel(m_strNode)}, error)) {
        SetUp(false, error);
        return false;
    }
    // Up only once Redis confirms: before that, what other nodes send would be lost.
    const Clock::time_point giveUp = Clock::now() + std::chrono::milliseconds(kRedisTimeoutMs);
    while (Clock::now() < giveUp) {
        pollfd fd{redis.Fd(), POLLIN, 0};
        if (poll(&fd, 1, kRedisTimeoutMs) <= 0)
            break;
        std::vector<SRedisReply> replies;
        if (!redis.ReadArrived(replies, error))
            break;
        for (const SRedisReply& r : replies) {
            if (r.eType == SRedisReply::EType::Array && !r.elements.empty() &&
                r.elements[0].strText == "subscribe") {
                SetUp(true, "");
                return true;
            }
        }
    }
    redis.Close();
    SetUp(false, error.empty() ? "no answer to the subscription" : error);
    return false;
}

void CClusterBus::RunSubscriber() {
    CRedisConnection redis;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            if (m_bStop)
                break;
        }
        if (!redis.IsOpen() && !Subscribe(redis)) {
            pollfd wake{m_nWakeFd, POLLIN, 0};
            poll(&wake, 1, static_cast<int>(kReconnectPause.count()));
            continue;
        }
        pollfd fds[2] = {{m_nWakeFd, POLLIN, 0}, {redis.Fd(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0)
            continue;
        if ((fds[0].revents & POLLIN) != 0) {
            uint64_t count = 0;
            if (read(m_nWakeFd, &count, sizeof count) < 0) {
                // Nothing to read: another wake took it.
            }
            continue;
        }
        if (fds[1].revents == 0)
            continue;
        std::vector<SRedisReply> replies;
        std::string error;
        const bool ok = redis.ReadArrived(replies, error);
        for (SRedisReply& r : replies) {
            if (r.eType != SRedisReply::EType::Array || r.elements.size() != 3 ||
                r.elements[0].strText != "message")
                continue;
            const std::string& text = r.elements[2].strText;
            if (m_Handlers.message)
                m_Post([this, bytes = std::vector<uint8_t>(text.begin(), text.end())] {
                    m_Handlers.message(bytes);
                });
        }
        if (!ok)
            SetUp(false, error);
    }
    redis.Close();
    m_bUp = false;
}
