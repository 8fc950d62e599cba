// Key classification and the packed key schedule.
#include "key_schedule.hpp"

#include <cstdint>
#include <cstring>

#include "tables.hpp"

namespace velk {

int des_keycheck(const unsigned char key[8]) {
    for (unsigned row = 0; row < 16; ++row)
        if (std::memcmp(key, des_weakkeys[row], 8) == 0) return row < weak_rows ? 1 : 2;
    return 0;
}

namespace {

// Rotates a 28-bit half left by n (0 <= n < 28; both shifts stay below 32).
constexpr std::uint32_t rotl28(std::uint32_t v, unsigned n) {
    return ((v << n) | (v >> (28 - n))) & 0x0FFFFFFFu;
}

} // namespace

// PC-1 by nibbles, then for each round the halves rotated by the round's
// cumulative count and PC-2 by 7-bit chunks. Each chunk table entry already
// holds the subkey bits in the packed positions of both words, so a round is
// eight look-ups and their OR.
void des_keyschedule(const unsigned char key[8], des_subkeys ks) {
    std::uint64_t cd = 0;
    for (unsigned i = 0; i < 8; ++i)
        cd |= pc1_nibble[2 * i][key[i] >> 4] | pc1_nibble[2 * i + 1][key[i] & 15u];
    const auto c = static_cast<std::uint32_t>(cd >> 28);
    const auto d = static_cast<std::uint32_t>(cd & 0x0FFFFFFFu);
    for (unsigned round = 0; round < 16; ++round) {
        const unsigned n = des_rotations[round] % 28;
        const std::uint32_t rc = rotl28(c, n), rd = rotl28(d, n);
        const std::uint64_t pair =
            pc2_chunk[0][rc >> 21] | pc2_chunk[1][(rc >> 14) & 127u] |
            pc2_chunk[2][(rc >> 7) & 127u] | pc2_chunk[3][rc & 127u] | pc2_chunk[4][rd >> 21] |
            pc2_chunk[5][(rd >> 14) & 127u] | pc2_chunk[6][(rd >> 7) & 127u] |
            pc2_chunk[7][rd & 127u];
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
