#include "net/ChannelText.h"

bool CChannelText::SendText(std::string_view text) {
    if (text.empty())
        return false;
    const Bytes record = BuildText(text);
    return PushSendQueued(kTagControl, record.data(), record.size());
}

std::string CChannelText::ReceiveText() {
    uint32_t tag = 0;
    if (!PopReceived(tag, m_buffer))
        return {};
    std::string text;
    if (!ParseText(m_buffer.Data(), m_buffer.Size(), text))
        return {};
    return text;
}
