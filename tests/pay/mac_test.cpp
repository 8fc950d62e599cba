// SPDX-License-Identifier: MIT
// velkpay's MACs and key check values: the published answers of the vector
// files, CMAC, both ISO/IEC 9797-1 algorithms and both check values against
// libcrypto over random keys and lengths, every refusal with nothing
// written, the result texts, and the C++ layer over them.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <string>

#include "libcrypto_oracle.hpp"
#include "velk_test.hpp"
#include "velkpay.h"
#include "velkpay.hpp"

#if defined(VELK_HAVE_LIBCRYPTO)
#include <openssl/core_names.h>
#include <openssl/params.h>
#endif

namespace {

using namespace velk::test;

// The published value, which may be a prefix of the 8-byte result.
std::string prefix(const Bytes &full, std::size_t n) {
    return to_hex(Bytes(full.begin(), full.begin() + n));
}

TEST(PayMac, CmacKnownAnswers) {
    for (const Record &r : read_vectors("pay_cmac.txt")) {
        SCOPED_TRACE(r.at("Id"));
        const Bytes key = from_hex(r.at("Key")), msg = from_hex(r.at("Msg"));
        Bytes mac(8);
        ASSERT_EQ(velkpay_cmac(msg.data(), msg.size(), mac.data(), key.data(), key.size()), 0);
        EXPECT_EQ(to_hex(mac), to_hex(from_hex(r.at("Mac"))));
    }
}

TEST(PayMac, KeyCheckValueKnownAnswers) {
    for (const Record &r : read_vectors("pay_kcv.txt")) {
        SCOPED_TRACE(r.at("Id"));
        const Bytes key = from_hex(r.at("Key")), want = from_hex(r.at("Kcv"));
        for (std::size_t n = want.size(); n <= 8; ++n) {
            Bytes kcv(n);
            ASSERT_EQ(velkpay_kcv(key.data(), key.size(), kcv.data(), n), 0);
            EXPECT_EQ(prefix(kcv, want.size()), to_hex(want)) << n << " bytes";
        }
    }
}

TEST(PayMac, Iso9797KnownAnswers) {
    for (const Record &r : read_vectors("pay_iso9797.txt")) {
        SCOPED_TRACE(r.at("Id"));
        const Bytes key = from_hex(r.at("Key")), data = from_hex(r.at("Data")),
                    want = from_hex(r.at("Mac"));
        const int padding = std::stoi(r.at("Pad"));
        Bytes mac(8);
        const int result = r.at("Alg") == "1" ? velkpay_mac_alg1(data.data(), data.size(), padding,
                                                                 mac.data(), key.data(), key.size())
                                              : velkpay_mac_alg3(data.data(), data.size(), padding,
                                                                 mac.data(), key.data());
        ASSERT_EQ(result, 0);
        EXPECT_EQ(prefix(mac, want.size()), to_hex(want));
    }
}

#ifdef VELK_HAVE_LIBCRYPTO
// The EVP cipher of a key: an 8-byte key K as the three-key K K K, which is
// single DES, so every length goes through the default provider.
Bytes evp_key(const Bytes &key) {
    if (key.size() != 8)
        return key;
    Bytes k3 = key;
    k3.insert(k3.end(), key.begin(), key.end());
    k3.insert(k3.end(), key.begin(), key.end());
    return k3;
}
const char *cbc_name(const Bytes &key) {
    return key.size() == 16 ? "DES-EDE-CBC" : "DES-EDE3-CBC";
}
const EVP_CIPHER *cbc_cipher(const Bytes &key) {
    return key.size() == 16 ? EVP_des_ede_cbc() : EVP_des_ede3_cbc();
}

Bytes libcrypto_cmac(const Bytes &key, const Bytes &data) {
    EVP_MAC *mac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
    EVP_MAC_CTX *ctx = mac ? EVP_MAC_CTX_new(mac) : nullptr;
    std::string cipher = cbc_name(key);
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipher.data(), 0),
        OSSL_PARAM_construct_end()};
    const Bytes k = evp_key(key);
    Bytes out(8);
    std::size_t n = 0;
    const bool ok = ctx && EVP_MAC_init(ctx, k.data(), k.size(), params) == 1 &&
                    EVP_MAC_update(ctx, data.data(), data.size()) == 1 &&
                    EVP_MAC_final(ctx, out.data(), &n, out.size()) == 1 && n == 8;
    EVP_MAC_CTX_free(ctx);
    EVP_MAC_free(mac);
    if (!ok)
        throw std::runtime_error("libcrypto refused CMAC");
    return out;
}

