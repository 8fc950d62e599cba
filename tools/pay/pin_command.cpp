// SPDX-License-Identifier: MIT
// velkpay pin: ISO 9564-1 PIN blocks of formats 0 to 3, clear or enciphered
// under a PIN key, both ways.
#include <cstring>
#include <string>

#include "commands.hpp"
#include "velkpay.h"

namespace velkpay::cli {

namespace {

struct PinArguments {
    bool decode = false;
    int format = 0;
    char *pek = nullptr; // null: a clear block
    char *pin_or_block = nullptr;
    const char *pan = nullptr; // null for formats 1 and 2
};

// The library's causes named after the operand they concern.
const char *operand_of(int code, bool decode) {
    switch (code) {
    case VELKPAY_E_PIN:
        return "PIN";
    case VELKPAY_E_PAN:
        return "PAN";
    case VELKPAY_E_KEY_LENGTH:
        return "PEK";
    case VELKPAY_E_RANDOM:
        return "random fill";
    default:
        return decode ? "BLOCK" : "PIN";
    }
}

int encode(const PinArguments &a, const Io &io) {
    Key pek;
    if (a.pek != nullptr && !read_key(io, "PEK", a.pek, triple_key_sizes, pek))
        return exit_refused;
    // The PIN leaves the argument list for storage that is wiped.
    const std::size_t pin_length = std::strlen(a.pin_or_block);
    Bytes pin(a.pin_or_block, a.pin_or_block + pin_length);
    hide_argument(a.pin_or_block);
    const char *pin_text = pin.empty() ? "" : reinterpret_cast<const char *>(pin.data());
    const std::size_t pan_length = a.pan != nullptr ? std::strlen(a.pan) : 0;
    unsigned char block[8];
    const int rc = a.pek != nullptr ? velkpay_pin_block_encipher(a.format, pin_text, pin_length,
                                                                 a.pan, pan_length, nullptr, block,
                                                                 pek.bytes, pek.length)
                                    : velkpay_pin_block_encode(a.format, pin_text, pin_length,
                                                               a.pan, pan_length, nullptr, block);
    if (rc != VELKPAY_OK)
        return refuse_code(io, operand_of(rc, false), rc);
    put_hex(io, block, sizeof block);
    velk::secure_wipe(block, sizeof block);
    return exit_ok;
}

int decode(const PinArguments &a, const Io &io) {
    Key pek;
    if (a.pek != nullptr && !read_key(io, "PEK", a.pek, triple_key_sizes, pek))
        return exit_refused;
    unsigned char block[8];
    const bool read = read_hex(io, "BLOCK", a.pin_or_block, block, sizeof block);
    hide_argument(a.pin_or_block);
    if (!read)
        return exit_refused;
    const std::size_t pan_length = a.pan != nullptr ? std::strlen(a.pan) : 0;
    char pin[VELKPAY_PIN_MAX_DIGITS + 1];
    std::size_t pin_length = 0;
    const int rc =
        a.pek != nullptr
            ? velkpay_pin_block_decipher(a.format, block, a.pan, pan_length, pin,
                                         VELKPAY_PIN_MAX_DIGITS, &pin_length, pek.bytes, pek.length)
            : velkpay_pin_block_decode(a.format, block, a.pan, pan_length, pin,
                                       VELKPAY_PIN_MAX_DIGITS, &pin_length);
    velk::secure_wipe(block, sizeof block);
    if (rc != VELKPAY_OK)
        return refuse_code(io, operand_of(rc, true), rc);
    pin[pin_length] = '\n';
    std::fwrite(pin, 1, pin_length + 1, io.out);
    velk::secure_wipe(pin, sizeof pin);
    return exit_ok;
}

} // namespace

int pin_command(Words words, const Io &io) {
    Scan s;
    scan(words.list, "f:k:", s);
    if (const int done = scan_outcome(io, s, words); done >= 0)
        return done;
    PinArguments a;
    if (s.operands.empty())
        return misuse(io, "expected encode or decode", words.usage);
    if (std::strcmp(s.operands[0], "decode") == 0)
        a.decode = true;
    else if (std::strcmp(s.operands[0], "encode") != 0)
        return misuse(io, "expected encode or decode", words.usage);
    if (!s.has('f'))
        return misuse(io, "option -f is required", words.usage);
    const std::string format = s.get('f');
    if (format.size() != 1 || format[0] < '0' || format[0] > '3')
        return misuse(io, "-f takes 0, 1, 2 or 3", words.usage);
    a.format = format[0] - '0';
    const bool needs_pan = a.format == 0 || a.format == 3;
    if (s.operands.size() < 2)
        return misuse(io, a.decode ? "expected BLOCK" : "expected PIN", words.usage);
    if (s.operands.size() == 2 && needs_pan)
        return misuse(io, "formats 0 and 3 need a PAN", words.usage);
    if (s.operands.size() > 3)
        return misuse(io, "too many arguments", words.usage);
    a.pek = s.get('k');
    a.pin_or_block = s.operands[1];
    // Formats 1 and 2 use no PAN; one given is not looked at.
    a.pan = needs_pan ? s.operands[2] : nullptr;
    return a.decode ? decode(a, io) : encode(a, io);
}

} // namespace velkpay::cli
