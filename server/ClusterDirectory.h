// IClusterDirectory and IClusterBus: what the switchboard needs from the other nodes of a cluster — who
// holds which NTV and with what presence, and a way to reach the node that holds the other party of a
// call. Called on the protocol thread; every answer comes back on it too.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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
    // The node (its name on the bus) that holds an NTV now; empty when none does or the store is away.
    virtual void Locate(const std::string& ntv, std::function<void(const std::string& node)> done) = 0;
    // Called for each local NTV found held by another node (after the store was out of reach): that
    // node's session stands, the local one must end.
    virtual void SetLostHandler(std::function<void(const std::string& ntv)> lost) = 0;
};

// Messages between nodes. Whatever one node sends another arrives whole and in the order sent, or the
// sender hears that the other node is gone.
class IClusterBus {
public:
    virtual ~IClusterBus() = default;
    // This node's name, as other nodes address it.
    virtual const std::string& Node() const = 0;
    // Whether messages can be sent and received now.
    virtual bool IsUp() const = 0;
    // Droppable messages (audio and video) may be dropped when the bus falls behind; the others never
    // are: a node that cannot pass them on reports the receiving node as gone.
    virtual void SendTo(const std::string& node, std::vector<uint8_t> message, bool bDroppable) = 0;
    // The nodes this one shares calls with now: each one that is found gone is reported.
    virtual void Watch(std::vector<std::string> nodes) = 0;
};
