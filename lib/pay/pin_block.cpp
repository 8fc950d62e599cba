// SPDX-License-Identifier: MIT
// ISO 9564-1 PIN blocks, formats 0 to 3: a PIN field of 16 nibbles (the
// format, the PIN length, the PIN digits, then the format's fill), XORed in
// formats 0 and 3 with a field of four zero nibbles and twelve PAN digits.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "schedules.hpp"
#include "system_random.hpp"
#include "velkcore.hpp"
#include "velkpay.h"
#include "wipe.hpp"

namespace {

using velk::Block;
using Nibbles = std::array<unsigned char, 16>;

constexpr std::size_t min_pin = 4;
constexpr std::size_t max_pin = VELKPAY_PIN_MAX_DIGITS;
constexpr std::size_t min_pan = 13;
constexpr std::size_t max_pan = 19;
constexpr std::size_t pan_digits_used = 12;
constexpr unsigned char plain_fill = 0xF;
// Format 3 fills with the nibbles that are no decimal digit, A to F.
constexpr unsigned char format3_fill_low = 0xA;
constexpr unsigned format3_fill_values = 6;

static_assert(2 + max_pin <= Nibbles{}.size(), "the longest PIN leaves room for its header");

bool all_decimal(const char *s, std::size_t n) noexcept {
    return std::all_of(s, s + n, [](char c) { return c >= '0' && c <= '9'; });
}

bool known_format(int format) noexcept {
    return format >= 0 && format <= 3;
}

bool pan_format(int format) noexcept {
    return format == 0 || format == 3;
}

bool random_format(int format) noexcept {
    return format == 1 || format == 3;
}

int check_pin(const char *pin, std::size_t n) noexcept {
    if (pin == nullptr)
        return VELKPAY_E_ARGUMENT;
    if (n < min_pin || n > max_pin || !all_decimal(pin, n))
        return VELKPAY_E_PIN;
    return VELKPAY_OK;
}

// The PAN field: four zero nibbles and the twelve digits before the check
// digit, which is the PAN's last. Formats 1 and 2 use no PAN; their field is
// zero and `pan` is not read.
int pan_field(int format, const char *pan, std::size_t n, Block &field) noexcept {
    field.fill(0);
    if (!pan_format(format))
        return VELKPAY_OK;
    if (pan == nullptr || n < min_pan || n > max_pan || !all_decimal(pan, n))
        return VELKPAY_E_PAN;
    const char *digits = pan + n - 1 - pan_digits_used;
    for (std::size_t i = 0; i < pan_digits_used; ++i) {
        const auto d = static_cast<unsigned char>(digits[i] - '0');
        const std::size_t nibble = 4 + i;
        field[nibble / 2] |= static_cast<unsigned char>(nibble % 2 ? d : d << 4);
    }
    return VELKPAY_OK;
}

// The fill nibbles of formats 1 and 3 as the base-`radix` digits of the
// random bytes read as one 128-bit number. In base 16 they are exactly its
// low nibbles, each uniform. In base 6 (format 3) at most 10 digits are
// taken; 6^10 does not divide 2^128, so the digits are not exactly uniform,
// but no pattern of them is more or less likely than uniform by more than
// 6^10 / 2^128 (below 2^-101).
void draw_fill(std::span<const unsigned char, VELKPAY_PIN_RANDOM_SIZE> random, unsigned radix,
               unsigned char low, std::span<unsigned char> fill) noexcept {
    std::array<unsigned char, VELKPAY_PIN_RANDOM_SIZE> number;
    std::copy(random.begin(), random.end(), number.begin());
    for (unsigned char &nibble : fill) {
        unsigned remainder = 0;
        for (unsigned char &byte : number) {
            const unsigned value = remainder << 8 | byte;
            byte = static_cast<unsigned char>(value / radix);
            remainder = value % radix;
        }
        nibble = static_cast<unsigned char>(low + remainder);
    }
    velk::secure_wipe(number.data(), number.size());
}

void pack(const Nibbles &nibbles, const Block &pan, Block &block) noexcept {
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<unsigned char>((nibbles[2 * i] << 4 | nibbles[2 * i + 1]) ^ pan[i]);
}

int encode(int format, const char *pin, std::size_t pin_length, const char *pan,
           std::size_t pan_length, const unsigned char *random, Block &block) noexcept {
    if (!known_format(format))
        return VELKPAY_E_PIN_FORMAT;
    if (const int r = check_pin(pin, pin_length); r != VELKPAY_OK)
        return r;
    Block pan_bits;
    if (const int r = pan_field(format, pan, pan_length, pan_bits); r != VELKPAY_OK)
        return r;

    Nibbles nibbles;
    nibbles[0] = static_cast<unsigned char>(format);
    nibbles[1] = static_cast<unsigned char>(pin_length);
    for (std::size_t i = 0; i < pin_length; ++i)
        nibbles[2 + i] = static_cast<unsigned char>(pin[i] - '0');
    const std::span<unsigned char> fill = std::span(nibbles).subspan(2 + pin_length);
    if (random_format(format)) {
        std::array<unsigned char, VELKPAY_PIN_RANDOM_SIZE> bytes;
        if (random != nullptr) {
            std::copy(random, random + bytes.size(), bytes.begin());
        } else if (const int r = velk::pay::system_random(bytes); r != VELKPAY_OK) {
            velk::secure_wipe(nibbles.data(), nibbles.size());
            return r;
        }
        if (format == 1)
            draw_fill(bytes, 16, 0, fill);
        else
            draw_fill(bytes, format3_fill_values, format3_fill_low, fill);
        velk::secure_wipe(bytes.data(), bytes.size());
    } else {
        std::fill(fill.begin(), fill.end(), plain_fill);
    }
    pack(nibbles, pan_bits, block);
    velk::secure_wipe(nibbles.data(), nibbles.size());
    return VELKPAY_OK;
}

bool fill_allowed(int format, unsigned char nibble) noexcept {
    switch (format) {
    case 1:
        return true;
    case 3:
        return nibble >= format3_fill_low;
    default:
        return nibble == plain_fill;
    }
}

// Checks the fields in the order they stand, so that a block wrong in
// several is refused for its first: control, length, digits, fill. The
// digits and the fill are all looked at whatever they hold.
int decode(int format, const Block &block, const char *pan, std::size_t pan_length,
           std::array<char, max_pin> &pin, std::size_t &pin_length) noexcept {
    if (!known_format(format))
        return VELKPAY_E_PIN_FORMAT;
    Block pan_bits;
    if (const int r = pan_field(format, pan, pan_length, pan_bits); r != VELKPAY_OK)
        return r;
    Nibbles nibbles;
    for (std::size_t i = 0; i < block.size(); ++i) {
        const auto b = static_cast<unsigned char>(block[i] ^ pan_bits[i]);
        nibbles[2 * i] = static_cast<unsigned char>(b >> 4);
        nibbles[2 * i + 1] = static_cast<unsigned char>(b & 0xF);
    }
    int result = VELKPAY_OK;
    const std::size_t n = nibbles[1];
    if (nibbles[0] != format) {
        result = VELKPAY_E_PIN_CONTROL;
    } else if (n < min_pin || n > max_pin) {
        result = VELKPAY_E_PIN_LENGTH;
    } else {
        bool digits_ok = true, fill_ok = true;
        for (std::size_t i = 0; i < n; ++i) {
            digits_ok &= nibbles[2 + i] <= 9;
            pin[i] = static_cast<char>('0' + nibbles[2 + i]);
        }
        for (std::size_t i = 2 + n; i < nibbles.size(); ++i)
            fill_ok &= fill_allowed(format, nibbles[i]);
        result = !digits_ok ? VELKPAY_E_PIN_DIGIT : !fill_ok ? VELKPAY_E_PIN_FILL : VELKPAY_OK;
        pin_length = n;
    }
    velk::secure_wipe(nibbles.data(), nibbles.size());
    return result;
}

// Hands a decoded PIN to the caller, or nothing when it was refused or does
// not fit; the library's copy is wiped either way.
int deliver(int result, std::array<char, max_pin> &digits, std::size_t n, char *pin,
            std::size_t capacity, std::size_t *pin_length) noexcept {
    if (result == VELKPAY_OK && n > capacity)
        result = VELKPAY_E_BUFFER;
    if (result == VELKPAY_OK) {
        std::copy(digits.begin(), digits.begin() + static_cast<std::ptrdiff_t>(n), pin);
        *pin_length = n;
    }
    velk::secure_wipe(digits.data(), digits.size());
    return result;
}

} // namespace

