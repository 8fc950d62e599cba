// SPDX-License-Identifier: MIT
// The constant-time rounds with AVX-512 BW and BITALG: the S-boxes and P as
// truth tables held in registers, looked up by VPSHUFBITQMB, which takes
// bit (index AND 63) of a 64-bit table for each index byte, whatever the
// index, in the same time.
//
// The halves are kept expanded: a 64-bit word holds the six input bits of
// each S-box in the low bits of its own byte, in the byte the schedule word
// pair (even word high) gives that S-box's subkey group. XORing the key is
// then one XOR, and because expansion only copies bits, the expanded round
// function can be XORed straight into the other expanded half. Each of its
// 48 bits is one truth table of one S-box input: six registers of eight
// tables, register t giving bit t of every byte. The keyed word, broadcast
// to every lane, is spread by one in-lane byte shuffle so that byte 8B+t of
// the index holds the input of the S-box that feeds bit t of byte B.
//
// Only the functions that use the instructions are built for them (target
// attributes), not the file: inline functions this file shares with others
// (velk::rotl, rotr) are emitted here too, as weak symbols, and a copy built
// for AVX-512 could be the one the linker keeps for every caller.
#include <immintrin.h>

#include "block.hpp"
#include "block_ct.hpp"

namespace velk::ct {
namespace {

// The byte of the expanded word that carries S-box s (0-based): G1, G3, G5,
// G7 in bytes 7-4 (the even word), G2, G4, G6, G8 in bytes 3-0.
constexpr unsigned byte_of_box(unsigned s) {
    return (s % 2 == 0 ? 7u : 3u) - s / 2;
}

// The bit of the rotated half that bit t of byte b of its expansion copies:
// the low word is the half masked, the high word the half rotated right by 4.
constexpr unsigned half_bit(unsigned b, unsigned t) {
    return b >= 4 ? (8 * (b - 4) + t + 4) % 32 : 8 * b + t;
}

constexpr std::uint64_t expand(std::uint32_t h) {
    return std::uint64_t{rotr(h, 4) & 0x3F3F3F3Fu} << 32 | (h & 0x3F3F3F3Fu);
}

constexpr std::uint32_t contract(std::uint64_t x) {
    const auto hi = static_cast<std::uint32_t>(x >> 32), lo = static_cast<std::uint32_t>(x);
    return (lo & 0x3F3F3F3Fu) | (rotl(hi, 4) & 0xC0C0C0C0u);
}

// The S-box (0-based) whose output sets bit pos of the round function.
constexpr unsigned box_of_bit(unsigned pos) {
    for (unsigned s = 0; s < 8; ++s)
        for (const TruthTable &t : sp_truth[s])
            if (t.bit == std::uint32_t{1} << pos)
                return s;
    return 8;
}

constexpr std::uint64_t table_of_bit(unsigned pos) {
    for (unsigned s = 0; s < 8; ++s)
        for (const TruthTable &t : sp_truth[s])
            if (t.bit == std::uint32_t{1} << pos)
                return t.table;
    return 0;
}

struct alignas(64) Zmm {
    std::uint64_t q[8];
};

// tables[t].q[b]: bit t of byte b of the expanded round function.
constexpr std::array<Zmm, 6> tables = [] {
    std::array<Zmm, 6> z{};
    for (unsigned t = 0; t < 6; ++t)
        for (unsigned b = 0; b < 8; ++b)
            z[t].q[b] = table_of_bit(half_bit(b, t));
    return z;
}();

// Index byte 8b+t: the byte of the keyed word holding the S-box that feeds
// bit t of byte b. Bytes 6 and 7 of each lane are not read.
struct alignas(64) Bytes64 {
    unsigned char b[64];
};
constexpr Bytes64 spread = [] {
    Bytes64 c{};
    for (unsigned b = 0; b < 8; ++b)
        for (unsigned t = 0; t < 6; ++t)
            c.b[8 * b + t] = static_cast<unsigned char>(byte_of_box(box_of_bit(half_bit(b, t))));
    return c;
}();

static_assert(box_of_bit(0) < 8 && box_of_bit(31) < 8);
static_assert(contract(expand(0x89ABCDEFu)) == 0x89ABCDEFu);
static_assert(contract(expand(0x76543210u)) == 0x76543210u);

struct Engine {
    __m512i z0, z1, z2, z3, z4, z5, spread;

    __attribute__((target("avx512f,avx512bw,avx512bitalg"))) Engine()
        : z0(_mm512_load_si512(&tables[0])), z1(_mm512_load_si512(&tables[1])),
          z2(_mm512_load_si512(&tables[2])), z3(_mm512_load_si512(&tables[3])),
          z4(_mm512_load_si512(&tables[4])), z5(_mm512_load_si512(&tables[5])),
          spread(_mm512_load_si512(&velk::ct::spread)) {}

    // The expanded round function of the keyed expanded half x.
    __attribute__((target("avx512f,avx512bw,avx512bitalg"))) std::uint64_t
    f(std::uint64_t x) const {
        const __m512i index =
            _mm512_shuffle_epi8(_mm512_set1_epi64(static_cast<long long>(x)), spread);
        constexpr __mmask64 bit0 = 0x0101010101010101ull;
        const __mmask64 m0 = _mm512_mask_bitshuffle_epi64_mask(bit0, z0, index);
        const __mmask64 m1 = _mm512_mask_bitshuffle_epi64_mask(bit0 << 1, z1, index);
        const __mmask64 m2 = _mm512_mask_bitshuffle_epi64_mask(bit0 << 2, z2, index);
        const __mmask64 m3 = _mm512_mask_bitshuffle_epi64_mask(bit0 << 3, z3, index);
        const __mmask64 m4 = _mm512_mask_bitshuffle_epi64_mask(bit0 << 4, z4, index);
        const __mmask64 m5 = _mm512_mask_bitshuffle_epi64_mask(bit0 << 5, z5, index);
        return _cvtmask64_u64(_kor_mask64(_kor_mask64(_kor_mask64(m0, m1), _kor_mask64(m2, m3)),
                                          _kor_mask64(m4, m5)));
    }
};

inline std::uint64_t key_pair(const std::uint32_t *ks, int p) {
    return std::uint64_t{ks[p]} << 32 | ks[p + 1];
}

} // namespace

__attribute__((target("avx512f,avx512bw,avx512bitalg"))) void
encrypt_rounds_avx512(std::uint32_t &l, std::uint32_t &r, const std::uint32_t *ks) {
    const Engine e;
    std::uint64_t lx = expand(l), rx = expand(r);
    for (int p = 0; p < 32; p += 4) {
        lx ^= e.f(rx ^ key_pair(ks, p));
        rx ^= e.f(lx ^ key_pair(ks, p + 2));
    }
    l = contract(lx);
    r = contract(rx);
}

__attribute__((target("avx512f,avx512bw,avx512bitalg"))) void
decrypt_rounds_avx512(std::uint32_t &l, std::uint32_t &r, const std::uint32_t *ks) {
    const Engine e;
    std::uint64_t lx = expand(l), rx = expand(r);
    for (int p = 28; p >= 0; p -= 4) {
        lx ^= e.f(rx ^ key_pair(ks, p + 2));
        rx ^= e.f(lx ^ key_pair(ks, p));
    }
    l = contract(lx);
    r = contract(rx);
}

} // namespace velk::ct
