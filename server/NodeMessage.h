// What one node of a cluster tells another about a call whose two parties it does not both hold: the
// set-up and its answers, the end, and every frame the parties exchange. A message goes to the node's
// own channel on the cluster's bus, and names the node that sent it, where answers go.
//
// Layout: kind (1 byte), call id (4 bytes, big-endian like the frame header), length of the sender's
// node name (1 byte, 1 to kMaxNodeNameSize), the name, then the body: the 328-byte call set-up record
// for Setup and Refused, one whole frame (header and payload) for Frame, nothing for the others.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/Protocol.h"

enum class ENodeMessage : uint8_t {
    Setup = 1,  // the caller's set-up, for the callee this node holds
    Accepted,   // the callee took the call
    Connected,  // the callee's program is in the call: the caller hears of it
    Refused,    // the callee refused (the set-up record with its reason) or is not there
    Abort,      // the caller gave up before the answer
    Hangup,     // an established call ended, or the callee went away while it rang
    Frame,      // chat, audio, video or a video control record, for the other party
};

inline constexpr size_t kMaxNodeNameSize = 64;

struct SNodeMessage {
    ENodeMessage eKind = ENodeMessage::Hangup;
    uint32_t nCallId = 0;
    std::string strFrom;
    Bytes body;
};

Bytes BuildNodeMessage(const SNodeMessage& message);
// False for anything but a message of the layout above, with a body that fits its kind.
bool ParseNodeMessage(const uint8_t* data, size_t size, SNodeMessage& out);