// ISO/IEC 9797-1 padding, written out from the standard's words.
Bytes padded(const Bytes &data, int method) {
    Bytes out = data;
    if (method == 2)
        out.push_back(0x80);
    while (out.empty() || out.size() % 8)
        out.push_back(0);
    if (method == 3) {
        const std::uint64_t bits = 8 * static_cast<std::uint64_t>(data.size());
        for (int i = 0; i < 8; ++i)
            out.insert(out.begin() + i, static_cast<unsigned char>(bits >> (56 - 8 * i)));
    }
    return out;
}

Bytes last_block(const Bytes &b) {
    return Bytes(b.end() - 8, b.end());
}
#endif

// Every length from 0 to 80 bytes under 8-, 16- and 24-byte keys: CMAC and
// MAC algorithm 1 with each padding through EVP, the retail MAC through
// single-DES CBC and two block steps, the check values from one block.
TEST(PayMac, EqualsLibcrypto) {
    VELK_REQUIRE_LIBCRYPTO();
#ifdef VELK_HAVE_LIBCRYPTO
    Random rng(9797);
    const Bytes zero(8, 0);
    for (std::size_t key_length : {8, 16, 24}) {
        for (std::size_t length = 0; length <= 80; ++length) {
            SCOPED_TRACE(std::to_string(key_length) + "-byte key, " + std::to_string(length) +
                         " bytes");
            const Bytes key = rng.bytes(key_length), data = rng.bytes(length);
            Bytes mac(8);
            ASSERT_EQ(velkpay_cmac(data.data(), length, mac.data(), key.data(), key_length), 0);
            ASSERT_EQ(to_hex(mac), to_hex(libcrypto_cmac(key, data)));

            for (int method = 1; method <= 3; ++method) {
                SCOPED_TRACE("padding method " + std::to_string(method));
                const Bytes cbc = oracle::evp(cbc_cipher(key), evp_key(key).data(), zero.data(),
                                              padded(data, method), true);
                ASSERT_EQ(velkpay_mac_alg1(data.data(), length, method, mac.data(), key.data(),
                                           key_length),
                          0);
                ASSERT_EQ(to_hex(mac), to_hex(last_block(cbc)));
                if (key_length != 16)
                    continue;
                const Bytes k1(key.begin(), key.begin() + 8), k2(key.begin() + 8, key.end());
                Bytes h = last_block(oracle::evp(cbc_cipher(k1), evp_key(k1).data(), zero.data(),
                                                 padded(data, method), true));
                oracle::ecb(k2.data(), h.data(), h.data(), false);
                oracle::ecb(k1.data(), h.data(), h.data(), true);
                ASSERT_EQ(velkpay_mac_alg3(data.data(), length, method, mac.data(), key.data()), 0);
                ASSERT_EQ(to_hex(mac), to_hex(h));
            }
        }
        const Bytes key = rng.bytes(key_length);
        const Bytes block = oracle::evp(key_length == 16 ? EVP_des_ede() : EVP_des_ede3(),
                                        evp_key(key).data(), nullptr, zero, true);
        for (std::size_t n = 2; n <= 8; ++n) {
            Bytes kcv(n);
            ASSERT_EQ(velkpay_kcv(key.data(), key_length, kcv.data(), n), 0);
            EXPECT_EQ(to_hex(kcv), prefix(block, n));
        }
        Bytes kcv(5);
        ASSERT_EQ(velkpay_kcv_cmac(key.data(), key_length, kcv.data()), 0);
        EXPECT_EQ(to_hex(kcv), prefix(libcrypto_cmac(key, zero), 5));
    }
#endif
}

