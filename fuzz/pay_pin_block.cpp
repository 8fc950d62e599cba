// SPDX-License-Identifier: MIT
// Feeds arbitrary PIN blocks to the decoder and checks what it may do with
// them: accept exactly the blocks whose fields are all valid for their
// format (an independent reading of the fields decides), write nothing when
// it refuses, and return a PIN that encodes to the same block again:
// exactly where the format has no random fill, and in every nibble before
// the fill where it has. The same PIN enciphered under a key deciphers back.
//
// Input layout: one control byte (bits 0-1: format; bits 2-4: PAN length
// 13 + n, 20 and above meaning a PAN of 12 digits, too short), 8 bytes of
// block, 16 bytes of random fill, then PAN digits (each byte mod 10).
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "velkpay.h"

namespace {

void require(bool ok) {
    if (!ok)
        __builtin_trap();
}

using Nibbles = std::array<unsigned, 16>;

Nibbles nibbles_of(const unsigned char block[8]) {
    Nibbles n;
    for (std::size_t i = 0; i < 16; ++i)
        n[i] = i % 2 ? block[i / 2] & 15u : block[i / 2] >> 4;
    return n;
}

// The clear PIN field of a block: formats 0 and 3 XOR in four zero nibbles
// and the 12 PAN digits before the check digit.
Nibbles pin_field(int format, const unsigned char block[8], const char *pan,
                  std::size_t pan_length) {
    Nibbles n = nibbles_of(block);
    if (format == 0 || format == 3)
        for (std::size_t i = 0; i < 12; ++i)
            n[4 + i] ^= static_cast<unsigned>(pan[pan_length - 13 + i] - '0');
    return n;
}

// Whether every field of the clear PIN field is valid for its format.
bool valid_field(int format, const Nibbles &n) {
    if (n[0] != static_cast<unsigned>(format) || n[1] < 4 || n[1] > 12)
        return false;
    for (std::size_t i = 2; i < 2 + n[1]; ++i)
        if (n[i] > 9)
            return false;
    for (std::size_t i = 2 + n[1]; i < 16; ++i) {
        const bool fill_ok = format == 1 ? true : format == 3 ? n[i] >= 10 : n[i] == 15;
        if (!fill_ok)
            return false;
    }
    return true;
}

constexpr unsigned char pek[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                   0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1 + 8 + VELKPAY_PIN_RANDOM_SIZE)
        return 0;
    const int format = data[0] & 3;
    const std::size_t pan_choice = (data[0] >> 2) & 7;
    const std::size_t pan_length = pan_choice == 7 ? 12 : 13 + pan_choice;
    unsigned char block[8];
    std::memcpy(block, data + 1, 8);
    const unsigned char *random = data + 9;
    const unsigned char *rest = data + 9 + VELKPAY_PIN_RANDOM_SIZE;
    const std::size_t rest_size = size - 9 - VELKPAY_PIN_RANDOM_SIZE;
    char pan[19];
    for (std::size_t i = 0; i < pan_length; ++i)
        pan[i] = static_cast<char>('0' + (i < rest_size ? rest[i] % 10 : i % 10));
    const bool uses_pan = format == 0 || format == 3;
    const bool pan_ok = !uses_pan || pan_length >= 13;

    char pin[VELKPAY_PIN_MAX_DIGITS + 4];
    std::memset(pin, '#', sizeof pin);
    std::size_t pin_length = 99;
    const int rc =
        velkpay_pin_block_decode(format, block, uses_pan ? pan : nullptr, uses_pan ? pan_length : 0,
                                 pin, VELKPAY_PIN_MAX_DIGITS, &pin_length);
    const bool valid = pan_ok && valid_field(format, pin_field(format, block, pan, pan_length));
    require((rc == VELKPAY_OK) == valid);
    if (rc != VELKPAY_OK) {
        // Nothing partial: the outputs are as they were.
        require(pin_length == 99);
        for (char c : pin)
            require(c == '#');
        return 0;
    }
    require(pin_length >= 4 && pin_length <= VELKPAY_PIN_MAX_DIGITS);
    for (std::size_t i = 0; i < pin_length; ++i)
        require(pin[i] >= '0' && pin[i] <= '9');
    require(pin[pin_length] == '#');

    // Encoding the PIN gives the block back, up to the random fill.
    unsigned char again[8];
    require(velkpay_pin_block_encode(format, pin, pin_length, uses_pan ? pan : nullptr,
                                     uses_pan ? pan_length : 0, random, again) == VELKPAY_OK);
    const Nibbles before = nibbles_of(block), after = nibbles_of(again);
    const bool random_fill = format == 1 || format == 3;
    const std::size_t fixed = random_fill ? 2 + pin_length : 16;
    for (std::size_t i = 0; i < fixed; ++i)
        require(before[i] == after[i]);
    require(valid_field(format, pin_field(format, again, pan, pan_length)));

    // Enciphered under a key, the same PIN deciphers back.
    unsigned char enciphered[8];
    require(velkpay_pin_block_encipher(format, pin, pin_length, uses_pan ? pan : nullptr,
                                       uses_pan ? pan_length : 0, random, enciphered, pek,
                                       sizeof pek) == VELKPAY_OK);
    char back[VELKPAY_PIN_MAX_DIGITS];
    std::size_t back_length = 0;
    require(velkpay_pin_block_decipher(format, enciphered, uses_pan ? pan : nullptr,
                                       uses_pan ? pan_length : 0, back, sizeof back, &back_length,
                                       pek, sizeof pek) == VELKPAY_OK);
    require(back_length == pin_length && std::memcmp(back, pin, pin_length) == 0);
    return 0;
}
