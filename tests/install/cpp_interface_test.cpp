// SPDX-License-Identifier: MIT
// The C++ interface against the C functions it wraps: same classes, same
// schedules, same bytes, and the chain helpers chain as a careful C caller
// would. Its own additions (three-key EDE, key check values, parity, MACs)
// against libcrypto, velkfile and published answers. What it refuses at
// compile time is checked by misuse.cpp.
#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <type_traits>
#include <unistd.h>
#include <utility>
#include <vector>

#include "libcrypto_oracle.hpp"
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

// The stream members refuse an output shorter than the input in every build
// (this file is also built with NDEBUG): false, not a byte written, the
// register as it was. A longer output is fine and keeps its tail.
template <class S> void check_output_sizes(const S &s) {
    using Member = bool (S::*)(velk::BytesIn, velk::BytesOut, velk::Register) const noexcept;
    const struct {
        std::size_t in, out;
        bool done;
    } cases[] = {{1, 0, false},  {9, 8, false},  {16, 15, false}, {100, 1, false},
                 {0, 0, true},   {1, 1, true},   {16, 16, true},  {16, 17, true}};
    int member = 0;
    for (Member call : {Member{&S::cfb_encrypt}, Member{&S::cfb_decrypt}, Member{&S::ofb}}) {
        for (const auto &c : cases) {
            SCOPED_TRACE("member " + std::to_string(member) + ": " + std::to_string(c.in) +
                         " bytes into " + std::to_string(c.out));
            const Bytes in(c.in, 0x3c);
            Bytes guarded(c.out + 16, 0xa5);
            const Block iv = block_from_hex("0123456789abcdef");
            Block reg = iv;
            EXPECT_EQ((s.*call)(in, velk::BytesOut(guarded.data() + 8, c.out), reg), c.done);
            const std::size_t written = c.done ? c.in : 0;
            for (std::size_t i = 0; i < guarded.size(); ++i) {
                if (i < 8 || i >= 8 + written) {
                    ASSERT_EQ(guarded[i], 0xa5) << "byte " << i << " of the guarded output";
                }
            }
            EXPECT_EQ(reg == iv, written == 0);
        }
        ++member;
    }
}

TEST(CppStreams, AShortOutputIsRefusedAndNothingWritten) {
    const Block k = block_from_hex("133457799bbcdff1");
    check_output_sizes(velk::Schedule(k));
    check_output_sizes(velk::Ede2Schedule(std::array<unsigned char, 16>{1, 2, 3}));
    check_output_sizes(velk::Eee3Schedule(std::array<unsigned char, 24>{4, 5, 6}));
    check_output_sizes(velk::Ede3Schedule(std::array<unsigned char, 24>{7, 8, 9}));
}

// How many of the three stream members accept these argument types.
template <class S, class In, class Out> constexpr int stream_members_accepting() {
    return int{requires(const S &s, In &i, Out &o, velk::Register r) { s.cfb_encrypt(i, o, r); }} +
           int{requires(const S &s, In &i, Out &o, velk::Register r) { s.cfb_decrypt(i, o, r); }} +
           int{requires(const S &s, In &i, Out &o, velk::Register r) { s.ofb(i, o, r); }};
}

template <class S> constexpr bool fixed_sizes_checked_at_compile_time() {
    using A8 = std::array<unsigned char, 8>;
    using A16 = std::array<unsigned char, 16>;
    using C9 = unsigned char[9];
    using Vec = std::vector<unsigned char>;
    return stream_members_accepting<S, A16, A8>() == 0 &&
           stream_members_accepting<S, const C9, std::span<unsigned char, 8>>() == 0 &&
           stream_members_accepting<S, std::span<const unsigned char, 16>, C9>() == 0 &&
           stream_members_accepting<S, A8, A8>() == 3 && stream_members_accepting<S, A8, A16>() == 3 &&
           stream_members_accepting<S, const C9, A16>() == 3 &&
           // One size known only at run time: checked then.
           stream_members_accepting<S, Vec, A8>() == 3 && stream_members_accepting<S, A16, Vec>() == 3;
}
static_assert(fixed_sizes_checked_at_compile_time<velk::Schedule>());
static_assert(fixed_sizes_checked_at_compile_time<velk::Ede2Schedule>());
static_assert(fixed_sizes_checked_at_compile_time<velk::Eee3Schedule>());
static_assert(fixed_sizes_checked_at_compile_time<velk::Ede3Schedule>());
// Only a schedule that outlives the chain is taken.
static_assert(std::is_constructible_v<velk::CbcEncryptor<velk::Schedule>, const velk::Schedule &,
                                      velk::BlockIn>);
