// SPDX-License-Identifier: MIT
// The velkpay command line: the table of subcommands, the argument scanner,
// and the helpers the subcommands share.
#include <cerrno>
#include <cstring>
#include <string_view>

#include "commands.hpp"
#include "key_text.hpp"
#include "velkpay.h"

namespace velkpay::cli {

namespace {

struct Command {
    const char *name;
    int (*run)(Words, const Io &);
    const char *usage;
};

constexpr Command commands[] = {
    {"encrypt", encrypt_command, "velkpay encrypt -m ecb|cbc [-i IV] KEY DATA"},
    {"decrypt", decrypt_command, "velkpay decrypt -m ecb|cbc [-i IV] KEY DATA"},
    {"kcv", kcv_command, "velkpay kcv [-c] KEY"},
    {"cmac", cmac_command, "velkpay cmac KEY DATA"},
    {"mac", mac_command, "velkpay mac -a 1|3 -p 1|2|3 KEY DATA"},
    {"dukpt", dukpt_command, "velkpay dukpt ipek BDK KSN | dukpt key [-u USAGE] BDK KSN"},
    {"pin", pin_command, "velkpay pin encode|decode -f 0|1|2|3 [-k PEK] PIN|BLOCK [PAN]"},
    {"tr31", tr31_command, "velkpay tr31 wrap -k KBPK HEADER KEY | tr31 unwrap -k KBPK BLOCK"},
};

constexpr const char *top_usage =
    "velkpay encrypt|decrypt|kcv|cmac|mac|dukpt|pin|tr31 ARGUMENT... (velkpay --help)";

constexpr const char help_text[] =
    R"(velkpay: the triple-DES computations of payment and smart-card systems.
Hex is read in either case and written in upper case, one line on standard
output (two for tr31 unwrap). KEY, PEK and BDK are hex digits, or env:NAME or file:PATH to read
the digits from an environment variable or a file's first line. DATA is hex
digits (none for empty data), @PATH for a file's bytes or @- for standard
input's. Exit status: 0 done, 1 input or computation refused, 2 usage error.

velkpay encrypt|decrypt -m ecb|cbc [-i IV] KEY DATA
    Triple DES (EDE) over whole 8-byte blocks; KEY 32 or 48 hex digits,
    IV 16 (zero when absent, CBC only).
    velkpay encrypt -m cbc -i 1234567890ABCDEF 0123456789ABCDEFFEDCBA9876543210 4E6F77206973207468652074696D6520666F7220616C6C20
        F85D4AB92066789E1D0430671F28AE7AB9627D35385D2E24
velkpay kcv [-c] KEY
    The key check value: 3 bytes of the encrypted zero block, or with -c the
    CMAC check value (5 bytes); KEY 16, 32 or 48 hex digits.
    velkpay kcv 0123456789ABCDEFFEDCBA9876543210
        08D7B4
    velkpay kcv -c 0123456789ABCDEFFEDCBA9876543210
        0A82458664
velkpay cmac KEY DATA
    TDES-CMAC; KEY 16, 32 or 48 hex digits.
    velkpay cmac 8AA83BF8CBDA10620BC1BF19FBB6CD58BC313D4A371CA8B5 6BC1BEE22E409F96E93D7E117393172AAE2D8A57
        743DDBE0CE2DC2ED
velkpay mac -a 1|3 -p 1|2|3 KEY DATA
    ISO/IEC 9797-1 MAC algorithm 1 (CBC-MAC; KEY 16, 32 or 48 hex digits)
    or 3 (retail MAC; KEY 32), padding method 1, 2 or 3; the whole block.
    velkpay mac -a 3 -p 1 0123456789ABCDEFFEDCBA9876543210 4E6F77206973207468652074696D6520666F7220616C6C20
        A1C72E74EA3FA9B6
velkpay dukpt ipek BDK KSN
    The DUKPT initial key; BDK 32 hex digits, KSN 20.
    velkpay dukpt ipek 0123456789ABCDEFFEDCBA9876543210 FFFF9876543210E00000
        6AC292FAA1315B4D858AB3A3D7D5933A
velkpay dukpt key [-u USAGE] BDK KSN
    The transaction key of KSN, or its working key for USAGE: pin, mac,
    mac-response, data or data-response.
    velkpay dukpt key 0123456789ABCDEFFEDCBA9876543210 FFFF9876543210E00002
        C46551CEF9FD24B0AA9AD834130D3BC7
    velkpay dukpt key -u pin 0123456789ABCDEFFEDCBA9876543210 FFFF9876543210E00002
        C46551CEF9FD244FAA9AD834130D3B38
velkpay pin encode -f 0|1|2|3 [-k PEK] PIN [PAN]
    The ISO 9564-1 PIN block of a PIN of 4 to 12 digits, clear or enciphered
    under PEK (32 or 48 hex digits); PAN (13 to 19 digits) for formats 0 and 3.
    velkpay pin encode -f 0 1234 4012345678909
        041274EDCBA9876F
    velkpay pin encode -f 0 -k C46551CEF9FD244FAA9AD834130D3B38 1234 4012345678909
        10A01C8D02C69107
velkpay pin decode -f 0|1|2|3 [-k PEK] BLOCK [PAN]
    The PIN of a PIN block (16 hex digits), checked field by field.
    velkpay pin decode -f 0 041274EDCBA9876F 4012345678909
        1234
velkpay tr31 wrap -k KBPK HEADER KEY
    The TR-31 key block (version A, B or C) of KEY (16, 32 or 48 hex
    digits) under KBPK (32 or 48): HEADER is the 16-character header, its
    length field any four digits, then any optional blocks. The key is
    padded to 24 bytes with random bytes, so the block changes every run.
velkpay tr31 unwrap -k KBPK BLOCK
    The key of a key block (BLOCK may be @PATH or @-), checked field by
    field and by its MAC, on line 1; its header and optional blocks on line 2.
    velkpay tr31 unwrap -k DD7515F2BFC17F85CE48F3CA25CB21F6 B0080P0TE00E000094B420079CC80BA3461F86FE26EFC4A3B8E4FA4C5F5341176EED7B727B8A248E
        3F419E1CB7079442AA37474C2EFBF8B8
        B0080P0TE00E0000
)";

// `word` quoted when it reads as a command or option name, so that a
// message never repeats an argument that may be a secret put in the wrong
// place.
std::string shown(const char *word) {
    const std::string_view w = word;
    bool plain = !w.empty() && w.size() <= 24;
    for (char c : w)
        plain = plain && ((c >= 'a' && c <= 'z') || c == '-');
    return plain ? " \"" + std::string(w) + "\"" : std::string();
}

// A cause as one printable line: a file name or an option word may hold a
// line end or another control character.
std::string one_line(std::string text) {
    for (char &c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return text;
}

} // namespace

int refuse(const Io &io, const std::string &cause) {
    std::fprintf(io.err, "velkpay: %s\n", one_line(cause).c_str());
    return exit_refused;
}

int misuse(const Io &io, const std::string &cause, const char *usage) {
    std::fprintf(io.err, "velkpay: %s\nusage: %s\n", one_line(cause).c_str(), usage);
    return exit_usage;
}

int refuse_code(const Io &io, const char *what, int code) {
    return refuse(io, std::string(what) + ": " + velkpay_strerror(code));
}

int print_help(const Io &io) {
    std::fputs(help_text, io.out);
    return exit_ok;
}

bool scan(std::span<char *> words, const char *letters, Scan &result) {
    bool options_end = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        char *word = words[i];
        if (!options_end && std::strcmp(word, "--") == 0) {
            options_end = true;
            continue;
        }
        if (!options_end && std::strcmp(word, "--help") == 0) {
            result.help = true;
            continue;
        }
        if (options_end || word[0] != '-' || word[1] == '\0') {
            result.operands.push_back(word);
            continue;
        }
        const char *at =
            word[1] != ':' && word[2] == '\0' ? std::strchr(letters, word[1]) : nullptr;
        if (at == nullptr) {
            result.cause = std::string("unknown option ") + word;
            return false;
        }
        const auto letter = static_cast<unsigned char>(word[1]);
        if (result.value[letter] != nullptr) {
            result.cause = std::string("option ") + word + " given twice";
            return false;
        }
        if (at[1] == ':') {
            if (i + 1 == words.size()) {
                result.cause = std::string("option ") + word + " needs a value";
                return false;
            }
            result.value[letter] = words[++i];
        } else {
            result.value[letter] = word;
        }
    }
    return true;
}

