// The set of handles a library has handed out and not yet taken back. A caller may pass any
// pointer, a freed one included; only pointers found here are ever dereferenced.
//
// Some handles are looked up for every sector of a disc (a reader, the plugins probing it), a
// few million times a scan: each thread remembers the last handles it found live together with
// the registry's count of removals at that moment, and while nothing has been removed since, a
// remembered handle is live without a look at the set. A handle is remembered in one of 16 small
// sets chosen by its address, so that the dozen or so handles of a scan, taken in turn, all stay
// remembered (a single short list of the latest ones would forget each before its next turn).
// Add may fail (no memory): false.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>
#include <unordered_set>

namespace tamrin_common {

namespace detail {

constexpr unsigned kSets = 16;
constexpr unsigned kWays = 4;

struct FoundHandle
{
    uint64_t registry = 0; // the registry's number (never 0)
    const void* handle = nullptr;
    uint64_t removals = 0;
};

struct RecentHandles
{
    FoundHandle found[kSets][kWays];
    unsigned next[kSets] = {};
};

// The set a handle is remembered in: the top bits of its address times 2^64 / golden ratio.
inline unsigned setOf(const void* handle)
{
    static_assert(kSets == 16, "the set is the top four bits");
    return unsigned((uint64_t(reinterpret_cast<uintptr_t>(handle)) * 0x9E3779B97F4A7C15ull) >> 60);
}

} // namespace detail

class HandleRegistry
{
public:
    bool add(const void* handle) noexcept
    {
        std::lock_guard lock(m_mutex);
        try {
            m_live.insert(handle);
        } catch (...) {
            return false;
        }
        return true;
    }

    // True when the handle was live (and is not any more).
    bool remove(const void* handle) noexcept
    {
        std::lock_guard lock(m_mutex);
        if (m_live.erase(handle) == 0)
            return false;
        m_removals.fetch_add(1, std::memory_order_acq_rel);
        return true;
    }

    bool contains(const void* handle) const noexcept
    {
        if (!handle)
            return false;
        // Read before the set: a removal after this point makes the remembered entry stale.
        const uint64_t removals = m_removals.load(std::memory_order_acquire);
        Recent& recent = t_recent;
        const unsigned set = detail::setOf(handle);
        for (const Found& found : recent.found[set]) {
            if (found.handle == handle && found.registry == m_number && found.removals == removals)
                return true;
        }
        bool live;
        {
            std::lock_guard lock(m_mutex);
            live = m_live.count(handle) != 0;
        }
        if (live) {
            recent.found[set][recent.next[set]] = {m_number, handle, removals};
            recent.next[set] = (recent.next[set] + 1) % detail::kWays;
        }
        return live;
    }

private:
    using Found = detail::FoundHandle;
    using Recent = detail::RecentHandles;
    static inline thread_local Recent t_recent;
    static inline std::atomic<uint64_t> s_registries{0};

    // Registries are told apart by number, not address: one may live where another was.
    const uint64_t m_number = s_registries.fetch_add(1, std::memory_order_relaxed) + 1;

    mutable std::mutex m_mutex;
    std::unordered_set<const void*> m_live;
    std::atomic<uint64_t> m_removals{0};
};

} // namespace tamrin_common
