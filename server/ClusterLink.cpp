#include "server/ClusterLink.h"

#include <algorithm>
#include <random>

#include "server/ServerLog.h"

namespace {

const char* const kClaimPrefix = "velaphon:ntv:";
const char* const kNodeIdPrefix = "velaphon:node-id:";

// Takes the claim when it is free or already ours; otherwise tells who holds it and the lease left, so
// that a later look can tell a live holder (who renewed) from a dead one.
const char* const kClaimScript = R"(
local v = redis.call('GET', KEYS[1])
if (not v) or string.sub(v, 3) == ARGV[1] then
  redis.call('SET', KEYS[1], ARGV[2] .. '|' .. ARGV[1], 'PX', ARGV[3])
  return {1}
end
local t = redis.call('TIME')
return {0, string.sub(v, 3), redis.call('PTTL', KEYS[1]), t[1] * 1000 + math.floor(t[2] / 1000)}
)";

// Deletes or rewrites a claim only while it is still this node's.
const char* const kReleaseScript = R"(
local v = redis.call('GET', KEYS[1])
if v and string.sub(v, 3) == ARGV[1] then return redis.call('DEL', KEYS[1]) end
return 0
)";
const char* const kLetterScript = R"(
local v = redis.call('GET', KEYS[1])
if v and string.sub(v, 3) == ARGV[1] then
  redis.call('SET', KEYS[1], ARGV[2] .. '|' .. ARGV[1], 'PX', ARGV[3])
  return 1
end
return 0
)";

// One renewal of everything the node holds: its node id and every claim. A claim that
// lapsed meanwhile (Redis restarted, or was out of reach) is taken again when free; one that another
// node took is reported as lost. The first element tells whether another live node uses this node id.
const char* const kRenewScript = R"(
local result = {0}
local owner = redis.call('GET', ARGV[3])
if (not owner) or owner == ARGV[1] then
  redis.call('SET', ARGV[3], ARGV[1], 'PX', ARGV[2])
else
  result[1] = 1
end
for i = 5, #ARGV, 2 do
  local k = ARGV[4] .. ARGV[i]
  local v = redis.call('GET', k)
  if (not v) or string.sub(v, 3) == ARGV[1] then
    redis.call('SET', k, ARGV[i + 1] .. '|' .. ARGV[1], 'PX', ARGV[2])
  else
    result[#result + 1] = ARGV[i]
  end
end
return result
)";

// A presence letter read from Redis serves every question about that NTV for this long.
constexpr auto kFresh = std::chrono::milliseconds(1000);
// Beyond this many letters, the stale ones are forgotten.
constexpr size_t kMaxCached = 10000;
constexpr auto kReconnectPause = std::chrono::milliseconds(1000);
constexpr int kRedisTimeoutMs = 2000;

std::string RandomHex() {
    std::random_device random;
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", random(), random());
    return text;
}

}  // namespace

CClusterLink::CClusterLink(SClusterOptions options, Post post)
    : m_Options(std::move(options)), m_Post(std::move(post)) {
    m_strInstance = std::to_string(m_Options.nNodeId) + "-" + RandomHex();
    m_strRedis = m_Options.strRedisHost + ":" + std::to_string(m_Options.nRedisPort);
}

CClusterLink::~CClusterLink() {
    Stop();
}

void CClusterLink::Start() {
    m_Thread = std::thread([this] { Run(); });
}

void CClusterLink::Stop() {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_bStop = true;
    }
    m_cv.notify_all();
    if (m_Thread.joinable())
        m_Thread.join();
}

char CClusterLink::LetterNow(const std::string& ntv) {
    {
        std::lock_guard<std::mutex> guard(m_cacheMutex);
        auto it = m_Cache.find(ntv);
        if (it != m_Cache.end() && Clock::now() - it->second.when < kFresh)
            return it->second.cLetter;
    }
    std::lock_guard<std::mutex> guard(m_pagesMutex);
    std::string error;
    if (!m_PagesRedis.IsOpen()) {
        // A page lists up to hundreds of users: one failed connection a second, not one per row.
        if (Clock::now() < m_PagesRetry)
            return 'D';
        m_PagesRetry = Clock::now() + kReconnectPause;
        if (!m_PagesRedis.Open(m_Options.strRedisHost, m_Options.nRedisPort, kRedisTimeoutMs, error))
            return 'D';
    }
    SRedisReply reply;
    if (!m_PagesRedis.Command({"GET", kClaimPrefix + ntv}, reply, error)) {
        m_PagesRetry = Clock::now() + kReconnectPause;
        return 'D';
    }
    char letter = ClaimLetter(reply.strText);
    std::lock_guard<std::mutex> cache(m_cacheMutex);
    Remember(ntv, letter, Clock::now());
    return letter;
}

