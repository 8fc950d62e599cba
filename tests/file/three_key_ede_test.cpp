// SPDX-License-Identifier: MIT
// The program's three-key EDE key set-up and the one-block forms the tests
// use (tests/support): libcrypto as an oracle, the reductions to single
// DES, inversion and in-place use, and the key classes.
#include "file_test_support.hpp"

namespace {

using namespace velkfile::test;
using velk::test::Random;

struct Schedules {
    des_subkeys k1, k2, k3;
    explicit Schedules(const Key &key) { des_3EDEinit_3keys(key.data(), 24, k1, k2, k3); }
};

Key random_key(Random &rng) {
    Key key;
    const Bytes b = rng.bytes(24);
    std::copy(b.begin(), b.end(), key.begin());
    return key;
}

TEST(ThreeKeyEde, EqualThirdsAreSingleDes) {
    Random rng(11);
    for (int i = 0; i < 500; ++i) {
        const Block k = rng.block(), in = rng.block();
        Key key;
        for (int t = 0; t < 3; ++t)
            std::copy(k.begin(), k.end(), key.begin() + 8 * t);
        const Schedules s(key);
        des_subkeys single;
        des_init(k.data(), 8, single);
        Block ede, des;
        des_ecb3EDEencode_3keys(in.data(), ede.data(), s.k1, s.k2, s.k3);
        des_ecbencode(in.data(), des.data(), single);
        ASSERT_EQ(ede, des);
        des_ecb3EDEdecode_3keys(in.data(), ede.data(), s.k1, s.k2, s.k3);
        des_ecbdecode(in.data(), des.data(), single);
        ASSERT_EQ(ede, des);
    }
}

// Multi-block CBC runs through the block functions with the caller carrying
// the chain, as the file streaming does, against libcrypto's whole-buffer call.
TEST(ThreeKeyEde, AgreesWithLibcryptoInEcbAndChainedCbc) {
    VELK_REQUIRE_LIBCRYPTO();
#ifdef VELK_HAVE_LIBCRYPTO
    Random rng(12);
    for (int i = 0; i < 200; ++i) {
        const Key key = random_key(rng);
        const Block iv = rng.block();
        const Bytes plain = rng.bytes(8 * (1 + rng.below(12)));
        const Schedules s(key);
        Bytes ecb(plain.size()), cbc(plain.size());
        Block chain = iv;
        for (std::size_t at = 0; at < plain.size(); at += 8) {
            des_ecb3EDEencode_3keys(plain.data() + at, ecb.data() + at, s.k1, s.k2, s.k3);
            des_cbc3EDEencode_3keys(plain.data() + at, cbc.data() + at, chain.data(), s.k1, s.k2,
                                    s.k3);
            std::memcpy(chain.data(), cbc.data() + at, 8);
        }
        ASSERT_EQ(ecb, oracle_ede3(key, iv, plain, velkfile::mode_ecb, true));
        ASSERT_EQ(cbc, oracle_ede3(key, iv, plain, velkfile::mode_cbc, true));

        Bytes back(plain.size());
        chain = iv;
        for (std::size_t at = 0; at < plain.size(); at += 8) {
            des_cbc3EDEdecode_3keys(cbc.data() + at, back.data() + at, chain.data(), s.k1, s.k2,
                                    s.k3);
            std::memcpy(chain.data(), cbc.data() + at, 8);
        }
        ASSERT_EQ(back, plain);
    }
#endif
}

TEST(ThreeKeyEde, DecodeUndoesEncodeInPlaceAndThroughTheChainingValue) {
    Random rng(13);
    for (int i = 0; i < 500; ++i) {
        const Key key = random_key(rng);
        const Schedules s(key);
        const Block plain = rng.block(), iv = rng.block();

        Block b = plain;
        des_ecb3EDEencode_3keys(b.data(), b.data(), s.k1, s.k2, s.k3);
        Block out_of_place;
        des_ecb3EDEencode_3keys(plain.data(), out_of_place.data(), s.k1, s.k2, s.k3);
        ASSERT_EQ(b, out_of_place);
        des_ecb3EDEdecode_3keys(b.data(), b.data(), s.k1, s.k2, s.k3);
        ASSERT_EQ(b, plain);

        // CBC output written over the chaining value itself.
        Block chain = iv;
        des_cbc3EDEencode_3keys(plain.data(), chain.data(), chain.data(), s.k1, s.k2, s.k3);
        const Block cipher = chain;
        Block in_place = cipher;
        des_cbc3EDEdecode_3keys(in_place.data(), in_place.data(), iv.data(), s.k1, s.k2, s.k3);
        ASSERT_EQ(in_place, plain);
        Block into_iv = iv;
        des_cbc3EDEdecode_3keys(cipher.data(), into_iv.data(), into_iv.data(), s.k1, s.k2, s.k3);
        ASSERT_EQ(into_iv, plain);
    }
}

TEST(ThreeKeyEde, InitReturnsTheOrOfTheKeyClassesWhateverTheLength) {
    const Block normal = velk::test::block_from_hex("0123456789abcdef");
    const Block weak = velk::test::block_from_hex("0101010101010101");
    const Block semi = velk::test::block_from_hex("01fe01fe01fe01fe");
    auto classify = [](const Block &a, const Block &b, const Block &c, int keylen) {
        Key key;
        std::copy(a.begin(), a.end(), key.begin());
        std::copy(b.begin(), b.end(), key.begin() + 8);
        std::copy(c.begin(), c.end(), key.begin() + 16);
        des_subkeys k1, k2, k3;
        return des_3EDEinit_3keys(key.data(), keylen, k1, k2, k3);
    };
    for (int keylen : {24, 0, 8, -1}) {
        EXPECT_EQ(classify(normal, normal, normal, keylen), 0);
        EXPECT_EQ(classify(weak, normal, normal, keylen), 1);
        EXPECT_EQ(classify(normal, semi, normal, keylen), 2);
        EXPECT_EQ(classify(normal, normal, semi, keylen), 2);
        EXPECT_EQ(classify(semi, normal, weak, keylen), 3);
    }
}

TEST(ThreeKeyEde, Xor8MayWriteOverEitherInput) {
    const Block a = velk::test::block_from_hex("00ff0f f0 55aa 1234");
    const Block b = velk::test::block_from_hex("ffff00 00 aa55 4321");
    const Block want = velk::test::block_from_hex("ff000ff0ffff5115");
    Block out, x = a, y = b;
    xor8(a.data(), b.data(), out.data());
    xor8(x.data(), b.data(), x.data());
    xor8(a.data(), y.data(), y.data());
    EXPECT_EQ(out, want);
    EXPECT_EQ(x, want);
    EXPECT_EQ(y, want);
}

} // namespace
