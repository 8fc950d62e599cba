// SPDX-License-Identifier: MIT
// The constant tables of DES as the standard prints them, and the round
// tables derived from them at compile time. Nothing here is writable.
#pragma once

#include <array>
#include <cstdint>

namespace velk {

// Permuted choice 1: element i (0-based) names the 1-based key bit that
// becomes bit i+1 of C (first 28) or D (last 28).
inline constexpr std::array<std::uint8_t, 56> pc1 = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, //
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36, //
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22, //
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

// Permuted choice 2: element k (0-based) names the 1-based bit of the rotated
// C‖D that becomes subkey bit k+1.
inline constexpr std::array<std::uint8_t, 48> pc2 = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, //
    23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,  //
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, //
    44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

// Left shifts of C and D before each round.
inline constexpr std::array<std::uint8_t, 16> shifts = {1, 1, 2, 2, 2, 2, 2, 2,
                                                        1, 2, 2, 2, 2, 2, 2, 1};

// Cumulative rotation of C and D in round r (element r-1): the running sums of
// the shifts, so every round can start from the unrotated halves.
inline constexpr std::array<std::uint8_t, 16> des_rotations = [] {
    std::array<std::uint8_t, 16> r{};
    unsigned sum = 0;
    for (unsigned i = 0; i < 16; ++i) r[i] = static_cast<std::uint8_t>(sum += shifts[i]);
    return r;
}();

// Initial permutation IP: element i (0-based) names the 1-based input bit
// that becomes bit i+1 of L0‖R0. The block transform computes it with an
// exchange network; the many-block path uses the table as it stands.
inline constexpr std::array<std::uint8_t, 64> initial_perm = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4, //
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8, //
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3, //
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

// Expansion E: element i (0-based) names the 1-based bit of the 32-bit half
// that becomes bit i+1 of the 48-bit input of the S-boxes.
inline constexpr std::array<std::uint8_t, 48> expansion = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11, //
    12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21, //
    22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};

// Permutation P: element i (0-based) names the 1-based bit of the S-box
// output that becomes bit i+1 of the round function's result.
inline constexpr std::array<std::uint8_t, 32> perm_p = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10, //
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

// S-boxes 1..8 (index 0..7): [box][row][column] gives the 4-bit output.
inline constexpr std::uint8_t sbox[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}}};

// The weak group (rows 0-3) and the semi-weak group (rows 4-15), the latter in
// pairs whose schedules are each other's reversed. Compared byte for byte,
// parity bits included.
inline constexpr std::uint8_t des_weakkeys[16][8] = {
    {0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01},
    {0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE},
    {0x1F, 0x1F, 0x1F, 0x1F, 0x0E, 0x0E, 0x0E, 0x0E},
    {0xE0, 0xE0, 0xE0, 0xE0, 0xF1, 0xF1, 0xF1, 0xF1},
    {0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE},
    {0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01},
    {0x1F, 0xE0, 0x1F, 0xE0, 0x0E, 0xF1, 0x0E, 0xF1},
    {0xE0, 0x1F, 0xE0, 0x1F, 0xF1, 0x0E, 0xF1, 0x0E},
    {0x01, 0xE0, 0x01, 0xE0, 0x01, 0xF1, 0x01, 0xF1},
    {0xE0, 0x01, 0xE0, 0x01, 0xF1, 0x01, 0xF1, 0x01},
    {0x1F, 0xFE, 0x1F, 0xFE, 0x0E, 0xFE, 0x0E, 0xFE},
    {0xFE, 0x1F, 0xFE, 0x1F, 0xFE, 0x0E, 0xFE, 0x0E},
    {0x01, 0x1F, 0x01, 0x1F, 0x01, 0x0E, 0x01, 0x0E},
    {0x1F, 0x01, 0x1F, 0x01, 0x0E, 0x01, 0x0E, 0x01},
    {0xE0, 0xFE, 0xE0, 0xFE, 0xF1, 0xFE, 0xF1, 0xFE},
    {0xFE, 0xE0, 0xFE, 0xE0, 0xFE, 0xF1, 0xFE, 0xF1}};
inline constexpr unsigned weak_rows = 4;

// One SP table word: S-box `box` (0-based) with input v, its output placed
// where the standard's 32-bit S-box output puts it, sent through P, and
// rotated left by one bit because the rounds keep their halves that way.
constexpr std::uint32_t sp_word(unsigned box, unsigned v) {
    const unsigned row = ((v >> 4) & 2u) | (v & 1u);
    const unsigned col = (v >> 1) & 15u;
    const std::uint32_t s = std::uint32_t{sbox[box][row][col]} << (28 - 4 * box);
    std::uint32_t p = 0;
    for (unsigned i = 0; i < 32; ++i)
        if ((s >> (32 - perm_p[i])) & 1u) p |= std::uint32_t{1} << (31 - i);
    return (p << 1) | (p >> 31);
}

// The eight SP tables: des_sptab[t][v] is the share of S-box t+1 in the round
// function for the 6-bit input v.
inline constexpr std::array<std::array<std::uint32_t, 64>, 8> des_sptab = [] {
    std::array<std::array<std::uint32_t, 64>, 8> t{};
    for (unsigned box = 0; box < 8; ++box)
        for (unsigned v = 0; v < 64; ++v) t[box][v] = sp_word(box, v);
    return t;
}();