void CClusterLink::Remember(const std::string& ntv, char letter, Clock::time_point now) {
    if (m_Cache.size() > kMaxCached) {
        for (auto it = m_Cache.begin(); it != m_Cache.end();)
            it = now - it->second.when > kFresh ? m_Cache.erase(it) : std::next(it);
    }
    m_Cache[ntv] = SCached{letter, now};
}

void CClusterLink::Claim(const std::string& ntv, char letter, std::function<void(EClaimResult)> done) {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_Ops.push_back(SOp{EOp::Claim, ntv, letter, std::move(done)});
    }
    m_cv.notify_all();
}

void CClusterLink::Release(const std::string& ntv) {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_Ops.push_back(SOp{EOp::Release, ntv, 'D', nullptr});
    }
    m_cv.notify_all();
}

void CClusterLink::SetLetter(const std::string& ntv, char letter) {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_Ops.push_back(SOp{EOp::SetLetter, ntv, letter, nullptr});
    }
    m_cv.notify_all();
}

void CClusterLink::LookUp(const std::string& ntv, std::function<void(char)> done) {
    char cached = 0;
    {
        std::lock_guard<std::mutex> guard(m_cacheMutex);
        auto it = m_Cache.find(ntv);
        if (it != m_Cache.end() && Clock::now() - it->second.when < kFresh)
            cached = it->second.cLetter;
    }
    if (cached != 0) {
        done(cached);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_Lookups.push_back(SLookup{ntv, std::move(done), nullptr});
    }
    m_cv.notify_all();
}

void CClusterLink::Locate(const std::string& ntv, std::function<void(const std::string& node)> done) {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_Lookups.push_back(SLookup{ntv, nullptr, std::move(done)});
    }
    m_cv.notify_all();
}

// ---- the link's thread ----------------------------------------------------------------------------

void CClusterLink::Run() {
    m_NextConnect = Clock::now();
    for (;;) {
        std::vector<SOp> ops;
        std::vector<SLookup> lookups;
        bool stopping = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            Clock::time_point wake = m_bUp ? m_NextRenew : m_NextConnect;
            for (const SWaitingClaim& w : m_Waiting)
                wake = std::min(wake, w.due);
            m_cv.wait_until(lock, wake, [this] { return m_bStop || !m_Ops.empty() || !m_Lookups.empty(); });
            stopping = m_bStop;
            ops.swap(m_Ops);
            lookups.swap(m_Lookups);
        }
        if (stopping) {
            // A node stopping in order gives its users up at once instead of after the lease.
            if (m_bUp)
                RunOps(ops);
            break;
        }
        if (!m_bUp && Clock::now() >= m_NextConnect && Connect())
            m_NextRenew = Clock::now();  // at once: claims may have lapsed while Redis was away
        if (m_bUp && RunOps(ops)) {
            ops.clear();
            if (RetryWaiting() && (Clock::now() < m_NextRenew || Renew()) && AnswerLookups(lookups))
                lookups.clear();
        }
        if (!m_bUp) {
            // Nothing can be claimed or looked up; what this node holds it still knows.
            for (SOp& op : ops) {
                if (op.eOp == EOp::Claim)
                    Finish(op, EClaimResult::Unavailable);
                else if (op.eOp == EOp::Release)
                    m_Held.erase(op.strNtv);
                else if (auto it = m_Held.find(op.strNtv); it != m_Held.end())
                    it->second = op.cLetter;
            }
            for (SWaitingClaim& w : m_Waiting)
                Finish(w.op, EClaimResult::Unavailable);
            m_Waiting.clear();
            for (SLookup& l : lookups) {
                if (l.located)
                    m_Post([located = std::move(l.located)] { located(std::string()); });
                else
                    m_Post([done = std::move(l.done)] { done('D'); });
            }
        }
    }
    m_Redis.Close();
}

