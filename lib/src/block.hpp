// SPDX-License-Identifier: MIT
// The single-DES block transform, split into its steps so that the triple
// families can run the initial and final permutations once per triple block.
// Internal to the library.
#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "opaque.hpp"
#include "tables.hpp"
#include "velkcore.h"
#ifdef VELK_CONSTANT_TIME
#include "block_ct.hpp"
#endif

namespace velk {

inline std::uint32_t load_be32(const unsigned char *p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
           std::uint32_t{p[3]};
}

inline void store_be32(unsigned char *p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

constexpr std::uint32_t rotl(std::uint32_t v, unsigned n) { return (v << n) | (v >> (32 - n)); }
constexpr std::uint32_t rotr(std::uint32_t v, unsigned n) { return (v >> n) | (v << (32 - n)); }

// Swaps the bits of b selected by m with the bits of a selected by m << n.
// The change to a, t shifted left by n, equals ((b << n) ^ a) & (m << n), and
// computing it that way lets both halves finish in four dependent steps
// instead of one of them waiting a fifth for the shift.
constexpr void exchange(std::uint32_t &a, std::uint32_t &b, unsigned n, std::uint32_t m) {
    const std::uint32_t t = ((a >> n) ^ b) & m;
    const std::uint32_t u = ((b << n) ^ a) & (m << n);
    b ^= t;
    a ^= u;
}

// The initial permutation as five exchanges. It leaves both halves rotated
// left by one bit, the form in which every S-box input is a contiguous field.
constexpr void initial_permutation(std::uint32_t &l, std::uint32_t &r) {
    exchange(l, r, 4, 0x0F0F0F0Fu);
    exchange(l, r, 16, 0x0000FFFFu);
    exchange(r, l, 2, 0x33333333u);
    exchange(r, l, 8, 0x00FF00FFu);
    r = rotl(r, 1);
    const std::uint32_t t = (l ^ r) & 0xAAAAAAAAu;
    l ^= t;
    r ^= t;
    l = rotl(l, 1);
}

// The inverse permutation: the initial network backwards with the halves'
// roles exchanged, which also performs the standard's final swap.
constexpr void final_permutation(std::uint32_t &l, std::uint32_t &r) {
    r = rotr(r, 1);
    const std::uint32_t t = (l ^ r) & 0xAAAAAAAAu;
    l ^= t;
    r ^= t;
    l = rotr(l, 1);
    exchange(l, r, 8, 0x00FF00FFu);
    exchange(l, r, 2, 0x33333333u);
    exchange(r, l, 16, 0x0000FFFFu);
    exchange(r, l, 4, 0x0F0F0F0Fu);
}

// The permutations by table, for the one-block paths. IP gathers into each
// output byte one bit of every input byte, the bit from input byte k landing
// at bit k; so IP(x) is the XOR over k of ip_spread[byte k of x] shifted
// left by k, where ip_spread[v] is IP of v as the first byte. IP^-1 spreads
// each input byte k (of R16 || L16, the standard's pre-output) over all
// output bytes, at bit fp_shift[k] of each, and fp_spread[v] is IP^-1 of v
// as byte 3. Eight look-ups and a tree of XORs take far fewer dependent
// steps than the exchange networks, which stay as the reference the tables
// are built from.
constexpr std::uint64_t ip_plain(std::uint64_t x) {
    std::uint32_t l = static_cast<std::uint32_t>(x >> 32), r = static_cast<std::uint32_t>(x);
    initial_permutation(l, r);
    return std::uint64_t{rotr(l, 1)} << 32 | rotr(r, 1);
}

// IP^-1 of the standard's pre-output z = R16 || L16.
constexpr std::uint64_t fp_plain(std::uint64_t z) {
    std::uint32_t r = rotl(static_cast<std::uint32_t>(z >> 32), 1),
                  l = rotl(static_cast<std::uint32_t>(z), 1);
    final_permutation(l, r);
    return std::uint64_t{r} << 32 | l;
}

inline constexpr std::array<std::uint8_t, 8> fp_shift = {6, 4, 2, 0, 7, 5, 3, 1};

inline constexpr auto ip_spread = [] {
    std::array<std::uint64_t, 256> t{};
    for (unsigned v = 0; v < 256; ++v)
        t[v] = ip_plain(std::uint64_t{v} << 56);
    return t;
}();

inline constexpr auto fp_spread = [] {
    std::array<std::uint64_t, 256> t{};
    for (unsigned v = 0; v < 256; ++v)
        t[v] = fp_plain(std::uint64_t{v} << 32);
    return t;
}();

namespace permutation_checks {
// The shift rules hold for every byte position and value, so by linearity
// the tables give both permutations of every block.
constexpr bool spread_rules_hold() {
    for (unsigned k = 0; k < 8; ++k)
        for (unsigned v = 0; v < 256; ++v) {
            const std::uint64_t x = std::uint64_t{v} << (56 - 8 * k);
            if (ip_plain(x) != ip_spread[v] << k || fp_plain(x) != fp_spread[v] << fp_shift[k])
                return false;
        }
    return true;
}
static_assert(spread_rules_hold());
static_assert(ip_plain(0x0123456789ABCDEFull) == 0xCC00CCFFF0AAF0AAull, "the well-known worked example");

// The exchange network and the standard's printed IP (tables.hpp) agree bit
// for bit (the network leaves both halves rotated left by one).
constexpr bool network_matches_initial_perm() {
    for (unsigned j = 0; j < 64; ++j) {
        std::uint32_t l = j < 32 ? 1u << (31 - j) : 0, r = j < 32 ? 0 : 1u << (63 - j);
        initial_permutation(l, r);
        l = rotr(l, 1);
        r = rotr(r, 1);
        for (unsigned i = 0; i < 64; ++i) {
            const bool set = ((i < 32 ? l >> (31 - i) : r >> (63 - i)) & 1u) != 0;
            if (set != (initial_perm[i] == j + 1))
                return false;
        }
    }
    return true;
}
static_assert(network_matches_initial_perm());
} // namespace permutation_checks

// The rounds work on each half in a wide form: the half h (rotated, as
// above) in the high 32 bits and rotr(h, 4) in the low 32. XORing a round's
// schedule words as one 64-bit word, the even word low and the odd word high,
// then gives all eight S-box inputs at once, one per byte, with no rotation
// on the path from one round to the next. The wide SP tables keep the form:
// each entry holds its share of F in the high half and the same share
// rotated right by 4 in the low half, so XORing them into a wide half
// updates both copies.
constexpr std::uint64_t widen(std::uint32_t h) { return std::uint64_t{h} << 32 | rotr(h, 4); }
constexpr std::uint32_t narrow(std::uint64_t w) { return static_cast<std::uint32_t>(w >> 32); }

// Round key j (0-15) of a pass in the given direction as one wide word; the
// rounds before the first and after the last take the zero word.
template <bool encrypt, int j>
[[gnu::always_inline]] inline std::uint64_t round_key(const std::uint32_t *ks) {
    if constexpr (j < 0 || j > 15) {
        return 0;
    } else {
        constexpr int p = encrypt ? 2 * j : 30 - 2 * j;
        return std::uint64_t{ks[p + 1]} << 32 | ks[p];
    }
}

// p XOR F for the eight S-box inputs in the bytes of x. Taking each byte
// from a 32-bit half lets the top one come with a single shift and the
// bottom one with a single zero extension; those lanes, and p, which is
// ready long before, are combined while the others are still loading, so
// the whole is three XORs deep after the last look-up.
[[gnu::always_inline]] inline std::uint64_t wide_round(std::uint64_t p, std::uint64_t x) {
    const auto &t = des_sp_wide;
    const auto lo = static_cast<std::uint32_t>(x), hi = static_cast<std::uint32_t>(x >> 32);
    const std::uint64_t early = opaque(opaque(opaque(p) ^ t[0][lo & 255]) ^ opaque(t[3][lo >> 24] ^ t[7][hi >> 24]));
    const std::uint64_t t12 = opaque(t[1][(lo >> 8) & 255] ^ t[2][(lo >> 16) & 255]);
    const std::uint64_t t45 = opaque(t[4][hi & 255] ^ t[5][(hi >> 8) & 255]);
    const std::uint64_t t6 = opaque(t[6][(hi >> 16) & 255] ^ early);
    return opaque(opaque(t12 ^ t45) ^ t6);
}

// Sixteen rounds on wide halves, two per pass, so the halves never change
// places. On return l holds the standard's L16 and r its R16: the swap
// before the inverse permutation is left to final_permutation, which stores
// R first, or, between stages of a triple block, to the caller.
//
// Each half is carried already XORed with the key of the round that reads
// it next, so a round's look-ups start straight from the other round's
// result. The half a round updates was keyed for the round before; that
// key is exchanged for the key of the round after while the rounds in
// between run, off the path from one round to the next.
template <bool encrypt, int j>
[[gnu::always_inline]] inline void round_pair(std::uint64_t &yl, std::uint64_t &yr,
                                              const std::uint32_t *ks) {
    const std::uint64_t swap_l = round_key<encrypt, j - 1>(ks) ^ round_key<encrypt, j + 1>(ks);
    yl = wide_round(yl ^ swap_l, yr);
    const std::uint64_t swap_r = round_key<encrypt, j>(ks) ^ round_key<encrypt, j + 2>(ks);
    yr = wide_round(yr ^ swap_r, yl);
}

template <bool encrypt, int... pass>
[[gnu::always_inline]] inline void wide_passes(std::uint64_t &l, std::uint64_t &r,
                                               const std::uint32_t *ks,
                                               std::integer_sequence<int, pass...>) {
    std::uint64_t yl = l, yr = r ^ round_key<encrypt, 0>(ks);
    (round_pair<encrypt, 2 * pass>(yl, yr, ks), ...);
    l = yl ^ round_key<encrypt, 15>(ks);
    r = yr;
}

template <bool encrypt>
[[gnu::always_inline]] inline void wide_rounds(std::uint64_t &l, std::uint64_t &r,
                                               const std::uint32_t *ks) {
#ifdef VELK_CONSTANT_TIME
    // No look-ups in the constant-time build: its rounds keep the plain halves.
    std::uint32_t nl = narrow(l), nr = narrow(r);
    if constexpr (encrypt)
        ct::encrypt_rounds(nl, nr, ks);
    else
        ct::decrypt_rounds(nl, nr, ks);
    l = widen(nl);
    r = widen(nr);
#else
    wide_passes<encrypt>(l, r, ks, std::make_integer_sequence<int, 8>{});
#endif
}

// IP from the block's two words (hi the first four bytes) to the wide
// halves the rounds take.
[[gnu::always_inline]] inline void permute_in(std::uint32_t hi, std::uint32_t lo,
                                              std::uint64_t &wl, std::uint64_t &wr) {
#ifdef VELK_CONSTANT_TIME
    // The exchange network instead of the tables, which are indexed by data.
    std::uint32_t l = hi, r = lo;
    initial_permutation(l, r);
    wl = widen(l);
    wr = widen(r);
#else
    const auto &g = ip_spread;
    const std::uint64_t a = opaque(g[hi >> 24] ^ g[(hi >> 16) & 255] << 1);
    const std::uint64_t b = opaque(g[(hi >> 8) & 255] << 2 ^ g[hi & 255] << 3);
    const std::uint64_t c = opaque(g[lo >> 24] << 4 ^ g[(lo >> 16) & 255] << 5);
    const std::uint64_t d = opaque(g[(lo >> 8) & 255] << 6 ^ g[lo & 255] << 7);
    const std::uint64_t x = opaque(a ^ b) ^ opaque(c ^ d);
    wl = widen(rotl(static_cast<std::uint32_t>(x >> 32), 1));
    wr = widen(rotl(static_cast<std::uint32_t>(x), 1));
#endif
}

// IP^-1 from the wide halves after the last round (l holding L16, r R16) to
// the output's two words. The low word of a wide half is the half rotated
// right by 4, so one rotation gives the plain half.
[[gnu::always_inline]] inline void permute_out(std::uint64_t wl, std::uint64_t wr,
                                               std::uint32_t &hi, std::uint32_t &lo) {
#ifdef VELK_CONSTANT_TIME
    std::uint32_t l = narrow(wl), r = narrow(wr);
    final_permutation(l, r);
    hi = r;
    lo = l;
#else
    const auto &h = fp_spread;
    const std::uint32_t r = rotl(static_cast<std::uint32_t>(wr), 3),
                        l = rotl(static_cast<std::uint32_t>(wl), 3);
    const std::uint64_t a = opaque(h[r >> 24] << 6 ^ h[(r >> 16) & 255] << 4);
    const std::uint64_t b = opaque(h[(r >> 8) & 255] << 2 ^ h[r & 255]);
    const std::uint64_t c = opaque(h[l >> 24] << 7 ^ h[(l >> 16) & 255] << 5);
    const std::uint64_t d = opaque(h[(l >> 8) & 255] << 3 ^ h[l & 255] << 1);
    const std::uint64_t x = opaque(a ^ b) ^ opaque(c ^ d);
    hi = static_cast<std::uint32_t>(x >> 32);
    lo = static_cast<std::uint32_t>(x);
#endif
}

// The same on plain halves, for callers that keep them so.
[[gnu::always_inline]] inline void encrypt_rounds(std::uint32_t &l, std::uint32_t &r, const std::uint32_t *ks) {
    std::uint64_t wl = widen(l), wr = widen(r);
    wide_rounds<true>(wl, wr, ks);
    l = narrow(wl);
    r = narrow(wr);
}

[[gnu::always_inline]] inline void decrypt_rounds(std::uint32_t &l, std::uint32_t &r, const std::uint32_t *ks) {
    std::uint64_t wl = widen(l), wr = widen(r);
    wide_rounds<false>(wl, wr, ks);
    l = narrow(wl);
    r = narrow(wr);
}

// One whole block through the given rounds. All eight input bytes are
// loaded before the first output byte is stored, so input and output may
// overlap in any way.
template <bool encrypt>
[[gnu::always_inline]] inline void transform_block(const unsigned char in[8], unsigned char out[8],
                            const std::uint32_t *ks) {
    std::uint64_t l, r;
    permute_in(load_be32(in), load_be32(in + 4), l, r);
    wide_rounds<encrypt>(l, r, ks);
    std::uint32_t hi, lo;
    permute_out(l, r, hi, lo);
    store_be32(out, hi);
    store_be32(out + 4, lo);
}

[[gnu::always_inline]] inline void encode_block(const unsigned char in[8], unsigned char out[8], const std::uint32_t *ks) {
    transform_block<true>(in, out, ks);
}

[[gnu::always_inline]] inline void decode_block(const unsigned char in[8], unsigned char out[8], const std::uint32_t *ks) {
    transform_block<false>(in, out, ks);
}

} // namespace velk
