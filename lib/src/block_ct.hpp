// SPDX-License-Identifier: MIT
// The constant-time rounds: the same sixteen rounds as encrypt_rounds and
// decrypt_rounds in block.hpp, on the same rotated halves and schedule words,
// with no memory address and no branch depending on the key or the data.
// The build option VELK_CONSTANT_TIME sends every one-block path here; the
// code is compiled in every build, so that tests hold it to the tables.
// Internal to the library.
#pragma once

#include <array>
#include <cstdint>

#include "tables.hpp"

namespace velk::ct {

// Sixteen rounds in the encrypting (decrypting) order, with the engine chosen
// by the processor's features.
void encrypt_rounds(std::uint32_t &l, std::uint32_t &r, const std::uint32_t *ks);
void decrypt_rounds(std::uint32_t &l, std::uint32_t &r, const std::uint32_t *ks);

// The engines by name, for tests and benchmarks. The AVX-512 one exists only
// in builds with VELK_HAVE_AVX512_ENGINE, and may only be called where
// avx512_available() says so.
void encrypt_rounds_portable(std::uint32_t &l, std::uint32_t &r, const std::uint32_t *ks);
void decrypt_rounds_portable(std::uint32_t &l, std::uint32_t &r, const std::uint32_t *ks);
void encrypt_rounds_avx512(std::uint32_t &l, std::uint32_t &r, const std::uint32_t *ks);
void decrypt_rounds_avx512(std::uint32_t &l, std::uint32_t &r, const std::uint32_t *ks);

// True where the processor and the operating system run AVX-512 F, BW and
// BITALG (cpu_features.hpp) and this build holds the engine that uses them.
bool avx512_available();

// One output bit of the round function as a function of one S-box input:
// bit v of `table` is the bit for input v. The round function is the XOR
// (here an OR: the bits are disjoint) of 32 such bits, in the rotated form
// of des_sptab.
struct TruthTable {
    std::uint64_t table;
    std::uint32_t bit; // the single bit of the round function it sets
};

inline constexpr std::array<std::array<TruthTable, 4>, 8> sp_truth = [] {
    std::array<std::array<TruthTable, 4>, 8> t{};
    for (unsigned box = 0; box < 8; ++box) {
        std::uint32_t mask = 0;
        for (unsigned v = 0; v < 64; ++v)
            mask |= des_sptab[box][v];
        unsigned n = 0;
        for (unsigned pos = 0; pos < 32; ++pos) {
            if (!((mask >> pos) & 1u))
                continue;
            std::uint64_t table = 0;
            for (unsigned v = 0; v < 64; ++v)
                table |= std::uint64_t{(des_sptab[box][v] >> pos) & 1u} << v;
            t[box][n++] = {table, std::uint32_t{1} << pos};
        }
    }
    return t;
}();

namespace checks {
// Each S-box sets four bits of the round function, and the truth tables give
// back every SP table word.
constexpr bool truth_tables_equal_sp_tables() {
    for (unsigned box = 0; box < 8; ++box)
        for (unsigned v = 0; v < 64; ++v) {
            std::uint32_t w = 0;
            for (const TruthTable &t : sp_truth[box])
                if ((t.table >> v) & 1u)
                    w |= t.bit;
            if (w != des_sptab[box][v])
                return false;
        }
    return true;
}
static_assert(truth_tables_equal_sp_tables());
} // namespace checks

} // namespace velk::ct
