// SPDX-License-Identifier: MIT
// The three families (single DES, two-key EDE, three-key EEE) behind one
// table, so that every property and differential check runs over all 24
// mode functions without being written three times.
#pragma once

#include <cstring>
#include <ostream>

#include "velk_test.hpp"

namespace velk::test {

inline Block block_at(const unsigned char *p) {
    Block b;
    std::memcpy(b.data(), p, 8);
    return b;
}

// Up to three schedules; a family uses the first one, two or three.
struct Schedules {
    des_subkeys ks[3];
};

using BlockFn = int (*)(const unsigned char *, unsigned char *, const Schedules &);
using ChainFn = int (*)(const unsigned char *, unsigned char *, const unsigned char *,
                        const Schedules &);
using StreamFn = int (*)(const unsigned char *, unsigned char *, std::uint32_t, unsigned char *,
                         const Schedules &);

struct Family {
    const char *name;
    std::size_t key_bytes;
    int (*init)(const unsigned char *key, Schedules &);
    BlockFn ecb_encode, ecb_decode;
    ChainFn cbc_encode, cbc_decode;
    StreamFn cfb_encode, cfb_decode, ofb_encode, ofb_decode;
};

#define VELK_FAMILY(tag, ...)                                                                      \
    [](const unsigned char *in, unsigned char *out, const Schedules &s) {                          \
        return des_ecb##tag##encode(in, out, __VA_ARGS__);                                         \
    },                                                                                             \
        [](const unsigned char *in, unsigned char *out, const Schedules &s) {                      \
            return des_ecb##tag##decode(in, out, __VA_ARGS__);                                     \
        },                                                                                         \
        [](const unsigned char *in, unsigned char *out, const unsigned char *iv,                   \
           const Schedules &s) { return des_cbc##tag##encode(in, out, iv, __VA_ARGS__); },         \
        [](const unsigned char *in, unsigned char *out, const unsigned char *iv,                   \
           const Schedules &s) { return des_cbc##tag##decode(in, out, iv, __VA_ARGS__); },         \
        [](const unsigned char *in, unsigned char *out, std::uint32_t n, unsigned char *reg,       \
           const Schedules &s) { return des_cfb##tag##encode(in, out, n, reg, __VA_ARGS__); },     \
        [](const unsigned char *in, unsigned char *out, std::uint32_t n, unsigned char *reg,       \
           const Schedules &s) { return des_cfb##tag##decode(in, out, n, reg, __VA_ARGS__); },     \
        [](const unsigned char *in, unsigned char *out, std::uint32_t n, unsigned char *reg,       \
           const Schedules &s) { return des_ofb##tag##encode(in, out, n, reg, __VA_ARGS__); },     \
        [](const unsigned char *in, unsigned char *out, std::uint32_t n, unsigned char *reg,       \
           const Schedules &s) { return des_ofb##tag##decode(in, out, n, reg, __VA_ARGS__); }

inline const Family single_des{
    "single", 8, [](const unsigned char *k, Schedules &s) { return des_init(k, 8, s.ks[0]); },
    VELK_FAMILY(, s.ks[0])};
inline const Family two_key_ede{
    "3EDE", 16,
    [](const unsigned char *k, Schedules &s) { return des_3EDEinit(k, 16, s.ks[0], s.ks[1]); },
    VELK_FAMILY(3EDE, s.ks[0], s.ks[1])};
inline const Family three_key_eee{"3EEE", 24,
                                  [](const unsigned char *k, Schedules &s) {
                                      return des_3EEEinit(k, 24, s.ks[0], s.ks[1], s.ks[2]);
                                  },
                                  VELK_FAMILY(3EEE, s.ks[0], s.ks[1], s.ks[2])};
#undef VELK_FAMILY

// Names the family in parameterised test output instead of its address.
inline void PrintTo(const Family *f, std::ostream *os) {
    *os << f->name;
}

inline const Family *const all_families[] = {&single_des, &two_key_ede, &three_key_eee};

// The four byte-stream functions of a family, named for failure messages.
enum class Stream { cfb_encode, cfb_decode, ofb_encode, ofb_decode };
inline constexpr Stream all_streams[] = {Stream::cfb_encode, Stream::cfb_decode, Stream::ofb_encode,
                                         Stream::ofb_decode};
inline const char *name(Stream s) {
    static const char *const names[] = {"cfb encode", "cfb decode", "ofb encode", "ofb decode"};
    return names[static_cast<int>(s)];
}
inline StreamFn function(const Family &f, Stream s) {
    const StreamFn fns[] = {f.cfb_encode, f.cfb_decode, f.ofb_encode, f.ofb_decode};
    return fns[static_cast<int>(s)];
}

// One call of a stream function over the whole of data, advancing reg.
inline Bytes run_stream(const Family &f, Stream s, const Schedules &ks, Block &reg,
                        const Bytes &data) {
    Bytes out(data.size());
    EXPECT_EQ(function(f, s)(data.data(), out.data(), static_cast<std::uint32_t>(data.size()),
                             reg.data(), ks),
              0);
    return out;
}

// A CBC message of whole blocks, chained the way a caller chains it: the
// next chaining value is the cipher block, produced or consumed.
inline Bytes run_cbc(const Family &f, bool encode, const Schedules &ks, Block iv,
                     const Bytes &data) {
    Bytes out(data.size());
    for (std::size_t i = 0; i + 8 <= data.size(); i += 8) {
        const ChainFn fn = encode ? f.cbc_encode : f.cbc_decode;
        EXPECT_EQ(fn(&data[i], &out[i], iv.data(), ks), 0);
        std::memcpy(iv.data(), encode ? &out[i] : &data[i], 8);
    }
    return out;
}

inline Bytes run_ecb(const Family &f, bool encode, const Schedules &ks, const Bytes &data) {
    Bytes out(data.size());
    for (std::size_t i = 0; i + 8 <= data.size(); i += 8)
        EXPECT_EQ((encode ? f.ecb_encode : f.ecb_decode)(&data[i], &out[i], ks), 0);
    return out;
}

} // namespace velk::test
