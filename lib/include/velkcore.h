/* SPDX-License-Identifier: MIT */
/* velkcore: DES, two-key EDE and three-key EEE triple DES in ECB, CBC,
 * 8-bit CFB and 8-bit OFB.
 *
 * The three-key family here is encrypt-encrypt-encrypt. The three-key triple
 * DES of NIST SP 800-67, velkfile and OpenSSL's des-ede3 is
 * encrypt-decrypt-encrypt, another cipher: des_cbc3EEEdecode cannot read
 * their data. Build it from des_init, des_ecbencode and des_ecbdecode
 * (velkcore(3), EXAMPLES) or use velk::Ede3Schedule in velkcore.hpp.
 *
 * Blocks, keys, chaining values and shift registers are 8-byte arrays, byte 0
 * first; bit 1 of a block is the most significant bit of byte 0. The caller
 * owns every buffer and key schedule; the library allocates nothing and may be
 * called from any number of threads at once (as long as no schedule is read
 * while its set-up is still writing it). The only writable data it holds is
 * one word caching the processor's features, read on first use.
 *
 * Key set-ups are constant-time in the key in every build (no branch and no
 * memory address depends on it); built with VELK_CONSTANT_TIME, so is every
 * function in its keys and data. See velkcore(3), SECURITY.
 *
 * Pointers and lengths are not validated. Every block and mode function
 * returns 0; the set-ups return a key class (see des_init).
 *
 * Single DES and two-key triple DES are too weak for new designs; this
 * library exists for compatibility with systems that still speak them. */
#ifndef VELKCORE_H
#define VELKCORE_H

#include <stdint.h>

/* The version of velk this header belongs to. The build takes its version
 * from these lines, so the shared library, the CMake package and velkcore.pc
 * carry the same number. */
#define VELKCORE_VERSION_MAJOR 1
#define VELKCORE_VERSION_MINOR 0
#define VELKCORE_VERSION_PATCH 0
#define VELKCORE_VERSION_STRING "1.0.0"

#if defined(VELKCORE_BUILD) && (defined(__GNUC__) || defined(__clang__))
#define VELKCORE_API __attribute__((visibility("default")))
#else
#define VELKCORE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The key schedule of one 8-byte DES key: 32 words, two per round (round r
 * owns words 2(r-1) and 2(r-1)+1). The even word holds the round's 6-bit
 * subkey groups G1, G3, G5, G7 in bits 29-24, 21-16, 13-8 and 5-0; the odd
 * word holds G2, G4, G6, G8 in the same places; all other bits are zero.
 * One schedule serves encryption and decryption. */
typedef uint32_t des_subkeys[32];

/* Key classes returned by the set-ups. A triple set-up returns the OR of the
 * classes of its keys, so 3 (one weak and one semi-weak key) can occur.
 * No function refuses a key because of its class. */
#define DES_KEY_NORMAL 0
#define DES_KEY_WEAK 1
#define DES_KEY_SEMIWEAK 2

/* Builds the schedule of the 8 bytes at `key` into `ks` (all 32 words are
 * written; parity bits are ignored) and returns the key's class: 1 when the
 * key equals, byte for byte with parity bits, one of the weak keys
 * 0101010101010101, FEFEFEFEFEFEFEFE, 1F1F1F1F0E0E0E0E, E0E0E0E0F1F1F1F1;
 * 2 when it equals one of the twelve semi-weak keys 01FE01FE01FE01FE,
 * FE01FE01FE01FE01, 1FE01FE00EF10EF1, E01FE01FF10EF10E, 01E001E001F101F1,
 * E001E001F101F101, 1FFE1FFE0EFE0EFE, FE1FFE1FFE0EFE0E, 011F011F010E010E,
 * 1F011F010E010E01, E0FEE0FEF1FEF1FE, FEE0FEE0FEF1FEF1; 0 otherwise.
 * `keylen` is accepted for compatibility and never read. */
