/* SPDX-License-Identifier: MIT */
/* velkpay: the triple-DES computations of payment and smart-card systems,
 * on velkcore: three-key and two-key EDE triple DES over many blocks,
 * TDES-CMAC, key check values, the MACs of ISO/IEC 9797-1, triple-DES DUKPT
 * and ISO 9564-1 PIN blocks.
 *
 * Triple DES here is always encrypt-decrypt-encrypt (NIST SP 800-67): a
 * 24-byte key is K1 K2 K3, a 16-byte key K1 K2 with K3 = K1, and an 8-byte
 * key, where a function takes one, single DES. Blocks, keys, KSNs and MACs
 * are byte arrays, byte 0 first.
 *
 * The caller owns every buffer and passes its length; the library allocates
 * nothing, keeps no writable state of its own but the processor-feature word
 * of the many-block engine, and may be called from any number of threads at
 * once. Keys, intermediate keys, PIN digits and DUKPT registers that a
 * function holds in its own storage are wiped before it returns.
 *
 * Every function but velkpay_strerror and velkpay_dukpt_device_wipe returns
 * 0 on success or one of the negative VELKPAY_E_* codes below, each for one
 * cause; a refused call writes nothing to any output. A
 * null pointer where data is required is refused with VELKPAY_E_ARGUMENT;
 * a null pointer with a length of 0 is accepted where the data may be empty.
 *
 * Single DES and two-key triple DES are too weak for new designs; this
 * library exists for the systems that still speak them. */
#ifndef VELKPAY_H
#define VELKPAY_H

#include <stddef.h>
#include <stdint.h>

#if defined(VELKPAY_BUILD) && (defined(__GNUC__) || defined(__clang__))
#define VELKPAY_API __attribute__((visibility("default")))
#else
#define VELKPAY_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results. */
#define VELKPAY_OK 0
#define VELKPAY_E_ARGUMENT (-1)        /* a null pointer or an argument out of range */
#define VELKPAY_E_KEY_LENGTH (-2)      /* a key of a length the function does not take */
#define VELKPAY_E_DATA_LENGTH (-3)     /* data that is not a whole number of 8-byte blocks */
#define VELKPAY_E_BUFFER (-4)          /* an output buffer too small for the result */
#define VELKPAY_E_PADDING (-5)         /* an unknown ISO/IEC 9797-1 padding method */
#define VELKPAY_E_KCV_LENGTH (-6)      /* a key check value length outside 2 to 8 bytes */
#define VELKPAY_E_KEY_USAGE (-7)       /* an unknown DUKPT key usage */
#define VELKPAY_E_DUKPT_STATE (-8)     /* a DUKPT device state that is corrupt */
#define VELKPAY_E_DUKPT_EXHAUSTED (-9) /* a DUKPT device that has used its last key */
#define VELKPAY_E_PIN_FORMAT (-10)     /* a PIN block format other than 0, 1, 2 and 3 */
#define VELKPAY_E_PIN (-11)            /* a PIN that is not 4 to 12 decimal digits */
#define VELKPAY_E_PAN (-12)            /* a PAN that is not 13 to 19 decimal digits, or none */
#define VELKPAY_E_PIN_CONTROL (-13)    /* a PIN block whose control field is not its format's */
#define VELKPAY_E_PIN_LENGTH (-14)     /* a PIN block whose length field is not 4 to 12 */
#define VELKPAY_E_PIN_DIGIT (-15)      /* a PIN block with a PIN digit that is not 0 to 9 */
#define VELKPAY_E_PIN_FILL (-16)       /* a PIN block whose fill is not its format's */
#define VELKPAY_E_RANDOM (-17)         /* the system's random source failed */

/* A fixed English text naming `code` (0 too); an unknown code gives
 * "unknown velkpay error". The text is static: never free or write it. */
VELKPAY_API const char *velkpay_strerror(int code);

