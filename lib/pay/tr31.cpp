// SPDX-License-Identifier: MIT
// Key blocks of versions A, B and C under a triple-DES key block protection
// key: the header read and checked field by field, the clear key data (its
// length in bits, the key, padding) enciphered in CBC, and the MAC that binds
// both. The ciphers and MACs are the library's own functions; this file only
// frames them.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "system_random.hpp"
#include "tr31_keys.hpp"
#include "velkcore.hpp"
#include "velkpay.h"

namespace {

using velk::detail::wipe;

constexpr std::size_t header_size = VELKPAY_TR31_HEADER_SIZE;
constexpr std::size_t max_block = VELKPAY_TR31_MAX_BLOCK;
constexpr std::size_t block_bytes = 8;
// The clear key data of the longest block: two hex characters a byte, after
// at least the header and the shortest MAC, in whole cipher blocks.
constexpr std::size_t max_payload = (max_block - header_size - 8) / 2 / block_bytes * block_bytes;
static_assert(max_payload == 4984);

// ---- Characters ----------------------------------------------------------

constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
constexpr bool is_upper(char c) noexcept { return c >= 'A' && c <= 'Z'; }
constexpr bool is_lower(char c) noexcept { return c >= 'a' && c <= 'z'; }
constexpr bool is_upper_or_digit(char c) noexcept { return is_upper(c) || is_digit(c); }
constexpr bool is_printable(char c) noexcept { return c >= 0x20 && c <= 0x7E; }

constexpr bool one_of(char c, const char *set) noexcept {
    for (; *set != '\0'; ++set)
        if (c == *set)
            return true;
    return false;
}

// The value of one hex digit, or -1. Header fields take upper case only; the
// encrypted data and the MAC take either case.
constexpr int hex_value(char c, bool either_case) noexcept {
    if (is_digit(c))
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (either_case && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The number written by `count` characters in base 10 or 16, or -1 when one
// is not a digit of that base.
long read_number(const char *text, std::size_t count, int base) noexcept {
    long value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int d = base == 10 ? (is_digit(text[i]) ? text[i] - '0' : -1)
                                 : hex_value(text[i], false);
        if (d < 0)
            return -1;
        value = value * base + d;
    }
    return value;
}

constexpr char hex_digit(unsigned v) noexcept { return "0123456789ABCDEF"[v & 0xFu]; }

void write_hex(const unsigned char *bytes, std::size_t count, char *out) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        out[2 * i] = hex_digit(bytes[i] >> 4);
        out[2 * i + 1] = hex_digit(bytes[i]);
    }
}

// False when a character is not a hex digit.
bool read_hex(const char *text, std::size_t bytes, unsigned char *out) noexcept {
    for (std::size_t i = 0; i < bytes; ++i) {
        const int hi = hex_value(text[2 * i], true);
        const int lo = hex_value(text[2 * i + 1], true);
        if (hi < 0 || lo < 0)
            return false;
        out[i] = static_cast<unsigned char>(hi << 4 | lo);
    }
    return true;
}

// ---- The header ------------------------------------------------------------

// What the fixed fields may hold. Digits in the algorithm and the mode of use
// are the values left to proprietary use.
constexpr const char *algorithms = "ADEHRST";
constexpr const char *modes_of_use = "BCDEGNSTVXY";
constexpr const char *exportabilities = "ENS";

// Reads the version and the length field. When `whole` is set the text is a
// whole block, and the length field must be its length.
int read_version_and_length(const char *text, std::size_t length, bool whole) noexcept {
    if (length < 1)
        return VELKPAY_E_TR31_TRUNCATED;
    if (!one_of(text[0], "ABC"))
        return VELKPAY_E_TR31_VERSION;
    if (length < 5)
        return VELKPAY_E_TR31_TRUNCATED;
    const long stated = read_number(text + 1, 4, 10);
    if (stated < 0)
        return VELKPAY_E_TR31_LENGTH_FIELD;
    if (whole && length < static_cast<std::size_t>(stated))
        return VELKPAY_E_TR31_TRUNCATED;
    if (whole && length > static_cast<std::size_t>(stated))
        return VELKPAY_E_TR31_OVERLONG;
    return length < header_size ? VELKPAY_E_TR31_TRUNCATED : VELKPAY_OK;
}

