// SPDX-License-Identifier: MIT
// The saved form of a DUKPT originating device, inside the 400 opaque bytes
// of velkpay_dukpt_device. Every field is a byte string at a fixed offset and
// the check word is stored big-endian, so the bytes saved on one machine load
// on any other (32- or 64-bit, either byte order).
//
//   0   4 bytes  "VDKP", what the bytes are
//   4   1 byte   layout version (1)
//   5   1 byte   status: 1 has keys left, 2 exhausted
//   6   2 bytes  zero
//   8  10 bytes  KSN register; its counter bits name the next transaction
//  18  21 x 16   future-key registers, register j for the counter bit of
//                value 2^j; a used or never-written register is all zero
// 354  42 bytes  zero
// 396   4 bytes  CRC-32 of bytes 0 to 395
//
// The CRC catches accidental damage, not tampering: whoever can rewrite the
// state can rewrite its check as well. It detects every change confined to
// 32 consecutive bits, so every single-byte change, and lets any other
// random damage through with a chance of one in 2^32.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "velkpay.h"

namespace velk::pay::dukpt {

inline constexpr std::size_t state_size = sizeof(velkpay_dukpt_device::opaque);
inline constexpr std::size_t register_count = 21;
inline constexpr std::size_t key_size = VELKPAY_DUKPT_KEY_SIZE;
inline constexpr std::size_t ksn_size = VELKPAY_DUKPT_KSN_SIZE;

inline constexpr std::array<unsigned char, 4> magic{'V', 'D', 'K', 'P'};
inline constexpr unsigned char layout_version = 1;
inline constexpr unsigned char status_active = 1;
inline constexpr unsigned char status_exhausted = 2;

inline constexpr std::size_t magic_at = 0;
inline constexpr std::size_t version_at = 4;
inline constexpr std::size_t status_at = 5;
inline constexpr std::size_t reserved_at = 6;
inline constexpr std::size_t ksn_at = 8;
inline constexpr std::size_t registers_at = ksn_at + ksn_size;
inline constexpr std::size_t registers_end = registers_at + register_count * key_size;
inline constexpr std::size_t crc_at = state_size - 4;
static_assert(registers_end <= crc_at, "the registers and the check word fit the opaque bytes");

// The counter: the KSN's last 21 bits.
inline constexpr std::uint32_t counter_bits = 21;
inline constexpr std::uint32_t counter_end = std::uint32_t{1} << counter_bits;

// CRC-32 as zlib, PNG and Ethernet compute it (reflected polynomial
// 0xEDB88320, initial value and final XOR all ones).
inline constexpr std::array<std::uint32_t, 256> crc_table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[n] = c;
    }
    return t;
}();

constexpr std::uint32_t crc32(std::span<const unsigned char> bytes) noexcept {
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes)
        c = crc_table[(c ^ b) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

// The published check value of CRC-32: the nine ASCII digits 1 to 9.
static_assert([] {
    constexpr std::array<unsigned char, 9> digits{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    return crc32(digits) == 0xCBF43926u;
}());

// The check word the state's bytes carry.
inline std::uint32_t stored_crc(std::span<const unsigned char, state_size> s) noexcept {
    return std::uint32_t{s[crc_at]} << 24 | std::uint32_t{s[crc_at + 1]} << 16 |
           std::uint32_t{s[crc_at + 2]} << 8 | s[crc_at + 3];
}

// Writes the check word over the bytes before it.
inline void seal(std::span<unsigned char, state_size> s) noexcept {
    const std::uint32_t c = crc32(s.first<crc_at>());
    s[crc_at] = static_cast<unsigned char>(c >> 24);
    s[crc_at + 1] = static_cast<unsigned char>(c >> 16);
    s[crc_at + 2] = static_cast<unsigned char>(c >> 8);
    s[crc_at + 3] = static_cast<unsigned char>(c);
}

inline std::uint32_t ksn_counter(const unsigned char *ksn) noexcept {
    return std::uint32_t{ksn[7] & 0x1Fu} << 16 | std::uint32_t{ksn[8]} << 8 | ksn[9];
}

// Writes `counter` (below 2^21) into the counter bits of a KSN.
inline void set_ksn_counter(unsigned char *ksn, std::uint32_t counter) noexcept {
    ksn[7] = static_cast<unsigned char>((ksn[7] & 0xE0u) | (counter >> 16));
    ksn[8] = static_cast<unsigned char>(counter >> 8);
    ksn[9] = static_cast<unsigned char>(counter);
}

} // namespace velk::pay::dukpt
