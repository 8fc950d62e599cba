// The C++ interface against the C functions it wraps: same classes, same
// schedules, same bytes, and the chain helpers chain as a careful C caller
// would. What it refuses at compile time is checked by misuse.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "velk_test.hpp"
#include "velkcore.hpp"

namespace {

using namespace velk::test;

template <std::size_t N> std::array<unsigned char, N> random_key(Random &rng) {
    std::array<unsigned char, N> k;
    const Bytes b = rng.bytes(N);
    std::copy(b.begin(), b.end(), k.begin());
    return k;
}

TEST(CppSchedule, KnownAnswerOfFips81) {
    const Block key = block_from_hex("0123456789abcdef");
    const Block in{'N', 'o', 'w', ' ', 'i', 's', ' ', 't'};
    const velk::Schedule s(key);
    Block out, back;
    s.ecb_encrypt(in, out);
    s.ecb_decrypt(out, back);
    EXPECT_EQ(to_hex(out), "3fa40e8a984d4815");
    EXPECT_EQ(back, in);
    EXPECT_EQ(s.key_class(), velk::KeyClass::normal);
}

TEST(CppSchedule, EqualsTheCFunctions) {
    Random rng(7);
    for (int i = 0; i < 2000; ++i) {
        const Block key = rng.block();
        const Block in = rng.block();
        des_subkeys ks;
        const int cls = des_init(key.data(), 8, ks);
        const velk::Schedule s(key);
        ASSERT_EQ(static_cast<int>(s.key_class()), cls);
        ASSERT_EQ(std::memcmp(s.subkeys(), ks, sizeof ks), 0);
        Block c_out, cpp_out;
        des_ecbencode(in.data(), c_out.data(), ks);
        s.ecb_encrypt(in, cpp_out);
        ASSERT_EQ(cpp_out, c_out);
        des_ecbdecode(in.data(), c_out.data(), ks);
        s.ecb_decrypt(in, cpp_out);
        ASSERT_EQ(cpp_out, c_out);
    }
}

TEST(CppSchedule, ReportsTheKeyClassOfEveryListedKey) {
    for (const char *weak : {"0101010101010101", "fefefefefefefefe", "1f1f1f1f0e0e0e0e",
                             "e0e0e0e0f1f1f1f1"})
        EXPECT_EQ(velk::Schedule(block_from_hex(weak)).key_class(), velk::KeyClass::weak) << weak;
    for (const char *semi : {"01fe01fe01fe01fe", "e0fee0fef1fef1fe", "1f011f010e010e01"})
        EXPECT_EQ(velk::Schedule(block_from_hex(semi)).key_class(), velk::KeyClass::semiweak)
            << semi;
    // Parity bits count in the comparison: 00..00 has the weak key's schedule
    // but is not a listed key.
    EXPECT_EQ(velk::Schedule(block_from_hex("0000000000000000")).key_class(),
              velk::KeyClass::normal);
}

TEST(CppSchedule, IsAValueThatOutlivesItsSource) {
    const Block k1 = block_from_hex("133457799bbcdff1");
    const Block k2 = block_from_hex("0e329232ea6d0d73");
    const Block in = block_from_hex("0123456789abcdef");
    velk::Schedule s(k1);
    const velk::Schedule copy = s;
    s = velk::Schedule(k2);
    Block a, b;
    copy.ecb_encrypt(in, a);
    s.ecb_encrypt(in, b);
    EXPECT_EQ(to_hex(a), "85e813540f0ab405"); // the classic worked example
    EXPECT_NE(a, b);
}

TEST(CppSchedule, CArraysAndSpansAreAcceptedAsBlocks) {
    const unsigned char key[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    unsigned char buf[8] = {'N', 'o', 'w', ' ', 'i', 's', ' ', 't'};
    const velk::Schedule s(key);
    s.ecb_encrypt(buf, buf); // in place
    EXPECT_EQ(to_hex(buf), "3fa40e8a984d4815");
    std::vector<unsigned char> v(buf, buf + 8);
    s.ecb_decrypt(std::span<const unsigned char, 8>(v.data(), 8), buf);
    EXPECT_EQ(std::string(buf, buf + 8), "Now is t");
}

TEST(CppModes, CbcChainReproducesFips81AndUndoesItselfInPlace) {
    const Block key = block_from_hex("0123456789abcdef");
    const Block iv = block_from_hex("1234567890abcdef");
    const std::string text = "Now is the time for all ";
    Bytes data(text.begin(), text.end());
    const velk::Schedule s(key);
    velk::CbcEncryptor enc(s, iv);
    for (std::size_t i = 0; i < data.size(); i += 8)
        enc(std::span<const unsigned char, 8>(&data[i], 8), std::span<unsigned char, 8>(&data[i], 8));
    EXPECT_EQ(to_hex(data), "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");
    EXPECT_EQ(to_hex(enc.chain()), "683788499a7c05f6");
    velk::CbcDecryptor dec(s, iv);
    for (std::size_t i = 0; i < data.size(); i += 8)
        dec(std::span<const unsigned char, 8>(&data[i], 8), std::span<unsigned char, 8>(&data[i], 8));
    EXPECT_EQ(std::string(data.begin(), data.end()), text);
}

// Every family and mode through the C++ interface against the C functions
// called directly, over multi-block data and streams cut at random places.
template <class S, class CFn> void compare_family(const S &s, Random &rng, CFn &&c) {
    const Bytes msg = rng.bytes(64);
    const Block iv = rng.block();
    // ECB and CBC, block by block.
    for (std::size_t i = 0; i < msg.size(); i += 8) {
        const std::span<const unsigned char, 8> in(&msg[i], 8);
        Block cpp, ref;
        s.ecb_encrypt(in, cpp);
        c.ecb_encrypt(in.data(), ref.data());
        ASSERT_EQ(cpp, ref);
        s.ecb_decrypt(in, cpp);
        c.ecb_decrypt(in.data(), ref.data());
        ASSERT_EQ(cpp, ref);
        s.cbc_encrypt(in, cpp, iv);
        c.cbc_encrypt(in.data(), ref.data(), iv.data());
        ASSERT_EQ(cpp, ref);
        s.cbc_decrypt(in, cpp, iv);
        c.cbc_decrypt(in.data(), ref.data(), iv.data());
        ASSERT_EQ(cpp, ref);
    }
    // CFB and OFB: one C call over the whole message against C++ calls over
    // random pieces, registers compared at the end.
    for (int mode = 0; mode < 3; ++mode) {
        Block reg_cpp = iv, reg_c = iv;
        Bytes cpp(msg.size()), ref(msg.size());
        c.stream(mode, msg.data(), ref.data(), static_cast<std::uint32_t>(msg.size()), reg_c.data());
        for (std::size_t at = 0; at < msg.size();) {
            const std::size_t n = std::min(msg.size() - at, rng.below(20));
            const velk::BytesIn in(msg.data() + at, n);
            const velk::BytesOut out(cpp.data() + at, n);
            if (mode == 0) s.cfb_encrypt(in, out, reg_cpp);
            if (mode == 1) s.cfb_decrypt(in, out, reg_cpp);
            if (mode == 2) s.ofb(in, out, reg_cpp);
            at += n;
        }
        ASSERT_EQ(cpp, ref) << "stream mode " << mode;
        ASSERT_EQ(reg_cpp, reg_c) << "stream mode " << mode;
    }
}

TEST(CppModes, SingleDesEqualsTheCFunctions) {
    Random rng(11);
    for (int t = 0; t < 50; ++t) {
        const Block key = rng.block();
        des_subkeys ks;
        des_init(key.data(), 8, ks);
        struct {
            des_subkeys &ks;
            void ecb_encrypt(const unsigned char *i, unsigned char *o) { des_ecbencode(i, o, ks); }
            void ecb_decrypt(const unsigned char *i, unsigned char *o) { des_ecbdecode(i, o, ks); }
            void cbc_encrypt(const unsigned char *i, unsigned char *o, const unsigned char *v) {
                des_cbcencode(i, o, v, ks);
            }
            void cbc_decrypt(const unsigned char *i, unsigned char *o, const unsigned char *v) {
                des_cbcdecode(i, o, v, ks);
            }
            void stream(int m, const unsigned char *i, unsigned char *o, std::uint32_t n,
                        unsigned char *r) {
                m == 0 ? des_cfbencode(i, o, n, r, ks)
                       : m == 1 ? des_cfbdecode(i, o, n, r, ks) : des_ofbencode(i, o, n, r, ks);
            }
        } c{ks};
        compare_family(velk::Schedule(key), rng, c);
    }
}

TEST(CppModes, TwoKeyEdeEqualsTheCFunctions) {
    Random rng(12);
    for (int t = 0; t < 30; ++t) {
        const auto key = random_key<16>(rng);
        des_subkeys k1, k2;
        const int cls = des_3EDEinit(key.data(), 16, k1, k2);
        const velk::Ede2Schedule s(key);
        ASSERT_EQ(static_cast<int>(s.key_class()), cls);
        struct {
            des_subkeys &a, &b;
            void ecb_encrypt(const unsigned char *i, unsigned char *o) { des_ecb3EDEencode(i, o, a, b); }
            void ecb_decrypt(const unsigned char *i, unsigned char *o) { des_ecb3EDEdecode(i, o, a, b); }
            void cbc_encrypt(const unsigned char *i, unsigned char *o, const unsigned char *v) {
                des_cbc3EDEencode(i, o, v, a, b);
            }
            void cbc_decrypt(const unsigned char *i, unsigned char *o, const unsigned char *v) {
                des_cbc3EDEdecode(i, o, v, a, b);
            }
            void stream(int m, const unsigned char *i, unsigned char *o, std::uint32_t n,
                        unsigned char *r) {
                m == 0   ? des_cfb3EDEencode(i, o, n, r, a, b)
                : m == 1 ? des_cfb3EDEdecode(i, o, n, r, a, b)
                         : des_ofb3EDEencode(i, o, n, r, a, b);
            }
        } c{k1, k2};
        compare_family(s, rng, c);
    }
}

TEST(CppModes, ThreeKeyEeeEqualsTheCFunctions) {
    Random rng(13);
    for (int t = 0; t < 30; ++t) {
        const auto key = random_key<24>(rng);
        des_subkeys k1, k2, k3;
        const int cls = des_3EEEinit(key.data(), 24, k1, k2, k3);
        const velk::Eee3Schedule s(key);
        ASSERT_EQ(static_cast<int>(s.key_class()), cls);
        struct {
            des_subkeys &a, &b, &d;
            void ecb_encrypt(const unsigned char *i, unsigned char *o) {
                des_ecb3EEEencode(i, o, a, b, d);
            }
            void ecb_decrypt(const unsigned char *i, unsigned char *o) {
                des_ecb3EEEdecode(i, o, a, b, d);
            }
            void cbc_encrypt(const unsigned char *i, unsigned char *o, const unsigned char *v) {
                des_cbc3EEEencode(i, o, v, a, b, d);
            }
            void cbc_decrypt(const unsigned char *i, unsigned char *o, const unsigned char *v) {
                des_cbc3EEEdecode(i, o, v, a, b, d);
            }
            void stream(int m, const unsigned char *i, unsigned char *o, std::uint32_t n,
                        unsigned char *r) {
                m == 0   ? des_cfb3EEEencode(i, o, n, r, a, b, d)
                : m == 1 ? des_cfb3EEEdecode(i, o, n, r, a, b, d)
                         : des_ofb3EEEencode(i, o, n, r, a, b, d);
            }
        } c{k1, k2, k3};
        compare_family(s, rng, c);
    }
}

TEST(CppModes, TripleKeyClassesCombine) {
    const Bytes weak = from_hex("0101010101010101"), semi = from_hex("01fe01fe01fe01fe");
    const Bytes plain = from_hex("0123456789abcdef");
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const auto &p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    auto ede2 = [](const Bytes &k) {
        return velk::Ede2Schedule(std::span<const unsigned char, 16>(k.data(), 16)).key_class();
    };
    auto eee3 = [](const Bytes &k) {
        return velk::Eee3Schedule(std::span<const unsigned char, 24>(k.data(), 24)).key_class();
    };
    EXPECT_EQ(ede2(join({weak, semi})), velk::KeyClass::weak_and_semiweak);
    EXPECT_EQ(ede2(join({plain, weak})), velk::KeyClass::weak);
    EXPECT_EQ(eee3(join({plain, plain, semi})), velk::KeyClass::semiweak);
    EXPECT_EQ(eee3(join({plain, plain, plain})), velk::KeyClass::normal);
}

} // namespace