/* ---- Triple DES over many blocks ------------------------------------- */

/* Three-key (24-byte key) or two-key (16-byte key) EDE triple DES in ECB
 * over the `length` bytes at `in`, which must be a whole number of blocks
 * (0 too), written to `out`. `out` may equal `in`; no other overlap. Many
 * blocks run on the bitsliced engine, constant-time in key and data; a call
 * of 64 blocks or more uses about 80 KiB of stack. */
VELKPAY_API int velkpay_tdes_ecb_encrypt(const unsigned char *in, unsigned char *out,
                                         size_t length, const unsigned char *key,
                                         size_t key_length);
VELKPAY_API int velkpay_tdes_ecb_decrypt(const unsigned char *in, unsigned char *out,
                                         size_t length, const unsigned char *key,
                                         size_t key_length);

/* CBC under the same keys. `iv` holds the chaining value and is rewritten
 * with the last cipher block, so that the next call continues the chain.
 * Decryption runs on the bitsliced engine as ECB does; encryption chains and
 * runs one block at a time. The same rules for lengths and overlap. */
VELKPAY_API int velkpay_tdes_cbc_encrypt(const unsigned char *in, unsigned char *out,
                                         size_t length, unsigned char iv[8],
                                         const unsigned char *key, size_t key_length);
VELKPAY_API int velkpay_tdes_cbc_decrypt(const unsigned char *in, unsigned char *out,
                                         size_t length, unsigned char iv[8],
                                         const unsigned char *key, size_t key_length);

/* ---- MACs and key check values ---------------------------------------- */

/* TDES-CMAC (NIST SP 800-38B) of the `length` bytes at `data` (0 too) under
 * an 8-byte (single DES), 16-byte or 24-byte key: writes the 8-byte tag to
 * `mac`. */
VELKPAY_API int velkpay_cmac(const unsigned char *data, size_t length, unsigned char mac[8],
                             const unsigned char *key, size_t key_length);

/* ISO/IEC 9797-1 padding methods. Method 1 adds zero bytes up to a whole
 * block (none to whole blocks, one zero block to empty data); method 2 adds
 * 0x80 and then zero bytes; method 3 puts the data's length in bits, as a
 * 64-bit big-endian block, before the method-1-padded data. */
#define VELKPAY_PAD_METHOD1 1
#define VELKPAY_PAD_METHOD2 2
#define VELKPAY_PAD_METHOD3 3

/* ISO/IEC 9797-1 MAC algorithm 1 (CBC-MAC from a zero vector) of the padded
 * data under an 8-, 16- or 24-byte key: writes the last cipher block, the
 * whole 8 bytes, to `mac`; truncating it is the caller's step. */
VELKPAY_API int velkpay_mac_alg1(const unsigned char *data, size_t length, int padding,
                                 unsigned char mac[8], const unsigned char *key,
                                 size_t key_length);

/* ISO/IEC 9797-1 MAC algorithm 3, the retail MAC of ANSI X9.19: single-DES
 * CBC-MAC under K, the last block then decrypted under K' and encrypted
 * under K; the 16-byte key is K K'. Writes the whole 8-byte block. */
VELKPAY_API int velkpay_mac_alg3(const unsigned char *data, size_t length, int padding,
                                 unsigned char mac[8], const unsigned char key[16]);

/* The legacy key check value: the first `kcv_length` (2 to 8; 3 is usual)
 * bytes of the encryption of a zero block under an 8-, 16- or 24-byte key,
 * written to `kcv`. */
VELKPAY_API int velkpay_kcv(const unsigned char *key, size_t key_length, unsigned char *kcv,
                            size_t kcv_length);

/* The CMAC key check value of ANSI X9.24-1:2017: the first 5 bytes of the
 * TDES-CMAC of a zero block under an 8-, 16- or 24-byte key. */
VELKPAY_API int velkpay_kcv_cmac(const unsigned char *key, size_t key_length,
                                 unsigned char kcv[5]);

