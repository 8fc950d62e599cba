// SPDX-License-Identifier: MIT
// Key classification and the packed key schedule, both constant-time in the
// key: no memory address and no branch depends on a key bit.
#include "key_schedule.hpp"

#include <array>
#include <cstdint>

#include "opaque.hpp"
#include "tables.hpp"

namespace velk {
namespace {

constexpr std::uint64_t load_be64(const unsigned char *p) {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < 8; ++i) v = v << 8 | p[i];
    return v;
}

constexpr std::array<std::uint64_t, 16> weak_words = [] {
    std::array<std::uint64_t, 16> w{};
    for (unsigned row = 0; row < 16; ++row) w[row] = load_be64(des_weakkeys[row]);
    return w;
}();

} // namespace

// Every row is compared, whatever the earlier rows gave: each comparison is
// an XOR whose zero test is folded into the low bit by arithmetic alone.
int des_keycheck(const unsigned char key[8]) {
    const std::uint64_t k = load_be64(key);
    std::uint64_t weak = 0, semi = 0;
    for (unsigned row = 0; row < 16; ++row) {
        const std::uint64_t d = opaque(k ^ weak_words[row]);
        const std::uint64_t equal = ((d | (0 - d)) >> 63) ^ 1u;
        if (row < weak_rows)
            weak |= equal;
        else
            semi |= equal;
    }
    // A key matches at most one row, so at most one of the two is set.
    return static_cast<int>(opaque(weak | semi << 1));
}