int read_fixed_fields(const char *text, velkpay_tr31_header &h) noexcept {
    if (!is_upper_or_digit(text[5]) || !is_upper_or_digit(text[6]))
        return VELKPAY_E_TR31_KEY_USAGE;
    if (!one_of(text[7], algorithms) && !is_digit(text[7]))
        return VELKPAY_E_TR31_ALGORITHM;
    if (!one_of(text[8], modes_of_use) && !is_digit(text[8]))
        return VELKPAY_E_TR31_MODE;
    for (int i = 9; i <= 10; ++i)
        if (!is_upper_or_digit(text[i]) && !is_lower(text[i]))
            return VELKPAY_E_TR31_KEY_VERSION;
    if (!one_of(text[11], exportabilities))
        return VELKPAY_E_TR31_EXPORTABILITY;
    const long count = read_number(text + 12, 2, 10);
    if (count < 0)
        return VELKPAY_E_TR31_BLOCK_COUNT;
    if (text[14] != '0' || text[15] != '0')
        return VELKPAY_E_TR31_RESERVED;

    h.version = text[0];
    h.block_length = static_cast<std::uint16_t>(read_number(text + 1, 4, 10));
    h.key_usage[0] = text[5];
    h.key_usage[1] = text[6];
    h.algorithm = text[7];
    h.mode_of_use = text[8];
    h.key_version[0] = text[9];
    h.key_version[1] = text[10];
    h.exportability = text[11];
    h.optional_block_count = static_cast<unsigned>(count);
    return VELKPAY_OK;
}

// Reads the optional block at `at` and moves `at` past it, reading nothing
// at or past `limit`: its ID, its length in the short form (two hex digits)
// or the extended one ("00", two hex digits for the number of length
// digits, then those digits), and its printable data. The length counts the
// whole optional block.
int read_optional_block(const char *text, std::size_t limit, std::size_t &at,
                        velkpay_tr31_optional_block &block) noexcept {
    const std::size_t start = at;
    if (limit - start < 4)
        return VELKPAY_E_TR31_OPTIONAL_BLOCK;
    if (!is_upper_or_digit(text[start]) || !is_upper_or_digit(text[start + 1]))
        return VELKPAY_E_TR31_OPTIONAL_BLOCK;
    long total = read_number(text + start + 2, 2, 16);
    std::size_t data = start + 4;
    if (total == 0) {
        if (limit - start < 6)
            return VELKPAY_E_TR31_OPTIONAL_BLOCK;
        const long digits = read_number(text + start + 4, 2, 16);
        if (digits < 1 || digits > 4 || limit - start < 6 + static_cast<std::size_t>(digits))
            return VELKPAY_E_TR31_OPTIONAL_BLOCK;
        total = read_number(text + start + 6, static_cast<std::size_t>(digits), 16);
        data = start + 6 + static_cast<std::size_t>(digits);
    }
    if (total < 0 || static_cast<std::size_t>(total) < data - start ||
        static_cast<std::size_t>(total) > limit - start)
        return VELKPAY_E_TR31_OPTIONAL_BLOCK;
    at = start + static_cast<std::size_t>(total);
    for (std::size_t i = data; i < at; ++i)
        if (!is_printable(text[i]))
            return VELKPAY_E_TR31_OPTIONAL_BLOCK;
    block.id[0] = text[start];
    block.id[1] = text[start + 1];
    block.id[2] = '\0';
    block.offset = static_cast<std::uint16_t>(data);
    block.length = static_cast<std::uint16_t>(at - data);
    return VELKPAY_OK;
}

bool is_padding_block(const velkpay_tr31_optional_block &b) noexcept {
    return b.id[0] == 'P' && b.id[1] == 'B';
}

// Reads and checks the header and its optional blocks at the start of the
// `length` characters at `text`: a whole block when `whole` is set, else
// exactly a header to wrap under. The optional blocks' total is left to the
// caller: unwrap refuses it misaligned, wrap may complete it.
int read_header(const char *text, std::size_t length, bool whole,
                velkpay_tr31_header &h) noexcept {
    h = velkpay_tr31_header{};
    if (const int rc = read_version_and_length(text, length, whole); rc != VELKPAY_OK)
        return rc;
    if (const int rc = read_fixed_fields(text, h); rc != VELKPAY_OK)
        return rc;
    std::size_t at = header_size;
    for (unsigned i = 0; i < h.optional_block_count; ++i) {
        if (i > 0 && is_padding_block(h.optional_blocks[i - 1]))
            return VELKPAY_E_TR31_PB_NOT_LAST;
        if (const int rc = read_optional_block(text, length, at, h.optional_blocks[i]);
            rc != VELKPAY_OK)
            return rc;
    }
    if (!whole && at != length)
        return VELKPAY_E_TR31_BLOCK_COUNT;
    h.header_length = static_cast<std::uint16_t>(at);
    return VELKPAY_OK;
}

