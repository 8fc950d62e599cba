// SPDX-License-Identifier: MIT
// Every one of the 24 mode functions against libcrypto, on random keys,
// chaining values, data and lengths, the streams cut into random calls.
#include <gtest/gtest.h>

#include "families.hpp"
#include "libcrypto_oracle.hpp"
#include "mode_oracle.hpp"

namespace {

using namespace velk::test;

class AgainstLibcrypto : public ::testing::TestWithParam<const Family *> {
  protected:
    const Family &f = *GetParam();
};

TEST_P(AgainstLibcrypto, EcbAndCbcOverSeveralBlocks) {
    VELK_REQUIRE_LIBCRYPTO();
#ifdef VELK_HAVE_LIBCRYPTO
    Random rng(21);
    for (int trial = 0; trial < 300; ++trial) {
        const Bytes key = rng.bytes(f.key_bytes), data = rng.bytes(8 * (1 + rng.below(8)));
        const Block iv = rng.block();
        Schedules ks;
        f.init(key.data(), ks);
        for (bool encode : {true, false}) {
            SCOPED_TRACE(::testing::Message() << (encode ? "encode" : "decode") << " key "
                                              << to_hex(key) << " iv " << to_hex(iv));
            Bytes ecb_expected;
            const auto op = oracle::block_op(f, key, encode);
            for (std::size_t i = 0; i < data.size(); i += 8) {
                const Block b = op(block_at(&data[i]));
                ecb_expected.insert(ecb_expected.end(), b.begin(), b.end());
            }
            ASSERT_EQ(to_hex(run_ecb(f, encode, ks, data)), to_hex(ecb_expected));
            ASSERT_EQ(to_hex(run_cbc(f, encode, ks, iv, data)),
                      to_hex(oracle::cbc(f, encode, key, iv, data)));
        }
    }
#endif
}

TEST_P(AgainstLibcrypto, FeedbackStreamsInRandomCalls) {
    VELK_REQUIRE_LIBCRYPTO();
#ifdef VELK_HAVE_LIBCRYPTO
    Random rng(22);
    for (int trial = 0; trial < 150; ++trial) {
        const Bytes key = rng.bytes(f.key_bytes), data = rng.bytes(rng.below(70));
        const Block iv = rng.block();
        Schedules ks;
        f.init(key.data(), ks);
        for (Stream s : all_streams) {
            SCOPED_TRACE(::testing::Message() << name(s) << " key " << to_hex(key) << " iv "
                                              << to_hex(iv) << " length " << data.size());
            Block want_reg = iv;
            const Bytes want = oracle::stream(f, s, key, want_reg, data);
            Block reg = iv;
            Bytes got;
            for (std::size_t at = 0; at < data.size();) {
                const std::size_t n = std::min(data.size() - at, rng.below(20));
                const Bytes part =
                    run_stream(f, s, ks, reg, Bytes(data.begin() + at, data.begin() + at + n));
                got.insert(got.end(), part.begin(), part.end());
                at += n;
            }
            ASSERT_EQ(to_hex(got), to_hex(want));
            ASSERT_EQ(to_hex(reg), to_hex(want_reg));
        }
    }
#endif
}

INSTANTIATE_TEST_SUITE_P(Modes, AgainstLibcrypto, ::testing::ValuesIn(all_families),
                         [](const auto &info) { return std::string(info.param->name); });

} // namespace
