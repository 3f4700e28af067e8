// A bound on what a size read from a file may make the program allocate:
// its most, unless a harness that runs under an allocation limit sets it
// lower (0 sets it back). Read from any thread.
#pragma once

#include <atomic>

template <typename T>
class LowerableLimit {
public:
    constexpr explicit LowerableLimit(T most) : m_most(most) {}

    void lower(T to) { m_set.store(to, std::memory_order_relaxed); }
    T get() const
    {
        const T set = m_set.load(std::memory_order_relaxed);
        return set > 0 && set < m_most ? set : m_most;
    }

private:
    const T m_most;
    std::atomic<T> m_set{0};
};
