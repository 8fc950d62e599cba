// SPDX-License-Identifier: MIT
// The values of -K and -V: key or vector bytes written as hexadecimal digits,
// given directly, through an environment variable or in a file, so that keys
// exchanged as hex (as `openssl enc -K` takes them) can be used, and kept
// off the command line.
#pragma once

#include <cstddef>
#include <string>

namespace velkfile {

// Fills `size` bytes at `dest` from `value`, which is one of
//   HEX         exactly 2*size hex digits, upper or lower case;
//   env:NAME    the same digits, held by the environment variable NAME;
//   file:PATH   the same digits, on the first line of the file PATH.
// Returns true on success. Otherwise `dest` is cleared and `error` says what
// is wrong, without quoting any digit: "-K: expected 48 hex digits, found 47".
// `option` names the option in the message. Every copy of the digits made on
// the way is wiped.
bool parse_hex_value(const char *option, const char *value, unsigned char *dest, std::size_t size,
                     std::string &error);

} // namespace velkfile
