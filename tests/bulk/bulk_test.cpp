// SPDX-License-Identifier: MIT
// The many-block path against the one-block path: the same bytes at lengths
// from 0 to a few batches of the widest width (every vector and batch
// boundary of every width), in place and out of place, source and
// destination at every alignment within a vector, CBC decryption split over
// two and over many calls, for random, weak, semi-weak and equal-thirds keys; for the
// entry points (which also choose the width of a call's last batch) and for
// each width alone. A width the processor lacks is skipped, visibly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "ede3_bulk.hpp"
#include "three_key_ede_blocks.hpp"
#include "velk_test.hpp"

namespace {

using namespace velk::test;

using velk::bulk_width::Width;

// An empty call, lone blocks, every vector boundary (2, 4 and 8 blocks) and
// every batch boundary of every width (128, 256 and 512 blocks) with a block
// either side, up to three 512-block batches and a few blocks of a fourth.
const std::size_t lengths[] = {0,   1,   2,   3,   4,    5,    6,    7,    8,    9,    10,
                               15,  16,  17,  31,  32,   33,   63,   64,   65,   100,  127,
                               128, 129, 255, 256, 257,  383,  384,  385,  511,  512,  513,
                               640, 767, 768, 769, 1023, 1024, 1025, 1300, 1535, 1536, 1539};

// Lengths that end a batch's last vector full or short by one for every
// width, for the tests that also walk every alignment.
const std::size_t edge_lengths[] = {1, 3, 7, 9, 127, 129, 257, 513};

// The schedules of a 24-byte key, from the library's three-key EDE set-up.
struct Keys {
    velk::Ede3Schedule schedule;
    const std::uint32_t *k1 = schedule.subkeys1(), *k2 = schedule.subkeys2(),
                        *k3 = schedule.subkeys3();
    explicit Keys(const Bytes &key)
        : schedule(std::span<const unsigned char, 24>(key.data(), 24)) {}
    Keys(const Keys &) = delete;
    Keys &operator=(const Keys &) = delete;
    // As velkfile holds it: once per file, off the stack.
    std::unique_ptr<velk::Ede3BulkKey> bulk() const {
        return std::make_unique<velk::Ede3BulkKey>(schedule);
    }
};

// One way into the many-block path: the functions that choose the width
// themselves (and the tail's), or one width alone.
struct Way {
    const char *name;
    bool chosen;
    Width width;
};

const Way ways[] = {
    {"chosen", true, Width::sse2},    {"one_block", false, Width::one_block},
    {"sse2", false, Width::sse2},     {"avx2", false, Width::avx2},
    {"avx512", false, Width::avx512},
};

class Bulk : public ::testing::TestWithParam<Way> {
  protected:
    void SetUp() override {
        if (!GetParam().chosen && !velk::bulk_width::available(GetParam().width))
            GTEST_SKIP() << "SKIPPED: the processor lacks the " << GetParam().name << " width";
    }
    void ecb(const unsigned char *in, unsigned char *out, std::size_t blocks, const Keys &k,
             bool decrypt) {
        const auto key = k.bulk();
        if (!GetParam().chosen)
            velk::bulk_width::run(GetParam().width, *key, in, out, blocks, decrypt, nullptr);
        else if (decrypt)
            velk::ede3_decrypt_blocks(*key, in, out, blocks);
        else
            velk::ede3_encrypt_blocks(*key, in, out, blocks);
    }
    void encrypt(const unsigned char *in, unsigned char *out, std::size_t blocks, const Keys &k) {
        ecb(in, out, blocks, k, false);
    }
    void decrypt(const unsigned char *in, unsigned char *out, std::size_t blocks, const Keys &k) {
        ecb(in, out, blocks, k, true);
    }
    void cbc_decrypt(const unsigned char *in, unsigned char *out, std::size_t blocks,
                     unsigned char *chain, const Keys &k) {
        const auto key = k.bulk();
        if (GetParam().chosen)
            velk::ede3_cbc_decrypt_blocks(*key, in, out, blocks, chain);
        else
            velk::bulk_width::run(GetParam().width, *key, in, out, blocks, true, chain);
    }
};

// E_K3(D_K2(E_K1(x))) one block at a time, through the exported functions.
Bytes encrypt_each(const Bytes &in, const Keys &k) {
    Bytes out(in.size());
    for (std::size_t i = 0; i < in.size(); i += 8) {
        unsigned char a[8], b[8];
        des_ecbencode(&in[i], a, k.k1);
        des_ecbdecode(a, b, k.k2);
        des_ecbencode(b, &out[i], k.k3);
    }
    return out;
}

Bytes decrypt_each(const Bytes &in, const Keys &k) {
    Bytes out(in.size());
    for (std::size_t i = 0; i < in.size(); i += 8) {
        unsigned char a[8], b[8];
        des_ecbdecode(&in[i], a, k.k3);
        des_ecbencode(a, b, k.k2);
        des_ecbdecode(b, &out[i], k.k1);
    }
    return out;
}

Bytes cbc_decrypt_each(const Bytes &in, const Block &iv, const Keys &k) {
    Bytes out = decrypt_each(in, k);
    for (std::size_t i = 0; i < in.size(); ++i)
        out[i] ^= i < 8 ? iv[i] : in[i - 8];
    return out;
}

Bytes key_with_equal_thirds(Random &rng) {
    const Bytes third = rng.bytes(8);
    Bytes key(24);
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = third[i % 8];
    return key;
}

TEST_P(Bulk, EcbBothWaysEqualsOneBlockAtATimeAtEveryLength) {
    Random rng(71);
    for (const std::size_t blocks : lengths) {
        const Keys keys(blocks % 7 == 3 ? key_with_equal_thirds(rng) : rng.bytes(24));
        const Bytes plain = rng.bytes(8 * blocks);
        const Bytes expected = encrypt_each(plain, keys);
        Bytes out(plain.size());
        encrypt(plain.data(), out.data(), blocks, keys);
        ASSERT_EQ(to_hex(out), to_hex(expected)) << blocks << " blocks";
        Bytes back(plain.size());
        decrypt(out.data(), back.data(), blocks, keys);
        ASSERT_EQ(to_hex(back), to_hex(decrypt_each(out, keys))) << blocks << " blocks";
        ASSERT_EQ(to_hex(back), to_hex(plain)) << blocks << " blocks";
    }
}

TEST_P(Bulk, InPlaceAndEveryAlignmentGiveTheSameBytes) {
    Random rng(72);
    const Keys keys(rng.bytes(24));
    for (std::size_t offset = 0; offset < 8; ++offset) {
        const std::size_t blocks = 1 + rng.below(lengths[std::size(lengths) - 1]);
        const Bytes plain = rng.bytes(8 * blocks);
        const Bytes expected = encrypt_each(plain, keys);
        Bytes buffer(8 * blocks + 16, 0xA5);
        std::memcpy(buffer.data() + offset, plain.data(), plain.size());
        encrypt(buffer.data() + offset, buffer.data() + offset, blocks, keys);
        ASSERT_EQ(to_hex(Bytes(buffer.begin() + offset, buffer.begin() + offset + plain.size())),
                  to_hex(expected))
            << "offset " << offset;
        // Nothing outside the blocks is touched.
        for (std::size_t i = 0; i < offset; ++i)
            ASSERT_EQ(buffer[i], 0xA5);
        for (std::size_t i = offset + plain.size(); i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], 0xA5);
        decrypt(buffer.data() + offset, buffer.data() + offset, blocks, keys);
        ASSERT_EQ(to_hex(Bytes(buffer.begin() + offset, buffer.begin() + offset + plain.size())),
                  to_hex(plain));
    }
}

