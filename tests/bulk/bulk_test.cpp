// The many-block path against the one-block path: the same bytes at every
// length from 0 to a little over two batches, in place and out of place, at
// every alignment, for random keys and for three equal keys; for the entry
// points and for each of the two widths they choose between.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "bulk.hpp"
#include "velk_test.hpp"

namespace {

using namespace velk::test;

// Covers an empty call, a lone block, a batch and a half-filled last batch
// whatever the batch size is (up to 256 blocks).
constexpr std::size_t max_blocks = 2 * 256 + 3;

struct Keys {
    des_subkeys k1, k2, k3;
    explicit Keys(const Bytes &key) {
        des_init(key.data(), 8, k1);
        des_init(key.data() + 8, 8, k2);
        des_init(key.data() + 16, 8, k3);
    }
};

// One way into the many-block path.
struct Width {
    const char *name;
    void (*ecb)(const unsigned char *, unsigned char *, std::size_t, const std::uint32_t *,
                const std::uint32_t *, const std::uint32_t *, bool);
    void (*cbc_decrypt)(const unsigned char *, unsigned char *, std::size_t, unsigned char *,
                        const std::uint32_t *, const std::uint32_t *, const std::uint32_t *);
    bool (*available)();
};

void chosen_ecb(const unsigned char *in, unsigned char *out, std::size_t blocks,
                const std::uint32_t *k1, const std::uint32_t *k2, const std::uint32_t *k3,
                bool decrypt) {
    (decrypt ? velk::ede3_decrypt_blocks : velk::ede3_encrypt_blocks)(in, out, blocks, k1, k2, k3);
}
bool always() {
    return true;
}

const Width widths[] = {
    {"chosen", chosen_ecb, velk::ede3_cbc_decrypt_blocks, always},
    {"baseline", velk::bulk_width::ede3_ecb_baseline, velk::bulk_width::ede3_cbc_decrypt_baseline,
     always},
    {"wide", velk::bulk_width::ede3_ecb_wide, velk::bulk_width::ede3_cbc_decrypt_wide,
     velk::bulk_width::wide_available},
};

class Bulk : public ::testing::TestWithParam<Width> {
  protected:
    void SetUp() override {
        if (!GetParam().available())
            GTEST_SKIP() << "the processor lacks the " << GetParam().name << " width";
    }
    void encrypt(const unsigned char *in, unsigned char *out, std::size_t blocks, const Keys &k) {
        GetParam().ecb(in, out, blocks, k.k1, k.k2, k.k3, false);
    }
    void decrypt(const unsigned char *in, unsigned char *out, std::size_t blocks, const Keys &k) {
        GetParam().ecb(in, out, blocks, k.k1, k.k2, k.k3, true);
    }
    void cbc_decrypt(const unsigned char *in, unsigned char *out, std::size_t blocks,
                     unsigned char *chain, const Keys &k) {
        GetParam().cbc_decrypt(in, out, blocks, chain, k.k1, k.k2, k.k3);
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
    for (std::size_t blocks = 0; blocks <= max_blocks; ++blocks) {
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
        const std::size_t blocks = 1 + rng.below(max_blocks);
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
    for (std::size_t blocks = 0; blocks <= max_blocks; blocks += 1 + blocks / 16) {
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
        velk::ede3_cbc_encrypt_blocks(buffer.data(), buffer.data(), split, carried.data(), keys.k1,
                                      keys.k2, keys.k3);
        velk::ede3_cbc_encrypt_blocks(buffer.data() + 8 * split, buffer.data() + 8 * split,
                                      blocks - split, carried.data(), keys.k1, keys.k2, keys.k3);
        ASSERT_EQ(to_hex(buffer), to_hex(expected)) << blocks << " blocks";
        ASSERT_EQ(to_hex(carried), to_hex(chain)) << blocks << " blocks";
        Block back_chain = iv;
        velk::ede3_cbc_decrypt_blocks(buffer.data(), buffer.data(), blocks, back_chain.data(),
                                      keys.k1, keys.k2, keys.k3);
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

INSTANTIATE_TEST_SUITE_P(Widths, Bulk, ::testing::ValuesIn(widths),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