// ---- Keys and MACs ---------------------------------------------------------

using velk::pay::binds_by_derivation;
using velk::pay::block_keys;
using Key = velk::pay::BlockKey;

std::size_t mac_size(char version) noexcept { return binds_by_derivation(version) ? 8 : 4; }

bool equal_in_constant_time(const unsigned char *a, const unsigned char *b,
                            std::size_t n) noexcept {
    unsigned diff = 0;
    for (std::size_t i = 0; i < n; ++i)
        diff |= static_cast<unsigned>(a[i] ^ b[i]);
    return diff == 0;
}

// What one wrap or unwrap holds: the MAC's input (the header's characters,
// then the clear key data for B or the encrypted data for A and C), the
// clear key data, the keys. Cleared however the call ends.
struct Work {
    std::array<unsigned char, max_block> mac_input;
    std::array<unsigned char, max_payload> clear;
    std::array<unsigned char, max_payload> encrypted;
    Key kbek;
    Key kbak;
    std::array<unsigned char, 8> mac;

    Work() noexcept = default;
    Work(const Work &) = delete;
    Work &operator=(const Work &) = delete;
    ~Work() {
        wipe(mac_input);
        wipe(clear);
        wipe(kbek);
        wipe(kbak);
    }
};

// The MAC of a header of `header_length` characters, already in
// w.mac_input, over the payload of `payload` bytes: the CMAC of the clear
// data for B, the first half of the CBC-MAC of the encrypted data for A and
// C. Writes w.mac.
void compute_mac(Work &w, char version, std::size_t header_length, std::size_t payload,
                 std::size_t key_length) noexcept {
    const unsigned char *data = binds_by_derivation(version) ? w.clear.data() : w.encrypted.data();
    std::memcpy(w.mac_input.data() + header_length, data, payload);
    if (binds_by_derivation(version))
        velkpay_cmac(w.mac_input.data(), header_length + payload, w.mac.data(), w.kbak.data(),
                     key_length);
    else
        velkpay_mac_alg1(w.mac_input.data(), header_length + payload, VELKPAY_PAD_METHOD1,
                         w.mac.data(), w.kbak.data(), key_length);
}

// The CBC chaining value: the MAC for B, the header's first 8 characters for
// A and C.
std::array<unsigned char, 8> chaining_value(const Work &w, char version) noexcept {
    std::array<unsigned char, 8> iv;
    std::copy_n(binds_by_derivation(version) ? w.mac.data() : w.mac_input.data(), 8, iv.data());
    return iv;
}

// The longest key of an algorithm, in bytes: what the default padding hides
// the key's length behind. Others have no single longest key.
std::size_t longest_key(char algorithm, std::size_t key_length) noexcept {
    switch (algorithm) {
    case 'T':
        return 24;
    case 'D':
        return 8;
    case 'A':
        return 32;
    default:
        return key_length;
    }
}

constexpr std::size_t round_up(std::size_t n) noexcept {
    return (n + block_bytes - 1) / block_bytes * block_bytes;
}

// The padding block that completes `optional_total` characters of optional
// blocks to a multiple of 8: at least its ID and length.
constexpr std::size_t padding_block_size(std::size_t optional_total) noexcept {
    const std::size_t missing = (block_bytes - optional_total % block_bytes) % block_bytes;
    return missing == 0 ? 0 : (missing < 4 ? missing + block_bytes : missing);
}

void write_digits(char *out, std::size_t value, std::size_t count) noexcept {
    for (std::size_t i = count; i-- > 0; value /= 10)
        out[i] = static_cast<char>('0' + value % 10);
}

} // namespace