TEST_P(Bulk, CbcDecryptionEqualsOneBlockAtATimeAndCarriesTheChain) {
    Random rng(73);
    for (const std::size_t blocks : lengths) {
        const Keys keys(blocks % 5 == 2 ? key_with_equal_thirds(rng) : rng.bytes(24));
        const Block iv = rng.block();
        const Bytes cipher = rng.bytes(8 * blocks);
        const Bytes expected = cbc_decrypt_each(cipher, iv, keys);
        // In place, in two calls split at a random block: the chain carries.
        Bytes buffer = cipher;
        Block chain = iv;
        const std::size_t split = blocks ? rng.below(blocks + 1) : 0;
        cbc_decrypt(buffer.data(), buffer.data(), split, chain.data(), keys);
        cbc_decrypt(buffer.data() + 8 * split, buffer.data() + 8 * split, blocks - split,
                    chain.data(), keys);
        ASSERT_EQ(to_hex(buffer), to_hex(expected)) << blocks << " blocks, split " << split;
        const Block last =
            blocks ? block_from_hex(to_hex(Bytes(cipher.end() - 8, cipher.end()))) : iv;
        ASSERT_EQ(to_hex(chain), to_hex(last)) << blocks << " blocks";
    }
}

// Batches are read and written as whole vectors, so the source and the
// destination at every offset within a 64-byte vector, apart, and every
// partial last vector: the same bytes, and nothing written outside them.
TEST_P(Bulk, OutOfPlaceAtEveryAlignmentTouchesOnlyTheBlocks) {
    Random rng(80);
    const Keys keys(rng.bytes(24));
    for (const std::size_t blocks : edge_lengths) {
        const Bytes plain = rng.bytes(8 * blocks);
        const Bytes expected = encrypt_each(plain, keys);
        const Block iv = rng.block();
        const Bytes cbc_expected = cbc_decrypt_each(plain, iv, keys);
        for (std::size_t in_at = 0; in_at < 64; ++in_at) {
            const std::size_t out_at = (5 * in_at + 3) % 64;
            Bytes source(8 * blocks + 128, 0x5A), dest(8 * blocks + 128, 0xA5);
            std::memcpy(source.data() + in_at, plain.data(), plain.size());
            const Bytes source_before = source;
            const auto check = [&](const Bytes &want, const char *what) {
                ASSERT_EQ(to_hex(Bytes(dest.begin() + out_at, dest.begin() + out_at + want.size())),
                          to_hex(want))
                    << what << ", " << blocks << " blocks, in at " << in_at << ", out at "
                    << out_at;
                std::size_t outside = 0;
                for (std::size_t i = 0; i < dest.size(); ++i)
                    outside += (i < out_at || i >= out_at + want.size()) && dest[i] != 0xA5;
                ASSERT_EQ(outside, 0u) << what << ": bytes written outside the blocks";
                ASSERT_EQ(source, source_before) << what << ": the source was written";
            };
            encrypt(source.data() + in_at, dest.data() + out_at, blocks, keys);
            check(expected, "ECB encryption");
            std::fill(dest.begin(), dest.end(), 0xA5);
            decrypt(source.data() + in_at, dest.data() + out_at, blocks, keys);
            check(decrypt_each(plain, keys), "ECB decryption");
            std::fill(dest.begin(), dest.end(), 0xA5);
            Block chain = iv;
            cbc_decrypt(source.data() + in_at, dest.data() + out_at, blocks, chain.data(), keys);
            check(cbc_expected, "CBC decryption");
            if (HasFatalFailure())
                return;
        }
    }
}

