// CSwitchboard: every session of the server in one place — logins, presence, contact lists, call routing,
// pings and the relay of a call's media. It runs on one thread and knows no sockets: the connections
// hand it whole frames and it answers through ISwitchboardHost, so tests and the fuzz harness drive it
// directly.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

#include "net/Frame.h"
#include "net/Protocol.h"
#include "server/ClusterDirectory.h"
#include "server/NodeMessage.h"
#include "server/UserProfile.h"

class CAccountStore;

using ConnId = uint64_t;

class ISwitchboardHost {
public:
    virtual ~ISwitchboardHost() = default;
    // Queues a whole frame for a connection. Audio and video are marked droppable: a connection that
    // reads too slowly loses those first, never control messages or chat lines.
    virtual void SendFrame(ConnId id, Bytes frame, bool bDroppable) = 0;
    // Ends a connection the switchboard has already forgotten.
    virtual void CloseConnection(ConnId id) = 0;
    // Holds back (or resumes) the connection's further frames while its login is checked.
    virtual void PauseReading(ConnId id, bool bPause) = 0;
    // Runs a slow check (an account lookup and a password hash) off the protocol thread, then `done` back
    // on it.
    virtual void RunCheck(std::function<bool()> check, std::function<void(bool)> done) = 0;
};

struct CSwitchboardConfig {
    std::string strCurrentVersion = "0200003";
    std::string strDirectoryAddress = ":8080/directory";
    std::string strHelpAddress = ":8080/help";
    uint32_t nPingIntervalMs = 30000;
    uint32_t nFirstCallId = 1;
    // In a cluster, the node's number (1 to kMaxNodeId) fills the call id's top bits, so that no two
    // nodes hand out the same id; 0 alone.
    uint32_t nNodeId = 0;
};

inline constexpr uint32_t kMaxNodeId = 127;  // ids stay below 2^31, as they always have
inline constexpr unsigned kNodeIdShift = 24;

// Presence letters by NTV, readable from other threads (the directory pages).
class CPresenceTable {
public:
    void Set(const std::string& ntv, char letter);
    void Remove(const std::string& ntv);
    // 'C' connected, 'A' away, 'D' for everyone not logged in.
    char Get(const std::string& ntv) const;

private:
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, char> m_Letters;
};

// True when the client's version text is older than the current one (or is no version at all).
bool IsOlderVersion(const std::string& client, const std::string& current);

class CSwitchboard {
public:
    // With `cluster`, logins claim their NTV across the nodes and presence covers the other nodes' users;
    // with `bus` too, calls reach users on the other nodes.
    CSwitchboard(CAccountStore& store, ISwitchboardHost& host, CSwitchboardConfig config,
                 IClusterDirectory* cluster = nullptr, IClusterBus* bus = nullptr);

    void OnConnected(ConnId id, const std::string& peer, uint64_t nowMs);
    // One whole frame from the connection (header and payload bytes).
    void OnFrame(ConnId id, const SFrameHeader& header, Bytes&& frame, uint64_t nowMs);
    // The connection ended (closed by the peer, failed or corrupt); the host has closed it.
    void OnDisconnected(ConnId id, const char* reason);
    // Sends the pings that are due and closes connections silent for three intervals.
    void OnTimer(uint64_t nowMs);

    // What another node says about a call shared with it (see NodeMessage.h); malformed ones are ignored.
    void OnNodeMessage(const uint8_t* data, size_t size);
    // A node that shared calls with this one is gone: their local parties hear that the call ended.
    void OnNodeGone(const std::string& node);
    // The bus went down (every call shared with another node ends) or came back.
    void OnBusState(bool bUp);

    // The directory and help addresses sent in the user information.
    void SetUserInfoAddresses(const std::string& directory, const std::string& help) {
        m_Config.strDirectoryAddress = directory;
        m_Config.strHelpAddress = help;
    }

    // Until a connection has logged in, its frames are small: a login record is 100 bytes.
    static constexpr uint32_t kMaxPayloadBeforeLogin = 4096;
    // The largest payload the connection may send now.
    uint32_t MaxPayloadFor(ConnId id) const;

