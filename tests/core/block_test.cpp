// SPDX-License-Identifier: MIT
// The block transform: known answers from vector files, libcrypto as an
// oracle, and the algebraic properties of DES that catch wiring faults.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "block.hpp"
#include "block_ct.hpp"
#include "libcrypto_oracle.hpp"
#include "velk_test.hpp"

namespace {

using namespace velk::test;

Block encode(const Block &key, const Block &in) {
    des_subkeys ks;
    des_init(key.data(), 8, ks);
    Block out;
    EXPECT_EQ(des_ecbencode(in.data(), out.data(), ks), 0);
    return out;
}

std::uint64_t block_word(const Block &b) {
    std::uint64_t w = 0;
    for (const unsigned char c : b) w = w << 8 | c;
    return w;
}

Block decode(const Block &key, const Block &in) {
    des_subkeys ks;
    des_init(key.data(), 8, ks);
    Block out;
    EXPECT_EQ(des_ecbdecode(in.data(), out.data(), ks), 0);
    return out;
}

TEST(Block, KnownAnswersBothWays) {
    const auto records = read_vectors("des_ecb.txt");
    ASSERT_GE(records.size(), 10u);
    for (const auto &r : records) {
        const Block key = block_from_hex(r.at("Key"));
        const Block in = block_from_hex(r.at("In")), out = block_from_hex(r.at("Out"));
        EXPECT_EQ(to_hex(encode(key, in)), to_hex(out)) << "Key " << r.at("Key");
        EXPECT_EQ(to_hex(decode(key, out)), to_hex(in)) << "Key " << r.at("Key");
    }
}

TEST(Block, AgreesWithLibcryptoOnRandomPairs) {
    VELK_REQUIRE_LIBCRYPTO();
#ifdef VELK_HAVE_LIBCRYPTO
    Random rng(3);
    for (int i = 0; i < 50000; ++i) {
        const Block key = rng.block(), in = rng.block();
        Block expected_enc, expected_dec;
        oracle::ecb(key.data(), in.data(), expected_enc.data(), true);
        oracle::ecb(key.data(), in.data(), expected_dec.data(), false);
        ASSERT_EQ(to_hex(encode(key, in)), to_hex(expected_enc)) << to_hex(key) << " " << to_hex(in);
        ASSERT_EQ(to_hex(decode(key, in)), to_hex(expected_dec)) << to_hex(key) << " " << to_hex(in);
    }
#endif
}

TEST(Block, DecryptUndoesEncryptAndInPlaceEqualsOutOfPlace) {
    Random rng(4);
    for (int i = 0; i < 2000; ++i) {
        des_subkeys ks;
        des_init(rng.block().data(), 8, ks);
        const Block in = rng.block();
        Block enc, dec, buf = in;
        des_ecbencode(in.data(), enc.data(), ks);
        des_ecbdecode(enc.data(), dec.data(), ks);
        ASSERT_EQ(dec, in);
        des_ecbencode(buf.data(), buf.data(), ks);
        ASSERT_EQ(buf, enc);
        des_ecbdecode(buf.data(), buf.data(), ks);
        ASSERT_EQ(buf, in);
        des_ecbdecode(in.data(), dec.data(), ks);
        des_ecbencode(dec.data(), buf.data(), ks);
        ASSERT_EQ(buf, in);
    }
}

TEST(Block, OverlappingInputAndOutput) {
    Random rng(5);
    des_subkeys ks;
    des_init(rng.block().data(), 8, ks);
    const Bytes data = rng.bytes(16);
    Block expected;
    des_ecbencode(data.data() + 4, expected.data(), ks);
    for (int shift = -4; shift <= 4; ++shift) {
        Bytes buf = data;
        des_ecbencode(buf.data() + 4, buf.data() + 4 + shift, ks);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buf.begin() + 4 + shift)) << shift;
    }
}

TEST(Block, ComplementationProperty) {
    Random rng(6);
    for (int i = 0; i < 1000; ++i) {
        Block key = rng.block(), in = rng.block();
        const Block out = encode(key, in);
        for (auto &b : key) b = static_cast<unsigned char>(~b);
        for (auto &b : in) b = static_cast<unsigned char>(~b);
        Block complemented = encode(key, in);
        for (auto &b : complemented) b = static_cast<unsigned char>(~b);
        ASSERT_EQ(complemented, out);
    }
}