static_assert(!std::is_constructible_v<velk::CbcEncryptor<velk::Schedule>, velk::Schedule,
                                       velk::BlockIn>);
static_assert(!std::is_constructible_v<velk::CbcDecryptor<velk::Eee3Schedule>,
                                       const velk::Eee3Schedule &&, velk::BlockIn>);

// A stream longer than the C functions' 32-bit count goes to them in pieces
// that continue one another; the cutting, shown with pieces of 5 bytes,
// gives the bytes of one call over the whole stream.
TEST(CppStreams, LongStreamsGoToTheCFunctionsInPieces) {
    static_assert(velk::detail::max_piece == UINT32_MAX);
    Random rng(31);
    const Block key = rng.block();
    des_subkeys ks;
    des_init(key.data(), 8, ks);
    for (std::size_t size : {0, 1, 4, 5, 6, 10, 13, 64}) {
        const Bytes in = rng.bytes(size);
        Bytes whole(size), cut(size);
        Block reg_whole = key, reg_cut = key;
        des_cfbencode(in.data(), whole.data(), static_cast<std::uint32_t>(size), reg_whole.data(),
                      ks);
        std::vector<std::pair<std::size_t, std::uint32_t>> pieces;
        ASSERT_TRUE(velk::detail::in_pieces<5>(
            in, cut, [&](const unsigned char *i, unsigned char *o, std::uint32_t n) {
                EXPECT_EQ(o - cut.data(), i - in.data());
                pieces.emplace_back(static_cast<std::size_t>(i - in.data()), n);
                des_cfbencode(i, o, n, reg_cut.data(), ks);
            }));
        EXPECT_EQ(cut, whole) << size;
        EXPECT_EQ(reg_cut, reg_whole) << size;
        ASSERT_EQ(pieces.size(), (size + 4) / 5) << size;
        for (std::size_t p = 0; p < pieces.size(); ++p) {
            EXPECT_EQ(pieces[p].first, 5 * p);
            EXPECT_EQ(pieces[p].second, std::min<std::size_t>(5, size - 5 * p));
        }
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

// Two schedules that must be the same cipher, through every member: ECB and
// CBC both ways over several blocks, the streams cut at random places with
// the registers compared at the end.
template <class A, class B> void same_in_every_mode(const A &a, const B &b, Random &rng) {
    const Bytes msg = rng.bytes(48);
    const Block iv = rng.block();
    for (std::size_t i = 0; i < msg.size(); i += 8) {
        const std::span<const unsigned char, 8> in(&msg[i], 8);
        Block x, y;
        a.ecb_encrypt(in, x), b.ecb_encrypt(in, y);
        ASSERT_EQ(x, y);
        a.ecb_decrypt(in, x), b.ecb_decrypt(in, y);
        ASSERT_EQ(x, y);
        a.cbc_encrypt(in, x, iv), b.cbc_encrypt(in, y, iv);
        ASSERT_EQ(x, y);
        a.cbc_decrypt(in, x, iv), b.cbc_decrypt(in, y, iv);
        ASSERT_EQ(x, y);
    }
    for (int mode = 0; mode < 3; ++mode) {
        Block reg_a = iv, reg_b = iv;
        Bytes out_a(msg.size()), out_b(msg.size());
        for (std::size_t at = 0; at < msg.size();) {
            const std::size_t n = std::min(msg.size() - at, rng.below(12));
            const velk::BytesIn in(msg.data() + at, n);
            const velk::BytesOut oa(out_a.data() + at, n), ob(out_b.data() + at, n);
            if (mode == 0)
                a.cfb_encrypt(in, oa, reg_a), b.cfb_encrypt(in, ob, reg_b);
            if (mode == 1)
                a.cfb_decrypt(in, oa, reg_a), b.cfb_decrypt(in, ob, reg_b);
            if (mode == 2)
                a.ofb(in, oa, reg_a), b.ofb(in, ob, reg_b);
            at += n;
        }
        ASSERT_EQ(out_a, out_b) << "stream mode " << mode;
        ASSERT_EQ(reg_a, reg_b) << "stream mode " << mode;
    }
}

template <std::size_t N> std::array<unsigned char, N> key_from_hex(const std::string &hex) {
    const Bytes b = from_hex(hex);
    std::array<unsigned char, N> k{};
    if (b.size() != N)
        throw std::invalid_argument("wrong key length: " + hex);
    std::copy(b.begin(), b.end(), k.begin());
    return k;
}

// The sample of NIST SP 800-67 (its plaintext has the typo "qufck").
TEST(CppEde3, PublishedSampleBothWays) {
    const auto key = key_from_hex<24>("0123456789abcdef23456789abcdef01456789abcdef0123");
    const std::string text = "The qufck brown fox jump";
    Bytes data(text.begin(), text.end());
    const velk::Ede3Schedule s(key);
    for (std::size_t i = 0; i < data.size(); i += 8)
        s.ecb_encrypt(std::span<unsigned char, 8>(&data[i], 8),
                      std::span<unsigned char, 8>(&data[i], 8));
    EXPECT_EQ(to_hex(data), "a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900");
    for (std::size_t i = 0; i < data.size(); i += 8)
        s.ecb_decrypt(std::span<unsigned char, 8>(&data[i], 8),
                      std::span<unsigned char, 8>(&data[i], 8));
    EXPECT_EQ(std::string(data.begin(), data.end()), text);
    // The EEE family under the same key is another cipher: neither reads the
    // other's data.
    const Block first{'T', 'h', 'e', ' ', 'q', 'u', 'f', 'c'};
    Block eee;
    velk::Eee3Schedule(key).ecb_encrypt(first, eee);
    EXPECT_NE(to_hex(eee), "a826fd8ce53b855f");
}

// libcrypto's des-ede3, des-ede3-cbc and des-ede3-cfb8 through EVP; it has
// no 8-bit OFB, so that oracle runs the mode over EVP's des-ede3 blocks.
TEST(CppEde3, EqualsLibcryptoInEveryMode) {
    VELK_REQUIRE_LIBCRYPTO();
#ifdef VELK_HAVE_LIBCRYPTO
    namespace oracle = velk::test::oracle;
    Random rng(41);
    for (int t = 0; t < 40; ++t) {
        const auto key = random_key<24>(rng);
        const velk::Ede3Schedule s(key);
        const Block iv = rng.block();
        const Bytes msg = rng.bytes(8 * (1 + rng.below(8)));
        Bytes ecb(msg.size()), ecb_back(msg.size()), cbc(msg.size()), cbc_back(msg.size());
        velk::CbcEncryptor enc(s, iv);
        velk::CbcDecryptor dec(s, iv);
        for (std::size_t i = 0; i < msg.size(); i += 8) {
            auto at = [&](Bytes &b) { return std::span<unsigned char, 8>(&b[i], 8); };
            const std::span<const unsigned char, 8> in(&msg[i], 8);
            s.ecb_encrypt(in, at(ecb));
            s.ecb_decrypt(in, at(ecb_back));
            enc(in, at(cbc));
            dec(in, at(cbc_back));
        }
        ASSERT_EQ(ecb, oracle::evp(EVP_des_ede3(), key.data(), nullptr, msg, true));
        ASSERT_EQ(ecb_back, oracle::evp(EVP_des_ede3(), key.data(), nullptr, msg, false));
        ASSERT_EQ(cbc, oracle::evp(EVP_des_ede3_cbc(), key.data(), iv.data(), msg, true));
        ASSERT_EQ(cbc_back, oracle::evp(EVP_des_ede3_cbc(), key.data(), iv.data(), msg, false));

        // The streams at any length, cut at random places.
        const Bytes text = rng.bytes(1 + rng.below(40));
        Bytes ofb_want(text.size());
        Block ofb_reg_want = iv;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const Bytes reg(ofb_reg_want.begin(), ofb_reg_want.end());
            const unsigned char k = oracle::evp(EVP_des_ede3(), key.data(), nullptr, reg, true)[0];
            ofb_want[i] = static_cast<unsigned char>(text[i] ^ k);
            std::copy(ofb_reg_want.begin() + 1, ofb_reg_want.end(), ofb_reg_want.begin());
            ofb_reg_want[7] = k;
        }
        for (int mode = 0; mode < 3; ++mode) {
            SCOPED_TRACE("stream mode " + std::to_string(mode) + ", " +
                         std::to_string(text.size()) + " bytes");
            Block reg = iv;
            Bytes out(text.size());
            for (std::size_t at = 0; at < text.size();) {
                const std::size_t n = std::min(text.size() - at, rng.below(11));
                const velk::BytesIn in(text.data() + at, n);
                const velk::BytesOut o(out.data() + at, n);
                ASSERT_TRUE(mode == 0   ? s.cfb_encrypt(in, o, reg)
                            : mode == 1 ? s.cfb_decrypt(in, o, reg)
                                        : s.ofb(in, o, reg));
                at += n;
            }
            if (mode == 2) {
                ASSERT_EQ(out, ofb_want);
                ASSERT_EQ(reg, ofb_reg_want);
                continue;
            }
            ASSERT_EQ(out,
                      oracle::evp(EVP_des_ede3_cfb8(), key.data(), iv.data(), text, mode == 0));
            // The register ends as the last eight cipher bytes.
            const Bytes &cipher = mode == 0 ? out : text;
            Bytes tail(iv.begin(), iv.end());
            tail.insert(tail.end(), cipher.begin(), cipher.end());
            ASSERT_EQ(Bytes(reg.begin(), reg.end()), Bytes(tail.end() - 8, tail.end()));
        }
    }
#endif
}

// K1 = K3 is two-key EDE, K1 = K2 = K3 single DES, in every mode; the class
// is the OR of the three keys' classes.
TEST(CppEde3, FewerKeysGiveTheOtherFamilies) {
    Random rng(42);
    for (int t = 0; t < 20; ++t) {
        const Block k1 = rng.block(), k2 = rng.block();
        std::array<unsigned char, 24> k121, k111;
        std::array<unsigned char, 16> k12;
        std::copy(k1.begin(), k1.end(), k12.begin());
        std::copy(k2.begin(), k2.end(), k12.begin() + 8);
        std::copy(k12.begin(), k12.end(), k121.begin());
        std::copy(k1.begin(), k1.end(), k121.begin() + 16);
        for (int i = 0; i < 3; ++i)
            std::copy(k1.begin(), k1.end(), k111.begin() + 8 * i);
        same_in_every_mode(velk::Ede3Schedule(k121), velk::Ede2Schedule(k12), rng);
        same_in_every_mode(velk::Ede3Schedule(k111), velk::Schedule(k1), rng);
    }
    const auto weak_semi_plain =
        key_from_hex<24>("010101010101010101fe01fe01fe01fe0123456789abcdef");
    EXPECT_EQ(velk::Ede3Schedule(weak_semi_plain).key_class(), velk::KeyClass::weak_and_semiweak);
    const auto plain_plain_semi =
        key_from_hex<24>("0123456789abcdef23456789abcdef01e0fee0fef1fef1fe");
    EXPECT_EQ(velk::Ede3Schedule(plain_plain_semi).key_class(), velk::KeyClass::semiweak);
}

#ifdef VELKFILE_BIN
// velkfile's data is the cipher blocks of the zero-filled plaintext, then a
// count byte: Ede3Schedule reads what velkfile writes and writes what it
// reads, in both of its modes, for the same key and vector given as hex.
TEST(CppEde3, ReadsAndWritesVelkfileData) {
    char dir_template[] = "/tmp/velk_ede3_XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::filesystem::path dir = dir_template;
    auto write = [](const std::filesystem::path &p, const Bytes &b) {
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char *>(b.data()),
                   static_cast<std::streamsize>(b.size()));
    };
    auto read = [](const std::filesystem::path &p) {
        std::ifstream f(p, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(f), {});
    };
    auto velkfile = [&](const std::string &args) {
        const std::string cmd = std::string("'") + VELKFILE_BIN + "' " + args;
        return std::system(cmd.c_str());
    };
    Random rng(43);
    const auto key = random_key<24>(rng);
    const Block iv = rng.block();
    const velk::Ede3Schedule s(key);
    const std::string opts = "-K " + to_hex(key) + " -V " + to_hex(iv) + " ";
    const Bytes plain = rng.bytes(37);
    Bytes filled = plain;
    filled.resize(40, 0);
    write(dir / "plain", plain);
    for (const bool cbc : {false, true}) {
        SCOPED_TRACE(cbc ? "cbc" : "ecb");
        const std::string mode = cbc ? "-m cbc " : "-m ecb ";
        Bytes mine = filled;
        velk::CbcEncryptor enc(s, iv);
        for (std::size_t i = 0; i < mine.size(); i += 8) {
            const std::span<unsigned char, 8> b(&mine[i], 8);
            cbc ? enc(b, b) : s.ecb_encrypt(b, b);
        }
        mine.push_back(37 % 8);
        ASSERT_EQ(velkfile(mode + opts + "'" + (dir / "plain").string() + "' '" +
                           (dir / "theirs").string() + "'"),
                  0);
        EXPECT_EQ(to_hex(read(dir / "theirs")), to_hex(mine));
        // And velkfile decrypts what Ede3Schedule wrote.
        write(dir / "mine", mine);
        ASSERT_EQ(velkfile("-d " + mode + opts + "'" + (dir / "mine").string() + "' '" +
                           (dir / "back").string() + "'"),
                  0);
        EXPECT_EQ(read(dir / "back"), plain);
    }
    std::filesystem::remove_all(dir);
}
#endif

