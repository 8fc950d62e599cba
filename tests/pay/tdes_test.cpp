// SPDX-License-Identifier: MIT
// velkpay's triple DES over whole buffers: the multi-block CBC records, the
// four functions against libcrypto's des-ede3 and des-ede over random keys
// and lengths on both sides of the many-block threshold, the ways of calling
// that must agree, and every refusal with nothing written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "libcrypto_oracle.hpp"
#include "velk_test.hpp"
#include "velkpay.h"

namespace {

using namespace velk::test;

struct Operation {
    const char *name;
    bool cbc, encrypt;
};

constexpr Operation operations[] = {
    {"ecb_encrypt", false, true},
    {"ecb_decrypt", false, false},
    {"cbc_encrypt", true, true},
    {"cbc_decrypt", true, false},
};

void PrintTo(const Operation &op, std::ostream *os) {
    *os << op.name;
}

int call(const Operation &op, const unsigned char *in, unsigned char *out, std::size_t length,
         unsigned char *iv, const unsigned char *key, std::size_t key_length) {
    if (!op.cbc)
        return (op.encrypt ? velkpay_tdes_ecb_encrypt : velkpay_tdes_ecb_decrypt)(in, out, length,
                                                                                  key, key_length);
    return (op.encrypt ? velkpay_tdes_cbc_encrypt : velkpay_tdes_cbc_decrypt)(in, out, length, iv,
                                                                              key, key_length);
}

// One call over all of `in`, out of place; `iv` carries the chain.
Bytes run(const Operation &op, const Bytes &in, Block &iv, const Bytes &key) {
    Bytes out(in.size());
    EXPECT_EQ(call(op, in.data(), out.data(), in.size(), iv.data(), key.data(), key.size()),
              VELKPAY_OK);
    return out;
}

TEST(PayTdes, MultiblockCbcRecords) {
    for (const Record &r : read_vectors("tdes_cbc3_multiblock.txt")) {
        SCOPED_TRACE(r.at("Direction") + " " + r.at("Count"));
        const bool encrypt = r.at("Direction") == "encrypt";
        const Bytes key = from_hex(r.at("Key")), plain = from_hex(r.at("In")),
                    cipher = from_hex(r.at("Out"));
        Block iv = block_from_hex(r.at("IV"));
        const Bytes got = run(operations[encrypt ? 2 : 3], encrypt ? plain : cipher, iv, key);
        EXPECT_EQ(to_hex(got), to_hex(encrypt ? cipher : plain));
        EXPECT_EQ(to_hex(iv), to_hex(Bytes(cipher.end() - 8, cipher.end())));
    }
}

class PayTdesOperation
    : public ::testing::TestWithParam<std::tuple<Operation, std::size_t /* key length */>> {
  protected:
    const Operation op = std::get<0>(GetParam());
    const std::size_t key_length = std::get<1>(GetParam());
};

// Every length from 0 to 200 blocks and a few long ones, each once out of
// place, once in place and once split into two chained calls at a random
// block, against one call of libcrypto.
TEST_P(PayTdesOperation, EqualsLibcrypto) {
    VELK_REQUIRE_LIBCRYPTO();
#ifdef VELK_HAVE_LIBCRYPTO
    const EVP_CIPHER *cipher = key_length == 24 ? (op.cbc ? EVP_des_ede3_cbc() : EVP_des_ede3())
                                                : (op.cbc ? EVP_des_ede_cbc() : EVP_des_ede());
    Random rng(320 + key_length + 2 * static_cast<std::size_t>(op.cbc) + op.encrypt);
    std::vector<std::size_t> lengths;
    for (std::size_t blocks = 0; blocks <= 200; ++blocks)
        lengths.push_back(blocks);
    for (std::size_t blocks : {511, 512, 513, 4099})
        lengths.push_back(blocks);
    for (std::size_t blocks : lengths) {
        SCOPED_TRACE(std::to_string(blocks) + " blocks");
        const Bytes key = rng.bytes(key_length), in = rng.bytes(8 * blocks);
        const Block iv0 = rng.block();
        const Bytes want = oracle::evp(cipher, key.data(), iv0.data(), in, op.encrypt);
        // The chain ends at the last cipher block.
        Block want_iv = iv0;
        if (op.cbc && blocks > 0) {
            const Bytes &cipher_text = op.encrypt ? want : in;
            std::copy(cipher_text.end() - 8, cipher_text.end(), want_iv.begin());
        }

        Block iv = iv0;
        ASSERT_EQ(to_hex(run(op, in, iv, key)), to_hex(want));
        if (op.cbc) {
            ASSERT_EQ(iv, want_iv);
        }

        Bytes buf = in;
        iv = iv0;
        ASSERT_EQ(call(op, buf.data(), buf.data(), buf.size(), iv.data(), key.data(), key.size()),
                  VELKPAY_OK);
        ASSERT_EQ(to_hex(buf), to_hex(want)) << "in place";

        const std::size_t cut = 8 * rng.below(blocks + 1);
        iv = iv0;
        Bytes split(in.size());
        ASSERT_EQ(call(op, in.data(), split.data(), cut, iv.data(), key.data(), key.size()), 0);
        ASSERT_EQ(call(op, in.data() + cut, split.data() + cut, in.size() - cut, iv.data(),
                       key.data(), key.size()),
                  0);
        ASSERT_EQ(to_hex(split), to_hex(want)) << "split at byte " << cut;
        if (op.cbc) {
            ASSERT_EQ(iv, want_iv);
        }
    }
#endif
}

// Without an outside oracle: one call equals one call per block (so the
// many-block engine equals the one-block path), a 16-byte key equals the
// 24-byte key K1 K2 K1, and the inverse function undoes the call.
TEST_P(PayTdesOperation, EveryWayOfCallingAgrees) {
    Random rng(77 + key_length);
    Operation inverse = op;
    inverse.encrypt = !op.encrypt;
    for (std::size_t blocks : {1, 63, 64, 65, 129, 700}) {
        SCOPED_TRACE(std::to_string(blocks) + " blocks");
        const Bytes key = rng.bytes(key_length), in = rng.bytes(8 * blocks);
        const Block iv0 = rng.block();
        Block iv = iv0;
        const Bytes whole = run(op, in, iv, key);

        Block iv_blocks = iv0;
        Bytes one_by_one;
        for (std::size_t b = 0; b < blocks; ++b) {
            const Bytes part =
                run(op, Bytes(in.begin() + 8 * b, in.begin() + 8 * b + 8), iv_blocks, key);
            one_by_one.insert(one_by_one.end(), part.begin(), part.end());
        }
        ASSERT_EQ(to_hex(one_by_one), to_hex(whole));
        ASSERT_EQ(iv_blocks, iv);

        if (key_length == 16) {
            Bytes k24 = key;
            k24.insert(k24.end(), key.begin(), key.begin() + 8);
            Block iv24 = iv0;
            ASSERT_EQ(to_hex(run(op, in, iv24, k24)), to_hex(whole));
        }

        Block back_iv = iv0;
        ASSERT_EQ(to_hex(run(inverse, whole, back_iv, key)), to_hex(in));
    }
}

INSTANTIATE_TEST_SUITE_P(Pay, PayTdesOperation,
                         ::testing::Combine(::testing::ValuesIn(operations),
                                            ::testing::Values(16, 24)),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::to_string(std::get<1>(info.param));
                         });

