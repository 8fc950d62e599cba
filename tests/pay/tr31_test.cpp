// SPDX-License-Identifier: MIT
// Key blocks: the published blocks both ways, the derived keys, round trips
// over versions, KBPKs, key lengths and optional blocks, and every kind of
// malformed block refused with its own code and nothing written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "tr31_keys.hpp"
#include "velk_test.hpp"
#include "velkpay.h"
#include "velkpay.hpp"

namespace {

using velk::test::Bytes;
using velk::test::from_hex;

std::string upper_hex(const Bytes &b) {
    std::string s = velk::test::to_hex(b);
    for (char &c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

struct Unwrapped {
    int code;
    Bytes key;
    velkpay_tr31_header header;
};

// Unwraps into buffers filled with a marker, and checks that a refusal left
// every one of them as it was.
Unwrapped unwrap(const std::string &block, const Bytes &kbpk) {
    Unwrapped u{};
    std::vector<unsigned char> key(64, 0xEE);
    std::size_t key_length = 12345;
    velkpay_tr31_header header;
    std::memset(&header, 0xEE, sizeof header);
    u.code = velkpay_tr31_unwrap(block.data(), block.size(), kbpk.data(), kbpk.size(), key.data(),
                                 key.size(), &key_length, &header);
    if (u.code != VELKPAY_OK) {
        EXPECT_EQ(key, std::vector<unsigned char>(64, 0xEE));
        EXPECT_EQ(key_length, 12345u);
        velkpay_tr31_header untouched;
        std::memset(&untouched, 0xEE, sizeof untouched);
        EXPECT_EQ(std::memcmp(&header, &untouched, sizeof header), 0);
        return u;
    }
    u.key.assign(key.begin(), key.begin() + static_cast<long>(key_length));
    u.header = header;
    return u;
}

// Wraps with a fixed padding (`random`), or the system's when it is empty.
std::string wrap(const std::string &header, const Bytes &key, const Bytes &kbpk, int flags = 0,
                 Bytes random = {}, int *code = nullptr) {
    std::vector<char> out(VELKPAY_TR31_MAX_BLOCK);
    std::size_t length = 0;
    if (!random.empty())
        random.resize(VELKPAY_TR31_RANDOM_SIZE);
    const int rc = velkpay_tr31_wrap(header.data(), header.size(), key.data(), key.size(), flags,
                                     random.empty() ? nullptr : random.data(), kbpk.data(),
                                     kbpk.size(), out.data(), out.size(), &length);
    if (code != nullptr)
        *code = rc;
    else
        EXPECT_EQ(rc, VELKPAY_OK) << velkpay_strerror(rc);
    return rc == VELKPAY_OK ? std::string(out.data(), length) : std::string();
}

TEST(Tr31, PublishedBlocksUnwrapAndWrapAgain) {
    const auto records = velk::test::read_vectors("pay_tr31.txt");
    ASSERT_GE(records.size(), 14u);
    for (const auto &r : records) {
        SCOPED_TRACE(r.at("Id"));
        const Bytes kbpk = from_hex(r.at("KBPK"));
        const std::string &block = r.at("Block");
        const Unwrapped u = unwrap(block, kbpk);
        ASSERT_EQ(u.code, VELKPAY_OK) << velkpay_strerror(u.code);
        EXPECT_EQ(upper_hex(u.key), r.at("Key"));
        EXPECT_EQ(block.substr(0, u.header.header_length), r.at("Header"));
        EXPECT_EQ(u.header.version, block[0]);
        EXPECT_EQ(u.header.block_length, block.size());

        // The hex after the header may be lower-case.
        std::string lower = block;
        for (std::size_t i = u.header.header_length; i < lower.size(); ++i)
            lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower[i])));
        EXPECT_EQ(unwrap(lower, kbpk).code, VELKPAY_OK);

        // The vector's padding as the random bytes gives the block again;
        // the short padding is the one that fills only the last block.
        const Bytes key = from_hex(r.at("Key"));
        const Bytes pad = from_hex(r.at("Pad"));
        const bool short_pad = (2 + key.size() + pad.size()) == (2 + key.size() + 7) / 8 * 8;
        std::string header = r.at("Header");
        header.replace(1, 4, "0000");
        EXPECT_EQ(wrap(header, key, kbpk, short_pad ? VELKPAY_TR31_PAD_SHORT : 0, pad), block);
    }
}