int scan_outcome(const Io &io, const Scan &scan, const Words &words) {
    if (scan.help)
        return print_help(io);
    if (!scan.cause.empty())
        return misuse(io, scan.cause, words.usage);
    return -1;
}

Key::~Key() {
    velk::secure_wipe(bytes, sizeof bytes);
}

bool read_key(const Io &io, const char *name, char *arg, std::span<const std::size_t> sizes,
              Key &key) {
    std::string error;
    const bool ok = velkfile::parse_hex_value(name, arg, sizes, key.bytes, key.length, error);
    hide_argument(arg);
    if (!ok)
        refuse(io, error);
    return ok;
}

bool read_data(const Io &io, const char *name, char *arg, Bytes &data) {
    data.clear();
    if (arg[0] != '@') {
        std::string error;
        std::size_t length = 0;
        data.resize(std::strlen(arg) / 2);
        const bool ok =
            velkfile::parse_hex_text(name, arg, {}, data.data(), data.size(), length, error);
        hide_argument(arg);
        if (!ok)
            return refuse(io, error), false;
        data.resize(length);
        return true;
    }
    const bool standard_input = std::strcmp(arg + 1, "-") == 0;
    std::FILE *file = standard_input ? io.in : std::fopen(arg + 1, "rb");
    if (file == nullptr)
        return refuse(io, std::string(name) + " " + arg + ": " + std::strerror(errno)), false;
    unsigned char chunk[16384];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        data.insert(data.end(), chunk, chunk + n);
    velk::secure_wipe(chunk, sizeof chunk);
    const int err = std::ferror(file) ? errno : 0;
    if (!standard_input)
        std::fclose(file);
    if (err != 0) {
        data.clear();
        return refuse(io, std::string(name) + " " + arg + ": " + std::strerror(err)), false;
    }
    return true;
}