TEST(CppKeyCheckValue, KnownAnswers) {
    auto hex3 = [](const std::array<unsigned char, 3> &kcv) { return to_hex(kcv); };
    const auto k16 = key_from_hex<16>("0123456789abcdeffedcba9876543210");
    EXPECT_EQ(hex3(velk::key_check_value(velk::Ede2Schedule(k16))), "08d7b4");
    // Longer check values are longer prefixes of the same block.
    EXPECT_EQ(to_hex(velk::key_check_value<8>(velk::Ede2Schedule(k16))), "08d7b4fb629d0885");
    // Single DES of the zero block under 0123456789ABCDEF is D5D44FF720683D0D.
    const auto k8 = key_from_hex<8>("0123456789abcdef");
    EXPECT_EQ(hex3(velk::key_check_value(velk::Schedule(k8))), "d5d44f");
    const auto k24 = key_from_hex<24>("0123456789abcdeffedcba98765432100123456789abcdef");
    EXPECT_EQ(hex3(velk::key_check_value(velk::Ede3Schedule(k24))), "08d7b4");
    // Three encryptions under one key are not single DES.
    const auto k888 = key_from_hex<24>("0123456789abcdef0123456789abcdef0123456789abcdef");
    EXPECT_NE(hex3(velk::key_check_value(velk::Eee3Schedule(k888))), "d5d44f");
}

