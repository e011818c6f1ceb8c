#include "server/Switchboard.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <vector>

#include "server/AccountStore.h"
#include "server/PasswordHash.h"
#include "server/ServerLog.h"
#include "server/UserProfile.h"

namespace {

// The name field of the user information starts here; the record ends with the name's NUL.
constexpr size_t kUserInfoNameOffset = 403;

Bytes Frame(uint8_t channel, const Bytes& payload) {
    Bytes frame(kFrameHeaderSize + payload.size());
    BuildFrameHeader(frame.data(), channel, static_cast<uint32_t>(payload.size()), "", kTagControl, false);
    std::copy(payload.begin(), payload.end(), frame.begin() + kFrameHeaderSize);
    return frame;
}

std::string StripLeadingZeros(const std::string& digits) {
    size_t first = digits.find_first_not_of('0');
    return first == std::string::npos ? std::string() : digits.substr(first);
}

bool AllDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

}  // namespace

void CPresenceTable::Set(const std::string& ntv, char letter) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_Letters[ntv] = letter;
}

void CPresenceTable::Remove(const std::string& ntv) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_Letters.erase(ntv);
}

char CPresenceTable::Get(const std::string& ntv) const {
    std::lock_guard<std::mutex> guard(m_mutex);
    auto it = m_Letters.find(ntv);
    return it == m_Letters.end() ? 'D' : it->second;
}

