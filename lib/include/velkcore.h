/* velkcore: DES, two-key EDE and three-key EEE triple DES in ECB, CBC,
 * 8-bit CFB and 8-bit OFB.
 *
 * Blocks, keys, chaining values and shift registers are 8-byte arrays, byte 0
 * first; bit 1 of a block is the most significant bit of byte 0. The caller
 * owns every buffer and key schedule; the library allocates nothing, keeps no
 * writable state and may be called from any number of threads at once (as
 * long as no schedule is read while its set-up is still writing it).
 *
 * Pointers and lengths are not validated. Every block and mode function
 * returns 0; the set-ups return a key class (see des_init).
 *
 * Single DES and two-key triple DES are too weak for new designs; this
 * library exists for compatibility with systems that still speak them. */
#ifndef VELKCORE_H
#define VELKCORE_H

#include <stdint.h>

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
 * bytes at `in` to `out`. `in` and `out` may be the same or overlap. */
VELKCORE_API int des_ecbencode(const unsigned char in[8], unsigned char out[8],
                               const des_subkeys ks);
VELKCORE_API int des_ecbdecode(const unsigned char in[8], unsigned char out[8],
                               const des_subkeys ks);

#ifdef __cplusplus
}
#endif

#endif /* VELKCORE_H */
