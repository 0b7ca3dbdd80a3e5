// The set of handles a library has handed out and not yet taken back. A caller may pass any
// pointer, a freed one included; only pointers found here are ever dereferenced.
#pragma once

#include <mutex>
#include <unordered_set>

namespace streamkit {

class HandleRegistry
{
public:
    void add(const void* handle)
    {
        std::lock_guard lock(m_mutex);
        m_live.insert(handle);
    }
    // True when the handle was live (and is not any more).
    bool remove(const void* handle)
    {
        std::lock_guard lock(m_mutex);
        return m_live.erase(handle) != 0;
    }
    bool contains(const void* handle) const
    {
        if (!handle)
            return false;
        std::lock_guard lock(m_mutex);
        return m_live.count(handle) != 0;
    }

private:
    mutable std::mutex m_mutex;
    std::unordered_set<const void*> m_live;
};

} // namespace streamkit
