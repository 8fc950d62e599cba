// SPDX-License-Identifier: MIT
// The packed key schedule against a plain FIPS 46 key schedule written here
// from the standard's tables, and the key classification.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "key_schedule.hpp"
#include "velk_test.hpp"

namespace {

using namespace velk::test;

// Plain FIPS 46 subkeys: 64-bit key in, sixteen 48-bit subkeys out, bit 1 of
// each the most significant. Deliberately nothing like the library's builder.
std::array<std::uint64_t, 16> reference_subkeys(const unsigned char key[8]) {
    static const int PC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
    static const int PC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
                                23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
                                41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
                                44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
    static const int SHIFTS[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
    std::uint64_t k = 0;
    for (int i = 0; i < 8; ++i) k = k << 8 | key[i];
    std::uint32_t c = 0, d = 0;
    for (int i = 0; i < 28; ++i) {
        c = c << 1 | ((k >> (64 - PC1[i])) & 1);
        d = d << 1 | ((k >> (64 - PC1[28 + i])) & 1);
    }
    std::array<std::uint64_t, 16> out{};
    for (int r = 0; r < 16; ++r) {
        for (int s = 0; s < SHIFTS[r]; ++s) {
            c = ((c << 1) | (c >> 27)) & 0x0FFFFFFF;
            d = ((d << 1) | (d >> 27)) & 0x0FFFFFFF;
        }
        const std::uint64_t cd = std::uint64_t{c} << 28 | d;
        std::uint64_t sub = 0;
        for (int i = 0; i < 48; ++i) sub = sub << 1 | ((cd >> (56 - PC2[i])) & 1);
        out[r] = sub;
    }
    return out;
}

// Group g (1..8) of a 48-bit subkey.
unsigned group(std::uint64_t sub, int g) { return (sub >> (48 - 6 * g)) & 63; }

void expect_matches_reference(const unsigned char key[8]) {
    des_subkeys ks;
    des_init(key, 8, ks);
    const auto ref = reference_subkeys(key);
    for (int r = 0; r < 16; ++r) {
        const std::uint32_t even = group(ref[r], 1) << 24 | group(ref[r], 3) << 16 |
                                   group(ref[r], 5) << 8 | group(ref[r], 7);
        const std::uint32_t odd = group(ref[r], 2) << 24 | group(ref[r], 4) << 16 |
                                  group(ref[r], 6) << 8 | group(ref[r], 8);
        ASSERT_EQ(ks[2 * r], even) << "round " << r + 1 << " key " << to_hex(Bytes(key, key + 8));
        ASSERT_EQ(ks[2 * r + 1], odd) << "round " << r + 1 << " key " << to_hex(Bytes(key, key + 8));
    }
}

const char *const weak_rows[4] = {"0101010101010101", "fefefefefefefefe", "1f1f1f1f0e0e0e0e",
                                  "e0e0e0e0f1f1f1f1"};
const char *const semiweak_rows[12] = {
    "01fe01fe01fe01fe", "fe01fe01fe01fe01", "1fe01fe00ef10ef1", "e01fe01ff10ef10e",
    "01e001e001f101f1", "e001e001f101f101", "1ffe1ffe0efe0efe", "fe1ffe1ffe0efe0e",
    "011f011f010e010e", "1f011f010e010e01", "e0fee0fef1fef1fe", "fee0fee0fef1fef1"};

TEST(KeySchedule, EqualsPlainFips46ScheduleForRandomAndListedKeys) {
    Random rng(1);
    for (int i = 0; i < 2000; ++i) expect_matches_reference(rng.block().data());
    for (auto hex : weak_rows) expect_matches_reference(block_from_hex(hex).data());
    for (auto hex : semiweak_rows) expect_matches_reference(block_from_hex(hex).data());
}

TEST(KeySchedule, ReservedBitsAreZeroAndParityBitsAreIgnored) {
    Random rng(2);
    for (int i = 0; i < 500; ++i) {
        Block key = rng.block();
        des_subkeys ks, flipped;
        des_init(key.data(), 8, ks);
        for (std::uint32_t w : ks) ASSERT_EQ(w & 0xC0C0C0C0u, 0u);
        for (auto &b : key) b ^= static_cast<unsigned char>(rng.below(2));
        des_init(key.data(), 8, flipped);
        ASSERT_TRUE(std::equal(std::begin(ks), std::end(ks), std::begin(flipped)));
    }
}

TEST(KeySchedule, OverwritesEveryWordWhateverTheLengthArgument) {
    const Block key = block_from_hex("133457799bbcdff1");
    des_subkeys expected, ks;
    des_init(key.data(), 8, expected);
    for (int keylen : {0, 8, 24, -1, 1 << 30}) {
        std::fill(std::begin(ks), std::end(ks), 0xFFFFFFFFu);
        EXPECT_EQ(des_init(key.data(), keylen, ks), 0);
        EXPECT_TRUE(std::equal(std::begin(ks), std::end(ks), std::begin(expected)));
    }
}

TEST(KeySchedule, WeakKeysGiveSixteenEqualRoundsAndTheAllOnesAndZeroSchedules) {
    for (auto hex : weak_rows) {
        des_subkeys ks;
        EXPECT_EQ(des_init(block_from_hex(hex).data(), 8, ks), DES_KEY_WEAK) << hex;
        for (int r = 1; r < 16; ++r) {
            EXPECT_EQ(ks[2 * r], ks[0]) << hex;
            EXPECT_EQ(ks[2 * r + 1], ks[1]) << hex;
        }
    }
    des_subkeys zero_key, ones;
    des_init(block_from_hex("0101010101010101").data(), 8, zero_key);
    des_init(block_from_hex("fefefefefefefefe").data(), 8, ones);
    for (int w = 0; w < 32; ++w) {
        EXPECT_EQ(zero_key[w], 0u);
        EXPECT_EQ(ones[w], 0x3F3F3F3Fu);
    }
    des_subkeys all_zero;
    EXPECT_EQ(des_init(block_from_hex("0000000000000000").data(), 8, all_zero), DES_KEY_NORMAL);
    EXPECT_TRUE(std::equal(std::begin(all_zero), std::end(all_zero), std::begin(zero_key)));
}

TEST(KeySchedule, SemiWeakPairsHaveEachOthersRoundsReversed) {
    for (int p = 0; p < 12; p += 2) {
        des_subkeys a, b;
        EXPECT_EQ(des_init(block_from_hex(semiweak_rows[p]).data(), 8, a), DES_KEY_SEMIWEAK);
        EXPECT_EQ(des_init(block_from_hex(semiweak_rows[p + 1]).data(), 8, b), DES_KEY_SEMIWEAK);
        for (int r = 0; r < 16; ++r) {
            EXPECT_EQ(a[2 * r], b[2 * (15 - r)]) << semiweak_rows[p];
            EXPECT_EQ(a[2 * r + 1], b[2 * (15 - r) + 1]) << semiweak_rows[p];
        }
    }
}

TEST(KeyCheck, ComparesAllSixtyFourBitsWithParity) {
    // Every listed key is found in its group; any one-bit change, parity bit
    // included, makes it a normal key (the listed keys are at least two bits
    // apart from each other).
    auto check = [](const char *hex, int expected) {
        Block key = block_from_hex(hex);
        EXPECT_EQ(velk::des_keycheck(key.data()), expected) << hex;
        for (int bit = 0; bit < 64; ++bit) {
            Block changed = key;
            changed[bit / 8] ^= static_cast<unsigned char>(0x80 >> (bit % 8));
            EXPECT_EQ(velk::des_keycheck(changed.data()), 0) << hex << " bit " << bit + 1;
        }
    };
    for (auto hex : weak_rows) check(hex, 1);
    for (auto hex : semiweak_rows) check(hex, 2);
    // The printed rows 1F..1F and E0..E0 are not weak keys: their C and D
    // halves are not constant.
    EXPECT_EQ(velk::des_keycheck(block_from_hex("1f1f1f1f1f1f1f1f").data()), 0);
    EXPECT_EQ(velk::des_keycheck(block_from_hex("e0e0e0e0e0e0e0e0").data()), 0);
}

} // namespace