namespace velk::pay {

void block_keys(char version, const unsigned char *kbpk, std::size_t kbpk_length,
                BlockKey &kbek, BlockKey &kbak) noexcept {
    if (!binds_by_derivation(version)) {
        for (std::size_t i = 0; i < kbpk_length; ++i) {
            kbek[i] = static_cast<unsigned char>(kbpk[i] ^ 0x45u);
            kbak[i] = static_cast<unsigned char>(kbpk[i] ^ 0x4Du);
        }
        return;
    }
    // One 8-byte CMAC per 8 bytes of derived key, over a block that names
    // the counter, the key's use (0 encryption, 1 MAC), a zero separator,
    // the KBPK's kind (0 two-key, 1 three-key) and the derived length in bits.
    const bool three_key = kbpk_length == 24;
    for (unsigned usage = 0; usage <= 1; ++usage) {
        BlockKey &out = usage == 0 ? kbek : kbak;
        for (std::size_t part = 0; part < kbpk_length / 8; ++part) {
            const std::array<unsigned char, 8> input{
                static_cast<unsigned char>(part + 1), 0x00, static_cast<unsigned char>(usage),
                0x00, 0x00, static_cast<unsigned char>(three_key ? 1 : 0), 0x00,
                static_cast<unsigned char>(three_key ? 0xC0 : 0x80)};
            velkpay_cmac(input.data(), input.size(), out.data() + 8 * part, kbpk, kbpk_length);
        }
    }
}

} // namespace velk::pay

extern "C" VELKPAY_API int velkpay_tr31_wrap(const char *header, std::size_t header_length,
                                             const unsigned char *key, std::size_t key_length,
                                             int flags, const unsigned char *random,
                                             const unsigned char *kbpk, std::size_t kbpk_length,
                                             char *block, std::size_t block_capacity,
                                             std::size_t *block_length) {
    if (header == nullptr || (key == nullptr && key_length != 0) || kbpk == nullptr ||
        block == nullptr ||
        block_length == nullptr || (flags & ~(VELKPAY_TR31_PAD_SHORT | VELKPAY_TR31_NO_PB)) != 0)
        return VELKPAY_E_ARGUMENT;
    if ((kbpk_length != 16 && kbpk_length != 24) || key_length == 0)
        return VELKPAY_E_KEY_LENGTH;
    velkpay_tr31_header h;
    if (const int rc = read_header(header, header_length, false, h); rc != VELKPAY_OK)
        return rc;

    const std::size_t optional_total = header_length - header_size;
    const std::size_t pb = padding_block_size(optional_total);
    if (pb != 0) {
        const bool last_is_pb = h.optional_block_count > 0 &&
                                is_padding_block(h.optional_blocks[h.optional_block_count - 1]);
        if ((flags & VELKPAY_TR31_NO_PB) != 0 || last_is_pb)
            return VELKPAY_E_TR31_ALIGNMENT;
        if (h.optional_block_count == VELKPAY_TR31_MAX_OPTIONAL_BLOCKS)
            return VELKPAY_E_TR31_BLOCK_COUNT;
    }
    const std::size_t padded_key = (flags & VELKPAY_TR31_PAD_SHORT) != 0
                                       ? key_length
                                       : std::max(key_length, longest_key(h.algorithm, key_length));
    if (key_length > max_payload)
        return VELKPAY_E_TR31_TOO_LARGE;
    const std::size_t payload = round_up(2 + padded_key);
    const std::size_t full_header = header_length + pb;
    const std::size_t total = full_header + 2 * payload + 2 * mac_size(h.version);
    if (total > max_block)
        return VELKPAY_E_TR31_TOO_LARGE;
    if (total > block_capacity)
        return VELKPAY_E_BUFFER;

    Work w;
    const std::size_t padding = payload - 2 - key_length;
    if (random != nullptr)
        std::memcpy(w.clear.data() + 2 + key_length, random, padding);
    else if (const int rc = velk::pay::system_random({w.clear.data() + 2 + key_length, padding});
             rc != VELKPAY_OK)
        return rc;
    w.clear[0] = static_cast<unsigned char>(key_length * 8 >> 8);
    w.clear[1] = static_cast<unsigned char>(key_length * 8);
    std::memcpy(w.clear.data() + 2, key, key_length);

    // The header as the block carries it: its true length, and the padding
    // block counted and appended.
    unsigned char *text = w.mac_input.data();
    std::memcpy(text, header, header_length);
    write_digits(reinterpret_cast<char *>(text) + 1, total, 4);
    if (pb != 0) {
        write_digits(reinterpret_cast<char *>(text) + 12, h.optional_block_count + 1, 2);
        unsigned char *p = text + header_length;
        p[0] = 'P';
        p[1] = 'B';
        p[2] = static_cast<unsigned char>(hex_digit(static_cast<unsigned>(pb >> 4)));
        p[3] = static_cast<unsigned char>(hex_digit(static_cast<unsigned>(pb)));
        std::memset(p + 4, '0', pb - 4);
    }

    block_keys(h.version, kbpk, kbpk_length, w.kbek, w.kbak);
    if (binds_by_derivation(h.version)) {
        compute_mac(w, h.version, full_header, payload, kbpk_length);
        auto iv = chaining_value(w, h.version);
        velkpay_tdes_cbc_encrypt(w.clear.data(), w.encrypted.data(), payload, iv.data(),
                                 w.kbek.data(), kbpk_length);
    } else {
        auto iv = chaining_value(w, h.version);
        velkpay_tdes_cbc_encrypt(w.clear.data(), w.encrypted.data(), payload, iv.data(),
                                 w.kbek.data(), kbpk_length);
        compute_mac(w, h.version, full_header, payload, kbpk_length);
    }

    std::memcpy(block, text, full_header);
    write_hex(w.encrypted.data(), payload, block + full_header);
    write_hex(w.mac.data(), mac_size(h.version), block + full_header + 2 * payload);
    *block_length = total;
    return VELKPAY_OK;
}

