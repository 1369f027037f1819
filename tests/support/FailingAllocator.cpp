#include "FailingAllocator.h"

#include <stdlib.h>

extern "C" void* __real_malloc(size_t size);
extern "C" void* __real_calloc(size_t count, size_t size);
extern "C" void* __real_realloc(void* block, size_t size);

namespace {

enum class Mode { Disarmed, AfterCount, OfSize };

Mode mode = Mode::Disarmed;
int allocationsLeft = 0;
size_t failingSize = 0;
int reallocations = 0;

bool NextAllocationFails(size_t size) {
    switch (mode) {
        case Mode::Disarmed:
            return false;
        case Mode::OfSize:
            return size == failingSize;
        case Mode::AfterCount:
            if (allocationsLeft == 0) return true;
            --allocationsLeft;
            return false;
    }
    return false;
}

}  // namespace

namespace FailingAllocator {

void FailAfter(int allocations) {
    mode = Mode::AfterCount;
    allocationsLeft = allocations;
    reallocations = 0;
}

void FailAllocationsOf(size_t bytes) {
    mode = Mode::OfSize;
    failingSize = bytes;
}

void Disarm() { mode = Mode::Disarmed; }

int AllocationsLeft() { return allocationsLeft; }

int Reallocations() { return reallocations; }

}  // namespace FailingAllocator

extern "C" void* __wrap_malloc(size_t size) { return NextAllocationFails(size) ? nullptr : __real_malloc(size); }

extern "C" void* __wrap_calloc(size_t count, size_t size) {
    return NextAllocationFails(count * size) ? nullptr : __real_calloc(count, size);
}

extern "C" void* __wrap_realloc(void* block, size_t size) {
    if (mode != Mode::Disarmed) ++reallocations;
    return NextAllocationFails(size) ? nullptr : __real_realloc(block, size);
}