bool IsOlderVersion(const std::string& client, const std::string& current) {
    if (!AllDigits(client))
        return true;
    if (!AllDigits(current))
        return false;
    std::string a = StripLeadingZeros(client);
    std::string b = StripLeadingZeros(current);
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

CSwitchboard::CSwitchboard(CAccountStore& store, ISwitchboardHost& host, CSwitchboardConfig config,
                           IClusterDirectory* cluster, IClusterBus* bus)
    : m_Store(store),
      m_Host(host),
      m_Config(std::move(config)),
      m_pCluster(cluster),
      m_pBus(cluster != nullptr ? bus : nullptr),
      m_nNextCallId(m_Config.nFirstCallId) {
    if (m_Config.nPingIntervalMs == 0)
        m_Config.nPingIntervalMs = 1;
    if (m_pCluster != nullptr)
        m_pCluster->SetLostHandler([this](const std::string& ntv) { ClaimLost(ntv); });
}

CSwitchboard::CSession* CSwitchboard::Find(ConnId id) {
    auto it = m_Sessions.find(id);
    return it == m_Sessions.end() ? nullptr : &it->second;
}

void CSwitchboard::Send(ConnId id, const Bytes& record) {
    m_Host.SendFrame(id, Frame(kChannelControl, record), false);
}

uint32_t CSwitchboard::MaxPayloadFor(ConnId id) const {
    auto it = m_Sessions.find(id);
    // Strangers must not make the server hold a megabyte each.
    return it != m_Sessions.end() && it->second.eLogin == ELogin::Done ? kMaxFramePayload
                                                                       : kMaxPayloadBeforeLogin;
}

void CSwitchboard::OnConnected(ConnId id, const std::string& peer, uint64_t nowMs) {
    CSession& s = m_Sessions[id];
    s.id = id;
    s.strPeer = peer;
    s.nLastRecvMs = nowMs;
    if (m_nNextPingMs == 0)
        m_nNextPingMs = nowMs + m_Config.nPingIntervalMs;
    ServerLog("connect %s", peer.c_str());
}

void CSwitchboard::OnDisconnected(ConnId id, const char* reason) {
    CSession* s = Find(id);
    if (s == nullptr)
        return;
    Forget(*s, reason);
}

void CSwitchboard::CloseSession(ConnId id, const char* reason) {
    CSession* s = Find(id);
    if (s == nullptr)
        return;
    Forget(*s, reason);
    m_Host.CloseConnection(id);
}

void CSwitchboard::Forget(CSession& s, const char* reason) {
    LeaveCall(s);
    DropRingingAt(s);
    if (s.eLogin == ELogin::Done) {
        if (!s.bGuest) {
            m_ByNtv.erase(s.strNtv);
            m_Presence.Remove(s.strNtv);
            if (m_pCluster != nullptr)
                m_pCluster->Release(s.strNtv);
        }
        ServerLog("logout %s from %s (%s)", LogSafe(s.strNtv).c_str(), s.strPeer.c_str(), reason);
    } else {
        ServerLog("disconnect %s (%s)", s.strPeer.c_str(), reason);
    }
    if (s.eLogin == ELogin::Checking)
        m_Host.PauseReading(s.id, false);
    m_Sessions.erase(s.id);
}

void CSwitchboard::OnTimer(uint64_t nowMs) {
    const uint64_t interval = m_Config.nPingIntervalMs;
    std::vector<ConnId> silent;
    for (const auto& [id, s] : m_Sessions) {
        if (nowMs >= s.nLastRecvMs + 3 * interval)
            silent.push_back(id);
    }
    for (ConnId id : silent)
        CloseSession(id, "silent for three ping intervals");
    if (m_nNextPingMs != 0 && nowMs >= m_nNextPingMs) {
        for (const auto& [id, s] : m_Sessions)
            SendShort(id, MSG_PING);
        m_nNextPingMs = nowMs + interval;
    }
    if (m_pBus != nullptr) {
        // A call may be silent for long: the nodes it shares are checked, not only those it talks to.
        std::vector<std::string> nodes;
        for (const auto& [id, call] : m_Calls) {
            if (!call.strNode.empty() && std::find(nodes.begin(), nodes.end(), call.strNode) == nodes.end())
                nodes.push_back(call.strNode);
        }
        m_pBus->Watch(std::move(nodes));
    }
}

void CSwitchboard::OnFrame(ConnId id, const SFrameHeader& header, Bytes&& frame, uint64_t nowMs) {
    CSession* s = Find(id);
    if (s == nullptr || frame.size() != kFrameHeaderSize + header.length)
        return;
    s->nLastRecvMs = nowMs;
    const uint8_t* payload = frame.data() + kFrameHeaderSize;
    const size_t size = header.length;
    switch (header.channel) {
        case kChannelControl:
            HandleControl(*s, frame, payload, size);
            break;
        case kChannelText:
        case kChannelAudio:
        case kChannelVideo:
            // Media of an established call go to the other party unchanged, header and all.
            Relay(*s, std::move(frame), header.channel != kChannelText);
            break;
        default:
            break;  // no such channel: ignored
    }
}

void CSwitchboard::HandleControl(CSession& s, Bytes& frame, const uint8_t* payload, size_t size) {
    if (size == 0)
        return;
    const uint8_t code = payload[0];
    if (s.eLogin == ELogin::Checking)
        return;
    if (s.eLogin == ELogin::None) {
        if (code == MSG_LOGIN)
            HandleLogin(s, payload, size);
        return;
    }
    switch (code) {
        case MSG_PING:
            break;  // the answer to ours; receiving it is all that counts
        case MSG_SET_STATUS: {
            char letter = 0;
            if (!ParseSetStatus(payload, size, letter))
                break;
            if (letter == 'A' || letter == 'B')
                letter = 'A';
            if (letter != 'A' && letter != 'C')
                break;
            s.cStatus = letter;
            if (!s.bGuest) {
                m_Presence.Set(s.strNtv, letter);
                if (m_pCluster != nullptr)
                    m_pCluster->SetLetter(s.strNtv, letter);
            }
            ServerLog("status %s %c", LogSafe(s.strNtv).c_str(), letter);
            break;
        }
        case MSG_CONTACTS:
        case MSG_CONTACT_ADD:
        case MSG_CONTACT_REMOVE:
        case MSG_CONTACT_STATUS:
            HandleContacts(s, code, payload, size);
            break;
        case MSG_CALL_REQUEST:
            HandleCallRequest(s);
            break;
        case MSG_CALL_SETUP:
            HandleCallSetup(s, payload, size);
            break;
        case MSG_CALL_ACCEPT:
            HandleCallAccept(s, payload, size);
            break;
        case MSG_CALL_REFUSED:
            HandleCallRefused(s, payload, size);
            break;
        case MSG_CALL_CONNECTED: {
            auto it = m_Calls.find(s.nCallId);
            if (it != m_Calls.end() && it->second.eState == ECallState::Established &&
                it->second.callee == s.id) {
                if (it->second.strNode.empty())
                    SendShort(it->second.caller, MSG_CALL_CONNECTED);
                else
                    Tell(it->second.strNode, ENodeMessage::Connected, it->first);
            }
            break;
        }
        case MSG_HANGUP:
        case MSG_CALL_END:
            LeaveCall(s);
            break;
        case MSG_VIDEO_FORMAT:
        case MSG_VIDEO_STOP:
        case MSG_VIDEO_KEYFRAME:
            Relay(s, std::move(frame), false);
            break;
        default:
            break;  // unknown codes and the login of a session already logged in
    }
}

// ---- login -----------------------------------------------------------------------------------------

void CSwitchboard::HandleLogin(CSession& s, const uint8_t* payload, size_t size) {
    SLogin login;
    if (!ParseLogin(payload, size, login))
        return;
    if (login.ntv == kGuestNtv) {
        if (login.password == kGuestNtv) {
            LoginSucceeded(s, login.ntv, "", true, login.version);
        } else {
            ServerLog("login refused for the guest NTV from %s", s.strPeer.c_str());
            Send(s.id, BuildLoginError(kLoginErrorCredentials));
        }
        return;
    }
    // The lookup may wait on a database across the network, and the hash takes a tenth of a second:
    // both run elsewhere, and the connection sends no further frame meanwhile.
    s.eLogin = ELogin::Checking;
    s.strNtv = login.ntv;
    m_Host.PauseReading(s.id, true);
    ConnId id = s.id;
    std::string version = login.version;
    auto lookup = std::make_shared<SLoginLookup>();
    CAccountStore& store = m_Store;
    m_Host.RunCheck(
        [&store, lookup, ntv = login.ntv, password = login.password] {
            std::string hash;
            const auto found =
                ntv.empty() ? CAccountStore::EResult::NotFound : store.LookUpUser(ntv, lookup->profile, hash);
            lookup->bKnown = found == CAccountStore::EResult::Done;
            lookup->bStoreFailed = found == CAccountStore::EResult::Failed;
            return lookup->bKnown && VerifyPassword(hash, password);
        },
        [this, id, version, lookup](bool ok) { LoginChecked(id, ok, version, *lookup); });
}

void CSwitchboard::LoginChecked(ConnId id, bool bPasswordOk, const std::string& version,
                                const SLoginLookup& lookup) {
    CSession* s = Find(id);
    if (s == nullptr || s->eLogin != ELogin::Checking)
        return;
    s->eLogin = ELogin::None;
    m_Host.PauseReading(id, false);
    if (lookup.bStoreFailed) {
        // Told "incorrect data", the user would stop trying: closed unanswered, the client tries again.
        ServerLog("login of %s from %s put off: the account store cannot be read", LogSafe(s->strNtv).c_str(),
                  s->strPeer.c_str());
        CloseSession(id, "account store out of reach");
        return;
    }
    if (!lookup.bKnown) {
        ServerLog("login refused for unknown NTV %s from %s", LogSafe(s->strNtv).c_str(), s->strPeer.c_str());
        Send(id, BuildLoginError(kLoginErrorCredentials));
        return;
    }
    s->strNtv = lookup.profile.strNtv;
    s->strName = lookup.profile.strName;
    if (!bPasswordOk) {
        ServerLog("login refused for %s from %s: wrong password", LogSafe(s->strNtv).c_str(),
                  s->strPeer.c_str());
        Send(id, BuildLoginError(kLoginErrorCredentials));
        return;
    }
    if (m_ByNtv.count(s->strNtv) != 0) {
        ServerLog("login refused for %s from %s: already connected", LogSafe(s->strNtv).c_str(),
                  s->strPeer.c_str());
        Send(id, BuildLoginError(kLoginErrorAlreadyConnected));
        return;
    }
    std::string ntv = s->strNtv;
    std::string name = s->strName;
    if (m_pCluster == nullptr) {
        LoginSucceeded(*s, ntv, name, false, version);
        return;
    }
    // The other nodes may hold the NTV: the connection waits, unread, for the claim.
    s->eLogin = ELogin::Checking;
    m_Host.PauseReading(id, true);
    m_pCluster->Claim(ntv, 'C',
                      [this, id, ntv, version](EClaimResult r) { ClaimAnswered(id, ntv, version, r); });
}

void CSwitchboard::ClaimAnswered(ConnId id, const std::string& ntv, const std::string& version,
                                 EClaimResult result) {
    CSession* s = Find(id);
    if (s == nullptr || s->eLogin != ELogin::Checking || s->strNtv != ntv) {
        // Gone meanwhile: the claim must not outlive it, unless another local session holds the NTV.
        if (result == EClaimResult::Claimed && m_ByNtv.count(ntv) == 0)
            m_pCluster->Release(ntv);
        return;
    }
    s->eLogin = ELogin::None;
    m_Host.PauseReading(id, false);
    // A second login on this node may have won while both were claiming.
    if (result == EClaimResult::HeldElsewhere ||
        (result == EClaimResult::Claimed && m_ByNtv.count(ntv) != 0)) {
        ServerLog("login refused for %s from %s: already connected%s", LogSafe(ntv).c_str(),
                  s->strPeer.c_str(), result == EClaimResult::HeldElsewhere ? " on another node" : "");
        Send(id, BuildLoginError(kLoginErrorAlreadyConnected));
        return;
    }
    if (result == EClaimResult::Unavailable) {
        // No answer the client gives up on: closed before the login, it tries again shortly.
        ServerLog("login of %s from %s put off: the cluster store is out of reach", LogSafe(ntv).c_str(),
                  s->strPeer.c_str());
        CloseSession(id, "cluster store out of reach");
        return;
    }
    std::string name = s->strName;
    LoginSucceeded(*s, ntv, name, false, version);
}

void CSwitchboard::ClaimLost(const std::string& ntv) {
    auto it = m_ByNtv.find(ntv);
    if (it == m_ByNtv.end())
        return;
    ServerLog("session of %s ends: another node holds it", LogSafe(ntv).c_str());
    // Its release that follows leaves the other node's claim alone.
    CloseSession(it->second, "held by another node");
}

void CSwitchboard::LoginSucceeded(CSession& s, const std::string& ntv, const std::string& name, bool bGuest,
                                  const std::string& version) {
    s.eLogin = ELogin::Done;
    s.bGuest = bGuest;
    s.strNtv = ntv;
    s.strName = name;
    s.cStatus = 'C';
    if (!bGuest) {
        m_ByNtv[ntv] = s.id;
        m_Presence.Set(ntv, 'C');
    }
    ServerLog("login %s%s from %s version %s", LogSafe(ntv).c_str(), bGuest ? " (guest)" : "",
              s.strPeer.c_str(), LogSafe(version).c_str());
    SendShort(s.id, MSG_LOGIN_OK);
    Bytes info = BuildUserInfo(m_Config.strDirectoryAddress, m_Config.strHelpAddress, name);
    // The record ends with the name's NUL.
    info.resize(std::min(info.size(), kUserInfoNameOffset + std::min(name.size(), kMaxNameLength) + 1));
    Send(s.id, info);
    if (IsOlderVersion(version, m_Config.strCurrentVersion))
        SendShort(s.id, MSG_NEW_VERSION);
}

// ---- contacts --------------------------------------------------------------------------------------

void CSwitchboard::HandleContacts(CSession& s, uint8_t code, const uint8_t* payload, size_t size) {
    if (code == MSG_CONTACT_STATUS) {
        std::string ntv;
        if (!ParseContactNtv(payload, size, ntv))
            return;
        // Guests cannot be called, so they never show as connected.
        char letter = ntv == kGuestNtv ? 'D' : m_Presence.Get(ntv);
        if (letter != 'D' || ntv == kGuestNtv || m_pCluster == nullptr) {
            Send(s.id, BuildContactStatus(ntv, letter));
            return;
        }
        m_pCluster->LookUp(ntv, [this, id = s.id, ntv](char remote) {
            if (Find(id) != nullptr)
                Send(id, BuildContactStatus(ntv, remote));
        });
        return;
    }
    if (s.bGuest)
        return;  // a guest has no stored list
    if (code == MSG_CONTACTS) {
        for (const CStoredContact& c : m_Store.Contacts(s.strNtv)) {
            Send(s.id, BuildContactRecord(MSG_CONTACTS, c.strNtv, c.strName));
        }
    } else if (code == MSG_CONTACT_ADD) {
        SContact contact;
        if (!ParseContactRecord(payload, size, contact) || contact.ntv.empty())
            return;
        CAccountStore::EResult r = m_Store.AddContact(s.strNtv, contact.ntv, contact.name);
        if (r != CAccountStore::EResult::Done) {
            ServerLog("contact %s not added for %s: %s", LogSafe(contact.ntv).c_str(),
                      LogSafe(s.strNtv).c_str(),
                      r == CAccountStore::EResult::Full ? "list full" : "storage failed");
        }
    } else if (code == MSG_CONTACT_REMOVE) {
        std::string ntv;
        if (ParseContactNtv(payload, size, ntv) && !ntv.empty())
            m_Store.RemoveContact(s.strNtv, ntv);
    }
}

// ---- calls -----------------------------------------------------------------------------------------

uint32_t CSwitchboard::NewCallId() {
    // Never 0 (no call), never one in use or still awaited by a late refusal.
    for (;;) {
        uint32_t id = m_nNextCallId++;
        if (m_Config.nNodeId != 0)
            id = (m_Config.nNodeId << kNodeIdShift) | (id & ((1u << kNodeIdShift) - 1));
        if (id != 0 && m_Calls.count(id) == 0 && m_EndedSetups.count(id) == 0)
            return id;
    }
}

void CSwitchboard::Relay(CSession& s, Bytes&& frame, bool bDroppable) {
    auto it = m_Calls.find(s.nCallId);
    if (s.nCallId == 0 || it == m_Calls.end() || it->second.eState != ECallState::Established)
        return;
    const CCall& call = it->second;
    if (!call.strNode.empty())
        Tell(call.strNode, ENodeMessage::Frame, call.nId, std::move(frame), bDroppable);
    else
        m_Host.SendFrame(call.caller == s.id ? call.callee : call.caller, std::move(frame), bDroppable);
}

void CSwitchboard::Tell(const std::string& node, ENodeMessage kind, uint32_t callId, Bytes body,
                        bool bDroppable) {
    if (m_pBus != nullptr)
        m_pBus->SendTo(node, BuildNodeMessage({kind, callId, m_pBus->Node(), std::move(body)}), bDroppable);
}

void CSwitchboard::RememberEndedSetup(uint32_t callId, ConnId caller, ConnId callee,
                                      const std::string& node) {
    if (m_EndedSetups.emplace(callId, CEndedSetup{caller, callee, node}).second)
        m_EndedOrder.push_back(callId);
    while (m_EndedOrder.size() > kMaxEndedSetups) {
        m_EndedSetups.erase(m_EndedOrder.front());
        m_EndedOrder.pop_front();
    }
}

void CSwitchboard::HandleCallRequest(CSession& s) {
    LeaveCall(s);  // one call per connection: a new request ends the previous one
    uint32_t id = NewCallId();
    m_Calls[id] = CCall{id, s.id, 0, ECallState::Requested, {}, false};
    s.nCallId = id;
    Send(s.id, BuildCallIdRecord(MSG_CALL_ID, id));
}

void CSwitchboard::HandleCallSetup(CSession& s, const uint8_t* payload, size_t size) {
    SCallSetup setup;
    if (!ParseCallSetup(payload, size, setup))
        return;
    auto it = m_Calls.find(setup.callId);
    if (it == m_Calls.end() || it->second.caller != s.id || it->second.eState != ECallState::Requested ||
        it->second.bLocating) {
        ServerLog("call set-up from %s ignored: no call %u pending", LogSafe(s.strNtv).c_str(), setup.callId);
        return;
    }
    CCall& call = it->second;
    // The caller is who logged in on this connection, whatever the record claims: refusals are
    // routed back by that name.
    Bytes record = BuildCallSetup(setup.callId, s.strNtv, setup.callerName, setup.calledNtv);
    auto callee = m_ByNtv.find(setup.calledNtv);
    if (callee == m_ByNtv.end() && m_pBus != nullptr && m_pBus->IsUp()) {
        // Perhaps on another node: the set-up waits for the cluster to say which.
        call.bLocating = true;
        m_pCluster->Locate(setup.calledNtv,
                           [this, id = call.nId, caller = s.id, record](const std::string& node) {
                               Located(id, caller, record, node);
                           });
        return;
    }
    if (callee == m_ByNtv.end()) {
        RefuseUnreachable(s, call.nId, record);
        return;
    }
    call.callee = callee->second;
    call.eState = ECallState::Ringing;
    ServerLog("call %u from %s to %s", call.nId, LogSafe(s.strNtv).c_str(), LogSafe(setup.calledNtv).c_str());
    Send(call.callee, record);
}

void CSwitchboard::RefuseUnreachable(CSession& s, uint32_t callId, const Bytes& setup) {
    SCallSetup parsed;
    ParseCallSetup(setup.data(), setup.size(), parsed);
    ServerLog("call %u from %s to %s: not connected", callId, LogSafe(s.strNtv).c_str(),
              LogSafe(parsed.calledNtv).c_str());
    Bytes refused;
    BuildCallRefused(setup.data(), setup.size(), kRefusedNoAnswer, refused);
    m_Calls.erase(callId);
    if (s.nCallId == callId)
        s.nCallId = 0;
    Send(s.id, refused);
}

void CSwitchboard::Located(uint32_t callId, ConnId caller, const Bytes& setup, const std::string& node) {
    auto it = m_Calls.find(callId);
    CSession* s = Find(caller);
    if (it == m_Calls.end() || !it->second.bLocating || it->second.caller != caller || s == nullptr)
        return;  // the caller gave up or went away meanwhile
    CCall& call = it->second;
    call.bLocating = false;
    // This node's own name would be a user who logged out or is only now logging in here.
    if (node.empty() || m_pBus == nullptr || node == m_pBus->Node() || !m_pBus->IsUp()) {
        RefuseUnreachable(*s, callId, setup);
        return;
    }
    SCallSetup parsed;
    ParseCallSetup(setup.data(), setup.size(), parsed);
    call.strNode = node;
    call.eState = ECallState::Ringing;
    ServerLog("call %u from %s to %s on node %s", callId, LogSafe(s->strNtv).c_str(),
              LogSafe(parsed.calledNtv).c_str(), LogSafe(node).c_str());
    Tell(node, ENodeMessage::Setup, callId, setup);
}

void CSwitchboard::HandleCallAccept(CSession& s, const uint8_t* payload, size_t size) {
    uint32_t id = 0;
    if (!ParseCallIdRecord(payload, size, id))
        return;
    auto it = m_Calls.find(id);
    if (it == m_Calls.end() || it->second.callee != s.id) {
        // The caller gave up meanwhile: tell the callee the set-up is over.
        SendShort(s.id, MSG_CALL_ABORT);
        return;
    }
    if (it->second.eState != ECallState::Ringing)
        return;
    if (s.nCallId != 0 && s.nCallId != id)
        LeaveCall(s);
    it->second.eState = ECallState::Established;
    s.nCallId = id;
    ServerLog("call %u established", id);
    SendShort(s.id, MSG_CALL_ACCEPTED);
    if (!it->second.strNode.empty())
        Tell(it->second.strNode, ENodeMessage::Accepted, id);
}

void CSwitchboard::HandleCallRefused(CSession& s, const uint8_t* payload, size_t size) {
    SCallSetup setup;
    if (!ParseCallSetup(payload, size, setup))
        return;
    Bytes refused(payload, payload + kCallSetupSize);
    ConnId caller = 0;
    std::string node;
    auto it = m_Calls.find(setup.callId);
    if (it != m_Calls.end()) {
        if (it->second.callee != s.id || it->second.eState != ECallState::Ringing)
            return;
        caller = it->second.caller;
        node = it->second.strNode;
        m_Calls.erase(it);
        if (CSession* c = Find(caller); c != nullptr && c->nCallId == setup.callId)
            c->nCallId = 0;
    } else {
        auto ended = m_EndedSetups.find(setup.callId);
        if (ended == m_EndedSetups.end() || ended->second.callee != s.id)
            return;
        caller = ended->second.caller;
        node = ended->second.strNode;
        m_EndedSetups.erase(ended);
        m_EndedOrder.erase(std::find(m_EndedOrder.begin(), m_EndedOrder.end(), setup.callId));
    }
    ServerLog("call %u refused by %s, reason %u", setup.callId, LogSafe(s.strNtv).c_str(), setup.reason);
    if (!node.empty())
        Tell(node, ENodeMessage::Refused, setup.callId, std::move(refused));
    else if (Find(caller) != nullptr)
        Send(caller, refused);
}

void CSwitchboard::LeaveCall(CSession& s) {
    if (s.nCallId == 0)
        return;
    uint32_t id = s.nCallId;
    s.nCallId = 0;
    auto it = m_Calls.find(id);
    if (it == m_Calls.end())
        return;
    CCall call = it->second;
    m_Calls.erase(it);
    ConnId other = call.caller == s.id ? call.callee : call.caller;
    if (!call.strNode.empty()) {
        if (call.eState == ECallState::Established) {
            Tell(call.strNode, ENodeMessage::Hangup, id);
            ServerLog("call %u ended by %s", id, LogSafe(s.strNtv).c_str());
        } else if (call.eState == ECallState::Ringing) {
            Tell(call.strNode, ENodeMessage::Abort, id);
            RememberEndedSetup(id, call.caller, 0, call.strNode);
            ServerLog("call %u abandoned by %s", id, LogSafe(s.strNtv).c_str());
        }
        return;
    }
    if (call.eState == ECallState::Established) {
        if (CSession* o = Find(other); o != nullptr) {
            o->nCallId = 0;
            SendShort(other, MSG_HANGUP);
        }
        ServerLog("call %u ended by %s", id, LogSafe(s.strNtv).c_str());
    } else if (call.eState == ECallState::Ringing) {
        // The caller gave up before the answer; the callee may still refuse later.
        RememberEndedSetup(id, call.caller, call.callee);
        if (Find(call.callee) != nullptr)
            SendShort(call.callee, MSG_CALL_ABORT);
        ServerLog("call %u abandoned by %s", id, LogSafe(s.strNtv).c_str());
    }
}

void CSwitchboard::DropRingingAt(CSession& callee) {
    std::vector<uint32_t> ringing;
    for (const auto& [id, call] : m_Calls) {
        if (call.callee == callee.id && call.eState == ECallState::Ringing)
            ringing.push_back(id);
    }
    for (uint32_t id : ringing) {
        ConnId caller = m_Calls[id].caller;
        const std::string node = m_Calls[id].strNode;
        m_Calls.erase(id);
        if (!node.empty())
            Tell(node, ENodeMessage::Hangup, id);
        if (CSession* c = Find(caller); c != nullptr) {
            c->nCallId = 0;
            SendShort(caller, MSG_HANGUP);
        }
        ServerLog("call %u ended: %s went away", id, LogSafe(callee.strNtv).c_str());
    }
}

// ---- calls shared with other nodes -----------------------------------------------------------------

void CSwitchboard::OnNodeMessage(const uint8_t* data, size_t size) {
    SNodeMessage m;
    if (m_pBus == nullptr || !ParseNodeMessage(data, size, m) || m.strFrom == m_pBus->Node())
        return;
    if (m.eKind == ENodeMessage::Setup) {
        NodeSetup(m);
        return;
    }
    auto it = m_Calls.find(m.nCallId);
    if (it == m_Calls.end() || it->second.strNode != m.strFrom) {
        // A refusal may come after the caller here gave up: it still reaches the caller.
        auto ended = m_EndedSetups.find(m.nCallId);
        if (m.eKind != ENodeMessage::Refused || ended == m_EndedSetups.end() ||
            ended->second.strNode != m.strFrom || ended->second.caller == 0) {
            return;
        }
        ConnId caller = ended->second.caller;
        m_EndedSetups.erase(ended);
        m_EndedOrder.erase(std::find(m_EndedOrder.begin(), m_EndedOrder.end(), m.nCallId));
        if (Find(caller) != nullptr)
            Send(caller, m.body);
        return;
    }
    CCall& call = it->second;
    const ConnId local = call.caller != 0 ? call.caller : call.callee;
    const bool callerHere = call.caller != 0;
    switch (m.eKind) {
        case ENodeMessage::Accepted:
            if (callerHere && call.eState == ECallState::Ringing) {
                call.eState = ECallState::Established;
                ServerLog("call %u established", call.nId);
            }
            break;
        case ENodeMessage::Connected:
            if (callerHere && call.eState == ECallState::Established)
                SendShort(local, MSG_CALL_CONNECTED);
            break;
        case ENodeMessage::Refused:
            if (callerHere && call.eState == ECallState::Ringing) {
                m_Calls.erase(it);
                if (CSession* c = Find(local); c != nullptr) {
                    if (c->nCallId == m.nCallId)
                        c->nCallId = 0;
                    Send(local, m.body);
                }
            }
            break;
        case ENodeMessage::Abort:
            if (!callerHere && call.eState == ECallState::Ringing) {
                // The callee may still refuse: that refusal goes back to the caller's node.
                RememberEndedSetup(call.nId, 0, local, call.strNode);
                m_Calls.erase(it);
                SendShort(local, MSG_CALL_ABORT);
            }
            break;
        case ENodeMessage::Hangup:
            if (call.eState != ECallState::Requested) {
                const uint32_t id = call.nId;
                m_Calls.erase(it);
                if (CSession* l = Find(local); l != nullptr) {
                    if (l->nCallId == id)
                        l->nCallId = 0;
                    SendShort(local, MSG_HANGUP);
                }
                ServerLog("call %u ended by the other node", id);
            }
            break;
        case ENodeMessage::Frame: {
            if (call.eState != ECallState::Established)
                break;
            const uint8_t channel = m.body[0];
            const uint8_t* payload = m.body.data() + kFrameHeaderSize;
            const size_t length = m.body.size() - kFrameHeaderSize;
            if (channel == kChannelControl) {
                // Of the records, only the video ones pass from party to party.
                if (length == 0 || (payload[0] != MSG_VIDEO_FORMAT && payload[0] != MSG_VIDEO_STOP &&
                                    payload[0] != MSG_VIDEO_KEYFRAME)) {
                    break;
                }
            } else if (channel != kChannelText && channel != kChannelAudio && channel != kChannelVideo) {
                break;
            }
            const bool droppable = channel == kChannelAudio || channel == kChannelVideo;
            m_Host.SendFrame(local, std::move(m.body), droppable);
            break;
        }
        case ENodeMessage::Setup:
            break;
    }
}

void CSwitchboard::NodeSetup(const SNodeMessage& m) {
    SCallSetup setup;
    if (!ParseCallSetup(m.body.data(), m.body.size(), setup) || setup.callId != m.nCallId ||
        m_Calls.count(m.nCallId) != 0 || m_EndedSetups.count(m.nCallId) != 0) {
        return;
    }
    auto callee = m_ByNtv.find(setup.calledNtv);
    if (callee == m_ByNtv.end()) {
        // Gone from here since the caller's node looked.
        Bytes refused;
        BuildCallRefused(m.body.data(), m.body.size(), kRefusedNoAnswer, refused);
        Tell(m.strFrom, ENodeMessage::Refused, m.nCallId, std::move(refused));
        return;
    }
    m_Calls[m.nCallId] = CCall{m.nCallId, 0, callee->second, ECallState::Ringing, m.strFrom, false};
    ServerLog("call %u from %s on node %s to %s", m.nCallId, LogSafe(setup.callerNtv).c_str(),
              LogSafe(m.strFrom).c_str(), LogSafe(setup.calledNtv).c_str());
    Send(callee->second, m.body);
}

void CSwitchboard::OnNodeGone(const std::string& node) {
    if (!node.empty())
        EndCallsWith(node, "its node is gone");
}

void CSwitchboard::OnBusState(bool bUp) {
    if (!bUp)
        EndCallsWith("", "the cluster's bus is down");
}

void CSwitchboard::EndCallsWith(const std::string& node, const char* why) {
    std::vector<uint32_t> ended;
    for (const auto& [id, call] : m_Calls) {
        if (!call.strNode.empty() && (node.empty() || call.strNode == node))
            ended.push_back(id);
    }
    for (uint32_t id : ended) {
        CCall call = m_Calls[id];
        m_Calls.erase(id);
        const ConnId local = call.caller != 0 ? call.caller : call.callee;
        if (CSession* l = Find(local); l != nullptr) {
            if (l->nCallId == id)
                l->nCallId = 0;
            // A callee whose phone still rings hears that the caller gave up; anyone else, a hang-up.
            SendShort(local,
                      call.caller == 0 && call.eState == ECallState::Ringing ? MSG_CALL_ABORT : MSG_HANGUP);
        }
        ServerLog("call %u ended: %s", id, why);
    }
    for (auto it = m_EndedSetups.begin(); it != m_EndedSetups.end();) {
        if (!it->second.strNode.empty() && (node.empty() || it->second.strNode == node)) {
            m_EndedOrder.erase(std::find(m_EndedOrder.begin(), m_EndedOrder.end(), it->first));
            it = m_EndedSetups.erase(it);
        } else {
            ++it;
        }
    }
}
