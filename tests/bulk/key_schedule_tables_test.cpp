// SPDX-License-Identifier: MIT
// The schedule builder (one exchange network per round) against the
// bit-per-byte builder: both must give the same 32 words for every key.
#include <gtest/gtest.h>

#include "key_schedule.hpp"
#include "key_schedule_reference.hpp"
#include "velk_test.hpp"

namespace {

using namespace velk::test;

void expect_same_schedule(const unsigned char key[8]) {
    des_subkeys fast, plain;
    velk::des_keyschedule(key, fast);
    velk::des_keyschedule_bitwise(key, plain);
    for (int w = 0; w < 32; ++w)
        ASSERT_EQ(fast[w], plain[w]) << "word " << w << " key " << to_hex(Bytes(key, key + 8));
}

TEST(KeyScheduleTables, EqualBitwiseBuilderOnRandomKeys) {
    Random rng(61);
    for (int i = 0; i < 20000; ++i)
        expect_same_schedule(rng.block().data());
}

// Keys with a single bit set (or clear) send one bit through each network
// alone, where a misrouted bit cannot hide.
TEST(KeyScheduleTables, EqualBitwiseBuilderOnSingleBitKeys) {
    for (int bit = 0; bit < 64; ++bit) {
        Block one{}, all_but_one;
        one[bit / 8] = static_cast<unsigned char>(0x80u >> (bit % 8));
        for (int i = 0; i < 8; ++i)
            all_but_one[i] = static_cast<unsigned char>(~one[i]);
        expect_same_schedule(one.data());
        expect_same_schedule(all_but_one.data());
    }
}

TEST(KeyScheduleTables, DesInitWritesTheTableSchedule) {
    Random rng(62);
    for (int i = 0; i < 200; ++i) {
        const Block key = rng.block();
        des_subkeys via_init, plain;
        des_init(key.data(), 8, via_init);
        velk::des_keyschedule_bitwise(key.data(), plain);
        for (int w = 0; w < 32; ++w)
            ASSERT_EQ(via_init[w], plain[w]);
    }
}

} // namespace
