// The C++ interface against the C functions it wraps: same classes, same
// schedules, same bytes, and the chain helpers chain as a careful C caller
// would. What it refuses at compile time is checked by misuse.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>
#include <utility>
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

} // namespace