// Refused calls return their cause and write neither the output nor the
// chaining value.
TEST(PayTdes, RefusalsWriteNothing) {
    struct Case {
        const char *what;
        std::size_t length, key_length;
        bool null_in, null_out, null_key, null_iv;
        std::ptrdiff_t out_offset; // from `in`, for overlaps; 0 means a buffer of its own
        int want;
    };
    const Case cases[] = {
        {"8-byte key", 16, 8, false, false, false, false, 0, VELKPAY_E_KEY_LENGTH},
        {"no key bytes", 16, 0, false, false, false, false, 0, VELKPAY_E_KEY_LENGTH},
        {"15-byte key", 16, 15, false, false, false, false, 0, VELKPAY_E_KEY_LENGTH},
        {"32-byte key", 16, 32, false, false, false, false, 0, VELKPAY_E_KEY_LENGTH},
        {"7 bytes", 7, 24, false, false, false, false, 0, VELKPAY_E_DATA_LENGTH},
        {"1025 bytes", 1025, 16, false, false, false, false, 0, VELKPAY_E_DATA_LENGTH},
        {"null key", 16, 24, false, false, true, false, 0, VELKPAY_E_ARGUMENT},
        {"null input", 16, 24, true, false, false, false, 0, VELKPAY_E_ARGUMENT},
        {"null output", 16, 24, false, true, false, false, 0, VELKPAY_E_ARGUMENT},
        {"output a block past the input", 1024, 24, false, false, false, false, 8,
         VELKPAY_E_ARGUMENT},
        {"output a byte before the input", 16, 16, false, false, false, false, -1,
         VELKPAY_E_ARGUMENT},
    };
    for (const Operation &op : operations) {
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(op.name) + ": " + c.what);
            Bytes key(40, 0x5A), in(2048, 0x33), other(2048, 0xEE);
            Block iv;
            iv.fill(0x77);
            unsigned char *out = c.out_offset != 0 ? in.data() + 8 + c.out_offset : other.data();
            const Bytes in_before = in;
            EXPECT_EQ(call(op, c.null_in ? nullptr : in.data() + 8, c.null_out ? nullptr : out,
                           c.length, iv.data(), c.null_key ? nullptr : key.data(), c.key_length),
                      c.want);
            EXPECT_EQ(in, in_before);
            EXPECT_EQ(other, Bytes(2048, 0xEE));
            EXPECT_EQ(iv, block_from_hex("7777777777777777"));
        }
        if (op.cbc) {
            SCOPED_TRACE(std::string(op.name) + ": null chaining value");
            const Bytes key(24, 1), in(8, 2);
            Bytes out(8, 0xEE);
            EXPECT_EQ(call(op, in.data(), out.data(), 8, nullptr, key.data(), 24),
                      VELKPAY_E_ARGUMENT);
            EXPECT_EQ(out, Bytes(8, 0xEE));
        }
        // Empty data needs no buffers at all.
        Block iv{};
        const Bytes key(16, 3);
        EXPECT_EQ(call(op, nullptr, nullptr, 0, iv.data(), key.data(), 16), VELKPAY_OK) << op.name;
    }
}

} // namespace
