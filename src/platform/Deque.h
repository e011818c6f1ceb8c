// TDeque<T>: the system's unbounded double-ended queue. It has no lock of its own.
// Callers test size() before front(); a front() on an empty queue traces and hands back a
// default value held by the queue instead of reading outside its storage.
#pragma once

#include <cstddef>
#include <deque>

#include "platform/Trace.h"

template <typename T>
class TDeque {
public:
    void push_back(const T& value) { m_items.push_back(value); }
    void push_back(T&& value) { m_items.push_back(std::move(value)); }
    void push_front(const T& value) { m_items.push_front(value); }

    T& front() {
        if (m_items.empty()) {
            Trace("%s:%d | ( !size() )\n", "TDeque", 41);
            m_empty = T();
            return m_empty;
        }
        return m_items.front();
    }

    void pop_front() {
        if (!m_items.empty()) m_items.pop_front();
    }

    size_t size() const { return m_items.size(); }
    bool empty() const { return m_items.empty(); }
    void clear() { m_items.clear(); }

    T& operator[](size_t i) { return m_items[i]; }
    const T& operator[](size_t i) const { return m_items[i]; }

    // Removes the items [first, last); indices past the end are clipped.
    void erase(size_t first, size_t last) {
        if (last > m_items.size()) last = m_items.size();
        if (first >= last) return;
        m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(first),
                      m_items.begin() + static_cast<std::ptrdiff_t>(last));
    }

    auto begin() { return m_items.begin(); }
    auto end() { return m_items.end(); }
    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

private:
    std::deque<T> m_items;
    T m_empty{};
};
