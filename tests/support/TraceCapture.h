// Trace lines collected while the object lives (a thread ended by force traces "Break de Thread", for
// instance). Header-only: needs vp_platform.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/Trace.h"

namespace vp::test {

class CTraceCapture {
public:
    CTraceCapture() {
        SetTraceSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(line);
        });
    }
    ~CTraceCapture() { SetTraceSink(nullptr); }
    CTraceCapture(const CTraceCapture&) = delete;
    CTraceCapture& operator=(const CTraceCapture&) = delete;

    // How many lines hold the text.
    int Count(const std::string& needle) {
        std::lock_guard<std::mutex> lock(m_mutex);
        int n = 0;
        for (const auto& l : m_lines)
            n += l.find(needle) != std::string::npos ? 1 : 0;
        return n;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

}  // namespace vp::test