VELKCORE_API int des_init(const unsigned char key[8], int keylen, des_subkeys ks);

/* Single-DES ECB on one block: writes the encryption (decryption) of the 8
 * bytes at `in` to `out`. All 8 bytes are read before any is written, so `in`
 * and `out` may be the same or overlap in any way; so may those of the
 * triple-DES ECB functions below. */
VELKCORE_API int des_ecbencode(const unsigned char in[8], unsigned char out[8],
                               const des_subkeys ks);
VELKCORE_API int des_ecbdecode(const unsigned char in[8], unsigned char out[8],
                               const des_subkeys ks);

/* Single-DES CBC on one block. Encode writes E(in XOR ivec) to `out`; decode
 * writes ivec XOR D(in). `ivec` is only read: the caller carries the chain,
 * passing the last cipher block as the next call's `ivec`. `in` and `ivec`
 * are read whole before `out` is written, so `out` may be or overlap either
 * of them in any way (here and in the triple-DES CBC functions). */
VELKCORE_API int des_cbcencode(const unsigned char in[8], unsigned char out[8],
                               const unsigned char ivec[8], const des_subkeys ks);
VELKCORE_API int des_cbcdecode(const unsigned char in[8], unsigned char out[8],
                               const unsigned char ivec[8], const des_subkeys ks);

/* Single-DES 8-bit CFB and OFB over `length` bytes. Each byte is XORed with
 * the first byte of the encrypted register `reg`, which then shifts one byte
 * left and takes in the cipher byte (CFB) or the keystream byte (OFB). `reg`
 * is rewritten, so a stream may be split across calls at any byte. Only the
 * encrypting direction of the cipher is used; OFB encode and decode are the
 * same transformation. `out` may be `in`; no other overlap is supported, nor a
 * register that overlaps the data.
 *
 * `length` is 32 bits here and in the triple-DES CFB and OFB functions below:
 * at most UINT32_MAX bytes (4 GiB - 1) per call. C converts a size_t of
 * 4 GiB or more to uint32_t silently (only -Wconversion warns), and the call
 * then processes just the low 32 bits of the count and reports nothing. Split
 * longer streams into calls of at most UINT32_MAX bytes each; the register
 * carries the stream from call to call. The C++ interface (velkcore.hpp)
 * splits them itself. */
VELKCORE_API int des_cfbencode(const unsigned char *in, unsigned char *out, uint32_t length,
                               unsigned char reg[8], const des_subkeys ks);
VELKCORE_API int des_cfbdecode(const unsigned char *in, unsigned char *out, uint32_t length,
                               unsigned char reg[8], const des_subkeys ks);
VELKCORE_API int des_ofbencode(const unsigned char *in, unsigned char *out, uint32_t length,
                               unsigned char reg[8], const des_subkeys ks);
VELKCORE_API int des_ofbdecode(const unsigned char *in, unsigned char *out, uint32_t length,
                               unsigned char reg[8], const des_subkeys ks);

/* Two-key triple DES, encrypt-decrypt-encrypt: E1(D2(E1(x))), decoded as
 * D1(E2(D1(x))), keying option 2 of NIST SP 800-67; OpenSSL's des-ede and
 * des-ede-cbc, or its three-key EDE with K3 = K1, give the same bytes. The
 * set-up builds ks1 from key bytes 0-7 and ks2 from bytes
 * 8-15 and returns the OR of their classes (see des_init); `keylen` is never
 * read. The mode functions follow the single-DES ones above, the 32-bit
 * stream `length` included. */
VELKCORE_API int des_3EDEinit(const unsigned char key[16], int keylen, des_subkeys ks1,
                              des_subkeys ks2);
VELKCORE_API int des_ecb3EDEencode(const unsigned char in[8], unsigned char out[8],
                                   const des_subkeys ks1, const des_subkeys ks2);
VELKCORE_API int des_ecb3EDEdecode(const unsigned char in[8], unsigned char out[8],
                                   const des_subkeys ks1, const des_subkeys ks2);