TEST(Tr31, DerivedKeysMatchThePublishedOnes) {
    for (const auto &r : velk::test::read_vectors("pay_tr31_keys.txt")) {
        SCOPED_TRACE(r.at("Id"));
        const Bytes kbpk = from_hex(r.at("KBPK"));
        velk::pay::BlockKey kbek{}, kbak{};
        velk::pay::block_keys(r.at("Version")[0], kbpk.data(), kbpk.size(), kbek, kbak);
        EXPECT_EQ(upper_hex(Bytes(kbek.begin(), kbek.begin() + static_cast<long>(kbpk.size()))),
                  r.at("KBEK"));
        EXPECT_EQ(upper_hex(Bytes(kbak.begin(), kbak.begin() + static_cast<long>(kbpk.size()))),
                  r.at("KBAK"));
    }
}

TEST(Tr31, PublishedInvalidBlocksAreRefused) {
    for (const auto &r : velk::test::read_vectors("pay_tr31_invalid.txt")) {
        SCOPED_TRACE(r.at("Id") + ": " + r.at("Why"));
        EXPECT_LT(unwrap(r.at("Block"), from_hex(r.at("KBPK"))).code, 0);
    }
}

// Headers with no, one, and several optional blocks (the last set needs a
// PB to end on a multiple of 8; one extended length form among them).
const char *const optional_sets[] = {
    "",
    "KS1800604B120F9292800000",
    "KS1800604B120F9292800000HM0621" "KC0C00ABCDEF" "TS00040017abc def ghijk",
};

TEST(Tr31, RoundTripsOverVersionsKbpksKeysAndOptionalBlocks) {
    velk::test::Random rng(31);
    for (char version : {'A', 'B', 'C'})
        for (std::size_t kbpk_length : {16u, 24u})
            for (std::size_t key_length : {8u, 16u, 24u})
                for (const char *optional : optional_sets)
                    for (int flags : {0, VELKPAY_TR31_PAD_SHORT}) {
                        std::string header = std::string(1, version) + "0000P0TE00E";
                        header += optional[0] == '\0' ? "00" : (std::strlen(optional) > 24 ? "04" : "01");
                        header += "00";
                        header += optional;
                        SCOPED_TRACE(header + " key " + std::to_string(key_length) + " flags " +
                                     std::to_string(flags));
                        const Bytes kbpk = rng.bytes(kbpk_length);
                        const Bytes key = rng.bytes(key_length);
                        const std::string block = wrap(header, key, kbpk, flags);
                        const Unwrapped u = unwrap(block, kbpk);
                        ASSERT_EQ(u.code, VELKPAY_OK) << velkpay_strerror(u.code);
                        EXPECT_EQ(u.key, key);
                        const std::string got = block.substr(0, u.header.header_length);
                        EXPECT_EQ(got.substr(5, 7), header.substr(5, 7));
                        EXPECT_EQ(got.substr(16, std::strlen(optional)), optional);
                        EXPECT_EQ(u.header.header_length % 8, 0u);
                        // By default every TDES key makes a block of one length.
                        const std::size_t mac = version == 'B' ? 16 : 8;
                        const std::size_t payload = block.size() - got.size() - mac;
                        EXPECT_EQ(payload, flags == 0 ? 64u : 2 * ((2 + key_length + 7) / 8 * 8));
                    }
}

