// Hooks for tests: make the combo box's allocations fail on purpose, so that its out-of-memory
// paths can be driven. The program itself never uses these.
#pragma once

#include <cstddef>

namespace qv::combo_testing {

// Every allocation of the combo box (its records and its short-lived text buffers) goes through
// `allocator`; null restores std::malloc. What the allocator returns is released with std::free.
using Allocator = void *(*)(std::size_t size);
void SetAllocator(Allocator allocator);

} // namespace qv::combo_testing