static_assert(des_rotations[15] == 28, "the halves come full circle in round 16");
static_assert(des_sptab[0][0] == 0x01010400 && des_sptab[0][1] == 0x00000000);
static_assert(des_sptab[1][0] == 0x80108020 && des_sptab[1][1] == 0x80008000);
static_assert(des_sptab[2][0] == 0x00000208 && des_sptab[2][1] == 0x08020200);
static_assert(des_sptab[3][0] == 0x00802001 && des_sptab[3][1] == 0x00002081);
static_assert(des_sptab[4][0] == 0x00000100 && des_sptab[4][1] == 0x02080100);
static_assert(des_sptab[5][0] == 0x20000010 && des_sptab[5][1] == 0x20400000);
static_assert(des_sptab[6][0] == 0x00200000 && des_sptab[6][1] == 0x04200002);
static_assert(des_sptab[7][0] == 0x10001040 && des_sptab[7][1] == 0x00001000);

// The wide SP tables of the one-block rounds, one per byte of the keyed wide
// half (see block.hpp): bytes 3-0 of the low word feed S-boxes 1, 3, 5, 7 and
// bytes 3-0 of the high word S-boxes 2, 4, 6, 8. Each S-box input is a whole
// byte, its top two bits ignored, so the round needs no mask; an entry holds
// the S-box's share of F in its high half and that share rotated right by 4
// in its low half. 16 KiB.
inline constexpr std::array<unsigned, 8> wide_byte_box = {6, 4, 2, 0, 7, 5, 3, 1};

inline constexpr std::array<std::array<std::uint64_t, 256>, 8> des_sp_wide = [] {
    std::array<std::array<std::uint64_t, 256>, 8> t{};
    for (unsigned byte = 0; byte < 8; ++byte)
        for (unsigned v = 0; v < 256; ++v) {
            const std::uint32_t s = des_sptab[wide_byte_box[byte]][v & 63];
            t[byte][v] = std::uint64_t{s} << 32 | (s >> 4 | s << 28);
        }
    return t;
}();
static_assert(des_sp_wide[3][0x40] == (std::uint64_t{0x01010400} << 32 | 0x00101040));
static_assert(des_sp_wide[4][0x01] == (std::uint64_t{0x00001000} << 32 | 0x00000100));

// Where subkey bit k (0-based) lands in a round's word pair, with the even
// word in the high half of a 64-bit value and the odd word in the low half:
// group g = k / 6 goes to the even word for G1, G3, G5, G7 and to the odd
// word for G2, G4, G6, G8, in the byte that the round reads it from.
constexpr unsigned schedule_position(unsigned k) {
    const unsigned g = k / 6, within = 5 - k % 6;
    const unsigned word_shift = (g % 2 == 0) ? 32 : 0;
    return word_shift + 24 - 8 * (g / 2) + within;
}

namespace table_checks {
// Each table sets only its own bits, and together they cover the word.
constexpr bool sp_masks_partition_word() {
    std::uint32_t all = 0;
    for (unsigned box = 0; box < 8; ++box) {
        std::uint32_t mask = 0;
        for (unsigned v = 0; v < 64; ++v) mask |= des_sptab[box][v];
        if (all & mask) return false;
        all |= mask;
    }
    return all == 0xFFFFFFFFu;
}
static_assert(sp_masks_partition_word());

// PC-1 never names a parity bit (bits 8, 16, ..., 64), nor any bit twice.
constexpr bool pc1_skips_parity() {
    std::uint64_t seen = 0;
    for (auto b : pc1) {
        if (b % 8 == 0 || (seen >> b) & 1u) return false;
        seen |= std::uint64_t{1} << b;
    }
    return true;
}
static_assert(pc1_skips_parity());

// Every row of every S-box is a permutation of 0..15.
constexpr bool sbox_rows_are_permutations() {
    for (const auto &box : sbox)
        for (const auto &row : box) {
            unsigned seen = 0;
            for (auto v : row) seen |= 1u << v;
            if (seen != 0xFFFFu) return false;
        }
    return true;
}
static_assert(sbox_rows_are_permutations());

// PC-2 picks 48 distinct bits of the 56.
constexpr bool pc2_distinct() {
    std::uint64_t seen = 0;
    for (auto b : pc2) {
        if (b < 1 || b > 56 || (seen >> b) & 1u) return false;
        seen |= std::uint64_t{1} << b;
    }
    return true;
}
static_assert(pc2_distinct());

// IP names every input bit once.
constexpr bool initial_perm_is_permutation() {
    std::uint64_t seen = 0;
    for (auto b : initial_perm) {
        if (b < 1 || b > 64 || (seen >> (b - 1)) & 1u) return false;
        seen |= std::uint64_t{1} << (b - 1);
    }
    return true;
}
static_assert(initial_perm_is_permutation());

// S-box s reads six neighbouring bits of the half, from bit 4s (bit 32 for
// the first box) on, wrapping around after bit 32.
constexpr bool expansion_takes_overlapping_sixes() {
    for (unsigned s = 0; s < 8; ++s)
        for (unsigned i = 0; i < 6; ++i)
            if (expansion[6 * s + i] != (4 * s + i + 31) % 32 + 1) return false;
    return true;
}
static_assert(expansion_takes_overlapping_sixes());

static_assert(schedule_position(0) == 32 + 29, "G1's first bit is bit 29 of the even word");
static_assert(schedule_position(47) == 0, "G8's last bit is bit 0 of the odd word");
} // namespace table_checks

} // namespace velk