// The ISO/IEC 9797-1 rules the request settles: method 1 gives empty data
// one zero block, so it MACs as the zero block does; method 3 puts the length
// block first, so empty data MACs as two zero blocks.
TEST(PayMac, PaddingOfEmptyData) {
    const Bytes key = from_hex("0123456789ABCDEF"), zero(16, 0);
    Bytes empty_mac(8), block_mac(8);
    ASSERT_EQ(velkpay_mac_alg1(nullptr, 0, 1, empty_mac.data(), key.data(), 8), 0);
    ASSERT_EQ(velkpay_mac_alg1(zero.data(), 8, 1, block_mac.data(), key.data(), 8), 0);
    EXPECT_EQ(empty_mac, block_mac);
    ASSERT_EQ(velkpay_mac_alg1(nullptr, 0, 3, empty_mac.data(), key.data(), 8), 0);
    ASSERT_EQ(velkpay_mac_alg1(zero.data(), 16, 1, block_mac.data(), key.data(), 8), 0);
    EXPECT_EQ(empty_mac, block_mac);
}

// Refused calls return their cause and leave the output as it was.
TEST(PayMac, RefusalsWriteNothing) {
    enum Function { cmac, alg1, alg3, kcv, kcv_cmac };
    struct Case {
        const char *what;
        Function f;
        bool null_data, null_key, null_out;
        std::size_t key_length;
        int padding;
        std::size_t kcv_length;
        int want;
    };
    const Case cases[] = {
        {"cmac, 12-byte key", cmac, false, false, false, 12, 0, 0, VELKPAY_E_KEY_LENGTH},
        {"cmac, null data", cmac, true, false, false, 24, 0, 0, VELKPAY_E_ARGUMENT},
        {"cmac, null key", cmac, false, true, false, 24, 0, 0, VELKPAY_E_ARGUMENT},
        {"cmac, null output", cmac, false, false, true, 24, 0, 0, VELKPAY_E_ARGUMENT},
        {"alg1, padding 0", alg1, false, false, false, 24, 0, 0, VELKPAY_E_PADDING},
        {"alg1, padding 4", alg1, false, false, false, 24, 4, 0, VELKPAY_E_PADDING},
        {"alg1, 32-byte key", alg1, false, false, false, 32, 1, 0, VELKPAY_E_KEY_LENGTH},
        {"alg1, null key", alg1, false, true, false, 8, 1, 0, VELKPAY_E_ARGUMENT},
        {"alg1, null output", alg1, false, false, true, 8, 1, 0, VELKPAY_E_ARGUMENT},
        {"alg3, padding -1", alg3, false, false, false, 16, -1, 0, VELKPAY_E_PADDING},
        {"alg3, null data", alg3, true, false, false, 16, 2, 0, VELKPAY_E_ARGUMENT},
        {"alg3, null output", alg3, false, false, true, 16, 2, 0, VELKPAY_E_ARGUMENT},
        {"kcv, 1 byte", kcv, false, false, false, 16, 0, 1, VELKPAY_E_KCV_LENGTH},
        {"kcv, 9 bytes", kcv, false, false, false, 16, 0, 9, VELKPAY_E_KCV_LENGTH},
        {"kcv, 7-byte key", kcv, false, false, false, 7, 0, 3, VELKPAY_E_KEY_LENGTH},
        {"kcv, null output", kcv, false, false, true, 24, 0, 3, VELKPAY_E_ARGUMENT},
        {"kcv_cmac, 0-byte key", kcv_cmac, false, false, false, 0, 0, 0, VELKPAY_E_KEY_LENGTH},
        {"kcv_cmac, null key", kcv_cmac, false, true, false, 16, 0, 0, VELKPAY_E_ARGUMENT},
    };
    for (const Case &c : cases) {
        const Bytes data(20, 0x11), key(32, 0x22);
        Bytes out(8, 0xEE);
        const unsigned char *d = c.null_data ? nullptr : data.data();
        const unsigned char *k = c.null_key ? nullptr : key.data();
        unsigned char *o = c.null_out ? nullptr : out.data();
        const int got = c.f == cmac   ? velkpay_cmac(d, 20, o, k, c.key_length)
                        : c.f == alg1 ? velkpay_mac_alg1(d, 20, c.padding, o, k, c.key_length)
                        : c.f == alg3 ? velkpay_mac_alg3(d, 20, c.padding, o, k)
                        : c.f == kcv  ? velkpay_kcv(k, c.key_length, o, c.kcv_length)
                                      : velkpay_kcv_cmac(k, c.key_length, o);
        EXPECT_EQ(got, c.want) << c.what;
        EXPECT_EQ(out, Bytes(8, 0xEE)) << c.what;
    }
}