TEST(Block, WeakKeysAreSelfInverseAndSemiWeakPairsUndoEachOther) {
    const char *weak[] = {"0101010101010101", "fefefefefefefefe", "1f1f1f1f0e0e0e0e",
                          "e0e0e0e0f1f1f1f1"};
    const char *pairs[][2] = {{"01fe01fe01fe01fe", "fe01fe01fe01fe01"},
                              {"1fe01fe00ef10ef1", "e01fe01ff10ef10e"},
                              {"01e001e001f101f1", "e001e001f101f101"},
                              {"1ffe1ffe0efe0efe", "fe1ffe1ffe0efe0e"},
                              {"011f011f010e010e", "1f011f010e010e01"},
                              {"e0fee0fef1fef1fe", "fee0fee0fef1fef1"}};
    Random rng(7);
    for (int i = 0; i < 200; ++i) {
        const Block in = rng.block();
        for (auto hex : weak) {
            const Block key = block_from_hex(hex);
            ASSERT_EQ(encode(key, encode(key, in)), in) << hex;
            ASSERT_EQ(encode(key, in), decode(key, in)) << hex;
        }
        for (auto &p : pairs) {
            const Block a = block_from_hex(p[0]), b = block_from_hex(p[1]);
            ASSERT_EQ(encode(b, encode(a, in)), in) << p[0];
            ASSERT_EQ(encode(a, in), decode(b, in)) << p[0];
        }
    }
}