TEST(CppMac, CbcMacKnownAnswer) {
    const auto key = key_from_hex<8>("0123456789abcdef");
    const std::string text = "Now is the time for all ";
    const Bytes data(text.begin(), text.end());
    EXPECT_EQ(to_hex(velk::cbc_mac(velk::Schedule(key), data, velk::Padding::method1)),
              "70a30640cc76dd8b");
    // The same data with its length block first (192 bits).
    EXPECT_EQ(to_hex(velk::cbc_mac(velk::Schedule(key), data, velk::Padding::method3)).substr(0, 8),
              "2c58fb8f");
}

// CBC-MAC and the retail MAC against libcrypto over every length from 0 to
// 40 bytes and all three paddings: single-DES CBC from a zero vector under
// K1, then the last block decrypted under K2 and encrypted under K1
// (DES_ECB), and CBC-MAC under three-key EDE through EVP des-ede3-cbc.
TEST(CppMac, RetailMacAndEveryPaddingEqualLibcrypto) {
    VELK_REQUIRE_LIBCRYPTO();
#ifdef VELK_HAVE_LIBCRYPTO
    // ISO/IEC 9797-1 padding, written out here from the standard's words;
    // method 3's length block counts bits, most significant byte first.
    const auto padded = [](const Bytes &data, velk::Padding padding) {
        Bytes out = data;
        if (padding == velk::Padding::method2)
            out.push_back(0x80);
        while (out.empty() || out.size() % 8)
            out.push_back(0);
        if (padding == velk::Padding::method3) {
            const std::uint64_t bits = 8 * data.size();
            for (int i = 0; i < 8; ++i)
                out.insert(out.begin() + i, static_cast<unsigned char>(bits >> (56 - 8 * i)));
        }
        return out;
    };
    namespace oracle = velk::test::oracle;
    Random rng(44);
    const Block zero{};
    for (std::size_t len = 0; len <= 40; ++len) {
        for (const auto padding :
             {velk::Padding::method1, velk::Padding::method2, velk::Padding::method3}) {
            SCOPED_TRACE(std::to_string(len) + " bytes, method " +
                         std::to_string(static_cast<int>(padding) + 1));
            const Block k1 = rng.block(), k2 = rng.block();
            const auto k3 = random_key<24>(rng);
            const Bytes data = rng.bytes(len);
            const Bytes p = padded(data, padding);

            DES_key_schedule ks1 = oracle::schedule(k1.data());
            DES_cblock chain{};
            Bytes cbc(p.size());
            DES_ncbc_encrypt(p.data(), cbc.data(), static_cast<long>(p.size()), &ks1, &chain,
                             DES_ENCRYPT);
            Block h, retail;
            std::copy(cbc.end() - 8, cbc.end(), h.begin());
            oracle::ecb(k2.data(), h.data(), retail.data(), false);
            oracle::ecb(k1.data(), retail.data(), retail.data(), true);

            const velk::Schedule s1(k1), s2(k2);
            ASSERT_EQ(velk::cbc_mac(s1, data, padding), h);
            ASSERT_EQ(velk::retail_mac(s1, s2, data, padding), retail);
            const Bytes ede3 = oracle::evp(EVP_des_ede3_cbc(), k3.data(), zero.data(), p, true);
            ASSERT_EQ(to_hex(velk::cbc_mac(velk::Ede3Schedule(k3), data, padding)),
                      to_hex(Bytes(ede3.end() - 8, ede3.end())));
        }
    }
#endif
}

