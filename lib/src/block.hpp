// The single-DES block transform, split into its steps so that the triple
// families can run the initial and final permutations once per triple block.
// Internal to the library.
#pragma once

#include <cstdint>

#include "tables.hpp"
#include "velkcore.h"

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

// Keeps the compiler from folding a balanced XOR tree back into one long
// chain. The empty statement emits no instruction; it only makes the value
// opaque, so each level of the tree waits for its own two operands alone.
inline std::uint32_t settle(std::uint32_t v) {
#if defined(__GNUC__) || defined(__clang__)
    __asm__("" : "+r"(v));
#endif
    return v;
}

// One round as the hot path runs it: returns x XOR F(h, e, o). Each S-box
// input is one byte of a or b (its two top bits ignored by the byte-wide
// tables), and the eight table words and x are combined as a balanced tree,
// three XORs deep after the last look-up.
inline std::uint32_t feistel(std::uint32_t x, std::uint32_t h, std::uint32_t e,
                             std::uint32_t o) {
    const std::uint32_t a = rotr(h, 4) ^ e;
    const std::uint32_t b = h ^ o;
    const auto &sp = des_sptab_byte;
    const std::uint32_t x8 = settle(x ^ sp[7][b & 255]);
    const std::uint32_t t12 = settle(sp[0][a >> 24] ^ sp[1][b >> 24]);
    const std::uint32_t t34 = settle(sp[2][(a >> 16) & 255] ^ sp[3][(b >> 16) & 255]);
    const std::uint32_t t56 = settle(sp[4][(a >> 8) & 255] ^ sp[5][(b >> 8) & 255]);
    const std::uint32_t t7 = settle(sp[6][a & 255] ^ x8);
    return settle(settle(t12 ^ t34) ^ settle(t56 ^ t7));
}

// Sixteen rounds, two per pass, so the halves never change places. On return
// l holds the standard's L16 and r its R16 (still rotated): the swap before
// the inverse permutation is left to final_permutation, which stores R first,
// or, between stages of a triple block, to the caller. The passes are
// unrolled; the only loop left is the compiler's to keep or drop.
inline void encrypt_rounds(std::uint32_t &l, std::uint32_t &r, const std::uint32_t *ks) {
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC unroll 8
#elif defined(__clang__)
#pragma unroll
#endif
    for (int p = 0; p < 32; p += 4) {
        l = feistel(l, r, ks[p], ks[p + 1]);
        r = feistel(r, l, ks[p + 2], ks[p + 3]);
    }
}

inline void decrypt_rounds(std::uint32_t &l, std::uint32_t &r, const std::uint32_t *ks) {
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC unroll 8
#elif defined(__clang__)
#pragma unroll
#endif
    for (int p = 28; p >= 0; p -= 4) {
        l = feistel(l, r, ks[p + 2], ks[p + 3]);
        r = feistel(r, l, ks[p], ks[p + 1]);
    }
}

// One whole block through the given rounds. All eight input bytes are
// loaded before the first output byte is stored, so input and output may
// overlap in any way.
template <bool encrypt>
inline void transform_block(const unsigned char in[8], unsigned char out[8],
                            const std::uint32_t *ks) {
    std::uint32_t l = load_be32(in), r = load_be32(in + 4);
    initial_permutation(l, r);
    if constexpr (encrypt)
        encrypt_rounds(l, r, ks);
    else
        decrypt_rounds(l, r, ks);
    final_permutation(l, r);
    store_be32(out, r);
    store_be32(out + 4, l);
}

inline void encode_block(const unsigned char in[8], unsigned char out[8], const std::uint32_t *ks) {
    transform_block<true>(in, out, ks);
}

inline void decode_block(const unsigned char in[8], unsigned char out[8], const std::uint32_t *ks) {
    transform_block<false>(in, out, ks);
}

} // namespace velk