TEST(Tr31, WrapCompletesOrRefusesOptionalBlocks) {
    const Bytes kbpk = from_hex("89E88CF7931444F334BD7547FC3F380C");
    const Bytes key = from_hex("F039121BEC83D26B169BDCD5B22AAF8F");
    const std::string header = "B9999P0TE00E0100KS0Aabcdef";
    const std::string block = wrap(header, key, kbpk);
    EXPECT_EQ(block.substr(0, 32), "B0112P0TE00E0200KS0AabcdefPB0600");
    const Unwrapped u = unwrap(block, kbpk);
    ASSERT_EQ(u.code, VELKPAY_OK);
    ASSERT_EQ(u.header.optional_block_count, 2u);
    EXPECT_STREQ(u.header.optional_blocks[1].id, "PB");
    EXPECT_EQ(u.header.optional_blocks[0].offset, 20u);
    EXPECT_EQ(u.header.optional_blocks[0].length, 6u);

    struct Case {
        const char *header;
        int flags;
        std::size_t key_length;
        std::size_t kbpk_length;
        int code;
    } const cases[] = {
        {"B0000P0TE00E0100KS0Aabcdef", VELKPAY_TR31_NO_PB, 16, 16, VELKPAY_E_TR31_ALIGNMENT},
        {"B0000P0TE00E0100PB0Aabcdef", 0, 16, 16, VELKPAY_E_TR31_ALIGNMENT},
        {"B0000P0TE00E0100KS08abcdXX", 0, 16, 16, VELKPAY_E_TR31_BLOCK_COUNT},
        {"B0000P0TE00E0000", 4, 16, 16, VELKPAY_E_ARGUMENT},
        {"B0000P0TE00E0000", 0, 0, 16, VELKPAY_E_KEY_LENGTH},
        {"B0000P0TE00E0000", 0, 16, 8, VELKPAY_E_KEY_LENGTH},
        {"B0000P0TE00E0000", 0, 4984, 16, VELKPAY_E_TR31_TOO_LARGE},
        {"B0000P0TE00E000", 0, 16, 16, VELKPAY_E_TR31_TRUNCATED},
        {"B00x0P0TE00E0000", 0, 16, 16, VELKPAY_E_TR31_LENGTH_FIELD},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.header);
        int code = 0;
        wrap(c.header, Bytes(c.key_length, 1), Bytes(c.kbpk_length, 2), c.flags, {}, &code);
        EXPECT_EQ(code, c.code);
    }
    std::vector<char> small(79);
    std::size_t length = 0;
    EXPECT_EQ(velkpay_tr31_wrap("B0000P0TE00E0000", 16, key.data(), 16, VELKPAY_TR31_PAD_SHORT,
                                nullptr, kbpk.data(), 16, small.data(), small.size(), &length),
              VELKPAY_E_BUFFER);
}

// A version-A block with any clear key data, as a sender that frames the
// block by hand would make it: the variants of the KBPK, TDES-CBC from the
// header's first 8 characters, the first half of the CBC-MAC.
std::string hand_made_a(const std::string &header, const Bytes &clear, const Bytes &kbpk) {
    Bytes kbek = kbpk, kbak = kbpk;
    for (auto &b : kbek)
        b ^= 0x45;
    for (auto &b : kbak)
        b ^= 0x4D;
    std::string h = header;
    const std::size_t total = h.size() + 2 * clear.size() + 8;
    const std::string digits = std::to_string(total);
    h.replace(1, 4, std::string(4 - digits.size(), '0') + digits);
    Bytes iv(h.begin(), h.begin() + 8), enc(clear.size());
    EXPECT_EQ(velkpay_tdes_cbc_encrypt(clear.data(), enc.data(), clear.size(), iv.data(),
                                       kbek.data(), kbek.size()),
              0);
    Bytes input(h.begin(), h.end());
    input.insert(input.end(), enc.begin(), enc.end());
    Bytes mac(8);
    EXPECT_EQ(velkpay_mac_alg1(input.data(), input.size(), VELKPAY_PAD_METHOD1, mac.data(),
                               kbak.data(), kbak.size()),
              0);
    mac.resize(4);
    return h + upper_hex(enc) + upper_hex(mac);
}