TEST(CppParity, EveryByteValue) {
    const auto good = key_from_hex<8>("0123456789abcdef"); // odd parity throughout
    ASSERT_TRUE(velk::has_odd_parity(good));
    for (unsigned v = 0; v < 256; ++v) {
        SCOPED_TRACE(v);
        const auto byte = static_cast<unsigned char>(v);
        const bool odd = std::popcount(byte) % 2 == 1;
        std::array<unsigned char, 1> one{byte};
        EXPECT_EQ(velk::has_odd_parity(one), odd);
        velk::set_odd_parity(one);
        EXPECT_EQ(std::popcount(one[0]) % 2, 1);
        EXPECT_EQ(one[0] & 0xfe, byte & 0xfe); // only the parity bit moves
        EXPECT_EQ(one[0] == byte, odd);
        // One byte decides for the whole key, wherever it stands.
        auto key = good;
        key[v % 8] = byte;
        EXPECT_EQ(velk::has_odd_parity(key), odd);
        velk::set_odd_parity(key);
        EXPECT_TRUE(velk::has_odd_parity(key));
    }
    std::array<unsigned char, 8> zero{};
    velk::set_odd_parity(zero);
    EXPECT_EQ(to_hex(zero), "0101010101010101");
    EXPECT_TRUE(velk::has_odd_parity(std::span<const unsigned char>()));
}