extern "C" VELKPAY_API int velkpay_tr31_unwrap(const char *block, std::size_t length,
                                               const unsigned char *kbpk,
                                               std::size_t kbpk_length, unsigned char *key,
                                               std::size_t key_capacity,
                                               std::size_t *key_length,
                                               velkpay_tr31_header *header) {
    if (block == nullptr || kbpk == nullptr || key == nullptr || key_length == nullptr)
        return VELKPAY_E_ARGUMENT;
    if (kbpk_length != 16 && kbpk_length != 24)
        return VELKPAY_E_KEY_LENGTH;
    velkpay_tr31_header h;
    if (const int rc = read_header(block, length, true, h); rc != VELKPAY_OK)
        return rc;
    if ((h.header_length - header_size) % block_bytes != 0)
        return VELKPAY_E_TR31_ALIGNMENT;

    // What follows the header: whole cipher blocks in hex, then the MAC.
    const std::size_t mac_chars = 2 * mac_size(h.version);
    const std::size_t rest = length - h.header_length;
    if (rest < mac_chars + 2 * block_bytes || (rest - mac_chars) % (2 * block_bytes) != 0)
        return VELKPAY_E_TR31_ENCODING;
    const std::size_t payload = (rest - mac_chars) / 2;
    const char *hex = block + h.header_length;

    Work w;
    std::array<unsigned char, 8> received{};
    if (!read_hex(hex, payload, w.encrypted.data()) ||
        !read_hex(hex + 2 * payload, mac_size(h.version), received.data()))
        return VELKPAY_E_TR31_ENCODING;
    std::memcpy(w.mac_input.data(), block, h.header_length);

    block_keys(h.version, kbpk, kbpk_length, w.kbek, w.kbak);
    if (binds_by_derivation(h.version)) {
        // The MAC is the chaining value, and it covers the clear data.
        w.mac = received;
        auto iv = chaining_value(w, h.version);
        velkpay_tdes_cbc_decrypt(w.encrypted.data(), w.clear.data(), payload, iv.data(),
                                 w.kbek.data(), kbpk_length);
        compute_mac(w, h.version, h.header_length, payload, kbpk_length);
        if (!equal_in_constant_time(w.mac.data(), received.data(), mac_size(h.version)))
            return VELKPAY_E_TR31_MAC;
    } else {
        compute_mac(w, h.version, h.header_length, payload, kbpk_length);
        if (!equal_in_constant_time(w.mac.data(), received.data(), mac_size(h.version)))
            return VELKPAY_E_TR31_MAC;
        auto iv = chaining_value(w, h.version);
        velkpay_tdes_cbc_decrypt(w.encrypted.data(), w.clear.data(), payload, iv.data(),
                                 w.kbek.data(), kbpk_length);
    }

    const std::size_t bits = std::size_t{w.clear[0]} << 8 | w.clear[1];
    if (bits == 0 || bits % 8 != 0 || 2 + bits / 8 > payload)
        return VELKPAY_E_TR31_KEY_LENGTH;
    if (bits / 8 > key_capacity)
        return VELKPAY_E_BUFFER;
    std::memcpy(key, w.clear.data() + 2, bits / 8);
    *key_length = bits / 8;
    if (header != nullptr)
        *header = h;
    return VELKPAY_OK;
}
