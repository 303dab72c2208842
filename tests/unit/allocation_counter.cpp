// Replaces the global allocation functions of the unit-test program. Kept in a file of its
// own so that no caller sees the bodies (and the compiler does not pair them with free).
#include "allocation_counter.h"

#include <cstdlib>
#include <new>

namespace {
std::size_t allocationCount = 0;
}

void* operator new(std::size_t size) {
    ++allocationCount;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace tessarwick::testing {

std::size_t allocationsSoFar() { return allocationCount; }

}  // namespace tessarwick::testing
