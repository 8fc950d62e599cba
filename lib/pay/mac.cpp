// SPDX-License-Identifier: MIT
// MACs and key check values. The ISO/IEC 9797-1 MACs and the legacy check
// value are velkcore.hpp's; CMAC, which they do not cover, is here.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "schedules.hpp"
#include "velkpay.h"
#include "wipe.hpp"

namespace {

using velk::Block;
using velk::pay::with_des_schedule;

// The CMAC subkey step: the block shifted left by one bit, XORed with the
// constant of the 64-bit field (x^64 + x^4 + x^3 + x + 1, so 0x1B in the
// last byte) when the bit shifted out was set. The constant is chosen by a
// mask, not a branch, since the block is derived from the key.
Block doubled(const Block &b) noexcept {
    Block d;
    const auto carry = static_cast<unsigned char>(0u - (b[0] >> 7));
    for (std::size_t i = 0; i < 7; ++i)
        d[i] = static_cast<unsigned char>(b[i] << 1 | b[i + 1] >> 7);
    d[7] = static_cast<unsigned char>(b[7] << 1 ^ (carry & 0x1Bu));
    return d;
}

// CMAC: CBC from a zero vector over every block but the last; the last is
// XORed with K1 when it is whole, otherwise padded with 0x80 and zeros and
// XORed with K2 (empty data counts as one empty last block).
template <class S> void cmac(const S &schedule, std::span<const unsigned char> data, Block &mac) {
    Block l{};
    schedule.ecb_encrypt(l, l);
    Block k1 = doubled(l);
    Block k2 = doubled(k1);

    const std::size_t full = data.empty() ? 0 : (data.size() - 1) / 8;
    mac.fill(0);
    for (std::size_t b = 0; b < full; ++b)
        schedule.cbc_encrypt(data.subspan(8 * b).template first<8>(), mac, mac);

    Block last{};
    const std::size_t rest = data.size() - 8 * full;
    std::copy(data.begin() + static_cast<std::ptrdiff_t>(8 * full), data.end(), last.begin());
    const Block &k = rest == 8 ? k1 : k2;
    if (rest < 8)
        last[rest] = 0x80;
    for (std::size_t i = 0; i < 8; ++i)
        last[i] ^= k[i];
    schedule.cbc_encrypt(last, mac, mac);

    velk::secure_wipe(l.data(), l.size());
    velk::secure_wipe(k1.data(), k1.size());
    velk::secure_wipe(k2.data(), k2.size());
    velk::secure_wipe(last.data(), last.size());
}

int cmac_of(const unsigned char *data, std::size_t length, unsigned char *mac,
            const unsigned char *key, std::size_t key_length) {
    if (key == nullptr || mac == nullptr || (data == nullptr && length > 0))
        return VELKPAY_E_ARGUMENT;
    Block tag;
    const int r = with_des_schedule(key, key_length, [&](const auto &s) {
        cmac(s, std::span<const unsigned char>(data, length), tag);
    });
    if (r == VELKPAY_OK)
        std::copy(tag.begin(), tag.end(), mac);
    return r;
}

bool padding_of(int method, velk::Padding &padding) noexcept {
    switch (method) {
    case VELKPAY_PAD_METHOD1:
        padding = velk::Padding::method1;
        return true;
    case VELKPAY_PAD_METHOD2:
        padding = velk::Padding::method2;
        return true;
    case VELKPAY_PAD_METHOD3:
        padding = velk::Padding::method3;
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" {

VELKPAY_API int velkpay_cmac(const unsigned char *data, size_t length, unsigned char mac[8],
                             const unsigned char *key, size_t key_length) {
    return cmac_of(data, length, mac, key, key_length);
}

VELKPAY_API int velkpay_mac_alg1(const unsigned char *data, size_t length, int padding,
                                 unsigned char mac[8], const unsigned char *key,
                                 size_t key_length) {
    if (key == nullptr || mac == nullptr || (data == nullptr && length > 0))
        return VELKPAY_E_ARGUMENT;
    velk::Padding p;
    if (!padding_of(padding, p))
        return VELKPAY_E_PADDING;
    Block tag;
    const int r = with_des_schedule(key, key_length, [&](const auto &s) {
        tag = velk::cbc_mac(s, std::span<const unsigned char>(data, length), p);
    });
    if (r == VELKPAY_OK)
        std::copy(tag.begin(), tag.end(), mac);
    return r;
}

VELKPAY_API int velkpay_mac_alg3(const unsigned char *data, size_t length, int padding,
                                 unsigned char mac[8], const unsigned char key[16]) {
    if (key == nullptr || mac == nullptr || (data == nullptr && length > 0))
        return VELKPAY_E_ARGUMENT;
    velk::Padding p;
    if (!padding_of(padding, p))
        return VELKPAY_E_PADDING;
    const velk::Schedule k(std::span<const unsigned char, 8>(key, 8));
    const velk::Schedule k_prime(std::span<const unsigned char, 8>(key + 8, 8));
    const Block tag = velk::retail_mac(k, k_prime, std::span<const unsigned char>(data, length), p);
    std::copy(tag.begin(), tag.end(), mac);
    return VELKPAY_OK;
}

VELKPAY_API int velkpay_kcv(const unsigned char *key, size_t key_length, unsigned char *kcv,
                            size_t kcv_length) {
    if (key == nullptr || kcv == nullptr)
        return VELKPAY_E_ARGUMENT;
    if (kcv_length < 2 || kcv_length > 8)
        return VELKPAY_E_KCV_LENGTH;
    std::array<unsigned char, 8> value;
    const int r = with_des_schedule(key, key_length,
                                    [&](const auto &s) { value = velk::key_check_value<8>(s); });
    if (r == VELKPAY_OK)
        std::copy_n(value.begin(), kcv_length, kcv);
    velk::secure_wipe(value.data(), value.size());
    return r;
}

VELKPAY_API int velkpay_kcv_cmac(const unsigned char *key, size_t key_length,
                                 unsigned char kcv[5]) {
    if (key == nullptr || kcv == nullptr)
        return VELKPAY_E_ARGUMENT;
    static constexpr unsigned char zero_block[8] = {};
    Block tag;
    const int r = cmac_of(zero_block, sizeof zero_block, tag.data(), key, key_length);
    if (r == VELKPAY_OK)
        std::copy_n(tag.begin(), 5, kcv);
    velk::secure_wipe(tag.data(), tag.size());
    return r;
}

} // extern "C"