// Every code velkpay.h defines has a text of its own; others are unknown.
TEST(PayErrors, EveryCodeHasItsOwnText) {
    std::ifstream header(VELKPAY_HEADER);
    ASSERT_TRUE(header) << VELKPAY_HEADER;
    const std::regex define(R"(^#define (VELKPAY_E_\w+) \((-\d+)\))");
    std::set<std::string> texts;
    std::size_t codes = 0;
    for (std::string line; std::getline(header, line);) {
        std::smatch m;
        if (!std::regex_search(line, m, define))
            continue;
        ++codes;
        const std::string text = velkpay_strerror(std::stoi(m[2]));
        EXPECT_NE(text, "unknown velkpay error") << m[1];
        EXPECT_TRUE(texts.insert(text).second) << m[1] << " shares its text: " << text;
    }
    EXPECT_GE(codes, 17u);
    EXPECT_STREQ(velkpay_strerror(VELKPAY_OK), "success");
    for (int unknown : {1, -1000, -39})
        EXPECT_STREQ(velkpay_strerror(unknown), "unknown velkpay error") << unknown;
}

// The C++ layer returns the C functions' results or their refusals.
TEST(PayCpp, ResultsAndRefusals) {
    namespace pay = velk::pay;
    const Bytes key16 = from_hex("0123456789ABCDEFFEDCBA9876543210");
    const auto kcv = pay::kcv(key16);
    ASSERT_TRUE(kcv.ok());
    EXPECT_EQ(to_hex(*kcv), "08d7b4");
    EXPECT_EQ(to_hex(pay::kcv<8>(key16).value()), "08d7b4fb629d0885");
    const auto refused = pay::kcv(Bytes(7));
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.status().code(), VELKPAY_E_KEY_LENGTH);
    EXPECT_STREQ(refused.status().message(), velkpay_strerror(VELKPAY_E_KEY_LENGTH));

    const std::string text = "Now is the time for all ";
    const Bytes data(text.begin(), text.end());
    const auto retail = pay::mac_alg3(data, pay::Padding::method3,
                                      std::span<const unsigned char, 16>(key16.data(), 16));
    EXPECT_EQ(to_hex(retail.value()), "ab059463d7a7d170");
    EXPECT_EQ(pay::mac_alg1(data, pay::Padding::method1, std::span(key16).first(8))->at(0), 0x70);
    EXPECT_TRUE(pay::cmac({}, key16).ok());
    EXPECT_EQ(pay::kcv_cmac(Bytes(24)).status(), pay::Status());

    Bytes in(24, 0), out(16, 0xEE);
    std::array<unsigned char, 8> iv{};
    EXPECT_EQ(pay::tdes_cbc_encrypt(in, out, iv, key16).code(), VELKPAY_E_BUFFER);
    EXPECT_EQ(out, Bytes(16, 0xEE));
    out.resize(24);
    EXPECT_TRUE(pay::tdes_ecb_encrypt(in, out, key16));
    EXPECT_EQ(to_hex(Bytes(out.begin(), out.begin() + 3)), "08d7b4");
    EXPECT_TRUE(pay::tdes_ecb_decrypt(out, out, key16));
    EXPECT_EQ(out, in);
}

} // namespace
