// SPDX-License-Identifier: MIT
// Two-key EDE and three-key EEE triple DES: the key set-ups, ECB, CBC,
// 8-bit CFB and 8-bit OFB.
#include <cstddef>

#include "key_schedule.hpp"
#include "modes.hpp"
#include "triple_stages.hpp"

namespace velk {
namespace {

constexpr Stage E = Stage::encrypt, D = Stage::decrypt;

// E1(D2(E1(x))) and its inverse D1(E2(D1(x))).
struct EdeEncrypt {
    const std::uint32_t *k1, *k2;
    [[gnu::always_inline]] void operator()(std::uint32_t &hi, std::uint32_t &lo) const {
        triple<E, D, E>(hi, lo, k1, k2, k1);
    }
    // The same without the permutations, for the feedback modes.
    [[gnu::always_inline]] void rounds(std::uint32_t &l, std::uint32_t &r) const { stages<E, D, E>(l, r, k1, k2, k1); }
};
struct EdeDecrypt {
    const std::uint32_t *k1, *k2;
    [[gnu::always_inline]] void operator()(std::uint32_t &hi, std::uint32_t &lo) const {
        triple<D, E, D>(hi, lo, k1, k2, k1);
    }
};

// E3(E2(E1(x))) and its inverse D1(D2(D3(x))).
struct EeeEncrypt {
    const std::uint32_t *k1, *k2, *k3;
    [[gnu::always_inline]] void operator()(std::uint32_t &hi, std::uint32_t &lo) const {
        triple<E, E, E>(hi, lo, k1, k2, k3);
    }
    [[gnu::always_inline]] void rounds(std::uint32_t &l, std::uint32_t &r) const { stages<E, E, E>(l, r, k1, k2, k3); }
};
struct EeeDecrypt {
    const std::uint32_t *k1, *k2, *k3;
    [[gnu::always_inline]] void operator()(std::uint32_t &hi, std::uint32_t &lo) const {
        triple<D, D, D>(hi, lo, k3, k2, k1);
    }
};

template <class Cipher>
[[gnu::always_inline]] inline void ecb(const unsigned char in[8], unsigned char out[8], Cipher cipher) {
    std::uint32_t hi = load_be32(in), lo = load_be32(in + 4);
    cipher(hi, lo);
    store_be32(out, hi);
    store_be32(out + 4, lo);
}

// The triple set-ups' one rule: every 8-byte key of `key` is classified
// before any schedule is built, and every schedule is built whatever the
// classes; the result, the OR of the classes, is advice only.
template <std::size_t N> int init_keys(const unsigned char *key, std::uint32_t *const (&ks)[N]) {
    int classes = 0;
    for (std::size_t i = 0; i < N; ++i)
        classes |= des_keycheck(key + 8 * i);
    for (std::size_t i = 0; i < N; ++i)
        des_keyschedule(key + 8 * i, ks[i]);
    return classes;
}

} // namespace
} // namespace velk

using velk::EdeDecrypt;
using velk::EdeEncrypt;
using velk::EeeDecrypt;
using velk::EeeEncrypt;
using velk::Feedback;