    const CPresenceTable& Presence() const { return m_Presence; }
    size_t SessionCount() const { return m_Sessions.size(); }
    size_t CallCount() const { return m_Calls.size(); }

private:
    enum class ELogin { None, Checking, Done };
    struct CSession {
        ConnId id = 0;
        std::string strPeer;
        ELogin eLogin = ELogin::None;
        bool bGuest = false;
        std::string strNtv;
        std::string strName;
        char cStatus = 'C';
        uint32_t nCallId = 0;  // the call this connection places or takes part in; 0 for none
        uint64_t nLastRecvMs = 0;
    };
    enum class ECallState { Requested, Ringing, Established };
    // A call between a user of this node and one of another node is known to both: here, the party on
    // the other node is 0 and `strNode` names that node.
    struct CCall {
        uint32_t nId = 0;
        ConnId caller = 0;
        ConnId callee = 0;
        ECallState eState = ECallState::Requested;
        std::string strNode;
        bool bLocating = false;  // asking the cluster which node holds the callee
    };
    // A set-up whose record ended before its callee answered: the callee's late refusal still goes to
    // the caller.
    struct CEndedSetup {
        ConnId caller = 0;
        ConnId callee = 0;
        std::string strNode;
    };
    static constexpr size_t kMaxEndedSetups = 4096;

    CSession* Find(ConnId id);
    void Send(ConnId id, const Bytes& record);
    void SendShort(ConnId id, uint8_t code) { Send(id, BuildShortRecord(code)); }
    void CloseSession(ConnId id, const char* reason);
    void Forget(CSession& s, const char* reason);

    void HandleControl(CSession& s, Bytes& frame, const uint8_t* payload, size_t size);
    void HandleLogin(CSession& s, const uint8_t* payload, size_t size);
    // What the check thread found for a login: the account, when there is one.
    struct SLoginLookup {
        bool bKnown = false;
        bool bStoreFailed = false;  // the accounts could not be read: neither known nor unknown
        CUserProfile profile;
    };
    void LoginChecked(ConnId id, bool bPasswordOk, const std::string& version, const SLoginLookup& lookup);
    void ClaimAnswered(ConnId id, const std::string& ntv, const std::string& version, EClaimResult result);
    void LoginSucceeded(CSession& s, const std::string& ntv, const std::string& name, bool bGuest,
                        const std::string& version);
    // Another node won this NTV while the cluster store was out of reach: the local session ends.
    void ClaimLost(const std::string& ntv);
    void HandleContacts(CSession& s, uint8_t code, const uint8_t* payload, size_t size);
    void HandleCallRequest(CSession& s);
    void HandleCallSetup(CSession& s, const uint8_t* payload, size_t size);
    void HandleCallAccept(CSession& s, const uint8_t* payload, size_t size);
    void HandleCallRefused(CSession& s, const uint8_t* payload, size_t size);
    // The caller hears "no answer": the callee is not connected anywhere.
    void RefuseUnreachable(CSession& caller, uint32_t callId, const Bytes& setup);
    // The cluster found the node of a callee who is not here.
    void Located(uint32_t callId, ConnId caller, const Bytes& setup, const std::string& node);
    // Sends an established call's frame to the other party, here or on its node.
    void Relay(CSession& s, Bytes&& frame, bool bDroppable);
    void Tell(const std::string& node, ENodeMessage kind, uint32_t callId, Bytes body = {},
              bool bDroppable = false);
    void NodeSetup(const SNodeMessage& m);
    // Ends every call shared with `node` (every shared call when empty).
    void EndCallsWith(const std::string& node, const char* why);
    // Hang-up, call end or disconnect of one party: the other learns of it and the record ends.
    void LeaveCall(CSession& s);
    // Ends set-ups still ringing at a callee that goes away.
    void DropRingingAt(CSession& callee);
    uint32_t NewCallId();
    void RememberEndedSetup(uint32_t callId, ConnId caller, ConnId callee, const std::string& node = {});

    CAccountStore& m_Store;
    ISwitchboardHost& m_Host;
    CSwitchboardConfig m_Config;
    IClusterDirectory* m_pCluster;
    IClusterBus* m_pBus;
    std::unordered_map<ConnId, CSession> m_Sessions;
    std::unordered_map<std::string, ConnId> m_ByNtv;  // registered users logged in (never guests)
    std::unordered_map<uint32_t, CCall> m_Calls;
    std::unordered_map<uint32_t, CEndedSetup> m_EndedSetups;
    std::deque<uint32_t> m_EndedOrder;
    CPresenceTable m_Presence;
    uint32_t m_nNextCallId;
    uint64_t m_nNextPingMs = 0;
};
