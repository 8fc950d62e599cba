// SPDX-License-Identifier: MIT
// Hex key and vector values, from the command line, the environment or a file.
#include "key_text.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "hex_digits.hpp"
#include "wipe.hpp"

namespace velkfile {

namespace {

constexpr char env_prefix[] = "env:";
constexpr char file_prefix[] = "file:";

bool starts_with(const char *text, const char *prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Decodes `length` characters at `text` into `size` bytes; `where` starts the
// message. `cut` marks a file line too long to have been read whole.
bool decode(const std::string &where, const char *text, std::size_t length, bool cut,
            unsigned char *dest, std::size_t size, std::string &error) {
    const std::size_t want = 2 * size;
    if (length != want || cut) {
        error = where + ": expected " + std::to_string(want) + " hex digits, found " +
                (cut ? std::string("a longer line")
                     : std::to_string(length) + (length == 1 ? " character" : " characters"));
        return false;
    }
    // Every digit is decoded the same way whatever it is; only the
    // position of a bad one, which the message gives, is looked at.
    if (const std::size_t bad = decode_hex_digits(text, dest, size); bad != 0) {
        // The position, never the character: it is part of a secret.
        error = where + ": character " + std::to_string(bad) + " is not a hex digit";
        velk::secure_wipe(dest, size);
        return false;
    }
    return true;
}

// The first line of the file at `path`, without its line end (LF or CR LF),
// read into `line` of `capacity` bytes. Sets `cut` when no line end shows
// within them: the line is too long for any valid value.
bool read_first_line(const char *path, char *line, std::size_t capacity, std::size_t &length,
                     bool &cut, int &err) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        err = errno;
        return false;
    }
    length = 0;
    while (length < capacity) {
        const ssize_t n = read(fd, line + length, capacity - length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            err = errno;
            close(fd);
            return false;
        }
        if (n == 0)
            break;
        length += static_cast<std::size_t>(n);
        if (line_length(line, length) < length)
            break;
    }
    close(fd);
    const std::size_t before_line_feed = line_length(line, length);
    cut = before_line_feed == length && length == capacity;
    length = before_line_feed;
    if (!cut)
        length = without_carriage_return(line, length);
    return true;
}

// "16, 32 or 48": the digit counts of `sizes`.
std::string digit_counts(std::span<const std::size_t> sizes) {
    std::string text;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        if (i > 0)
            text += i + 1 == sizes.size() ? " or " : ", ";
        text += std::to_string(2 * sizes[i]);
    }
    return text;
}

// Decodes into whichever of `sizes` the number of digits names.
bool decode_sized(const std::string &where, const char *text, std::size_t length, bool cut,
                  std::span<const std::size_t> sizes, unsigned char *dest, std::size_t &size,
                  std::string &error) {
    size = 0;
    for (std::size_t s : sizes)
        if (!cut && length == 2 * s)
            size = s;
    if (size != 0 || sizes.size() == 1)
        return decode(where, text, length, cut, dest, size != 0 ? size : sizes[0], error);
    error = where + ": expected " + digit_counts(sizes) + " hex digits, found " +
            (cut ? std::string("a longer line")
                 : std::to_string(length) + (length == 1 ? " character" : " characters"));
    return false;
}

// Takes the text of `value` (the digits themselves, env:NAME or file:PATH)
// and hands it to `use(where, text, length, cut)`, `where` naming the option
// and the source for messages. A file's first line is read into room for at
// most `max_size` bytes of digits.
template <class Use>
bool with_value_text(const char *option, const char *value, std::size_t max_size,
                     std::string &error, Use use) {
    const std::string opt = option;
    if (starts_with(value, env_prefix)) {
        const char *name = value + std::strlen(env_prefix);
        if (*name == '\0') {
            error = opt + " " + value + ": no environment variable named";
            return false;
        }
        const char *text = std::getenv(name);
        if (text == nullptr) {
            error = opt + " " + value + ": the environment variable " + name + " is not set";
            return false;
        }
        return use(opt + " " + value, text, std::strlen(text), false);
    }
    if (starts_with(value, file_prefix)) {
        const char *path = value + std::strlen(file_prefix);
        // Room for the digits and a CR LF; a line end must show within it.
        char line[2 * 24 + 2];
        const std::size_t capacity =
            2 * max_size + 2 < sizeof line ? 2 * max_size + 2 : sizeof line;
        std::size_t length = 0;
        bool cut = false;
        int err = 0;
        bool ok = read_first_line(path, line, capacity, length, cut, err);
        if (!ok)
            error = opt + " " + value + ": " + std::strerror(err);
        else
            ok = use(opt + " " + value, line, length, cut);
        velk::secure_wipe(line, sizeof line);
        return ok;
    }
    return use(opt, value, std::strlen(value), false);
}

} // namespace

bool parse_hex_value(const char *option, const char *value, unsigned char *dest, std::size_t size,
                     std::string &error) {
    std::memset(dest, 0, size);
    return with_value_text(
        option, value, size, error,
        [&](const std::string &where, const char *text, std::size_t length, bool cut) {
            return decode(where, text, length, cut, dest, size, error);
        });
}

bool parse_hex_value(const char *option, const char *value, std::span<const std::size_t> sizes,
                     unsigned char *dest, std::size_t &length, std::string &error) {
    length = 0;
    const std::size_t largest = sizes.empty() ? 0 : sizes.back();
    std::memset(dest, 0, largest);
    return with_value_text(
        option, value, largest, error,
        [&](const std::string &where, const char *text, std::size_t n, bool cut) {
            return decode_sized(where, text, n, cut, sizes, dest, length, error);
        });
}

bool parse_hex_text(const char *name, const char *text, std::span<const std::size_t> sizes,
                    unsigned char *dest, std::size_t capacity, std::size_t &length,
                    std::string &error) {
    length = 0;
    if (capacity != 0)
        std::memset(dest, 0, capacity);
    const std::size_t n = std::strlen(text);
    if (!sizes.empty())
        return decode_sized(name, text, n, false, sizes, dest, length, error);
    if (n % 2 != 0) {
        error = std::string(name) + ": expected an even number of hex digits, found " +
                std::to_string(n);
        return false;
    }
    if (n / 2 > capacity) {
        error = std::string(name) + ": more than " + std::to_string(capacity) + " bytes";
        return false;
    }
    if (!decode(name, text, n, false, dest, n / 2, error))
        return false;
    length = n / 2;
    return true;
}

void hide_argument(char *arg) {
    std::memset(arg, 'x', std::strlen(arg));
    __asm__ __volatile__("" : : "r"(arg) : "memory");
}

} // namespace velkfile
