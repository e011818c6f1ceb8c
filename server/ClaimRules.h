// How a node decides a login's claim of an NTV that another node may hold. A claim is a key with a lease
// that its node renews. A claim found held elsewhere is refused (reason 8) only once its holder is seen
// renewing it: right after a node dies its claims still look fresh, and a wrong 8 would make the client
// give up for good.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct SLeaseTimes {
    uint32_t nLeaseMs = 10000;  // a claim lapses this long after its node's last renewal
    uint32_t nRenewMs = 2000;   // how often a node renews all of its claims

    // Long enough to see a live holder's next renewal, with room for a slow round trip.
    uint32_t ConfirmMs() const { return nRenewMs + nRenewMs / 2; }
    // The longest a login waits for a claim: a dead holder's lease, plus the look that found it dead.
    uint32_t GiveUpMs() const { return nLeaseMs + ConfirmMs() + 1000; }
};

// What one attempt to claim found.
struct SClaimSeen {
    bool bClaimed = false;  // the claim is ours now
    std::string strHolder;  // otherwise: the node instance holding it
    int64_t nLeftMs = 0;    // and the lease left on the claim
    int64_t nAtMs = 0;      // when, by the Redis server's clock
};

struct SClaimStep {
    enum class EKind { Claimed, Refuse, Retry };
    EKind eKind = EKind::Retry;
    uint32_t nRetryInMs = 0;
    // The look that later ones compare with: kept while the same holder is watched.
    SClaimSeen baseline;
};

// `earlier` is the first look at the current holder (none on the first attempt).
SClaimStep DecideClaim(const std::optional<SClaimSeen>& earlier, const SClaimSeen& now,
                       const SLeaseTimes& times);

// The presence letter of a claim value (the letter, '|', then the holding node instance); 'D' for none
// or a malformed one.
char ClaimLetter(const std::string& value);
// The node instance named by a claim's value ("" for none).
std::string ClaimHolder(const std::string& value);