namespace key_networks {

// A round's word pair (even word in the high half) is a fixed selection of
// the key's bits: PC-1, the round's rotation and PC-2 composed. Completed to
// a permutation of all 64 bits, it is carried out by a Benes network of
// exchanges at distances 32, 16, ..., 2, 1, 2, ..., 32 (eleven stages), each
// three shifts and XORs and one AND with a mask routed at compile time.
// Bits are numbered from the least significant (0) up.
using Perm = std::array<std::uint8_t, 64>; // out bit j takes in bit p[j]

inline constexpr unsigned stage_count = 11;
inline constexpr std::array<unsigned, stage_count> stage_distance = {32, 16, 8, 4, 2, 1,
                                                                     2,  4,  8, 16, 32};

// Where the bit of the round's word pair at position j (0 = least
// significant) comes from in the key read as a big-endian 64-bit word, or 64
// for the two unused bits at the top of every byte.
constexpr std::array<unsigned, 64> round_source(unsigned round) {
    std::array<unsigned, 64> src{};
    for (auto &s : src) s = 64;
    const unsigned n = des_rotations[round] % 28;
    for (unsigned k = 0; k < 48; ++k) {
        const unsigned rotated = pc2[k] - 1u; // bit of the rotated C‖D, 0 = first of C
        const unsigned half = rotated / 28, within = rotated % 28;
        const unsigned unrotated = 28 * half + (within + n) % 28;
        const unsigned keybit = pc1[unrotated] - 1u; // 0 = MSB of key byte 0
        src[schedule_position(k)] = 63 - keybit;
    }
    return src;
}

// The same selection completed to a permutation: the positions nobody
// writes take the key bits nobody reads, in order.
constexpr Perm round_permutation(unsigned round) {
    const auto src = round_source(round);
    bool used[64] = {};
    for (unsigned s : src)
        if (s < 64) used[s] = true;
    Perm p{};
    unsigned spare = 0;
    for (unsigned j = 0; j < 64; ++j) {
        if (src[j] < 64) {
            p[j] = static_cast<std::uint8_t>(src[j]);
            continue;
        }
        while (used[spare]) ++spare;
        used[spare] = true;
        p[j] = static_cast<std::uint8_t>(spare);
    }
    return p;
}

// Routes a permutation through the network by the looping algorithm and
// returns the eleven masks. Each mask marks the lower bit of every pair that
// its stage exchanges.
constexpr std::array<std::uint64_t, stage_count> route(Perm p) {
    std::array<std::uint64_t, stage_count> mask{};
    for (unsigned level = 0; level < 5; ++level) {
        const unsigned d = stage_distance[level];
        Perm inv{};
        for (unsigned j = 0; j < 64; ++j) inv[p[j]] = static_cast<std::uint8_t>(j);
        // side[i]: the half-network (0 lower, 1 upper) input bit i is sent to.
        int side[64];
        for (int &s : side) s = -1;
        for (unsigned start = 0; start < 64; ++start) {
            if (side[start] >= 0 || (start & d)) continue;
            unsigned i = start;
            int s = 0;
            while (side[i] < 0) {
                side[i] = s;
                side[i ^ d] = 1 - s;
                // i's partner goes to the other half, so the output paired
                // with the one it feeds must draw from this half: its source
                // is the next input placed, on the same side s.
                i = p[inv[i ^ d] ^ d];
            }
        }
        Perm next{};
        std::uint64_t in_mask = 0, out_mask = 0;
        for (unsigned i = 0; i < 64; ++i)
            if (!(i & d) && side[i] == 1) in_mask |= std::uint64_t{1} << i;
        for (unsigned j = 0; j < 64; ++j) {
            const unsigned s = static_cast<unsigned>(side[p[j]]);
            if (!(j & d) && s == 1) out_mask |= std::uint64_t{1} << j;
            const unsigned mid_out = (j & ~d) | (s ? d : 0);
            const unsigned mid_in = (p[j] & ~d) | (s ? d : 0);
            next[mid_out] = static_cast<std::uint8_t>(mid_in);
        }
        mask[level] = in_mask;
        mask[stage_count - 1 - level] = out_mask;
        p = next;
    }
    std::uint64_t middle = 0;
    for (unsigned j = 0; j < 64; j += 2)
        if (p[j] != j) middle |= std::uint64_t{1} << j;
    mask[5] = middle;
    return mask;
}

constexpr std::uint64_t exchange64(std::uint64_t x, unsigned d, std::uint64_t m) {
    const std::uint64_t t = ((x >> d) ^ x) & m;
    return x ^ t ^ (t << d);
}

constexpr std::uint64_t run(const std::array<std::uint64_t, stage_count> &mask, std::uint64_t x) {
    for (unsigned s = 0; s < stage_count; ++s) x = exchange64(x, stage_distance[s], mask[s]);
    return x;
}

inline constexpr auto round_masks = [] {
    std::array<std::array<std::uint64_t, stage_count>, 16> m{};
    for (unsigned round = 0; round < 16; ++round) m[round] = route(round_permutation(round));
    return m;
}();

// The network carries out the permutation it was routed for: every
// single-bit input lands where the permutation sends it.
constexpr bool networks_route_every_bit() {
    for (unsigned round = 0; round < 16; ++round) {
        const Perm p = round_permutation(round);
        for (unsigned j = 0; j < 64; ++j)
            if (run(round_masks[round], std::uint64_t{1} << p[j]) != std::uint64_t{1} << j)
                return false;
    }
    return true;
}
static_assert(networks_route_every_bit());

} // namespace key_networks

// Sixteen independent networks on the key word, one per round, and the two
// unused bits of every byte cleared.
void des_keyschedule(const unsigned char key[8], des_subkeys ks) {
    const std::uint64_t k = load_be64(key);
    for (unsigned round = 0; round < 16; ++round) {
        const std::uint64_t pair =
            key_networks::run(key_networks::round_masks[round], k) & 0x3F3F3F3F3F3F3F3Full;
        ks[2 * round] = static_cast<std::uint32_t>(pair >> 32);
        ks[2 * round + 1] = static_cast<std::uint32_t>(pair);
    }
}

} // namespace velk

extern "C" int des_init(const unsigned char key[8], int /*keylen*/, des_subkeys ks) {
    const int key_class = velk::des_keycheck(key);
    velk::des_keyschedule(key, ks);
    return key_class;
}