TEST(Tr31, MalformedBlocksAreRefusedEachWithItsCode) {
    const Bytes kbpk = from_hex("1D22BF32387C600AD97F9B97A51311AC");
    const Bytes key = from_hex("E8BC63E5479455E26577F715D587FE68");
    const Bytes random(VELKPAY_TR31_RANDOM_SIZE, 0x5A);
    const std::string a = wrap("A0000P0TE00E0000", key, kbpk, 0, random);
    const std::string b = wrap("B0000B0TX12S0100KS1800604B120F9292800000", key, kbpk, 0, random);
    const Bytes clear_tail = from_hex("E8BC63E5479455E26577F715D587FE681122334455667788");
    auto with_bits = [&](unsigned bits) {
        Bytes clear{static_cast<unsigned char>(bits >> 8), static_cast<unsigned char>(bits)};
        clear.insert(clear.end(), clear_tail.begin(), clear_tail.begin() + 22);
        return hand_made_a("A0000P0TE00E0000", clear, kbpk);
    };
    auto set = [](std::string s, std::size_t at, const std::string &text) {
        return s.replace(at, text.size(), text);
    };
    auto relength = [](std::string s) {
        const std::string n = std::to_string(s.size());
        return s.replace(1, 4, std::string(4 - n.size(), '0') + n);
    };
    Bytes other = kbpk;
    other[15] ^= 0x02;

    struct Row {
        const char *what;
        std::string block;
        Bytes kbpk;
        int code;
    } const rows[] = {
        {"the hand-made block itself", with_bits(128), kbpk, VELKPAY_OK},
        {"wrong KBPK", a, other, VELKPAY_E_TR31_MAC},
        {"wrong KBPK, B", b, other, VELKPAY_E_TR31_MAC},
        {"truncated", a.substr(0, a.size() - 1), kbpk, VELKPAY_E_TR31_TRUNCATED},
        {"truncated to the length field", a.substr(0, 4), kbpk, VELKPAY_E_TR31_TRUNCATED},
        {"empty", "", kbpk, VELKPAY_E_TR31_TRUNCATED},
        {"over-long", a + "0", kbpk, VELKPAY_E_TR31_OVERLONG},
        {"length field not digits", set(a, 1, "007 "), kbpk, VELKPAY_E_TR31_LENGTH_FIELD},
        {"length field shorter than a header", relength(a.substr(0, 12)), kbpk,
         VELKPAY_E_TR31_TRUNCATED},
        {"unknown version", set(a, 0, "D"), kbpk, VELKPAY_E_TR31_VERSION},
        {"lower-case version", set(b, 0, "b"), kbpk, VELKPAY_E_TR31_VERSION},
        {"A relabelled C", set(a, 0, "C"), kbpk, VELKPAY_E_TR31_MAC},
        {"B relabelled A", set(b, 0, "A"), kbpk, VELKPAY_E_TR31_ENCODING},
        {"A relabelled B", set(a, 0, "B"), kbpk, VELKPAY_E_TR31_ENCODING},
        {"lower-case key usage", set(a, 5, "p"), kbpk, VELKPAY_E_TR31_KEY_USAGE},
        {"unknown algorithm", set(a, 7, "Q"), kbpk, VELKPAY_E_TR31_ALGORITHM},
        {"unknown mode of use", set(a, 8, "Q"), kbpk, VELKPAY_E_TR31_MODE},
        {"key version not alphanumeric", set(a, 9, "-"), kbpk, VELKPAY_E_TR31_KEY_VERSION},
        {"unknown exportability", set(a, 11, "X"), kbpk, VELKPAY_E_TR31_EXPORTABILITY},
        {"block count not digits", set(a, 12, "0A"), kbpk, VELKPAY_E_TR31_BLOCK_COUNT},
        {"reserved not 00", set(a, 14, "01"), kbpk, VELKPAY_E_TR31_RESERVED},
        {"optional block past the block", set(b, 18, "FF"), kbpk, VELKPAY_E_TR31_OPTIONAL_BLOCK},
        {"optional block length under 4", set(b, 18, "03"), kbpk, VELKPAY_E_TR31_OPTIONAL_BLOCK},
        {"optional block length not hex", set(b, 18, "1G"), kbpk, VELKPAY_E_TR31_OPTIONAL_BLOCK},
        {"optional block length lower-case hex", set(b, 18, "1a"), kbpk,
         VELKPAY_E_TR31_OPTIONAL_BLOCK},
        {"optional block ID lower-case", set(b, 16, "ks"), kbpk, VELKPAY_E_TR31_OPTIONAL_BLOCK},
        {"optional block content not printable", set(b, 22, "\x01"), kbpk,
         VELKPAY_E_TR31_OPTIONAL_BLOCK},
        {"extended length with no digits", set(b, 18, "0000"), kbpk,
         VELKPAY_E_TR31_OPTIONAL_BLOCK},
        {"count says two, one present", relength(set(b.substr(0, 40), 12, "02")), kbpk,
         VELKPAY_E_TR31_OPTIONAL_BLOCK},
        {"PB before another block",
         relength(set(b, 12, "02") .insert(16, "PB08abcd")), kbpk, VELKPAY_E_TR31_PB_NOT_LAST},
        {"optional blocks not a multiple of 8", relength(set(b, 18, "14").erase(36, 4)), kbpk,
         VELKPAY_E_TR31_ALIGNMENT},
        {"encrypted data not hex", set(a, 20, "G"), kbpk, VELKPAY_E_TR31_ENCODING},
        {"MAC not hex", set(a, a.size() - 1, "g"), kbpk, VELKPAY_E_TR31_ENCODING},
        {"encrypted data not whole blocks", relength(std::string(a).erase(16, 2)), kbpk,
         VELKPAY_E_TR31_ENCODING},
        {"no encrypted data", relength(a.substr(0, 16) + a.substr(a.size() - 8)), kbpk,
         VELKPAY_E_TR31_ENCODING},
        {"altered MAC", set(a, a.size() - 1, a.back() == '0' ? "1" : "0"), kbpk,
         VELKPAY_E_TR31_MAC},
        {"key length 0", with_bits(0), kbpk, VELKPAY_E_TR31_KEY_LENGTH},
        {"key length not whole bytes", with_bits(127), kbpk, VELKPAY_E_TR31_KEY_LENGTH},
        {"key length past the key data", with_bits(8 * 23), kbpk, VELKPAY_E_TR31_KEY_LENGTH},
        {"key length the whole key data", with_bits(8 * 22), kbpk, VELKPAY_OK},
        {"KBPK of 8 bytes", a, Bytes(8, 1), VELKPAY_E_KEY_LENGTH},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.what) + ": " + row.block);
        EXPECT_EQ(unwrap(row.block, row.kbpk).code, row.code);
    }

    // A key longer than the caller's buffer.
    std::vector<unsigned char> small(15);
    std::size_t length = 0;
    EXPECT_EQ(velkpay_tr31_unwrap(a.data(), a.size(), kbpk.data(), kbpk.size(), small.data(),
                                  small.size(), &length, nullptr),
              VELKPAY_E_BUFFER);
}

