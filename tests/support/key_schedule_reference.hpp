// SPDX-License-Identifier: MIT
// The key schedule built one byte per key bit: slow and plain, the reference
// the library's table-driven builder is tested against. Test-only: the
// shipped library does not carry it.
#pragma once

#include <cstdint>

#include "tables.hpp"
#include "velkcore.h"

namespace velk {

inline void des_keyschedule_bitwise(const unsigned char key[8], des_subkeys ks) {
    std::uint8_t chosen[56]; // C then D, after PC-1; parity bits are gone
    for (unsigned i = 0; i < 56; ++i) {
        const unsigned b = pc1[i] - 1u;
        chosen[i] = (key[b >> 3] >> (7 - (b & 7))) & 1u;
    }
    for (unsigned round = 0; round < 16; ++round) {
        const unsigned n = des_rotations[round];
        // Each round rotates the unrotated halves by its cumulative count,
        // so nothing carries over from the round before.
        std::uint8_t rotated[56];
        for (unsigned j = 0; j < 28; ++j) {
            rotated[j] = chosen[(j + n) % 28];
            rotated[28 + j] = chosen[28 + (j + n) % 28];
        }
        // The schedule packs each 6-bit group where the round reads it:
        // G1, G3, G5, G7 in the even word, G2, G4, G6, G8 in the odd word,
        // each in the low six bits of its byte.
        std::uint8_t group[8] = {};
        for (unsigned k = 0; k < 48; ++k)
            if (rotated[pc2[k] - 1u])
                group[k / 6] |= static_cast<std::uint8_t>(0x20u >> (k % 6));
        ks[2 * round] = std::uint32_t{group[0]} << 24 | std::uint32_t{group[2]} << 16 |
                        std::uint32_t{group[4]} << 8 | group[6];
        ks[2 * round + 1] = std::uint32_t{group[1]} << 24 | std::uint32_t{group[3]} << 16 |
                            std::uint32_t{group[5]} << 8 | group[7];
    }
}

} // namespace velk
