// SPDX-License-Identifier: MIT
// The library's one optimisation barrier on a value.
#pragma once

#include <cstdint>

namespace velk {

// Gives back `v` unchanged, but the compiler no longer knows where it came
// from: the empty statement emits no instruction. It keeps a balanced XOR
// tree from being folded back into one long chain, so that each level waits
// for its own two operands alone (block.hpp), and keeps arithmetic written
// to run without branches from being turned back into compares and
// branches (key_schedule.cpp).
[[gnu::always_inline]] inline std::uint64_t opaque(std::uint64_t v) {
#if defined(__GNUC__) || defined(__clang__)
    __asm__("" : "+r"(v));
#endif
    return v;
}

} // namespace velk
