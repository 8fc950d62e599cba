// Three-key EDE triple DES over many blocks at once, for callers that hold a
// whole buffer of independent blocks (ECB both ways, CBC decryption). The
// results are exactly those of the one-block functions; only the way of
// computing differs. Internal to the library and never exported.
//
// Each call works in its own frame (no allocation, nothing shared), about
// 76 KiB of stack at the wide width: the key bits of all 48 rounds as whole
// vectors, and one batch of blocks on its side.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velk {

// E_K3(D_K2(E_K1(x))) of each of the `blocks` 8-byte blocks at `in`, written
// to `out`. `out` may equal `in`; otherwise the two must not overlap.
void ede3_encrypt_blocks(const unsigned char *in, unsigned char *out, std::size_t blocks,
                         const std::uint32_t *k1, const std::uint32_t *k2, const std::uint32_t *k3);

// D_K1(E_K2(D_K3(x))), the inverse, under the same rules.
void ede3_decrypt_blocks(const unsigned char *in, unsigned char *out, std::size_t blocks,
                         const std::uint32_t *k1, const std::uint32_t *k2, const std::uint32_t *k3);

// CBC decryption: block i becomes D_K1(E_K2(D_K3(C_i))) XOR C_(i-1), with
// C_(-1) the 8 bytes at `chain`. On return `chain` holds the last cipher
// block, so that the next buffer continues the chain. With no blocks nothing
// is read or written.
void ede3_cbc_decrypt_blocks(const unsigned char *in, unsigned char *out, std::size_t blocks,
                             unsigned char chain[8], const std::uint32_t *k1,
                             const std::uint32_t *k2, const std::uint32_t *k3);

// CBC encryption, which chains and so stays one block at a time: block i
// becomes E_K3(D_K2(E_K1(P_i XOR C_(i-1)))), with C_(-1) the 8 bytes at
// `chain`, each block permuted once on the way in and once on the way out
// and the chain kept in registers from block to block. On return `chain`
// holds the last cipher block. `out` may equal `in`.
void ede3_cbc_encrypt_blocks(const unsigned char *in, unsigned char *out, std::size_t blocks,
                             unsigned char chain[8], const std::uint32_t *k1,
                             const std::uint32_t *k2, const std::uint32_t *k3);

// The two widths of the many-block path, which the functions above choose
// between: `baseline` (128 blocks at a time) runs on any processor, `wide`
// (256 at a time, AVX2) only where wide_available() says so; elsewhere it is
// the baseline. Exposed so that tests can hold both to the same bytes.
// `decrypt` selects D_K1(E_K2(D_K3(x))); blocks may be 0.
namespace bulk_width {
void ede3_ecb_baseline(const unsigned char *in, unsigned char *out, std::size_t blocks,
                       const std::uint32_t *k1, const std::uint32_t *k2, const std::uint32_t *k3,
                       bool decrypt);
void ede3_ecb_wide(const unsigned char *in, unsigned char *out, std::size_t blocks,
                   const std::uint32_t *k1, const std::uint32_t *k2, const std::uint32_t *k3,
                   bool decrypt);
void ede3_cbc_decrypt_baseline(const unsigned char *in, unsigned char *out, std::size_t blocks,
                               unsigned char chain[8], const std::uint32_t *k1,
                               const std::uint32_t *k2, const std::uint32_t *k3);
void ede3_cbc_decrypt_wide(const unsigned char *in, unsigned char *out, std::size_t blocks,
                           unsigned char chain[8], const std::uint32_t *k1, const std::uint32_t *k2,
                           const std::uint32_t *k3);
bool wide_available();
} // namespace bulk_width

} // namespace velk