// The cipher ignores the parity bits, so setting them changes no schedule.
TEST(CppParity, SettingItKeepsTheSchedule) {
    Random rng(45);
    for (int t = 0; t < 200; ++t) {
        Block key = rng.block();
        const velk::Schedule before(key);
        velk::set_odd_parity(key);
        ASSERT_EQ(std::memcmp(before.subkeys(), velk::Schedule(key).subkeys(), 128), 0);
    }
}

template <class S> void check_from_bytes(Random &rng) {
    for (std::size_t n : {0, 1, 7, 8, 9, 15, 16, 17, 23, 24, 25, 32}) {
        const std::vector<unsigned char> key = rng.bytes(n);
        const std::optional<S> s = S::from_bytes(key);
        ASSERT_EQ(s.has_value(), n == S::key_size) << n << " bytes";
        if (!s)
            continue;
        const S direct(std::span<const unsigned char, S::key_size>(key.data(), S::key_size));
        const Block in = rng.block();
        Block a, b;
        s->ecb_encrypt(in, a);
        direct.ecb_encrypt(in, b);
        ASSERT_EQ(a, b);
        ASSERT_EQ(s->key_class(), direct.key_class());
    }
}

TEST(CppFromBytes, TakesExactlyTheKeyLength) {
    Random rng(46);
    check_from_bytes<velk::Schedule>(rng);
    check_from_bytes<velk::Ede2Schedule>(rng);
    check_from_bytes<velk::Eee3Schedule>(rng);
    check_from_bytes<velk::Ede3Schedule>(rng);
}

