// A message target that records what reaches it, on which thread, and answers as told. Header-only:
// needs vp_platform.
#pragma once

#include <functional>
#include <thread>
#include <vector>

#include "platform/Messages.h"

namespace vp::test {

struct SMsg {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class CMessageRecorder : public CMessageTarget {
public:
    using Answer = std::function<LRESULT(UINT, WPARAM, LPARAM)>;

    // Answers every message with `answer`'s result (0 without one).
    explicit CMessageRecorder(Answer answer = nullptr) : m_answer(std::move(answer)) {}

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        seen.push_back({message, wParam, lParam});
        threads.push_back(std::this_thread::get_id());
        if (onMessage)
            onMessage(message, wParam, lParam);
        return m_answer ? m_answer(message, wParam, lParam) : 0;
    }
    int Count(UINT message) const {
        int n = 0;
        for (const auto& m : seen)
            n += m.message == message ? 1 : 0;
        return n;
    }

    std::vector<SMsg> seen;
    std::vector<std::thread::id> threads;
    std::function<void(UINT, WPARAM, LPARAM)> onMessage;

private:
    Answer m_answer;
};

}  // namespace vp::test
