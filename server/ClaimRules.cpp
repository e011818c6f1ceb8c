#include "server/ClaimRules.h"

#include <algorithm>

SClaimStep DecideClaim(const std::optional<SClaimSeen>& earlier, const SClaimSeen& now,
                       const SLeaseTimes& times) {
    SClaimStep step;
    if (now.bClaimed) {
        step.eKind = SClaimStep::EKind::Claimed;
        return step;
    }
    if (!earlier || earlier->strHolder != now.strHolder) {
        // A holder not seen before: watch for its next renewal.
        step.baseline = now;
        step.nRetryInMs = times.ConfirmMs();
        return step;
    }
    step.baseline = *earlier;
    // Unrenewed, the lease shrinks as time passes; a renewal within the confirmation time puts back at
    // least half a renewal interval, far more than the clocks' rounding.
    const int64_t unrenewed = earlier->nLeftMs - (now.nAtMs - earlier->nAtMs);
    if (now.nLeftMs > unrenewed + times.nRenewMs / 4) {
        step.eKind = SClaimStep::EKind::Refuse;
        return step;
    }
    // The holder has stopped renewing: try again just after its lease runs out.
    const int64_t left = std::clamp<int64_t>(now.nLeftMs, 0, times.nLeaseMs);
    step.nRetryInMs = static_cast<uint32_t>(left) + 50;
    return step;
}

char ClaimLetter(const std::string& value) {
    if (value.size() < 3 || value[1] != '|')
        return 'D';
    return value[0] == 'A' ? 'A' : value[0] == 'C' ? 'C' : 'D';
}

std::string ClaimHolder(const std::string& value) {
    return ClaimLetter(value) == 'D' ? std::string() : value.substr(2);
}