// A destroyed schedule leaves zeros where its subkeys were (this test also
// runs optimised, where a plain store into a dying object may be dropped).
template <class S, std::size_t Keys>
void check_wiped(std::span<const unsigned char, S::key_size> key) {
    static_assert(std::is_standard_layout_v<S>); // the subkeys come first
    alignas(S) unsigned char storage[sizeof(S)];
    std::memset(storage, 0xa5, sizeof storage);
    S *s = new (storage) S(key);
    bool any_subkey_word = false;
    for (std::size_t i = 0; i < 128 * Keys; ++i)
        any_subkey_word |= storage[i] != 0;
    ASSERT_TRUE(any_subkey_word);
    s->~S();
    for (std::size_t i = 0; i < 128 * Keys; ++i)
        ASSERT_EQ(storage[i], 0) << "byte " << i;
}

TEST(CppWipe, SchedulesClearTheirSubkeysWhenDestroyed) {
    const auto key = key_from_hex<24>("0123456789abcdef23456789abcdef01456789abcdef0123");
    static_assert(sizeof(velk::Schedule) >= 128 && sizeof(velk::Ede3Schedule) >= 384);
    check_wiped<velk::Schedule, 1>(std::span(key).first<8>());
    check_wiped<velk::Ede2Schedule, 2>(std::span(key).first<16>());
    check_wiped<velk::Eee3Schedule, 3>(key);
    check_wiped<velk::Ede3Schedule, 3>(key);
    // Copies are independent: destroying one leaves the other whole.
    auto a = std::make_optional<velk::Schedule>(std::span(key).first<8>());
    const velk::Schedule b = *a;
    a.reset();
    EXPECT_EQ(velk::key_check_value(b),
              velk::key_check_value(velk::Schedule(std::span(key).first<8>())));
}

} // namespace