VELKCORE_API int des_cbc3EDEencode(const unsigned char in[8], unsigned char out[8],
                                   const unsigned char ivec[8], const des_subkeys ks1,
                                   const des_subkeys ks2);
VELKCORE_API int des_cbc3EDEdecode(const unsigned char in[8], unsigned char out[8],
                                   const unsigned char ivec[8], const des_subkeys ks1,
                                   const des_subkeys ks2);
VELKCORE_API int des_cfb3EDEencode(const unsigned char *in, unsigned char *out, uint32_t length,
                                   unsigned char reg[8], const des_subkeys ks1,
                                   const des_subkeys ks2);
VELKCORE_API int des_cfb3EDEdecode(const unsigned char *in, unsigned char *out, uint32_t length,
                                   unsigned char reg[8], const des_subkeys ks1,
                                   const des_subkeys ks2);
VELKCORE_API int des_ofb3EDEencode(const unsigned char *in, unsigned char *out, uint32_t length,
                                   unsigned char reg[8], const des_subkeys ks1,
                                   const des_subkeys ks2);
VELKCORE_API int des_ofb3EDEdecode(const unsigned char *in, unsigned char *out, uint32_t length,
                                   unsigned char reg[8], const des_subkeys ks1,
                                   const des_subkeys ks2);

/* Three-key triple DES, encrypt-encrypt-encrypt: E3(E2(E1(x))), decoded as
 * D1(D2(D3(x))). Not the EDE of NIST SP 800-67 and OpenSSL's des-ede3 (see
 * the top of this file). The set-up builds ks1, ks2, ks3 from key bytes 0-7, 8-15 and
 * 16-23 and returns the OR of their classes; `keylen` is never read. The
 * schedules are always passed first key first, in both directions. The
 * stream `length` is 32 bits, as for des_cfbencode: split longer streams. */
VELKCORE_API int des_3EEEinit(const unsigned char key[24], int keylen, des_subkeys ks1,
                              des_subkeys ks2, des_subkeys ks3);
VELKCORE_API int des_ecb3EEEencode(const unsigned char in[8], unsigned char out[8],
                                   const des_subkeys ks1, const des_subkeys ks2,
                                   const des_subkeys ks3);
VELKCORE_API int des_ecb3EEEdecode(const unsigned char in[8], unsigned char out[8],
                                   const des_subkeys ks1, const des_subkeys ks2,
                                   const des_subkeys ks3);
VELKCORE_API int des_cbc3EEEencode(const unsigned char in[8], unsigned char out[8],
                                   const unsigned char ivec[8], const des_subkeys ks1,
                                   const des_subkeys ks2, const des_subkeys ks3);
VELKCORE_API int des_cbc3EEEdecode(const unsigned char in[8], unsigned char out[8],
                                   const unsigned char ivec[8], const des_subkeys ks1,
                                   const des_subkeys ks2, const des_subkeys ks3);
VELKCORE_API int des_cfb3EEEencode(const unsigned char *in, unsigned char *out, uint32_t length,
                                   unsigned char reg[8], const des_subkeys ks1,
                                   const des_subkeys ks2, const des_subkeys ks3);
VELKCORE_API int des_cfb3EEEdecode(const unsigned char *in, unsigned char *out, uint32_t length,
                                   unsigned char reg[8], const des_subkeys ks1,
                                   const des_subkeys ks2, const des_subkeys ks3);
VELKCORE_API int des_ofb3EEEencode(const unsigned char *in, unsigned char *out, uint32_t length,
                                   unsigned char reg[8], const des_subkeys ks1,
                                   const des_subkeys ks2, const des_subkeys ks3);
VELKCORE_API int des_ofb3EEEdecode(const unsigned char *in, unsigned char *out, uint32_t length,
                                   unsigned char reg[8], const des_subkeys ks1,
                                   const des_subkeys ks2, const des_subkeys ks3);

#ifdef __cplusplus
}
#endif

#endif /* VELKCORE_H */
