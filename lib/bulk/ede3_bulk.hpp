// SPDX-License-Identifier: MIT
// Three-key EDE triple DES over many blocks at once, for callers that hold a
// whole buffer (velkfile, the tests, the benchmarks). An internal static
// library of its own: libvelkcore.so does not contain it.
//
// The results are exactly those of the one-block functions; only the way of
// computing differs. Independent blocks (ECB both ways, CBC decryption) run
// bitsliced in batches of 128, 256 or 512 blocks (16-, 32- or 64-byte
// vectors: SSE2 anywhere, AVX2 or AVX-512F where the processor has them,
// chosen at run time); the last, partial batch of a call runs in the
// narrowest width that covers it, or one block at a time when that is
// cheaper, so a short call costs in proportion to its blocks. CBC encryption
// chains and always runs one block at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "velkcore.hpp"

namespace velk {

// The key of one three-key EDE operation in the forms the block paths use:
// the three schedules, and every subkey bit of the 48 rounds as an all-zeros
// or all-ones mask. Built once per file, read by any number of threads at
// once, cleared when destroyed. About 74 KiB: keep it off small stacks.
class Ede3BulkKey {
  public:
    // From the three schedules of a three-key EDE key (velkcore.hpp's
    // Ede3Schedule, the one key set-up of this cipher), or from any three
    // single-DES schedules.
    explicit Ede3BulkKey(const Ede3Schedule &key) noexcept
        : Ede3BulkKey(key.subkeys1(), key.subkeys2(), key.subkeys3()) {}
    Ede3BulkKey(const des_subkeys k1, const des_subkeys k2, const des_subkeys k3) noexcept;
    ~Ede3BulkKey();
    Ede3BulkKey(const Ede3BulkKey &) = delete;
    Ede3BulkKey &operator=(const Ede3BulkKey &) = delete;

    static constexpr std::size_t mask_count = 48 * 48;

    // Round i (0..47 of E_K1, D_K2, E_K3), subkey bit j (0..47): all four
    // words of masks[48 * i + j] are 0 or ~0, so that the 16- and 32-byte
    // widths XOR a mask straight from memory. Decryption reads the rounds
    // backwards. A mask is the subkey bit, or its complement where the
    // S-box circuits take that input complemented (ede3_bulk.cpp).
    alignas(64) std::uint64_t masks[mask_count][4];
    des_subkeys k1, k2, k3;
};

// E_K3(D_K2(E_K1(x))) of each of the `blocks` 8-byte blocks at `in`, written
// to `out`. `out` may equal `in`; otherwise the two must not overlap.
void ede3_encrypt_blocks(const Ede3BulkKey &key, const unsigned char *in, unsigned char *out,
                         std::size_t blocks);

// D_K1(E_K2(D_K3(x))), the inverse, under the same rules.
void ede3_decrypt_blocks(const Ede3BulkKey &key, const unsigned char *in, unsigned char *out,
                         std::size_t blocks);

// CBC decryption: block i becomes D_K1(E_K2(D_K3(C_i))) XOR C_(i-1), with
// C_(-1) the 8 bytes at `chain`. On return `chain` holds the last cipher
// block, so that the next buffer continues the chain. With no blocks nothing
// is read or written.
void ede3_cbc_decrypt_blocks(const Ede3BulkKey &key, const unsigned char *in, unsigned char *out,
                             std::size_t blocks, unsigned char chain[8]);

// CBC encryption, one block at a time: block i becomes
// E_K3(D_K2(E_K1(P_i XOR C_(i-1)))), C_(-1) the 8 bytes at `chain`, which
// holds the last cipher block on return. `out` may equal `in`.
void ede3_cbc_encrypt_blocks(const Ede3BulkKey &key, const unsigned char *in, unsigned char *out,
                             std::size_t blocks, unsigned char chain[8]);

// The ways of computing independent blocks, which the tests hold to the same
// bytes one by one, and pinning one: the environment
// variable VELK_BULK_WIDTH (one_block, sse2, avx2 or avx512) caps the width
// the functions above choose, e.g. to run under a tool that lacks AVX-512.
namespace bulk_width {

enum class Width { one_block, sse2, avx2, avx512 };

// Whether this processor (and build) runs `w`; one_block and sse2 always.
bool available(Width w);

// The widest width available and allowed by VELK_BULK_WIDTH.
Width chosen();

// The blocks in width `w` alone (which must be available), batch by batch,
// the last batch filled up with zero blocks: encrypted, or decrypted when
// `decrypt` is true, and then, when `chain` is not null, CBC-decrypted as
// ede3_cbc_decrypt_blocks does. The functions above run every call through
// this, a width for the batches and one for the rest.
void run(Width w, const Ede3BulkKey &key, const unsigned char *in, unsigned char *out,
         std::size_t blocks, bool decrypt, unsigned char *chain);

} // namespace bulk_width

} // namespace velk
