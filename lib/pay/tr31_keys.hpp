// SPDX-License-Identifier: MIT
// The keys a key block is enciphered and authenticated under, derived from
// its protection key. Internal to libvelkpay; the tests check the
// derivation against published keys.
#pragma once

#include <array>
#include <cstddef>

namespace velk::pay {

// A derived key: the KBPK's length (16 or 24 bytes) used, the rest unused.
using BlockKey = std::array<unsigned char, 24>;

// Version B binds the key by derivation; A and C by variants of the KBPK.
constexpr bool binds_by_derivation(char version) noexcept { return version == 'B'; }

// Writes the block encryption key (KBEK) and the block authentication key
// (KBAK) of a version-A, -B or -C block under a 16- or 24-byte KBPK:
// the KBPK XORed byte by byte with 0x45 and 0x4D for A and C, TDES-CMAC in
// counter mode from the KBPK for B.
void block_keys(char version, const unsigned char *kbpk, std::size_t kbpk_length,
                BlockKey &kbek, BlockKey &kbak) noexcept;

} // namespace velk::pay