// CBC decryption split into many calls of every kind of length (empty, one
// block, a vector and a block either side, a batch and a block either side),
// in place and out of place: the chain carries from call to call, and each
// call's first vector takes its first block's predecessor from it.
TEST_P(Bulk, CbcDecryptionInManyCallsEqualsOneCall) {
    Random rng(81);
    const std::size_t pieces[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 127, 128, 129, 255, 511, 512, 513};
    for (int trial = 0; trial < 12; ++trial) {
        const Keys keys(trial % 4 == 3 ? key_with_equal_thirds(rng) : rng.bytes(24));
        std::vector<std::size_t> calls;
        std::size_t blocks = 0;
        for (int c = 0; c < 6; ++c) {
            calls.push_back(pieces[rng.below(std::size(pieces))]);
            blocks += calls.back();
        }
        const Block iv = rng.block();
        const Bytes cipher = rng.bytes(8 * blocks);
        const Bytes expected = cbc_decrypt_each(cipher, iv, keys);
        const bool in_place = trial % 2 == 0;
        Bytes buffer = cipher, out(cipher.size() + 1);
        unsigned char *dest = in_place ? buffer.data() : out.data() + 1;
        Block chain = iv;
        std::size_t done = 0;
        for (const std::size_t n : calls) {
            cbc_decrypt(buffer.data() + 8 * done, dest + 8 * done, n, chain.data(), keys);
            done += n;
            const Block want = done ? block_from_hex(to_hex(Bytes(cipher.begin() + 8 * (done - 1),
                                                                  cipher.begin() + 8 * done)))
                                    : iv;
            ASSERT_EQ(to_hex(chain), to_hex(want)) << "after " << done << " blocks";
        }
        ASSERT_EQ(to_hex(Bytes(dest, dest + cipher.size())), to_hex(expected))
            << "trial " << trial << (in_place ? ", in place" : ", out of place");
    }
}

