// SPDX-License-Identifier: MIT
// The values of -K and -V: key or vector bytes written as hexadecimal digits,
// given directly, through an environment variable or in a file, so that keys
// exchanged as hex (as `openssl enc -K` takes them) can be used, and kept
// off the command line.
#pragma once

#include <cstddef>
#include <span>
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

// The same for a value that may have any one of `sizes` bytes (increasing,
// none 0): fills `dest`, which holds the largest, and sets `length` to the
// size the digits gave. The message lists the sizes in digits: "KEY:
// expected 16, 32 or 48 hex digits, found 30 characters".
bool parse_hex_value(const char *option, const char *value, std::span<const std::size_t> sizes,
                     unsigned char *dest, std::size_t &length, std::string &error);

// `text` itself as hex digits, for values that are never read from the
// environment or a file: exactly one of `sizes` bytes, or with `sizes` empty
// any whole number of bytes (none too) up to `capacity`. `name` starts the
// message. `dest` is cleared on failure.
bool parse_hex_text(const char *name, const char *text, std::span<const std::size_t> sizes,
                    unsigned char *dest, std::size_t capacity, std::size_t &length,
                    std::string &error);

// Overwrites a command-line argument once it has been read, where the kernel
// shows it to every user (/proc/PID/cmdline, ps). The length stays, so ps
// still lines the arguments up; the text is gone.
void hide_argument(char *arg);

} // namespace velkfile