/* ---- DUKPT, triple DES (ANSI X9.24-1:2009) ----------------------------- */

/* A BDK is 16 bytes; a KSN is 10 bytes, its last 21 bits the transaction
 * counter; IPEKs and transaction keys are 16-byte two-key triple-DES keys. */
#define VELKPAY_DUKPT_BDK_SIZE 16
#define VELKPAY_DUKPT_KSN_SIZE 10
#define VELKPAY_DUKPT_KEY_SIZE 16

/* The initial key (IPEK) of the device whose KSN is `ksn` (its counter
 * bits are ignored), derived from the BDK. */
VELKPAY_API int velkpay_dukpt_ipek(const unsigned char bdk[16], const unsigned char ksn[10],
                                   unsigned char ipek[16]);

/* The host side: the transaction key of `ksn`, for any counter (counters
 * with more than ten 1-bits too; counter 0 gives the IPEK). */
VELKPAY_API int velkpay_dukpt_transaction_key(const unsigned char bdk[16],
                                              const unsigned char ksn[10],
                                              unsigned char key[16]);

/* The working keys derived from a transaction key: the PIN key, the MAC
 * request and response keys (variants), and the data request and response
 * keys (variants followed by the one-way step of X9.24-1:2009). */
#define VELKPAY_DUKPT_PIN 1
#define VELKPAY_DUKPT_MAC_REQUEST 2
#define VELKPAY_DUKPT_MAC_RESPONSE 3
#define VELKPAY_DUKPT_DATA_REQUEST 4
#define VELKPAY_DUKPT_DATA_RESPONSE 5
VELKPAY_API int velkpay_dukpt_working_key(const unsigned char transaction_key[16], int usage,
                                          unsigned char key[16]);

/* The device side: the originating algorithm with its 21 future-key
 * registers. The state is the caller's: save it as its bytes, load it by
 * reading them back; every call checks it first and refuses a corrupt one
 * (VELKPAY_E_DUKPT_STATE) and one whose keys are used up
 * (VELKPAY_E_DUKPT_EXHAUSTED), never using either. Its layout is internal. */
typedef struct velkpay_dukpt_device {
    unsigned char opaque[400];
} velkpay_dukpt_device;

/* Loads the IPEK and the initial KSN (its counter bits must be 0) into a
 * new device state, computing the first future keys. */
VELKPAY_API int velkpay_dukpt_device_init(velkpay_dukpt_device *device,
                                          const unsigned char ipek[16],
                                          const unsigned char initial_ksn[10]);

/* The next transaction: writes its KSN and its transaction key, then moves
 * the state on to the next counter with at most ten 1-bits (skipping the
 * others, as X9.24-1 does); after the last such counter the state is
 * exhausted. */
VELKPAY_API int velkpay_dukpt_device_next(velkpay_dukpt_device *device, unsigned char ksn[10],
                                          unsigned char key[16]);

/* 0 when the state is sound and has a key left, otherwise the code the
 * other device functions would refuse it with. Reads only. */
VELKPAY_API int velkpay_dukpt_device_check(const velkpay_dukpt_device *device);

/* Wipes a device state (every byte becomes 0; the state is then corrupt). */
VELKPAY_API void velkpay_dukpt_device_wipe(velkpay_dukpt_device *device);

/* ---- PIN blocks (ISO 9564-1 formats 0, 1, 2 and 3) -------------------- */

/* PINs are 4 to 12 ASCII digits, PANs 13 to 19 (formats 0 and 3 use the 12
 * rightmost digits without the check digit; formats 1 and 2 take none, and
 * `pan` may then be null). The random fill of formats 1 and 3 comes from the
 * caller's `random` (VELKPAY_PIN_RANDOM_SIZE bytes) or, when it is null,
 * from the system (getrandom). */
#define VELKPAY_PIN_RANDOM_SIZE 16
#define VELKPAY_PIN_MAX_DIGITS 12