TEST(BulkCbcEncryption, EqualsOneBlockAtATimeAndCarriesTheChain) {
    Random rng(75);
    for (std::size_t blocks = 0; blocks <= 40; ++blocks) {
        const Keys keys(blocks % 4 == 1 ? key_with_equal_thirds(rng) : rng.bytes(24));
        const Block iv = rng.block();
        const Bytes plain = rng.bytes(8 * blocks);
        Bytes expected(plain.size());
        Block chain = iv;
        for (std::size_t i = 0; i < plain.size(); i += 8) {
            unsigned char x[8];
            for (int b = 0; b < 8; ++b)
                x[b] = plain[i + b] ^ chain[b];
            const Bytes one = encrypt_each(Bytes(x, x + 8), keys);
            std::copy(one.begin(), one.end(), expected.begin() + i);
            std::copy(one.begin(), one.end(), chain.begin());
        }
        Bytes buffer = plain;
        Block carried = iv;
        const std::size_t split = blocks / 3;
        const auto key = keys.bulk();
        velk::ede3_cbc_encrypt_blocks(*key, buffer.data(), buffer.data(), split, carried.data());
        velk::ede3_cbc_encrypt_blocks(*key, buffer.data() + 8 * split, buffer.data() + 8 * split,
                                      blocks - split, carried.data());
        ASSERT_EQ(to_hex(buffer), to_hex(expected)) << blocks << " blocks";
        ASSERT_EQ(to_hex(carried), to_hex(chain)) << blocks << " blocks";
        Block back_chain = iv;
        velk::ede3_cbc_decrypt_blocks(*key, buffer.data(), buffer.data(), blocks,
                                      back_chain.data());
        ASSERT_EQ(to_hex(buffer), to_hex(plain)) << blocks << " blocks";
    }
}

// Keys of the weak and semi-weak rows exercise all-zero and all-one key masks.
TEST_P(Bulk, ListedKeysEqualOneBlockAtATime) {
    Random rng(74);
    const char *const thirds[] = {"0101010101010101", "fefefefefefefefe", "01fe01fe01fe01fe",
                                  "1fe01fe00ef10ef1"};
    for (auto a : thirds)
        for (auto b : thirds) {
            const Bytes key = from_hex(std::string(a) + b + "0123456789abcdef");
            const Keys keys(key);
            const Bytes plain = rng.bytes(8 * 37);
            Bytes out(plain.size());
            encrypt(plain.data(), out.data(), 37, keys);
            ASSERT_EQ(to_hex(out), to_hex(encrypt_each(plain, keys))) << a << " " << b;
        }
}

// The key object holds every subkey bit of the 48 rounds as a whole mask, in
// the order E_K1, D_K2, E_K3 run them. Some masks are complemented (for the
// S-box inputs and outputs the circuits hold complemented), the same for
// every key: against the masks of all-zero schedules, a key's masks differ
// in exactly its subkey bits.
TEST(BulkKey, MasksAreTheSubkeyBitsOfTheRoundsInOrder) {
    Random rng(76);
    const Keys keys(rng.bytes(24));
    const auto key = keys.bulk();
    static const des_subkeys zero = {};
    const auto blank = std::make_unique<velk::Ede3BulkKey>(zero, zero, zero);
    const std::uint32_t *const schedules[3] = {keys.k1, keys.k2, keys.k3};
    for (unsigned round = 0; round < 48; ++round) {
        const unsigned stage = round / 16, i = stage == 1 ? 15 - round % 16 : round % 16;
        const std::uint32_t *ks = schedules[stage];
        unsigned ones = 0;
        for (unsigned bit = 0; bit < 48; ++bit) {
            const std::uint64_t m = key->masks[48 * round + bit][0];
            ASSERT_TRUE(m == 0 || m == ~std::uint64_t{0}) << round << " " << bit;
            for (const std::uint64_t word : key->masks[48 * round + bit])
                ASSERT_EQ(word, m) << round << " " << bit;
            ones += m != blank->masks[48 * round + bit][0];
        }
        // Each of the round's two schedule words holds 24 subkey bits.
        ASSERT_EQ(ones, static_cast<unsigned>(__builtin_popcount(ks[2 * i]) +
                                              __builtin_popcount(ks[2 * i + 1])))
            << "round " << round;
    }
}

