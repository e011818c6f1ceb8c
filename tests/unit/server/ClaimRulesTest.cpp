#include <gtest/gtest.h>

#include "server/ClaimRules.h"

namespace {

SClaimSeen Held(const std::string& holder, int64_t leftMs, int64_t atMs) {
    SClaimSeen seen;
    seen.strHolder = holder;
    seen.nLeftMs = leftMs;
    seen.nAtMs = atMs;
    return seen;
}

const SLeaseTimes kTimes{10000, 2000};

TEST(ClaimRules, ARenewingHolderIsRefusedAndADeadOneWaitedOut) {
    SClaimSeen claimed;
    claimed.bClaimed = true;
    EXPECT_EQ(DecideClaim(std::nullopt, claimed, kTimes).eKind, SClaimStep::EKind::Claimed);

    // The first look never refuses: a holder that died a moment ago still looks fresh.
    SClaimStep first = DecideClaim(std::nullopt, Held("1-a", 9900, 100000), kTimes);
    EXPECT_EQ(first.eKind, SClaimStep::EKind::Retry);
    EXPECT_EQ(first.nRetryInMs, kTimes.ConfirmMs());
    EXPECT_GT(kTimes.ConfirmMs(), kTimes.nRenewMs);

    // A renewal in between, even the earliest one possible (one interval after the last): alive, so 8.
    const int64_t later = 100000 + kTimes.ConfirmMs();
    const int64_t earliestRenewal = 100000 - 100 + kTimes.nRenewMs;
    EXPECT_EQ(
        DecideClaim(first.baseline, Held("1-a", 10000 - (later - earliestRenewal), later), kTimes).eKind,
        SClaimStep::EKind::Refuse);

    // Not renewed (give or take the clocks' rounding): wait for the lease to run out, comparing with the
    // first look all along.
    SClaimStep lapse = DecideClaim(first.baseline, Held("1-a", 9900 - kTimes.ConfirmMs() + 3, later), kTimes);
    EXPECT_EQ(lapse.eKind, SClaimStep::EKind::Retry);
    EXPECT_GE(lapse.nRetryInMs, 9900 - kTimes.ConfirmMs());
    EXPECT_LT(lapse.nRetryInMs, 9900 - kTimes.ConfirmMs() + 500);
    EXPECT_EQ(lapse.baseline.nLeftMs, 9900);
    // A holder that renews again during that wait is alive after all.
    EXPECT_EQ(DecideClaim(lapse.baseline, Held("1-a", 9990, 108000), kTimes).eKind,
              SClaimStep::EKind::Refuse);

    // Another node took it meanwhile: a new holder, watched afresh.
    SClaimStep other = DecideClaim(first.baseline, Held("2-b", 9990, later), kTimes);
    EXPECT_EQ(other.eKind, SClaimStep::EKind::Retry);
    EXPECT_EQ(other.baseline.strHolder, "2-b");

    // A lease left that makes no sense never means a wait beyond the lease.
    EXPECT_LE(DecideClaim(first.baseline, Held("1-a", -1, later), kTimes).nRetryInMs, 100u);
    EXPECT_LE(DecideClaim(Held("1-a", 1 << 30, 0), Held("1-a", 1 << 29, 1 << 29), kTimes).nRetryInMs,
              kTimes.nLeaseMs + 100);
}

TEST(ClaimRules, ClaimValuesCarryTheLetter) {
    EXPECT_EQ(ClaimLetter("C|3-ff"), 'C');
    EXPECT_EQ(ClaimLetter("A|3-ff"), 'A');
    for (const char* odd : {"", "C", "C|", "CX3", "Z|3-ff"})
        EXPECT_EQ(ClaimLetter(odd), 'D') << odd;
}

}  // namespace