/* Writes the clear 8-byte PIN block of format 0, 1, 2 or 3. */
VELKPAY_API int velkpay_pin_block_encode(int format, const char *pin, size_t pin_length,
                                         const char *pan, size_t pan_length,
                                         const unsigned char *random, unsigned char block[8]);

/* Reads a clear PIN block: checks its control field, PIN length, PIN digits
 * and fill, and writes the PIN's digits to `pin` (at most `pin_capacity`
 * bytes, no terminating zero) and their number to `*pin_length`. */
VELKPAY_API int velkpay_pin_block_decode(int format, const unsigned char block[8],
                                         const char *pan, size_t pan_length, char *pin,
                                         size_t pin_capacity, size_t *pin_length);

/* The same, with the block enciphered in ECB under a 16- or 24-byte triple-DES
 * PIN key (`pek`); the clear block never leaves the library. */
VELKPAY_API int velkpay_pin_block_encipher(int format, const char *pin, size_t pin_length,
                                           const char *pan, size_t pan_length,
                                           const unsigned char *random, unsigned char block[8],
                                           const unsigned char *pek, size_t pek_length);
VELKPAY_API int velkpay_pin_block_decipher(int format, const unsigned char block[8],
                                           const char *pan, size_t pan_length, char *pin,
                                           size_t pin_capacity, size_t *pin_length,
                                           const unsigned char *pek, size_t pek_length);

/* ---- TR-31 key blocks (versions A, B and C) --------------------------- */

/* A key block is text: a 16-character header, optional blocks, the
 * encrypted key data in hex and the MAC in hex. The key block protection
 * key (KBPK) is a 16- or 24-byte triple-DES key. Version B derives its
 * encryption and MAC keys from the KBPK with TDES-CMAC in counter mode and
 * carries an 8-byte CMAC over the header and the clear key data; versions
 * A and C take the KBPK with every byte XORed with 0x45 and 0x4D and carry
 * a 4-byte CBC-MAC over the header and the encrypted data. Header fields are
 * case-sensitive; the hex after them may be in either case and is written
 * upper-case. A block is at most 9999 characters. */
#define VELKPAY_TR31_HEADER_SIZE 16
#define VELKPAY_TR31_MAX_BLOCK 9999
#define VELKPAY_TR31_MAX_OPTIONAL_BLOCKS 99
/* The most random bytes a wrap's padding takes (see velkpay_tr31_wrap). */
#define VELKPAY_TR31_RANDOM_SIZE 48

/* One optional block: its two-character ID and where its data (the
 * characters after the ID and the length field) stands in the block text
 * that was unwrapped. */
typedef struct velkpay_tr31_optional_block {
    char id[3];      /* e.g. "KS", zero-terminated */
    uint16_t offset; /* index of the data's first character in the block */
    uint16_t length; /* number of data characters */
} velkpay_tr31_optional_block;

/* The header of a key block, every field checked. The strings are
 * zero-terminated copies of the header's characters. */
typedef struct velkpay_tr31_header {
    char version;            /* 'A', 'B' or 'C' */
    uint16_t block_length;   /* the whole block, in characters */
    char key_usage[3];       /* e.g. "P0" */
    char algorithm;          /* e.g. 'T' */
    char mode_of_use;        /* e.g. 'E' */
    char key_version[3];     /* "00" when the key carries no version */
    char exportability;      /* 'E', 'N' or 'S' */
    uint16_t header_length;  /* header and optional blocks: the characters
                                before the encrypted data */
    unsigned optional_block_count;
    velkpay_tr31_optional_block optional_blocks[VELKPAY_TR31_MAX_OPTIONAL_BLOCKS];
} velkpay_tr31_header;