// Destroying the key object clears it: no subkey bit or schedule word is
// left behind in the storage it occupied.
TEST(BulkKey, DestructionClearsEveryByte) {
    Random rng(78);
    const Keys keys(rng.bytes(24));
    alignas(velk::Ede3BulkKey) static unsigned char storage[sizeof(velk::Ede3BulkKey)];
    auto *key = new (storage) velk::Ede3BulkKey(keys.k1, keys.k2, keys.k3);
    std::size_t set = 0;
    for (unsigned char b : storage)
        set += b != 0;
    ASSERT_GT(set, sizeof storage / 4) << "the key should fill its storage";
    key->~Ede3BulkKey();
    for (std::size_t i = 0; i < sizeof storage; ++i)
        ASSERT_EQ(storage[i], 0) << "byte " << i;
}

// One key object read by several threads at once, each on its own buffer,
// gives each the bytes one thread alone gives (and ThreadSanitizer no report).
TEST(BulkKey, SharedByThreadsGivesTheSameBytes) {
    Random rng(79);
    const Keys keys(rng.bytes(24));
    const auto key = keys.bulk();
    constexpr std::size_t blocks = 1100;
    std::vector<Bytes> plain, expected, got(4);
    for (int t = 0; t < 4; ++t) {
        plain.push_back(rng.bytes(8 * blocks));
        expected.push_back(encrypt_each(plain.back(), keys));
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            got[t].resize(8 * blocks);
            for (int round = 0; round < 3; ++round)
                velk::ede3_encrypt_blocks(*key, plain[t].data(), got[t].data(), blocks - t);
        });
    for (auto &th : threads)
        th.join();
    for (int t = 0; t < 4; ++t)
        ASSERT_EQ(to_hex(Bytes(got[t].begin(), got[t].end() - 8 * t)),
                  to_hex(Bytes(expected[t].begin(), expected[t].end() - 8 * t)))
            << "thread " << t;
}

// The width the entry points choose runs on this processor, is the widest
// that does, and respects VELK_BULK_WIDTH when that names a width.
TEST(BulkWidth, ChosenIsAvailableWidestAndWithinTheCap) {
    const Width chosen = velk::bulk_width::chosen();
    ASSERT_TRUE(velk::bulk_width::available(chosen));
    Width cap = Width::avx512;
    bool capped = false;
    if (const char *env = std::getenv("VELK_BULK_WIDTH"))
        for (const Way &w : ways)
            if (!w.chosen && std::strcmp(env, w.name) == 0) {
                cap = w.width;
                capped = true;
            }
    ASSERT_LE(static_cast<int>(chosen), static_cast<int>(cap));
    for (Width w : {Width::sse2, Width::avx2, Width::avx512}) {
        if (velk::bulk_width::available(w) && w <= cap) {
            EXPECT_GE(static_cast<int>(chosen), static_cast<int>(w))
                << (capped ? "capped" : "uncapped") << ", a wider width is available";
        }
    }
}

// The one-block forms the tests hold the many-block paths to, over the
// library's triple stages, against three single-DES calls.
TEST(BulkOneBlock, EqualsThreeSingleDesCalls) {
    Random rng(77);
    for (int i = 0; i < 200; ++i) {
        const Keys keys(i % 9 == 4 ? key_with_equal_thirds(rng) : rng.bytes(24));
        const Bytes plain = rng.bytes(8);
        Bytes out(8), back(8);
        velk::test::ede3_encrypt_block(plain.data(), out.data(), keys.k1, keys.k2, keys.k3);
        ASSERT_EQ(to_hex(out), to_hex(encrypt_each(plain, keys)));
        velk::test::ede3_decrypt_block(out.data(), back.data(), keys.k1, keys.k2, keys.k3);
        ASSERT_EQ(to_hex(back), to_hex(plain));
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, Bulk, ::testing::ValuesIn(ways),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
