#include "allocation_probe.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> g_watching{false};
std::atomic<bool> g_failing{false};
std::atomic<size_t> g_largest{0};

void* allocate(size_t size, size_t alignment = 0)
{
    if (g_failing.load(std::memory_order_relaxed))
        throw std::bad_alloc();
    if (g_watching.load(std::memory_order_relaxed)) {
        size_t seen = g_largest.load(std::memory_order_relaxed);
        while (size > seen && !g_largest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
        }
    }
    if (size == 0)
        size = 1;
    void* p = nullptr;
    if (alignment > alignof(std::max_align_t)) {
        if (posix_memalign(&p, alignment, size) != 0)
            p = nullptr;
    } else {
        p = std::malloc(size);
    }
    if (!p)
        throw std::bad_alloc();
    return p;
}

void* allocateNoThrow(size_t size, size_t alignment = 0) noexcept
{
    try {
        return allocate(size, alignment);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace

void* operator new(size_t size)
{
    return allocate(size);
}
void* operator new[](size_t size)
{
    return allocate(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    return allocateNoThrow(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return allocateNoThrow(size);
}
void* operator new(size_t size, std::align_val_t alignment)
{
    return allocate(size, size_t(alignment));
}
void* operator new[](size_t size, std::align_val_t alignment)
{
    return allocate(size, size_t(alignment));
}
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return allocateNoThrow(size, size_t(alignment));
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return allocateNoThrow(size, size_t(alignment));
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept
{
    std::free(p);
}

namespace testsupport {

size_t largestAllocationDuring(const std::function<void()>& work)
{
    g_largest = 0;
    g_watching = true;
    work();
    g_watching = false;
    return g_largest.load();
}

void withFailingAllocations(const std::function<void()>& work)
{
    g_failing = true;
    try {
        work();
    } catch (...) {
        g_failing = false;
        throw;
    }
    g_failing = false;
}

} // namespace testsupport
