// CClusterLink: a node's link to the Redis server its cluster shares. It runs on a thread of its own with
// hiredis's blocking calls: the protocol thread only queues requests and gets answers posted back, so a
// slow or vanished Redis never stalls a connection. The thread renews this node's claims, batches
// presence look-ups, and reconnects (logging both the loss and the return) while Redis is away.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "server/ClaimRules.h"
#include "server/ClusterDirectory.h"
#include "server/RedisConnection.h"

struct SClusterOptions {
    std::string strRedisHost;
    uint16_t nRedisPort = 6379;
    uint32_t nNodeId = 0;
    SLeaseTimes times;
};

class CClusterLink : public IClusterDirectory {
public:
    // `post` runs a task on the protocol thread.
    using Post = std::function<void(std::function<void()>)>;

    CClusterLink(SClusterOptions options, Post post);
    ~CClusterLink() override;

    // Starts the thread; it connects by itself (and keeps trying while Redis is away).
    void Start();
    void Stop();

    // This run of the node: claims name it, so a restarted node never mistakes its predecessor's.
    const std::string& Instance() const { return m_strInstance; }
    // Whether the link's connection to Redis stands now (any thread): a node without it takes no logins.
    bool IsUp() const { return m_bReachable.load(std::memory_order_relaxed); }
    // The letter of an NTV held elsewhere, for the directory pages: waits for Redis unless a look-up
    // of the last second knows it. Any thread but the protocol thread; 'D' while Redis is away.
    char LetterNow(const std::string& ntv);

    // IClusterDirectory
    void Claim(const std::string& ntv, char letter, std::function<void(EClaimResult)> done) override;
    void Release(const std::string& ntv) override;
    void SetLetter(const std::string& ntv, char letter) override;
    void LookUp(const std::string& ntv, std::function<void(char)> done) override;
    void Locate(const std::string& ntv, std::function<void(const std::string& node)> done) override;
    void SetLostHandler(std::function<void(const std::string& ntv)> lost) override {
        m_Lost = std::move(lost);
    }

private:
    using Clock = std::chrono::steady_clock;
    enum class EOp { Claim, Release, SetLetter };
    struct SOp {
        EOp eOp = EOp::Claim;
        std::string strNtv;
        char cLetter = 'C';
        std::function<void(EClaimResult)> done;
    };
    // A claim that found the NTV held and looks again later.
    struct SWaitingClaim {
        SOp op;
        SClaimSeen baseline;
        Clock::time_point due;
        Clock::time_point giveUp;
    };
    // A presence look-up (`done`) or a search for the holding node (`located`).
    struct SLookup {
        std::string strNtv;
        std::function<void(char)> done;
        std::function<void(const std::string&)> located;
    };

    void Run();
    bool Connect();
    void GoDown(const std::string& error);
    // Each returns false when the connection failed.
    bool RunOps(std::vector<SOp>& ops);
    bool RetryWaiting();
    bool Renew();
    bool AnswerLookups(std::vector<SLookup>& lookups);
    // Acts on one claim attempt's reply: done, refused, or waiting again.
    void Settle(SOp op, const SRedisReply& reply, const std::optional<SClaimSeen>& earlier,
                std::optional<Clock::time_point> giveUp);
    void Finish(SOp& op, EClaimResult result);
    std::vector<std::string> ClaimCommand(const SOp& op) const;

    SClusterOptions m_Options;
    Post m_Post;
    std::string m_strInstance;
    std::string m_strRedis;  // host:port for the log
    std::function<void(const std::string&)> m_Lost;

    std::thread m_Thread;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<SOp> m_Ops;
    std::vector<SLookup> m_Lookups;
    bool m_bStop = false;
    std::atomic<bool> m_bReachable{false};

    mutable std::mutex m_cacheMutex;
    struct SCached {
        char cLetter = 'D';
        Clock::time_point when;
    };
    std::unordered_map<std::string, SCached> m_Cache;
    void Remember(const std::string& ntv, char letter, Clock::time_point now);

    // The pages' own connection, so that they never wait behind the link's thread or hold it up.
    std::mutex m_pagesMutex;
    CRedisConnection m_PagesRedis;
    Clock::time_point m_PagesRetry;

    // Only the link's thread touches these.
    CRedisConnection m_Redis;
    bool m_bUp = false;
    bool m_bEverUp = false;
    bool m_bNodeClash = false;
    std::string m_strLastError;                    // of the last failed connection, logged once
    std::unordered_map<std::string, char> m_Held;  // this node's claims and their letters
    std::vector<SWaitingClaim> m_Waiting;
    Clock::time_point m_NextRenew;
    Clock::time_point m_NextConnect;
};