bool CClusterLink::Connect() {
    std::string error;
    m_NextConnect = Clock::now() + kReconnectPause;
    if (!m_Redis.Open(m_Options.strRedisHost, m_Options.nRedisPort, kRedisTimeoutMs, error)) {
        // Said once per outage and reason, not once a second.
        if (error != m_strLastError)
            ServerLog("cluster: cannot reach Redis at %s: %s (new logins are refused until it answers)",
                      m_strRedis.c_str(), error.c_str());
        m_strLastError = error;
        return false;
    }
    m_strLastError.clear();
    m_bUp = true;
    m_bReachable = true;
    ServerLog("cluster: %s Redis at %s as node %s", m_bEverUp ? "back on" : "joined", m_strRedis.c_str(),
              m_strInstance.c_str());
    m_bEverUp = true;
    return true;
}

void CClusterLink::GoDown(const std::string& error) {
    m_Redis.Close();
    m_bUp = false;
    m_bReachable = false;
    m_NextConnect = Clock::now() + kReconnectPause;
    ServerLog("cluster: lost Redis at %s (%s): new logins are refused until it is back, local sessions go on",
              m_strRedis.c_str(), error.c_str());
}

std::vector<std::string> CClusterLink::ClaimCommand(const SOp& op) const {
    return {"EVAL",
            kClaimScript,
            "1",
            kClaimPrefix + op.strNtv,
            m_strInstance,
            std::string(1, op.cLetter),
            std::to_string(m_Options.times.nLeaseMs)};
}

bool CClusterLink::RunOps(std::vector<SOp>& ops) {
    if (ops.empty())
        return true;
    std::vector<std::vector<std::string>> commands;
    const std::string lease = std::to_string(m_Options.times.nLeaseMs);
    for (const SOp& op : ops) {
        const std::string key = kClaimPrefix + op.strNtv;
        if (op.eOp == EOp::Claim)
            commands.push_back(ClaimCommand(op));
        else if (op.eOp == EOp::Release)
            commands.push_back({"EVAL", kReleaseScript, "1", key, m_strInstance});
        else
            commands.push_back(
                {"EVAL", kLetterScript, "1", key, m_strInstance, std::string(1, op.cLetter), lease});
    }
    std::vector<SRedisReply> replies;
    std::string error;
    if (!m_Redis.Pipeline(commands, replies, error)) {
        GoDown(error);  // the caller settles `ops` as it does while Redis is away
        return false;
    }
    for (size_t i = 0; i < ops.size(); ++i) {
        SOp& op = ops[i];
        if (op.eOp == EOp::Claim)
            Settle(std::move(op), replies[i], std::nullopt, std::nullopt);
        else if (op.eOp == EOp::Release)
            m_Held.erase(op.strNtv);
        else if (auto it = m_Held.find(op.strNtv); it != m_Held.end())
            it->second = op.cLetter;
    }
    return true;
}

void CClusterLink::Settle(SOp op, const SRedisReply& reply, const std::optional<SClaimSeen>& earlier,
                          std::optional<Clock::time_point> giveUp) {
    SClaimSeen seen;
    const auto& e = reply.elements;
    if (reply.eType != SRedisReply::EType::Array || e.empty()) {
        ServerLog("cluster: unexpected answer to a claim of %s: %s", LogSafe(op.strNtv).c_str(),
                  LogSafe(reply.strText).c_str());
        Finish(op, EClaimResult::Unavailable);
        return;
    }
    seen.bClaimed = e[0].nInteger == 1;
    if (!seen.bClaimed && e.size() >= 4) {
        seen.strHolder = e[1].strText;
        seen.nLeftMs = e[2].nInteger;
        seen.nAtMs = e[3].nInteger;
    }
    SClaimStep step = DecideClaim(earlier, seen, m_Options.times);
    if (step.eKind == SClaimStep::EKind::Claimed) {
        m_Held[op.strNtv] = op.cLetter;
        Finish(op, EClaimResult::Claimed);
        return;
    }
    if (step.eKind == SClaimStep::EKind::Refuse) {
        Finish(op, EClaimResult::HeldElsewhere);
        return;
    }
    const Clock::time_point now = Clock::now();
    const Clock::time_point limit =
        giveUp.value_or(now + std::chrono::milliseconds(m_Options.times.GiveUpMs()));
    const Clock::time_point due = now + std::chrono::milliseconds(step.nRetryInMs);
    if (due > limit) {
        // Renewed by someone, then not, for longer than any lease: let the client try again.
        Finish(op, EClaimResult::Unavailable);
        return;
    }
    m_Waiting.push_back(SWaitingClaim{std::move(op), step.baseline, due, limit});
}

