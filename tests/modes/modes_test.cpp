// SPDX-License-Identifier: MIT
// The mode shapes: published known answers, and the properties every mode
// function of every family must have whatever its block cipher.
#include <gtest/gtest.h>

#include "families.hpp"

namespace {

using namespace velk::test;

Bytes tail8(const Bytes &a) {
    return Bytes(a.end() - 8, a.end());
}
Bytes xor_bytes(const Bytes &a, const Bytes &b) {
    Bytes out(a.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        out[i] = a[i] ^ b[i];
    return out;
}

TEST(SingleDes, Fips81SamplesBothWays) {
    const auto records = read_vectors("des_modes_fips81.txt");
    ASSERT_EQ(records.size(), 3u);
    for (const auto &r : records) {
        SCOPED_TRACE(r.at("Mode"));
        Schedules ks;
        EXPECT_EQ(single_des.init(from_hex(r.at("Key")).data(), ks), 0);
        const Block iv = block_from_hex(r.at("IV"));
        const Bytes in = from_hex(r.at("In")), out = from_hex(r.at("Out"));
        if (r.at("Mode") == "cbc") {
            EXPECT_EQ(to_hex(run_cbc(single_des, true, ks, iv, in)), to_hex(out));
            EXPECT_EQ(to_hex(run_cbc(single_des, false, ks, iv, out)), to_hex(in));
            continue;
        }
        // After 8 or more bytes the register holds the last eight cipher
        // bytes (CFB) or keystream bytes (OFB).
        const bool cfb = r.at("Mode") == "cfb8";
        ASSERT_TRUE(cfb || r.at("Mode") == "ofb8");
        const Bytes want_reg = tail8(cfb ? out : xor_bytes(in, out));
        Block reg = iv;
        EXPECT_EQ(to_hex(run_stream(single_des, cfb ? Stream::cfb_encode : Stream::ofb_encode, ks,
                                    reg, in)),
                  to_hex(out));
        EXPECT_EQ(to_hex(reg), to_hex(want_reg));
        reg = iv;
        EXPECT_EQ(to_hex(run_stream(single_des, cfb ? Stream::cfb_decode : Stream::ofb_decode, ks,
                                    reg, out)),
                  to_hex(in));
        EXPECT_EQ(to_hex(reg), to_hex(want_reg));
    }
}

class EveryFamily : public ::testing::TestWithParam<const Family *> {
  protected:
    const Family &f = *GetParam();
    Random rng{0x6d6f646573u};
    Schedules ks;
    void SetUp() override { f.init(rng.bytes(f.key_bytes).data(), ks); }
};

TEST_P(EveryFamily, DecodeUndoesEncodeOverSeveralBlocks) {
    for (int trial = 0; trial < 20; ++trial) {
        const Bytes data = rng.bytes(8 * (1 + rng.below(6)));
        const Block iv = rng.block();
        EXPECT_EQ(run_ecb(f, false, ks, run_ecb(f, true, ks, data)), data);
        EXPECT_EQ(run_cbc(f, false, ks, iv, run_cbc(f, true, ks, iv, data)), data);
        Block enc_reg = iv, dec_reg = iv;
        EXPECT_EQ(run_stream(f, Stream::cfb_decode, ks, dec_reg,
                             run_stream(f, Stream::cfb_encode, ks, enc_reg, data)),
                  data);
        EXPECT_EQ(enc_reg, dec_reg) << "CFB registers part after a round trip";
        // OFB encode and decode are one transformation, its own inverse.
        Block a = iv, b = iv, c = iv;
        const Bytes once = run_stream(f, Stream::ofb_encode, ks, a, data);
        EXPECT_EQ(run_stream(f, Stream::ofb_decode, ks, b, data), once);
        EXPECT_EQ(a, b);
        EXPECT_EQ(run_stream(f, Stream::ofb_decode, ks, c, once), data);
    }
}

TEST_P(EveryFamily, LengthZeroReadsAndWritesNothing) {
    for (Stream s : all_streams) {
        Block reg = rng.block();
        const Block before = reg;
        EXPECT_EQ(function(f, s)(nullptr, nullptr, 0, reg.data(), ks), 0) << name(s);
        EXPECT_EQ(reg, before) << name(s);
    }
}

TEST_P(EveryFamily, InPlaceEqualsOutOfPlace) {
    const Bytes data = rng.bytes(8 * 5 + 3);
    const Block iv = rng.block();
    for (Stream s : all_streams) {
        Block reg1 = iv, reg2 = iv;
        const Bytes expected = run_stream(f, s, ks, reg1, data);
        Bytes buf = data;
        function(f, s)(buf.data(), buf.data(), static_cast<std::uint32_t>(buf.size()), reg2.data(),
                       ks);
        EXPECT_EQ(buf, expected) << name(s);
        EXPECT_EQ(reg1, reg2) << name(s);
    }
    for (bool encode : {true, false}) {
        const BlockFn ecb = encode ? f.ecb_encode : f.ecb_decode;
        const ChainFn cbc = encode ? f.cbc_encode : f.cbc_decode;
        Block ecb_out, cbc_out, buf = block_at(data.data()), chain = iv;
        ecb(buf.data(), ecb_out.data(), ks);
        ecb(buf.data(), buf.data(), ks);
        EXPECT_EQ(buf, ecb_out);
        buf = block_at(data.data());
        cbc(buf.data(), cbc_out.data(), iv.data(), ks);
        cbc(buf.data(), buf.data(), iv.data(), ks);
        EXPECT_EQ(buf, cbc_out) << "CBC, output over input";
        // The output may also be the chaining value, which then holds it.
        cbc(block_at(data.data()).data(), chain.data(), chain.data(), ks);
        EXPECT_EQ(chain, cbc_out) << "CBC, output over the chaining value";
    }
}

// ECB and CBC read their whole input and chaining value before they write,
// and the header promises any overlap: the output at every offset from 7
// bytes before to 7 bytes after the input, and after the chaining value.
TEST_P(EveryFamily, EcbAndCbcTakeBuffersOverlappingInAnyWay) {
    const Bytes data = rng.bytes(24);
    const Block in = block_at(data.data() + 8), iv = rng.block();
    for (bool encode : {true, false}) {
        const BlockFn ecb = encode ? f.ecb_encode : f.ecb_decode;
        const ChainFn cbc = encode ? f.cbc_encode : f.cbc_decode;
        Block ecb_want, cbc_want;
        ecb(in.data(), ecb_want.data(), ks);
        cbc(in.data(), cbc_want.data(), iv.data(), ks);
        for (int shift = -7; shift <= 7; ++shift) {
            Bytes buf = data;
            ecb(buf.data() + 8, buf.data() + 8 + shift, ks);
            EXPECT_EQ(block_at(buf.data() + 8 + shift), ecb_want) << "ECB, shift " << shift;
            buf = data;
            cbc(buf.data() + 8, buf.data() + 8 + shift, iv.data(), ks);
            EXPECT_EQ(block_at(buf.data() + 8 + shift), cbc_want) << "CBC, shift " << shift;
            // The chaining value at buf + 8, the input beside it.
            buf = data;
            std::copy(iv.begin(), iv.end(), buf.begin() + 8);
            std::copy(in.begin(), in.end(), buf.begin() + (shift < 0 ? 0 : 16));
            cbc(buf.data() + (shift < 0 ? 0 : 16), buf.data() + 8 + shift, buf.data() + 8, ks);
            EXPECT_EQ(block_at(buf.data() + 8 + shift), cbc_want)
                << "CBC over the chaining value, shift " << shift;
        }
    }
}

TEST_P(EveryFamily, CbcLeavesTheChainingValueAlone) {
    const Block iv = rng.block(), in = rng.block();
    for (ChainFn cbc : {f.cbc_encode, f.cbc_decode}) {
        Block chain = iv, out;
        EXPECT_EQ(cbc(in.data(), out.data(), chain.data(), ks), 0);
        EXPECT_EQ(chain, iv);
    }
}

TEST_P(EveryFamily, StreamCutAtAnyByteEqualsOneCall) {
    const Bytes data = rng.bytes(21);
    const Block iv = rng.block();
    for (Stream s : all_streams) {
        Block whole_reg = iv;
        const Bytes whole = run_stream(f, s, ks, whole_reg, data);
        for (std::size_t cut = 0; cut <= data.size(); ++cut) {
            Block reg = iv;
            Bytes out = run_stream(f, s, ks, reg, Bytes(data.begin(), data.begin() + cut));
            const Bytes rest = run_stream(f, s, ks, reg, Bytes(data.begin() + cut, data.end()));
            out.insert(out.end(), rest.begin(), rest.end());
            EXPECT_EQ(out, whole) << name(s) << " cut at " << cut;
            EXPECT_EQ(reg, whole_reg) << name(s) << " cut at " << cut;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, EveryFamily, ::testing::ValuesIn(all_families),
                         [](const auto &info) { return std::string(info.param->name); });

} // namespace
