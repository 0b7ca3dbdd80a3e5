// Watches the allocations the whole test program makes through operator new (the libraries it
// loads included): the largest single request while some work runs, or every request failing
// with std::bad_alloc, as an exhausted heap would.
#pragma once

#include <cstddef>
#include <functional>

namespace testsupport {

// The largest single operator new request made while `work` ran.
size_t largestAllocationDuring(const std::function<void()>& work);

// Runs `work` with every operator new request failing. The work must not use the test
// framework's assertions (they allocate); it should only keep results for checking afterwards.
void withFailingAllocations(const std::function<void()>& work);

} // namespace testsupport
