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
    // Only a renewal makes the lease left grow.
    if (now.nLeftMs > earlier->nLeftMs) {
        step.eKind = SClaimStep::EKind::Refuse;
        return step;
    }
    // The holder has stopped renewing: try again just after its lease runs out.
    const int64_t left = std::clamp<int64_t>(now.nLeftMs, 0, times.nLeaseMs);
    step.nRetryInMs = static_cast<uint32_t>(left) + 50;
    return step;
}

std::string ClaimValue(char letter, const std::string& instance) {
    return std::string(1, letter) + "|" + instance;
}

char ClaimLetter(const std::string& value) {
    if (value.size() < 3 || value[1] != '|')
        return 'D';
    return value[0] == 'A' ? 'A' : value[0] == 'C' ? 'C' : 'D';
}
