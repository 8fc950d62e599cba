// SPDX-License-Identifier: MIT
#include "sweep.hpp"

#include <cstdarg>
#include <cstring>

namespace velk::kat {
namespace {

using Block = unsigned char[8];

// The report is made of two kinds of write: a line write is puts (the text and
// one newline), a formatted write is printf (the text exactly). Both are
// spelled for an arbitrary stream so that a test can read the report back;
// on stdout they write the same bytes as puts and printf.
void write_line(std::FILE *out, const char *text) {
    std::fputs(text, out);
    std::fputc('\n', out);
}

[[gnu::format(printf, 2, 3)]] void write_formatted(std::FILE *out, const char *format, ...) {
    std::va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
}

void write_hex(std::FILE *out, const Block block) {
    for (int i = 0; i < 8; ++i)
        write_formatted(out, "%02x", block[i]);
}

void set_one_bit(Block block, unsigned index) {
    std::memset(block, 0, 8);
    block[index / 8] = static_cast<unsigned char>(0x80u >> (index % 8));
}

} // namespace

int run_sweep(Varying varying, des_subkeys ks, BlockFn encode, BlockFn decode, std::FILE *out) {
    const bool text = varying == Varying::plaintext;
    // The block that stays zero and the one the bit walks through.
    Block fixed, walking, cipher, decrypted;
    std::memset(fixed, 0, sizeof fixed);
    unsigned char *const key = text ? fixed : walking;
    unsigned char *const plain = text ? walking : fixed;

    write_line(out, text ? "Electronic Codebook (ECB) Mode\nVariable Text Known Answer Tests"
                         : "Electronic Codebook (ECB) Mode\nVariable Key Known Answer Tests");
    write_formatted(out, "Algorithm: %s\nKeysize=%u Bits\n", "DES", 64u);
    write_formatted(out, text ? "\nKEY=" : "\nPT=");
    write_hex(out, fixed);

    for (unsigned index = 0; index < 64; ++index) {
        set_one_bit(walking, index);
        // The key class is of no interest here: the sweep runs weak and
        // parity-only keys like any other.
        des_init(key, 8, ks);
        encode(plain, cipher, ks);
        write_formatted(out, text ? "\n\nI=%u\nPT=" : "\n\nI=%u\nKEY=", index + 1);
        write_hex(out, walking);
        write_formatted(out, "\nCT=");
        write_hex(out, cipher);

        decode(cipher, decrypted, ks);
        if (std::memcmp(decrypted, plain, 8) != 0) {
            // The round is the zero-based index, one less than the I above.
            write_formatted(out, "\n*** Decryption for round %d failed ***\n",
                            static_cast<int>(index));
            write_formatted(out, "\nKEY=");
            write_hex(out, key);
            write_formatted(out, "\nCT=");
            write_hex(out, cipher);
            write_formatted(out, "\nPT=");
            write_hex(out, decrypted);
            write_formatted(out, "\nOT=");
            write_hex(out, plain);
            write_line(out, "\n\nNot Succeeded ...");
            return 1;
        }
    }
    write_line(out, "\n\nSucceeded ...");
    return 0;
}

} // namespace velk::kat