TEST(Tr31, EveryChangedCharacterIsRefused) {
    const Bytes kbpk = from_hex("1D22BF32387C600AD97F9B97A51311AC");
    const Bytes key = from_hex("E8BC63E5479455E26577F715D587FE68");
    for (const char *header : {"A0000P0TE00E0000", "B0000B0TX12S0200KS1800604B120F9292800000PB08ABCD",
                               "C0000M3TC00E0000"}) {
        const std::string block = wrap(header, key, kbpk);
        for (std::size_t i = 0; i < block.size(); ++i)
            for (char replacement : {'0', '1', 'F', 'E'}) {
                if (block[i] == replacement)
                    continue;
                std::string changed = block;
                changed[i] = replacement;
                SCOPED_TRACE(changed);
                EXPECT_LT(unwrap(changed, kbpk).code, 0);
            }
    }
}

TEST(Tr31, CppLayer) {
    const Bytes kbpk = from_hex("89E88CF7931444F334BD7547FC3F380C");
    const Bytes key = from_hex("F039121BEC83D26B169BDCD5B22AAF8F");
    std::array<char, VELKPAY_TR31_MAX_BLOCK> out;
    const Bytes pad = from_hex("DC816D64184597216FC4A3398558");
    Bytes random(VELKPAY_TR31_RANDOM_SIZE);
    std::copy(pad.begin(), pad.end(), random.begin());
    const auto block = velk::pay::tr31_wrap("B0000P0TE12E0100KS1800604B120F9292800000", key, kbpk,
                                            out, 0, random);
    ASSERT_TRUE(block.ok()) << block.status().message();
    EXPECT_EQ(*block, "B0120P0TE12E0100KS1800604B120F9292800000E6E28F097CB0350B2EB2DF520947F779FA34"
                      "D9759CEE7E0DEEACF8353DB778D47FA4EC20DA3A9754");

    std::array<unsigned char, 32> buffer{};
    velk::pay::Tr31Header header;
    const auto got = velk::pay::tr31_unwrap(*block, kbpk, buffer, &header);
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(Bytes(got->begin(), got->end()), key);
    EXPECT_EQ(velk::pay::tr31_header_text(*block, header), block->substr(0, 40));
    EXPECT_EQ(velk::pay::tr31_optional_data(*block, header.optional_blocks[0]),
              "00604B120F9292800000");

    EXPECT_EQ(velk::pay::tr31_unwrap(*block, Bytes(16), buffer).status().code(),
              VELKPAY_E_TR31_MAC);
    EXPECT_EQ(velk::pay::tr31_wrap("A0000P0TE00E0000", key, kbpk, out, 0, Bytes(8)).status().code(),
              VELKPAY_E_ARGUMENT);
}

TEST(Tr31, EveryCodeHasItsOwnText) {
    std::vector<std::string> seen;
    for (int code = VELKPAY_E_TR31_VERSION; code >= VELKPAY_E_TR31_TOO_LARGE; --code) {
        const std::string text = velkpay_strerror(code);
        EXPECT_NE(text, "unknown velkpay error") << code;
        EXPECT_EQ(std::find(seen.begin(), seen.end(), text), seen.end()) << text;
        seen.push_back(text);
    }
}

} // namespace
