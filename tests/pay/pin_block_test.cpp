// SPDX-License-Identifier: MIT
// PIN blocks: published blocks decoded (and encoded where they carry no
// random fill), published and hand-made bad blocks refused for the field
// that is wrong, round trips over every format and PIN length clear and
// enciphered, the random fills, and every argument refused as documented.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "libcrypto_oracle.hpp"
#include "velk_test.hpp"
#include "velkpay.h"
#include "velkpay.hpp"

namespace {

using namespace velk::test;

constexpr std::size_t random_size = VELKPAY_PIN_RANDOM_SIZE;

// A PAN of 19 digits; formats 0 and 3 use "789012345678" of it.
const std::string long_pan = "1234567890123456789";

const std::map<std::string, int> refusal_codes = {{"control", VELKPAY_E_PIN_CONTROL},
                                                  {"length", VELKPAY_E_PIN_LENGTH},
                                                  {"digit", VELKPAY_E_PIN_DIGIT},
                                                  {"fill", VELKPAY_E_PIN_FILL}};

// Decodes `block`, returning the PIN or the code as text.
std::string decode(int format, const Block &block, const std::string &pan) {
    char pin[12];
    std::size_t n = 99;
    const int r = velkpay_pin_block_decode(format, block.data(), pan.empty() ? nullptr : pan.data(),
                                           pan.size(), pin, sizeof pin, &n);
    return r == 0 ? std::string(pin, n) : "error " + std::to_string(r);
}

Block encode(int format, const std::string &pin, const std::string &pan,
             const unsigned char *random = nullptr) {
    Block b{};
    EXPECT_EQ(velkpay_pin_block_encode(format, pin.data(), pin.size(),
                                       pan.empty() ? nullptr : pan.data(), pan.size(), random,
                                       b.data()),
              0)
        << format << " " << pin;
    return b;
}

// The fill nibbles of a clear block of a PIN of `n` digits, with the PAN
// field taken off.
std::vector<unsigned> fill_of(const Block &block, std::size_t n, const Block &pan_field) {
    std::vector<unsigned> fill;
    for (std::size_t i = 2 + n; i < 16; ++i) {
        const unsigned byte = block[i / 2] ^ pan_field[i / 2];
        fill.push_back(i % 2 ? byte & 0xF : byte >> 4);
    }
    return fill;
}

TEST(PinBlock, PublishedBlocks) {
    const auto records = read_vectors("pay_pinblock.txt");
    ASSERT_GE(records.size(), 9u);
    for (const auto &r : records) {
        SCOPED_TRACE(r.at("Block"));
        const int format = std::stoi(r.at("Format"));
        const Block block = block_from_hex(r.at("Block"));
        EXPECT_EQ(decode(format, block, r.at("PAN")), r.at("PIN"));
        if (r.at("Exact") == "yes") {
            EXPECT_EQ(to_hex(encode(format, r.at("PIN"), r.at("PAN"))), to_hex(block));
        }
    }
}

TEST(PinBlock, RefusesBadBlocksForTheirField) {
    const auto records = read_vectors("pay_pinblock_invalid.txt");
    ASSERT_GE(records.size(), 15u);
    for (const auto &r : records) {
        SCOPED_TRACE(r.at("Block"));
        EXPECT_EQ(decode(std::stoi(r.at("Format")), block_from_hex(r.at("Block")), r.at("PAN")),
                  "error " + std::to_string(refusal_codes.at(r.at("Refused"))));
    }
}

TEST(PinBlock, RoundTripsEveryFormatAndLength) {
    Random rng(0x70696eu);
    const Bytes pek16 = rng.bytes(16), pek24 = rng.bytes(24);
    for (int format = 0; format <= 3; ++format) {
        const std::string pan =
            format == 0 || format == 3 ? long_pan.substr(0, 13 + rng.below(7)) : "";
        for (std::size_t n = 4; n <= 12; ++n) {
            std::string pin;
            for (std::size_t i = 0; i < n; ++i)
                pin += static_cast<char>('0' + rng.below(10));
            SCOPED_TRACE(std::to_string(format) + " " + pin);
            const Bytes random = rng.bytes(random_size);
            EXPECT_EQ(decode(format, encode(format, pin, pan, random.data()), pan), pin);
            EXPECT_EQ(decode(format, encode(format, pin, pan), pan), pin);
            for (const Bytes *pek : {&pek16, &pek24}) {
                Block block;
                ASSERT_EQ(velkpay_pin_block_encipher(format, pin.data(), pin.size(), pan.data(),
                                                     pan.size(), random.data(), block.data(),
                                                     pek->data(), pek->size()),
                          0);
                char out[12];
                std::size_t got = 0;
                ASSERT_EQ(velkpay_pin_block_decipher(format, block.data(), pan.data(), pan.size(),
                                                     out, sizeof out, &got, pek->data(),
                                                     pek->size()),
                          0);
                EXPECT_EQ(std::string(out, got), pin);
#ifdef VELK_HAVE_LIBCRYPTO
                // The enciphered block is the clear one under EDE triple DES.
                const Block clear = encode(format, pin, pan, random.data());
                const Bytes want = velk::test::oracle::evp(
                    pek->size() == 16 ? EVP_des_ede_ecb() : EVP_des_ede3_ecb(), pek->data(),
                    nullptr, Bytes(clear.begin(), clear.end()), true);
                EXPECT_EQ(to_hex(block), to_hex(want));
#endif
            }
        }
    }
}

TEST(PinBlock, RandomFills) {
    const Block no_pan{}, pan_field = block_from_hex("0000789012345678"); // of long_pan
    // Format 1 takes the low nibbles of the caller's bytes read as one
    // number, format 3 its base-6 digits as A to F.
    std::array<unsigned char, random_size> zeros{}, ones;
    ones.fill(0xFF);
    EXPECT_EQ(to_hex(encode(1, "1234", "", zeros.data())), "141234" + std::string(10, '0'));
    EXPECT_EQ(to_hex(encode(1, "1234", "", ones.data())), "141234" + std::string(10, 'f'));
    EXPECT_EQ(fill_of(encode(3, "1234", long_pan, zeros.data()), 4, pan_field),
              std::vector<unsigned>(10, 0xA));

    // From the system: never two alike, each nibble in its range, and every
    // value of the range drawn.
    std::set<std::string> seen;
    std::array<std::set<unsigned>, 4> values;
    for (int i = 0; i < 300; ++i) {
        for (int format : {1, 3}) {
            const Block b = encode(format, "1234", format == 3 ? long_pan : "");
            EXPECT_TRUE(seen.insert(to_hex(b)).second) << "a random fill repeated";
            for (unsigned v : fill_of(b, 4, format == 3 ? pan_field : no_pan))
                values[static_cast<std::size_t>(format)].insert(v);
        }
    }
    EXPECT_EQ(values[1].size(), 16u);
    EXPECT_EQ(values[3], (std::set<unsigned>{0xA, 0xB, 0xC, 0xD, 0xE, 0xF}));
}

TEST(PinBlock, RefusesBadArguments) {
    const std::string pan = "4012345678909";
    const unsigned char pek[16] = {1, 2, 3};
    const struct {
        int format;
        const char *pin, *pan;
        int code;
    } encodings[] = {
        {4, "1234", "4012345678909", VELKPAY_E_PIN_FORMAT},
        {-1, "1234", "4012345678909", VELKPAY_E_PIN_FORMAT},
        {0, "123", "4012345678909", VELKPAY_E_PIN},
        {0, "1234567890123", "4012345678909", VELKPAY_E_PIN},
        {2, "12a4", nullptr, VELKPAY_E_PIN},
        {0, "1234", nullptr, VELKPAY_E_PAN},
        {3, "1234", "401234567890", VELKPAY_E_PAN},
        {0, "1234", "12345678901234567890", VELKPAY_E_PAN},
        {3, "1234", "401234567890X", VELKPAY_E_PAN},
        {1, "1234", "not a PAN", 0}, // formats 1 and 2 read no PAN
    };
    for (const auto &e : encodings) {
        Block b;
        b.fill(0x5A);
        EXPECT_EQ(velkpay_pin_block_encode(e.format, e.pin, std::strlen(e.pin), e.pan,
                                           e.pan ? std::strlen(e.pan) : 0, nullptr, b.data()),
                  e.code)
            << e.format << " " << e.pin;
        if (e.code != 0) {
            EXPECT_EQ(to_hex(b), "5a5a5a5a5a5a5a5a") << "a refused encoding wrote its block";
        }
    }

    Block b = encode(0, "1234", pan);
    char pin[12];
    std::memset(pin, '#', sizeof pin);
    std::size_t n = 77;
    EXPECT_EQ(velkpay_pin_block_decode(0, b.data(), pan.data(), pan.size(), pin, 3, &n),
              VELKPAY_E_BUFFER);
    EXPECT_EQ(velkpay_pin_block_decode(0, b.data(), pan.data(), pan.size(), nullptr, 12, &n),
              VELKPAY_E_ARGUMENT);
    EXPECT_EQ(velkpay_pin_block_decode(0, b.data(), nullptr, 0, pin, 12, &n), VELKPAY_E_PAN);
    EXPECT_EQ(velkpay_pin_block_decode(7, b.data(), pan.data(), pan.size(), pin, 12, &n),
              VELKPAY_E_PIN_FORMAT);
    EXPECT_EQ(n, 77u);
    EXPECT_EQ(std::string(pin, sizeof pin), std::string(12, '#')) << "a refused decode wrote";

    EXPECT_EQ(
        velkpay_pin_block_encipher(0, "1234", 4, pan.data(), pan.size(), nullptr, b.data(), pek, 8),
        VELKPAY_E_KEY_LENGTH);
    EXPECT_EQ(velkpay_pin_block_encipher(0, "1234", 4, pan.data(), pan.size(), nullptr, b.data(),
                                         nullptr, 16),
              VELKPAY_E_ARGUMENT);
    EXPECT_EQ(velkpay_pin_block_decipher(0, b.data(), pan.data(), pan.size(), pin, 12, &n, pek, 32),
              VELKPAY_E_KEY_LENGTH);
    EXPECT_EQ(n, 77u);
}

// The C++ layer: the same calls, results as values; a device moves but
// does not copy, and loads from its saved bytes.
TEST(PinBlock, CppInterface) {
    using namespace velk::pay;
    const std::string pan = "4012345678909";
    const auto clear = pin_block_encode(PinFormat::format0, "1234", pan);
    ASSERT_TRUE(clear.ok());
    EXPECT_EQ(to_hex(clear->span()), "041274edcba9876f");
    EXPECT_EQ(pin_block_decode(PinFormat::format0, clear->span(), pan)->digits(), "1234");
    EXPECT_EQ(pin_block_decode(PinFormat::format3, clear->span(), pan).status().code(),
              VELKPAY_E_PIN_CONTROL);
    const unsigned char short_random[4] = {};
    EXPECT_EQ(pin_block_encode(PinFormat::format1, "1234", {}, short_random).status().code(),
              VELKPAY_E_ARGUMENT);
    const Bytes pek(24, 0x42);
    const auto block = pin_block_encipher(PinFormat::format3, "987654", pan, pek);
    ASSERT_TRUE(block.ok());
    EXPECT_EQ(pin_block_decipher(PinFormat::format3, *block, pan, pek)->digits(), "987654");

    const std::array<unsigned char, 16> bdk{1, 2, 3};
    const Ksn iksn{0xFF, 0xFF, 0x98, 0x76};
    DukptDevice device;
    EXPECT_EQ(device.check().code(), VELKPAY_E_DUKPT_STATE);
    ASSERT_TRUE(device.init(dukpt_ipek(bdk, iksn)->span(), iksn));
    const auto first = device.next();
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(first->key, *dukpt_transaction_key(bdk, first->ksn));
    DukptDevice reloaded(device.saved());
    DukptDevice moved(std::move(device));
    EXPECT_EQ(device.check().code(), VELKPAY_E_DUKPT_STATE) << "a moved-from device kept keys";
    EXPECT_EQ(reloaded.next()->key, moved.next()->key);
    EXPECT_EQ(dukpt_working_key(first->key.span(), KeyUsage{9}).status().code(),
              VELKPAY_E_KEY_USAGE);
}

} // namespace