/* Results of the key-block functions, each for one cause. */
#define VELKPAY_E_TR31_VERSION (-40)       /* a version other than A, B and C */
#define VELKPAY_E_TR31_LENGTH_FIELD (-41)  /* a length field that is not four decimal digits */
#define VELKPAY_E_TR31_TRUNCATED (-42)     /* a block shorter than its length field or header */
#define VELKPAY_E_TR31_OVERLONG (-43)      /* a block longer than its length field */
#define VELKPAY_E_TR31_KEY_USAGE (-44)     /* a key usage not two upper-case letters or digits */
#define VELKPAY_E_TR31_ALGORITHM (-45)     /* an unknown algorithm */
#define VELKPAY_E_TR31_MODE (-46)          /* an unknown mode of use */
#define VELKPAY_E_TR31_KEY_VERSION (-47)   /* a key version number not two letters or digits */
#define VELKPAY_E_TR31_EXPORTABILITY (-48) /* an exportability other than E, N and S */
#define VELKPAY_E_TR31_BLOCK_COUNT (-49)   /* an optional-block count that is not two digits,
                                              or (wrap) not the blocks that follow */
#define VELKPAY_E_TR31_RESERVED (-50)      /* a reserved field other than 00 */
#define VELKPAY_E_TR31_OPTIONAL_BLOCK (-51) /* an optional block with a bad ID, length or
                                               content, or running past the block */
#define VELKPAY_E_TR31_PB_NOT_LAST (-52)   /* a padding block (PB) before another block */
#define VELKPAY_E_TR31_ALIGNMENT (-53)     /* optional blocks not a multiple of 8 characters */
#define VELKPAY_E_TR31_ENCODING (-54)      /* encrypted data or MAC not hex, or not whole
                                              8-byte blocks */
#define VELKPAY_E_TR31_MAC (-55)           /* a MAC that does not match: a wrong KBPK or an
                                              altered block */
#define VELKPAY_E_TR31_KEY_LENGTH (-56)    /* a key length field of 0, not whole bytes, or
                                              past the key data */
#define VELKPAY_E_TR31_TOO_LARGE (-57)     /* a block that would pass 9999 characters */

/* Flags of velkpay_tr31_wrap. By default the key is padded as if it were
 * the longest key of its algorithm (24 bytes for T, 8 for D, 32 for A), so
 * that the block does not tell a 16-byte key from a 24-byte one, and
 * optional blocks that do not end on a multiple of 8 characters are
 * completed with a PB block of '0' characters. */
#define VELKPAY_TR31_PAD_SHORT 1     /* pad the key data only to whole 8-byte blocks */
#define VELKPAY_TR31_NO_PB 2         /* refuse misaligned optional blocks instead */

/* Wraps the `key_length`-byte key under the KBPK into a key block written
 * to `block` (no terminating zero; its length to `*block_length`). `header`
 * is the 16-character header, whose length field may be any four digits
 * (it is computed), followed by its optional blocks. The padding is the
 * first bytes of `random` (VELKPAY_TR31_RANDOM_SIZE bytes) or, when it is
 * null, comes from the system. */
VELKPAY_API int velkpay_tr31_wrap(const char *header, size_t header_length,
                                  const unsigned char *key, size_t key_length, int flags,
                                  const unsigned char *random, const unsigned char *kbpk,
                                  size_t kbpk_length, char *block, size_t block_capacity,
                                  size_t *block_length);

/* Unwraps the `length` characters at `block`: checks every header field,
 * the optional blocks, the length and the MAC (in constant time) before it
 * writes the key to `key` (at most `key_capacity` bytes), its length to
 * `*key_length` and the header to `*header`. A refused block writes none of
 * them, and what was decrypted is wiped. */
VELKPAY_API int velkpay_tr31_unwrap(const char *block, size_t length,
                                    const unsigned char *kbpk, size_t kbpk_length,
                                    unsigned char *key, size_t key_capacity,
                                    size_t *key_length, velkpay_tr31_header *header);

#ifdef __cplusplus
}
#endif

#endif /* VELKPAY_H */
