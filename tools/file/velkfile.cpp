// SPDX-License-Identifier: MIT
// velkfile: encrypts or decrypts one file with three-key EDE triple DES.
//
//   velkfile [-d] [-m <mode>] [-k <key>] [-v <vector>] infile outfile
//
// The key and vector texts of -k and -v are used as raw bytes, cut or
// zero-filled to 24 and 8 bytes; -K and -V take them as hex digits, directly
// or from env:NAME or file:PATH (key_text.hpp). Without a key option the key
// is the default value below three times,
// so the cipher is single DES under it; without "-v" the vector is that value
// once. The default value 01 23 45 67 89 AB CD EF is neither weak nor
// semi-weak; a run that uses it as the key says so on standard error, as
// it names any -m word it ignores. Only parsing and dispatch happen here;
// the work is in file_stream.cpp.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "file_stream.hpp"
#include "key_text.hpp"
#include "output_file.hpp"
#include "wipe.hpp"

namespace {

constexpr unsigned char default_value[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

int usage(const char *program) {
    std::printf("Usage : %s %s \n", program,
                "[-d] [-m <mode>] [-k <key>] [-v <vector>] infile outfile");
    return 1;
}

// Clears `dest` and copies at most `size` bytes of `text` into it, without
// its terminating zero.
void set_raw(unsigned char *dest, std::size_t size, const char *text) {
    std::memset(dest, 0, size);
    const std::size_t n = std::strlen(text);
    std::memcpy(dest, text, n < size ? n : size);
}

// -K and -V: returns false after printing what is wrong with the value.
bool set_hex(unsigned char *dest, std::size_t size, const char *option, const char *value) {
    std::string error;
    if (velkfile::parse_hex_value(option, value, dest, size, error))
        return true;
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
}

// What the command line leaves silent but a user must hear, on standard
// error so that no script reading standard output sees a difference.
void print_notices(bool key_given, const std::vector<const char *> &unknown_modes, int mode) {
    for (const char *word : unknown_modes)
        std::fprintf(stderr,
                     "velkfile: -m %s: not a mode (the words are ecb and cbc, in lower case); "
                     "ignored, %s is used\n",
                     *word == '\0' ? "''" : word, mode == velkfile::mode_cbc ? "CBC" : "ECB");
    if (!key_given)
        std::fputs("velkfile: no key given (-k or -K): the built-in default key is used, which "
                   "is published and protects nothing\n",
                   stderr);
}

struct Secrets {
    unsigned char key[24];
    unsigned char vector[8];
};

int run(int argc, char **argv, Secrets &s) {
    unsigned char *key = s.key;
    unsigned char *vector = s.vector;
    for (int third = 0; third < 3; ++third)
        std::memcpy(key + 8 * third, default_value, 8);
    std::memcpy(vector, default_value, 8);
    int mode = velkfile::mode_ecb;
    bool decrypt = false;
    bool key_given = false;
    std::vector<const char *> unknown_modes;
    const char *program = argc > 0 ? argv[0] : "velkfile";

    // Options come first, in any order and any number of times; the two
    // operands are always the last two arguments. The word after -m, -k or
    // -v is that option's value even when it looks like an option, and any
    // other argument, a lone dash or an unknown option included, is infile.
    // -K and -V work the same way; a value they cannot use ends the run
    // before any file is opened.
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const bool last = i + 1 == argc;
        if (std::strcmp(arg, "-d") == 0) {
            decrypt = true;
        } else if (std::strcmp(arg, "-m") == 0) {
            if (last)
                return usage(program);
            const char *word = argv[++i];
            // Any other word leaves the mode as it was, and is named in a
            // notice once the command line has been read.
            if (std::strcmp(word, "cbc") == 0)
                mode = velkfile::mode_cbc;
            else if (std::strcmp(word, "ecb") == 0)
                mode = velkfile::mode_ecb;
            else
                unknown_modes.push_back(word);
        } else if (std::strcmp(arg, "-k") == 0) {
            if (last)
                return usage(program);
            set_raw(key, sizeof s.key, argv[++i]);
            velkfile::hide_argument(argv[i]);
            key_given = true;
        } else if (std::strcmp(arg, "-v") == 0) {
            if (last)
                return usage(program);
            set_raw(vector, sizeof s.vector, argv[++i]);
            velkfile::hide_argument(argv[i]);
        } else if (std::strcmp(arg, "-K") == 0 || std::strcmp(arg, "-V") == 0) {
            if (last)
                return usage(program);
            const bool is_key = arg[1] == 'K';
            const bool ok = is_key ? set_hex(key, sizeof s.key, arg, argv[++i])
                                   : set_hex(vector, sizeof s.vector, arg, argv[++i]);
            velkfile::hide_argument(argv[i]);
            if (!ok)
                return 1;
            key_given = key_given || is_key;
        } else {
            if (argc - i != 2)
                return usage(program);
            print_notices(key_given, unknown_modes, mode);
            return decrypt ? decrypt_file(arg, argv[i + 1], key, vector, mode)
                           : encrypt_file(arg, argv[i + 1], key, vector, mode);
        }
    }
    return usage(program);
}

} // namespace

int main(int argc, char **argv) {
    Secrets secrets;
    velkfile::reserve_standard_descriptors();
    velkfile::install_signal_cleanup();
    const int status = run(argc, argv, secrets);
    velk::secure_wipe(&secrets, sizeof secrets);
    return status;
}
