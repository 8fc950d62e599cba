// SPDX-License-Identifier: MIT
// Clearing secrets so that the compiler cannot drop the stores: a memset
// followed by nothing that reads the memory is a dead store to an optimiser,
// so the barrier tells it the cleared bytes may still be read.
#pragma once

#include <cstddef>
#include <cstring>

namespace velk {

// Sets `size` bytes at `p` to zero, even when nothing reads them afterwards.
inline void secure_wipe(void *p, std::size_t size) noexcept {
    if (size == 0)
        return;
    std::memset(p, 0, size);
    __asm__ __volatile__("" : : "r"(p) : "memory");
}

} // namespace velk
