// SPDX-License-Identifier: MIT
// Feeds arbitrary texts to the key-text parser that velkfile's -K and -V and
// velkpay's keys and hex operands go through, and checks that it accepts
// exactly the texts that are hex digits of an allowed length, that it then
// gives the bytes a plain reading of the digits gives, and that on refusal
// it leaves the key cleared and its message never quotes a text of hex digits.
// env:NAME texts are checked against the variable's value; file: texts are
// only run, with names that hold no slash.
//
// Input layout: one control byte choosing the allowed lengths (bits 0-2),
// then the text, up to its first zero byte.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "key_text.hpp"

namespace {

void require(bool ok) {
    if (!ok)
        __builtin_trap();
}

int digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The bytes of `text` when it is hex digits of one of `sizes` bytes (any
// whole number of bytes up to `capacity` when `sizes` is empty).
bool reference(const std::string &text, std::span<const std::size_t> sizes, std::size_t capacity,
               std::vector<unsigned char> &bytes) {
    bool size_ok = text.size() % 2 == 0 && text.size() / 2 <= capacity;
    if (!sizes.empty()) {
        size_ok = false;
        for (std::size_t s : sizes)
            size_ok = size_ok || text.size() == 2 * s;
    }
    if (!size_ok)
        return false;
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        if (digit(text[i]) < 0 || digit(text[i + 1]) < 0)
            return false;
        bytes.push_back(static_cast<unsigned char>(digit(text[i]) * 16 + digit(text[i + 1])));
    }
    return true;
}

constexpr std::size_t all_lengths[] = {8, 16, 24};
constexpr std::size_t triple_lengths[] = {16, 24};
constexpr std::size_t one_length[] = {16};
const std::array<std::span<const std::size_t>, 3> choices = {
    std::span<const std::size_t>(all_lengths), std::span<const std::size_t>(triple_lengths),
    std::span<const std::size_t>(one_length)};

bool zero(const unsigned char *p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    setenv("KEY", "0123456789abcdefFEDCBA9876543210", 1);
    setenv("ODD", "0123456789ABCDEFFEDCBA987654321", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::string text(reinterpret_cast<const char *>(data + 1),
                           strnlen(reinterpret_cast<const char *>(data + 1), size - 1));
    if (text.find('/') != std::string::npos)
        return 0;
    const bool from_env = text.rfind("env:", 0) == 0;
    const bool from_file = text.rfind("file:", 0) == 0;
    const char *env_value = from_env ? std::getenv(text.c_str() + 4) : nullptr;
    const std::string source = from_env ? (env_value ? env_value : "") : text;
    const bool source_known = !from_file && (!from_env || env_value != nullptr);
    std::string error;
    std::vector<unsigned char> expected;

    // A key of one of several lengths (velkpay's KEY, PEK, BDK).
    const auto sizes = choices[data[0] % 3];
    unsigned char key[24];
    std::memset(key, 0xA5, sizeof key);
    std::size_t length = 99;
    const bool accepted = velkfile::parse_hex_value("KEY", text.c_str(), sizes, key, length, error);
    if (source_known)
        require(accepted == reference(source, sizes, 24, expected));
    if (accepted && source_known) {
        require(length == expected.size() && std::memcmp(key, expected.data(), length) == 0);
    } else if (!accepted) {
        require(zero(key, sizes.back()) && !error.empty() && error.rfind("KEY", 0) == 0);
        // A wrong key is still mostly a key: none of its digits are shown.
        bool digits_only = text.size() >= 8;
        for (char c : text)
            digits_only = digits_only && digit(c) >= 0;
        if (digits_only)
            require(error.find(text) == std::string::npos);
    }

    // A value of one fixed length (velkfile's -K and -V).
    const std::size_t fixed = data[0] & 8 ? 8 : 24;
    const std::size_t fixed_sizes[1] = {fixed};
    std::memset(key, 0xA5, sizeof key);
    const bool fixed_accepted = velkfile::parse_hex_value("-K", text.c_str(), key, fixed, error);
    if (source_known)
        require(fixed_accepted == reference(source, fixed_sizes, 24, expected));
    if (fixed_accepted && source_known)
        require(std::memcmp(key, expected.data(), fixed) == 0);
    else if (!fixed_accepted)
        require(zero(key, fixed));

    // Plain hex operands, of any whole number of bytes up to a capacity.
    const std::size_t capacity = (data[0] >> 4) * 4;
    std::vector<unsigned char> bytes(capacity + 1, 0xA5);
    std::size_t n = 99;
    const bool text_accepted =
        velkfile::parse_hex_text("DATA", text.c_str(), {}, bytes.data(), capacity, n, error);
    require(text_accepted == reference(text, {}, capacity, expected));
    if (text_accepted)
        require(n == expected.size() &&
                (n == 0 || std::memcmp(bytes.data(), expected.data(), n) == 0));
    require(bytes[capacity] == 0xA5); // nothing written past the capacity
    return 0;
}
