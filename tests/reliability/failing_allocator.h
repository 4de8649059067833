// A global allocator that can be told to fail one allocation, for the tests
// linked with failing_allocator.cpp (it replaces operator new and delete).
#pragma once

#include <cstddef>

namespace bspp::test {

// Starts counting the allocations made from now on; the `failAt`-th one
// (counted from 1) throws std::bad_alloc, or returns null for the nothrow
// forms. failAt 0 fails none.
void armAllocator(long failAt);
// Stops counting. Returns how many allocations were made while armed.
long disarmAllocator();

// Bytes allocated and not yet freed, and the most there were since the last
// resetPeak(). Counted whether armed or not.
std::size_t liveBytes();
std::size_t peakBytes();
void resetPeak();

}  // namespace bspp::test