bool read_hex(const Io &io, const char *name, const char *arg, unsigned char *dest,
              std::size_t size) {
    std::string error;
    std::size_t length = 0;
    const std::size_t sizes[1] = {size};
    if (velkfile::parse_hex_text(name, arg, sizes, dest, size, length, error))
        return true;
    refuse(io, error);
    return false;
}

int put_hex(const Io &io, const unsigned char *bytes, std::size_t length) {
    constexpr char digits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < length; ++i) {
        std::fputc(digits[bytes[i] >> 4], io.out);
        std::fputc(digits[bytes[i] & 15], io.out);
    }
    std::fputc('\n', io.out);
    return exit_ok;
}

int run(int argc, char **argv, const Io &io) {
    if (argc < 2)
        return misuse(io, "no command given", top_usage);
    const std::string_view name = argv[1];
    if (name == "--help")
        return print_help(io);
    const Command *command = nullptr;
    for (const Command &c : commands)
        if (name == c.name)
            command = &c;
    if (command == nullptr)
        return misuse(io, "unknown command" + shown(argv[1]), top_usage);
    int status = command->run(
        Words{std::span<char *>(argv + 2, static_cast<std::size_t>(argc - 2)), command->usage}, io);
    // The result line must have reached its file for the status to say so.
    if (std::fflush(io.out) != 0 || std::ferror(io.out)) {
        const int err = errno;
        if (status == exit_ok)
            status = refuse(io, std::string("standard output: ") + std::strerror(err));
    }
    return status;
}

} // namespace velkpay::cli
