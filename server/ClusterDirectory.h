// IClusterDirectory: what the switchboard needs from the other nodes of a cluster — who holds which NTV
// and with what presence. Called on the protocol thread; every answer comes back on it too.
#pragma once

#include <functional>
#include <string>

enum class EClaimResult {
    Claimed,        // the NTV is this node's now
    HeldElsewhere,  // a live node holds it: the login is refused as already connected
    Unavailable,    // the shared store cannot be reached: the login must be tried again later
};

class IClusterDirectory {
public:
    virtual ~IClusterDirectory() = default;
    virtual void Claim(const std::string& ntv, char letter, std::function<void(EClaimResult)> done) = 0;
    // Gives the NTV up, unless another node holds it by now.
    virtual void Release(const std::string& ntv) = 0;
    virtual void SetLetter(const std::string& ntv, char letter) = 0;
    // The presence letter of an NTV held by another node ('D' when none holds it).
    virtual void LookUp(const std::string& ntv, std::function<void(char)> done) = 0;
    // Called for each local NTV found held by another node (after the store was out of reach): that
    // node's session stands, the local one must end.
    virtual void SetLostHandler(std::function<void(const std::string& ntv)> lost) = 0;
};