extern "C" {

int des_3EDEinit(const unsigned char key[16], int /*keylen*/, des_subkeys ks1, des_subkeys ks2) {
    return velk::init_keys(key, {ks1, ks2});
}

int des_ecb3EDEencode(const unsigned char in[8], unsigned char out[8], const des_subkeys ks1,
                      const des_subkeys ks2) {
    velk::ecb(in, out, EdeEncrypt{ks1, ks2});
    return 0;
}

int des_ecb3EDEdecode(const unsigned char in[8], unsigned char out[8], const des_subkeys ks1,
                      const des_subkeys ks2) {
    velk::ecb(in, out, EdeDecrypt{ks1, ks2});
    return 0;
}

int des_cbc3EDEencode(const unsigned char in[8], unsigned char out[8], const unsigned char ivec[8],
                      const des_subkeys ks1, const des_subkeys ks2) {
    velk::cbc_encode(in, out, ivec, EdeEncrypt{ks1, ks2});
    return 0;
}

int des_cbc3EDEdecode(const unsigned char in[8], unsigned char out[8], const unsigned char ivec[8],
                      const des_subkeys ks1, const des_subkeys ks2) {
    velk::cbc_decode(in, out, ivec, EdeDecrypt{ks1, ks2});
    return 0;
}

int des_cfb3EDEencode(const unsigned char *in, unsigned char *out, uint32_t length,
                      unsigned char reg[8], const des_subkeys ks1, const des_subkeys ks2) {
    velk::feedback8<Feedback::produced>(in, out, length, reg, EdeEncrypt{ks1, ks2});
    return 0;
}

int des_cfb3EDEdecode(const unsigned char *in, unsigned char *out, uint32_t length,
                      unsigned char reg[8], const des_subkeys ks1, const des_subkeys ks2) {
    velk::feedback8<Feedback::consumed>(in, out, length, reg, EdeEncrypt{ks1, ks2});
    return 0;
}

int des_ofb3EDEencode(const unsigned char *in, unsigned char *out, uint32_t length,
                      unsigned char reg[8], const des_subkeys ks1, const des_subkeys ks2) {
    velk::feedback8<Feedback::keystream>(in, out, length, reg, EdeEncrypt{ks1, ks2});
    return 0;
}

int des_ofb3EDEdecode(const unsigned char *in, unsigned char *out, uint32_t length,
                      unsigned char reg[8], const des_subkeys ks1, const des_subkeys ks2) {
    velk::feedback8<Feedback::keystream>(in, out, length, reg, EdeEncrypt{ks1, ks2});
    return 0;
}

int des_3EEEinit(const unsigned char key[24], int /*keylen*/, des_subkeys ks1, des_subkeys ks2,
                 des_subkeys ks3) {
    return velk::init_keys(key, {ks1, ks2, ks3});
}

int des_ecb3EEEencode(const unsigned char in[8], unsigned char out[8], const des_subkeys ks1,
                      const des_subkeys ks2, const des_subkeys ks3) {
    velk::ecb(in, out, EeeEncrypt{ks1, ks2, ks3});
    return 0;
}

int des_ecb3EEEdecode(const unsigned char in[8], unsigned char out[8], const des_subkeys ks1,
                      const des_subkeys ks2, const des_subkeys ks3) {
    velk::ecb(in, out, EeeDecrypt{ks1, ks2, ks3});
    return 0;
}

int des_cbc3EEEencode(const unsigned char in[8], unsigned char out[8], const unsigned char ivec[8],
                      const des_subkeys ks1, const des_subkeys ks2, const des_subkeys ks3) {
    velk::cbc_encode(in, out, ivec, EeeEncrypt{ks1, ks2, ks3});
    return 0;
}

int des_cbc3EEEdecode(const unsigned char in[8], unsigned char out[8], const unsigned char ivec[8],
                      const des_subkeys ks1, const des_subkeys ks2, const des_subkeys ks3) {
    velk::cbc_decode(in, out, ivec, EeeDecrypt{ks1, ks2, ks3});
    return 0;
}

int des_cfb3EEEencode(const unsigned char *in, unsigned char *out, uint32_t length,
                      unsigned char reg[8], const des_subkeys ks1, const des_subkeys ks2,
                      const des_subkeys ks3) {
    velk::feedback8<Feedback::produced>(in, out, length, reg, EeeEncrypt{ks1, ks2, ks3});
    return 0;
}

int des_cfb3EEEdecode(const unsigned char *in, unsigned char *out, uint32_t length,
                      unsigned char reg[8], const des_subkeys ks1, const des_subkeys ks2,
                      const des_subkeys ks3) {
    velk::feedback8<Feedback::consumed>(in, out, length, reg, EeeEncrypt{ks1, ks2, ks3});
    return 0;
}

int des_ofb3EEEencode(const unsigned char *in, unsigned char *out, uint32_t length,
                      unsigned char reg[8], const des_subkeys ks1, const des_subkeys ks2,
                      const des_subkeys ks3) {
    velk::feedback8<Feedback::keystream>(in, out, length, reg, EeeEncrypt{ks1, ks2, ks3});
    return 0;
}

int des_ofb3EEEdecode(const unsigned char *in, unsigned char *out, uint32_t length,
                      unsigned char reg[8], const des_subkeys ks1, const des_subkeys ks2,
                      const des_subkeys ks3) {
    velk::feedback8<Feedback::keystream>(in, out, length, reg, EeeEncrypt{ks1, ks2, ks3});
    return 0;
}

} // extern "C"
