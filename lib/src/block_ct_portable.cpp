// SPDX-License-Identifier: MIT
// The portable constant-time rounds and the choice of engine.
//
// Each of the 32 bits of the round function is one bit of a 64-bit truth
// table, selected by its S-box's six input bits. The table is stored rotated
// so that rotating it right by the input brings the wanted bit to its place
// in the result, and one AND keeps it: a rotation by a secret count and a
// fixed mask, with no look-up. Rotations take the same time whatever the
// count on the processors this library targets, and rotr64 below keeps every
// 32-bit target free of the branch compilers put in a 64-bit shift there.
#include <cstdint>

#include "block.hpp"
#include "block_ct.hpp"
#include "cpu_features.hpp"

namespace velk::ct {
namespace {

// Rotation right by n mod 64. With 64-bit registers compilers emit one rotate
// instruction. With 32-bit ones they build a 64-bit shift from two and test
// bit 5 of the count with a branch (i386: shrd, shr, test $32, je); here the
// halves change places under a mask made from that bit instead, and each
// half is shifted by n mod 32 in two steps, so that no shift reaches 32.
inline std::uint64_t rotr64(std::uint64_t x, std::uint32_t n) {
    if constexpr (UINTPTR_MAX > 0xFFFFFFFFu) {
        n &= 63u;
        return (x >> n) | (x << ((64u - n) & 63u));
    } else {
        std::uint32_t hi = static_cast<std::uint32_t>(x >> 32), lo = static_cast<std::uint32_t>(x);
        const std::uint32_t swap = 0u - ((n >> 5) & 1u);
        const std::uint32_t t = (hi ^ lo) & swap;
        hi ^= t;
        lo ^= t;
        const std::uint32_t k = n & 31u;
        const std::uint32_t rhi = (hi >> k) | ((lo << 1) << (31u - k));
        const std::uint32_t rlo = (lo >> k) | ((hi << 1) << (31u - k));
        return std::uint64_t{rhi} << 32 | rlo;
    }
}

// The truth tables pre-rotated left by their bit's position.
struct Placed {
    std::uint64_t table;
    std::uint64_t bit;
};

inline constexpr auto placed = [] {
    std::array<std::array<Placed, 4>, 8> p{};
    for (unsigned box = 0; box < 8; ++box)
        for (unsigned i = 0; i < 4; ++i) {
            const TruthTable t = sp_truth[box][i];
            const unsigned pos = static_cast<unsigned>(__builtin_ctz(t.bit));
            const std::uint64_t rotated =
                pos == 0 ? t.table : (t.table << pos) | (t.table >> (64 - pos));
            p[box][i] = {rotated, t.bit};
        }
    return p;
}();

// The share of one S-box for the input in the low six bits of v.
inline std::uint64_t box_share(unsigned box, std::uint32_t v) {
    const auto &p = placed[box];
    return ((rotr64(p[0].table, v) & p[0].bit) | (rotr64(p[1].table, v) & p[1].bit)) |
           ((rotr64(p[2].table, v) & p[2].bit) | (rotr64(p[3].table, v) & p[3].bit));
}

// x XOR F(h, e, o): `h` is a half in the rotated form the rounds work on,
// `e` and `o` the round's even and odd schedule words (des_subkeys holds
// each round's pair in that order).
inline std::uint32_t feistel_ct(std::uint32_t x, std::uint32_t h, std::uint32_t e,
                                std::uint32_t o) {
    const std::uint32_t a = rotr(h, 4) ^ e;
    const std::uint32_t b = h ^ o;
    const std::uint64_t f =
        ((box_share(0, a >> 24) | box_share(1, b >> 24)) |
         (box_share(2, a >> 16) | box_share(3, b >> 16))) |
        ((box_share(4, a >> 8) | box_share(5, b >> 8)) | (box_share(6, a) | box_share(7, b)));
    return x ^ static_cast<std::uint32_t>(f);
}

} // namespace

void encrypt_rounds_portable(std::uint32_t &l, std::uint32_t &r, const std::uint32_t *ks) {
    for (int p = 0; p < 32; p += 4) {
        l = feistel_ct(l, r, ks[p], ks[p + 1]);
        r = feistel_ct(r, l, ks[p + 2], ks[p + 3]);
    }
}

void decrypt_rounds_portable(std::uint32_t &l, std::uint32_t &r, const std::uint32_t *ks) {
    for (int p = 28; p >= 0; p -= 4) {
        l = feistel_ct(l, r, ks[p + 2], ks[p + 3]);
        r = feistel_ct(r, l, ks[p], ks[p + 1]);
    }
}

bool avx512_available() {
#if defined(VELK_HAVE_AVX512_ENGINE)
    return cpu::has(cpu::avx512_bw_bitalg);
#else
    return false;
#endif
}

void encrypt_rounds(std::uint32_t &l, std::uint32_t &r, const std::uint32_t *ks) {
#if defined(VELK_HAVE_AVX512_ENGINE)
    if (avx512_available())
        return encrypt_rounds_avx512(l, r, ks);
#endif
    encrypt_rounds_portable(l, r, ks);
}

void decrypt_rounds(std::uint32_t &l, std::uint32_t &r, const std::uint32_t *ks) {
#if defined(VELK_HAVE_AVX512_ENGINE)
    if (avx512_available())
        return decrypt_rounds_avx512(l, r, ks);
#endif
    decrypt_rounds_portable(l, r, ks);
}

} // namespace velk::ct
