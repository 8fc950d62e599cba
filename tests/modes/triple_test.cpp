// SPDX-License-Identifier: MIT
// The triple families' set-ups and the key choices under which a triple
// family collapses to single DES: each catches a stage run with the wrong
// schedule, in the wrong direction or in the wrong order.
#include <gtest/gtest.h>

#include "families.hpp"

namespace {

using namespace velk::test;

const Bytes weak = from_hex("0101010101010101");
const Bytes semi_a = from_hex("01FE01FE01FE01FE"), semi_b = from_hex("FE01FE01FE01FE01");
const Bytes normal = from_hex("0123456789abcdef");

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(TripleSetup, ReturnsTheOrOfTheClassesAndBuildsEverySchedule) {
    struct Case {
        const Family &f;
        Bytes key;
        int cls;
    } cases[] = {
        {two_key_ede, cat({normal, normal}), 0},
        {two_key_ede, cat({normal, weak}), 1},
        {two_key_ede, cat({semi_b, normal}), 2},
        {two_key_ede, cat({weak, semi_a}), 3},
        {three_key_eee, cat({weak, weak, normal}), 1},
        {three_key_eee, cat({semi_a, semi_b, normal}), 2},
        {three_key_eee, cat({normal, normal, semi_b}), 2},
        {three_key_eee, cat({normal, weak, semi_a}), 3},
    };
    for (const auto &c : cases) {
        Schedules ks;
        EXPECT_EQ(c.f.init(c.key.data(), ks), c.cls) << c.f.name << " " << to_hex(c.key);
        // Every schedule is built, whatever the class, from its own 8 bytes.
        for (std::size_t i = 0; i < c.f.key_bytes / 8; ++i) {
            des_subkeys single;
            des_init(&c.key[8 * i], 8, single);
            EXPECT_TRUE(std::equal(single, single + 32, ks.ks[i])) << c.f.name << " schedule " << i;
        }
    }
}

// Runs all eight mode functions of a triple family and of single DES on the
// same random data and expects equal outputs and final registers.
void expect_collapses_to_single(const Family &f, const Bytes &triple_key, const Bytes &single_key) {
    Schedules tk, sk;
    f.init(triple_key.data(), tk);
    single_des.init(single_key.data(), sk);
    Random rng(11);
    for (int trial = 0; trial < 10; ++trial) {
        const Bytes data = rng.bytes(8 * (1 + rng.below(4)));
        const Block iv = rng.block();
        for (bool encode : {true, false}) {
            EXPECT_EQ(run_ecb(f, encode, tk, data), run_ecb(single_des, encode, sk, data));
            EXPECT_EQ(run_cbc(f, encode, tk, iv, data), run_cbc(single_des, encode, sk, iv, data));
        }
        for (Stream s : all_streams) {
            Block treg = iv, sreg = iv;
            EXPECT_EQ(run_stream(f, s, tk, treg, data), run_stream(single_des, s, sk, sreg, data))
                << name(s);
            EXPECT_EQ(treg, sreg) << name(s);
        }
    }
}

TEST(TwoKeyEde, EqualHalvesGiveSingleDes) {
    Random rng(12);
    for (int i = 0; i < 5; ++i) {
        const Bytes k = rng.bytes(8);
        SCOPED_TRACE(to_hex(k));
        Schedules ks, single;
        EXPECT_EQ(two_key_ede.init(cat({k, k}).data(), ks), single_des.init(k.data(), single));
        expect_collapses_to_single(two_key_ede, cat({k, k}), k);
    }
}

TEST(ThreeKeyEee, SelfInverseWeakFirstPairGivesSingleDesUnderK3) {
    const Bytes k3 = from_hex("133457799bbcdff1");
    expect_collapses_to_single(three_key_eee, cat({weak, weak, k3}), k3);
}

TEST(ThreeKeyEee, SemiWeakFirstPairGivesSingleDesUnderK3) {
    const Bytes k3 = from_hex("133457799bbcdff1");
    expect_collapses_to_single(three_key_eee, cat({semi_a, semi_b, k3}), k3);
}

// With K2 = K3 = a weak key the last two stages cancel instead, which
// checks that decoding starts from schedule 3.
TEST(ThreeKeyEee, SelfInverseWeakLastPairGivesSingleDesUnderK1) {
    const Bytes k1 = from_hex("0e329232ea6d0d73");
    expect_collapses_to_single(three_key_eee, cat({k1, weak, weak}), k1);
}

} // namespace
