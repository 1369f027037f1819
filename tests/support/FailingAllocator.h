#ifndef TESTS_SUPPORT_FAILING_ALLOCATOR_H
#define TESTS_SUPPORT_FAILING_ALLOCATOR_H

#include <stddef.h>

// Suites linked with the failing_allocator library have malloc, calloc and
// realloc wrapped, so that a test can make the system's allocations fail.
// Disarmed, every allocation goes through.
namespace FailingAllocator {

// The allocation after the next `allocations` ones fails, and every one after it.
void FailAfter(int allocations);
// Every allocation of exactly `bytes` fails; the others go through.
void FailAllocationsOf(size_t bytes);
void Disarm();
// How many allocations were still to go through when disarmed (0: one failed).
int AllocationsLeft();
// Reallocations made while armed.
int Reallocations();

}  // namespace FailingAllocator

#endif