TEST(Block, PermutationNetworksMatchThePrintedTables) {
    // IP as the standard prints it: output bit i+1 is input bit IP[i].
    static const int IP[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                               62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                               57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                               61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
    for (int bit = 1; bit <= 64; ++bit) {
        const std::uint64_t x = std::uint64_t{1} << (64 - bit);
        std::uint32_t l = static_cast<std::uint32_t>(x >> 32), r = static_cast<std::uint32_t>(x);
        velk::initial_permutation(l, r);
        // The network leaves both halves rotated left by one.
        const std::uint64_t got = std::uint64_t{velk::rotr(l, 1)} << 32 | velk::rotr(r, 1);
        std::uint64_t want = 0;
        for (int i = 0; i < 64; ++i)
            if (IP[i] == bit) want |= std::uint64_t{1} << (63 - i);
        ASSERT_EQ(got, want) << "input bit " << bit;
        // The final network undoes it, after the standard's swap of halves.
        std::uint32_t fl = r, fr = l;
        velk::final_permutation(fl, fr);
        ASSERT_EQ(std::uint64_t{fr} << 32 | fl, x) << "input bit " << bit;
    }
}

// The one-block paths take IP and IP^-1 from tables and run the rounds on
// wide halves; both must equal the plain networks and the plain round for
// every input, including schedule words whose unused top bits are set.
std::uint32_t plain_f(std::uint32_t h, std::uint32_t e, std::uint32_t o) {
    const std::uint32_t a = velk::rotr(h, 4) ^ e, b = h ^ o;
    const auto &sp = velk::des_sptab;
    return sp[0][(a >> 24) & 63] ^ sp[1][(b >> 24) & 63] ^ sp[2][(a >> 16) & 63] ^
           sp[3][(b >> 16) & 63] ^ sp[4][(a >> 8) & 63] ^ sp[5][(b >> 8) & 63] ^
           sp[6][a & 63] ^ sp[7][b & 63];
}

void plain_rounds(bool encrypt, std::uint32_t &l, std::uint32_t &r, const std::uint32_t *ks) {
    for (int i = 0; i < 16; ++i) {
        const int p = 2 * (encrypt ? i : 15 - i);
        std::uint32_t &x = i % 2 == 0 ? l : r;
        x ^= plain_f(i % 2 == 0 ? r : l, ks[p], ks[p + 1]);
    }
}

TEST(Block, TablePermutationsEqualTheNetworks) {
    Random rng(12);
    std::vector<std::uint64_t> inputs;
    for (int bit = 0; bit < 64; ++bit) inputs.push_back(std::uint64_t{1} << bit);
    for (int i = 0; i < 500; ++i) inputs.push_back(block_word(rng.block()));
    inputs.push_back(0);
    inputs.push_back(~std::uint64_t{0});
    for (const std::uint64_t x : inputs) {
        const auto hi = static_cast<std::uint32_t>(x >> 32), lo = static_cast<std::uint32_t>(x);
        std::uint32_t l = hi, r = lo;
        velk::initial_permutation(l, r);
        std::uint64_t wl = 0, wr = 0;
        velk::permute_in(hi, lo, wl, wr);
        ASSERT_EQ(wl, velk::widen(l)) << std::hex << x;
        ASSERT_EQ(wr, velk::widen(r)) << std::hex << x;
        // Taken as L16 and R16, the same halves leave through IP^-1.
        std::uint32_t fl = l, fr = r, out_hi = 0, out_lo = 0;
        velk::final_permutation(fl, fr);
        velk::permute_out(wl, wr, out_hi, out_lo);
        ASSERT_EQ(out_hi, fr) << std::hex << x;
        ASSERT_EQ(out_lo, fl) << std::hex << x;
    }
}

TEST(Block, WideRoundsEqualThePlainRound) {
    Random rng(13);
    for (int trial = 0; trial < 400; ++trial) {
        std::uint32_t ks[32];
        // Half the schedules as the key set-up makes them (two top bits of
        // every byte clear), half with those bits random: the round ignores
        // them.
        const std::uint32_t mask = trial % 2 ? 0xFFFFFFFFu : 0x3F3F3F3Fu;
        for (auto &w : ks) w = static_cast<std::uint32_t>(block_word(rng.block())) & mask;
        const std::uint64_t x = block_word(rng.block());
        for (const bool encrypt : {true, false}) {
            std::uint32_t l = static_cast<std::uint32_t>(x >> 32), r = static_cast<std::uint32_t>(x);
            std::uint32_t pl = l, pr = r;
            plain_rounds(encrypt, pl, pr, ks);
            if (encrypt)
                velk::encrypt_rounds(l, r, ks);
            else
                velk::decrypt_rounds(l, r, ks);
            ASSERT_EQ(l, pl) << trial << (encrypt ? " encrypt" : " decrypt");
            ASSERT_EQ(r, pr) << trial << (encrypt ? " encrypt" : " decrypt");
        }
    }
}

// The constant-time rounds against the plain round above, which no build
// option changes: both engines, random keys and halves, both orders.
using Rounds = void (*)(std::uint32_t &, std::uint32_t &, const std::uint32_t *);

struct Engine {
    const char *name;
    Rounds encrypt, decrypt;
    bool available;
};

std::vector<Engine> constant_time_engines() {
    return {{"portable", velk::ct::encrypt_rounds_portable, velk::ct::decrypt_rounds_portable,
             true},
#ifdef VELK_HAVE_AVX512_ENGINE
            {"avx512", velk::ct::encrypt_rounds_avx512, velk::ct::decrypt_rounds_avx512,
             velk::ct::avx512_available()},
#else
            {"avx512", nullptr, nullptr, false}, // not in this build
#endif
            {"chosen", velk::ct::encrypt_rounds, velk::ct::decrypt_rounds, true}};
}

TEST(ConstantTimeRounds, EqualTheTableRoundsOnRandomKeysAndHalves) {
    Random rng(131);
    for (const Engine &engine : constant_time_engines()) {
        if (!engine.available) {
            std::printf("[ SKIPPED  ] %s engine: not on this processor\n", engine.name);
            continue;
        }
        for (int i = 0; i < 3000; ++i) {
            des_subkeys ks;
            des_init(rng.block().data(), 8, ks);
            const Block half = rng.block();
            const std::uint32_t l0 = velk::load_be32(half.data()),
                                r0 = velk::load_be32(half.data() + 4);
            std::uint32_t l = l0, r = r0, tl = l0, tr = r0;
            engine.encrypt(l, r, ks);
            plain_rounds(true, tl, tr, ks);
            ASSERT_EQ(l, tl) << engine.name << " encrypt, case " << i;
            ASSERT_EQ(r, tr) << engine.name << " encrypt, case " << i;
            engine.decrypt(l, r, ks);
            plain_rounds(false, tl, tr, ks);
            ASSERT_EQ(l, tl) << engine.name << " decrypt, case " << i;
            ASSERT_EQ(r, tr) << engine.name << " decrypt, case " << i;
        }
    }
}

// Every S-box input reaches every truth table: a schedule that sets one
// group to each of its 64 values, with the other groups and halves zero.
TEST(ConstantTimeRounds, EverySBoxInputOnItsOwn) {
    for (const Engine &engine : constant_time_engines()) {
        if (!engine.available) continue;
        for (int word = 0; word < 2; ++word)
            for (int field = 0; field < 4; ++field)
                for (std::uint32_t v = 0; v < 64; ++v) {
                    des_subkeys ks{};
                    ks[word] = v << (24 - 8 * field);
                    std::uint32_t l = 0, r = 0, tl = 0, tr = 0;
                    engine.encrypt(l, r, ks);
                    plain_rounds(true, tl, tr, ks);
                    ASSERT_EQ(l, tl) << engine.name << " word " << word << " field " << field;
                    ASSERT_EQ(r, tr) << engine.name << " word " << word << " field " << field;
                }
    }
}

// The known answers through the whole block with the rounds of each engine.
TEST(ConstantTimeRounds, KnownAnswersThroughEachEngine) {
    const auto records = read_vectors("des_ecb.txt");
    ASSERT_GE(records.size(), 10u);
    for (const Engine &engine : constant_time_engines()) {
        if (!engine.available) continue;
        for (const auto &rec : records) {
            des_subkeys ks;
            des_init(block_from_hex(rec.at("Key")).data(), 8, ks);
            const Block in = block_from_hex(rec.at("In")), out = block_from_hex(rec.at("Out"));
            for (bool encrypt : {true, false}) {
                const Block &from = encrypt ? in : out;
                std::uint32_t l = velk::load_be32(from.data()), r = velk::load_be32(from.data() + 4);
                velk::initial_permutation(l, r);
                (encrypt ? engine.encrypt : engine.decrypt)(l, r, ks);
                velk::final_permutation(l, r);
                Block got;
                velk::store_be32(got.data(), r);
                velk::store_be32(got.data() + 4, l);
                EXPECT_EQ(to_hex(got), to_hex(encrypt ? out : in))
                    << engine.name << " Key " << rec.at("Key");
            }
        }
    }
}

} // namespace