extern "C" {

int velkpay_pin_block_encode(int format, const char *pin, size_t pin_length, const char *pan,
                             size_t pan_length, const unsigned char *random,
                             unsigned char block[8]) {
    if (block == nullptr)
        return VELKPAY_E_ARGUMENT;
    Block clear;
    const int result = encode(format, pin, pin_length, pan, pan_length, random, clear);
    if (result == VELKPAY_OK)
        std::copy(clear.begin(), clear.end(), block);
    velk::secure_wipe(clear.data(), clear.size());
    return result;
}

int velkpay_pin_block_decode(int format, const unsigned char block[8], const char *pan,
                             size_t pan_length, char *pin, size_t pin_capacity,
                             size_t *pin_length) {
    if (block == nullptr || pin == nullptr || pin_length == nullptr)
        return VELKPAY_E_ARGUMENT;
    Block clear;
    std::copy(block, block + 8, clear.begin());
    std::array<char, max_pin> digits;
    std::size_t n = 0;
    const int result = decode(format, clear, pan, pan_length, digits, n);
    velk::secure_wipe(clear.data(), clear.size());
    return deliver(result, digits, n, pin, pin_capacity, pin_length);
}

int velkpay_pin_block_encipher(int format, const char *pin, size_t pin_length, const char *pan,
                               size_t pan_length, const unsigned char *random,
                               unsigned char block[8], const unsigned char *pek,
                               size_t pek_length) {
    if (block == nullptr || pek == nullptr)
        return VELKPAY_E_ARGUMENT;
    Block clear, enciphered;
    int result = encode(format, pin, pin_length, pan, pan_length, random, clear);
    if (result == VELKPAY_OK)
        result = velk::pay::with_tdes_schedule(
            pek, pek_length, [&](const auto &s) { s.ecb_encrypt(clear, enciphered); });
    if (result == VELKPAY_OK)
        std::copy(enciphered.begin(), enciphered.end(), block);
    velk::secure_wipe(clear.data(), clear.size());
    return result;
}

int velkpay_pin_block_decipher(int format, const unsigned char block[8], const char *pan,
                               size_t pan_length, char *pin, size_t pin_capacity,
                               size_t *pin_length, const unsigned char *pek, size_t pek_length) {
    if (block == nullptr || pin == nullptr || pin_length == nullptr || pek == nullptr)
        return VELKPAY_E_ARGUMENT;
    Block enciphered, clear;
    std::copy(block, block + 8, enciphered.begin());
    int result = velk::pay::with_tdes_schedule(
        pek, pek_length, [&](const auto &s) { s.ecb_decrypt(enciphered, clear); });
    std::array<char, max_pin> digits;
    std::size_t n = 0;
    if (result == VELKPAY_OK)
        result = decode(format, clear, pan, pan_length, digits, n);
    velk::secure_wipe(clear.data(), clear.size());
    return deliver(result, digits, n, pin, pin_capacity, pin_length);
}

} // extern "C"