bool CClusterLink::RetryWaiting() {
    const Clock::time_point now = Clock::now();
    std::vector<SWaitingClaim> due;
    for (auto it = m_Waiting.begin(); it != m_Waiting.end();) {
        if (it->due <= now) {
            due.push_back(std::move(*it));
            it = m_Waiting.erase(it);
        } else {
            ++it;
        }
    }
    if (due.empty())
        return true;
    std::vector<std::vector<std::string>> commands;
    for (const SWaitingClaim& w : due)
        commands.push_back(ClaimCommand(w.op));
    std::vector<SRedisReply> replies;
    std::string error;
    if (!m_Redis.Pipeline(commands, replies, error)) {
        for (SWaitingClaim& w : due)
            Finish(w.op, EClaimResult::Unavailable);
        GoDown(error);
        return false;
    }
    for (size_t i = 0; i < due.size(); ++i)
        Settle(std::move(due[i].op), replies[i], due[i].baseline, due[i].giveUp);
    return true;
}

bool CClusterLink::Renew() {
    m_NextRenew = Clock::now() + std::chrono::milliseconds(m_Options.times.nRenewMs);
    std::vector<std::string> command = {"EVAL",
                                        kRenewScript,
                                        "0",
                                        m_strInstance,
                                        std::to_string(m_Options.times.nLeaseMs),
                                        kNodeIdPrefix + std::to_string(m_Options.nNodeId),
                                        kClaimPrefix};
    for (const auto& [ntv, letter] : m_Held) {
        command.push_back(ntv);
        command.push_back(std::string(1, letter));
    }
    SRedisReply reply;
    std::string error;
    if (!m_Redis.Command(command, reply, error)) {
        GoDown(error);
        return false;
    }
    if (reply.eType != SRedisReply::EType::Array || reply.elements.empty()) {
        ServerLog("cluster: renewal failed: %s", LogSafe(reply.strText, 200).c_str());
        return true;
    }
    const bool clash = reply.elements[0].nInteger == 1;
    if (clash && !m_bNodeClash) {
        ServerLog("cluster: node id %u is in use by another live node: call ids may collide",
                  m_Options.nNodeId);
    }
    m_bNodeClash = clash;
    for (size_t i = 1; i < reply.elements.size(); ++i) {
        const std::string& ntv = reply.elements[i].strText;
        m_Held.erase(ntv);
        ServerLog("cluster: %s is held by another node now", LogSafe(ntv).c_str());
        if (m_Lost)
            m_Post([this, ntv] { m_Lost(ntv); });
    }
    return true;
}

bool CClusterLink::AnswerLookups(std::vector<SLookup>& lookups) {
    if (lookups.empty())
        return true;
    std::vector<std::string> command = {"MGET"};
    std::unordered_map<std::string, size_t> index;
    for (const SLookup& l : lookups) {
        if (index.emplace(l.strNtv, command.size() - 1).second)
            command.push_back(kClaimPrefix + l.strNtv);
    }
    SRedisReply reply;
    std::string error;
    if (!m_Redis.Command(command, reply, error)) {
        GoDown(error);
        return false;
    }
    std::vector<char> letters(index.size(), 'D');
    std::vector<std::string> holders(index.size());
    for (size_t i = 0; i < letters.size() && i < reply.elements.size(); ++i) {
        letters[i] = ClaimLetter(reply.elements[i].strText);
        holders[i] = ClaimHolder(reply.elements[i].strText);
    }
    {
        const Clock::time_point now = Clock::now();
        std::lock_guard<std::mutex> guard(m_cacheMutex);
        for (const auto& [ntv, i] : index)
            Remember(ntv, letters[i], now);
    }
    for (SLookup& l : lookups) {
        const size_t i = index[l.strNtv];
        if (l.located)
            m_Post([located = std::move(l.located), holder = holders[i]] { located(holder); });
        else
            m_Post([done = std::move(l.done), letter = letters[i]] { done(letter); });
    }
    return true;
}

void CClusterLink::Finish(SOp& op, EClaimResult result) {
    if (op.done)
        m_Post([done = std::move(op.done), result] { done(result); });
}
