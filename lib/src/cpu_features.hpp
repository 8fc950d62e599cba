// SPDX-License-Identifier: MIT
// The processor features that the library and the many-block path choose
// their code by, read once. Internal to the library.
#pragma once

#include <cstdint>

namespace velk::cpu {

enum Feature : std::uint32_t {
    avx2 = 1u << 1,            // AVX2, with the YMM state enabled by the OS
    avx512f = 1u << 2,         // AVX-512 F, with the ZMM and opmask state enabled
    avx512_bw_bitalg = 1u << 3 // AVX-512 F, BW and BITALG (the constant-time engine)
};

// Whether this processor and its operating system run `f`. False on every
// processor but x86.
bool has(Feature f);

} // namespace velk::cpu
