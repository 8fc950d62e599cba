// SPDX-License-Identifier: MIT
// Hex digits to bytes, and the end of a line of them, with no branch and no
// memory address that depends on a character: key and vector texts are
// secrets, and the key set-up and the many-block path that take them over
// are constant-time, so the way from the command line must not give them
// away first. What these functions return is not secret: a length, and the
// position of the first character that is no hex digit, which the program
// reports.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velkfile {

namespace hex_detail {

// All ones when `c` (a byte) is in lo..hi, else 0.
constexpr std::uint32_t in_range(std::uint32_t c, std::uint32_t lo, std::uint32_t hi) {
    // Either difference wraps to a number with its top bit set when `c`
    // lies outside.
    return (((c - lo) | (hi - c)) >> 31) - 1u;
}

// All ones when `x` is 0 (x below 2^31), else 0.
constexpr std::uint32_t zero_mask(std::uint32_t x) {
    return ((x | (0u - x)) >> 31) - 1u;
}

// All ones when `a` equals `b`, else 0.
constexpr std::size_t equal_mask(std::size_t a, std::size_t b) {
    const std::size_t d = a ^ b;
    return ((d | (std::size_t{0} - d)) >> (8 * sizeof(std::size_t) - 1)) - 1u;
}

} // namespace hex_detail

// Decodes the 2*size characters at `text` into `size` bytes at `dest`,
// upper and lower case alike. Returns 0 when every character is a hex
// digit, otherwise the position (from 1) of the first that is not; `dest`
// then holds bytes the caller must wipe.
inline std::size_t decode_hex_digits(const char *text, unsigned char *dest, std::size_t size) {
    using namespace hex_detail;
    std::uint32_t first_bad = 0;
    for (std::size_t i = 0; i < 2 * size; ++i) {
        const std::uint32_t c = static_cast<unsigned char>(text[i]);
        const std::uint32_t digit = in_range(c, '0', '9');
        const std::uint32_t lower = in_range(c, 'a', 'f');
        const std::uint32_t upper = in_range(c, 'A', 'F');
        const std::uint32_t value =
            ((c - '0') & digit) | ((c - 'a' + 10) & lower) | ((c - 'A' + 10) & upper);
        const std::uint32_t bad = ~(digit | lower | upper);
        first_bad |= static_cast<std::uint32_t>(i + 1) & bad & zero_mask(first_bad);
        if (i % 2 == 0)
            dest[i / 2] = static_cast<unsigned char>((value & 0xF) << 4);
        else
            dest[i / 2] = static_cast<unsigned char>(dest[i / 2] | (value & 0xF));
    }
    return first_bad;
}

// The number of characters at `text` before the first line feed among its
// first `n`, or `n` when there is none.
inline std::size_t line_length(const char *text, std::size_t n) {
    using namespace hex_detail;
    std::size_t length = n, found = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t here = equal_mask(static_cast<unsigned char>(text[i]), '\n') & ~found;
        length = (length & ~here) | (i & here);
        found |= here;
    }
    return length;
}

// `length` less one when the line at `text` ends in a carriage return (a
// CR LF line end), else `length`.
inline std::size_t without_carriage_return(const char *text, std::size_t length) {
    if (length == 0)
        return 0;
    const std::size_t last = static_cast<unsigned char>(text[length - 1]);
    return length - (hex_detail::equal_mask(last, '\r') & 1u);
}

} // namespace velkfile
