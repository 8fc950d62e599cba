// velkfile: encrypts or decrypts one file with three-key EDE triple DES.
//
//   velkfile [-d] [-m <mode>] [-k <key>] [-v <vector>] infile outfile
//
// The key and vector texts are used as raw bytes, cut or zero-filled to 24
// and 8 bytes. Without "-k" the key is the default value below three times,
// so the cipher is single DES under it; without "-v" the vector is that value
// once. The default value 01 23 45 67 89 AB CD EF is neither weak nor
// semi-weak. Only parsing and dispatch happen here; the work is in
// file_stream.cpp.
#include <cstdio>
#include <cstring>

#include "file_stream.hpp"

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

} // namespace

int main(int argc, char **argv) {
    unsigned char key[24], vector[8];
    for (int third = 0; third < 3; ++third)
        std::memcpy(key + 8 * third, default_value, 8);
    std::memcpy(vector, default_value, 8);
    int mode = velkfile::mode_ecb;
    bool decrypt = false;
    const char *program = argc > 0 ? argv[0] : "velkfile";

    // Options come first, in any order and any number of times; the two
    // operands are always the last two arguments. The word after -m, -k or
    // -v is that option's value even when it looks like an option, and any
    // other argument, a lone dash or an unknown option included, is infile.
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const bool last = i + 1 == argc;
        if (std::strcmp(arg, "-d") == 0) {
            decrypt = true;
        } else if (std::strcmp(arg, "-m") == 0) {
            if (last)
                return usage(program);
            const char *word = argv[++i];
            // Any other word leaves the mode as it was.
            if (std::strcmp(word, "cbc") == 0)
                mode = velkfile::mode_cbc;
            else if (std::strcmp(word, "ecb") == 0)
                mode = velkfile::mode_ecb;
        } else if (std::strcmp(arg, "-k") == 0) {
            if (last)
                return usage(program);
            set_raw(key, sizeof key, argv[++i]);
        } else if (std::strcmp(arg, "-v") == 0) {
            if (last)
                return usage(program);
            set_raw(vector, sizeof vector, argv[++i]);
        } else {
            if (argc - i != 2)
                return usage(program);
            return decrypt ? decrypt_file(arg, argv[i + 1], key, vector, mode)
                           : encrypt_file(arg, argv[i + 1], key, vector, mode);
        }
    }
    return usage(program);
}
