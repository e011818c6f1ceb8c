// CChannelText: channel 1, one chat line per message.
#pragma once

#include <string>
#include <string_view>

#include "net/Channel.h"
#include "net/Protocol.h"

class CChannelText : public CChannel {
public:
    CChannelText() : CChannel(kChannelText, true) {}

    // Nothing is sent for an empty text. True once queued (never waits; see CChannel).
    bool SendText(std::string_view text);
    // Pops one message and returns its text; empty when none is waiting (or it was malformed).
    std::string ReceiveText();

private:
    CByteBuffer m_buffer;
};
