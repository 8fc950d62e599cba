// SPDX-License-Identifier: MIT
// The velkpay tool's pieces: the streams a run uses, the argument scanner,
// and the helpers every subcommand shares (key text, data, hex output,
// messages). Each subcommand is a function from its words to an exit
// status; run() picks one from the table in cli.cpp.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "key_text.hpp"
#include "wipe.hpp"

namespace velkpay::cli {

// Exit statuses: done, input or computation refused, usage error.
constexpr int exit_ok = 0;
constexpr int exit_refused = 1;
constexpr int exit_usage = 2;

// Where a run reads @- data and writes its result and messages; main passes
// the standard streams, tests and the fuzzer memory streams.
struct Io {
    std::FILE *in;
    std::FILE *out;
    std::FILE *err;
};

// Runs the command line `argv[0..argc)` (argv[0] the program) and returns its
// exit status. Overwrites secret arguments once they are read.
int run(int argc, char **argv, const Io &io);

// ---- Subcommands -------------------------------------------------------

// The words after the subcommand's name, and the usage line it prints.
struct Words {
    std::span<char *> list;
    const char *usage;
};

int encrypt_command(Words words, const Io &io);
int decrypt_command(Words words, const Io &io);
int kcv_command(Words words, const Io &io);
int cmac_command(Words words, const Io &io);
int mac_command(Words words, const Io &io);
int dukpt_command(Words words, const Io &io);
int pin_command(Words words, const Io &io);
int tr31_command(Words words, const Io &io);

// ---- Scanning the words ------------------------------------------------

// Options are one dash and one letter, each given at most once, anywhere
// among the operands; "--" ends them. `letters` lists the letters a command
// takes, each followed by ':' when it takes a value ("m:i:").
struct Scan {
    std::array<char *, 128> value{}; // by letter: the value, or the option itself
    std::vector<char *> operands;
    bool help = false; // --help was among the words
    std::string cause; // what is wrong, when scan() fails

    bool has(char letter) const { return value[static_cast<unsigned char>(letter)] != nullptr; }
    char *get(char letter) const { return value[static_cast<unsigned char>(letter)]; }
};
bool scan(std::span<char *> words, const char *letters, Scan &result);

// The full help text on `io.out`; returns exit_ok.
int print_help(const Io &io);

// ---- Messages ----------------------------------------------------------

// "velkpay: CAUSE" on stderr; returns exit_refused.
int refuse(const Io &io, const std::string &cause);
// "velkpay: CAUSE" and the usage line on stderr; returns exit_usage.
int misuse(const Io &io, const std::string &cause, const char *usage);
// A scan's outcome: help, a usage error, or -1 to go on.
int scan_outcome(const Io &io, const Scan &scan, const Words &words);
// "velkpay: WHAT: the library's text for `code`"; returns exit_refused.
int refuse_code(const Io &io, const char *what, int code);

// ---- Secrets and data --------------------------------------------------

// Overwrites an argument where ps and /proc/PID/cmdline show it, keeping
// its length (key_text.hpp, which velkfile shares).
using velkfile::hide_argument;

// A key of up to 24 bytes, wiped when it goes.
struct Key {
    unsigned char bytes[24]{};
    std::size_t length = 0;
    Key() = default;
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    ~Key();
};

// Key lengths in bytes, as the library functions take them.
constexpr std::array<std::size_t, 3> any_key_sizes{8, 16, 24};
constexpr std::array<std::size_t, 2> triple_key_sizes{16, 24};
constexpr std::array<std::size_t, 1> double_key_size{16};

// A key operand: hex digits, env:NAME or file:PATH, of one of `sizes` bytes.
// Hides `arg` once read. On failure says why (naming `name`, never a digit)
// and returns false.
bool read_key(const Io &io, const char *name, char *arg, std::span<const std::size_t> sizes,
              Key &key);

// Bytes that are wiped whenever the storage goes, growth included.
template <class T> struct WipingAllocator {
    using value_type = T;
    WipingAllocator() = default;
    template <class U> WipingAllocator(const WipingAllocator<U> &) {}
    T *allocate(std::size_t n) { return static_cast<T *>(::operator new(n * sizeof(T))); }
    void deallocate(T *p, std::size_t n) {
        velk::secure_wipe(p, n * sizeof(T));
        ::operator delete(p);
    }
    template <class U> bool operator==(const WipingAllocator<U> &) const { return true; }
};
using Bytes = std::vector<unsigned char, WipingAllocator<unsigned char>>;

// A DATA operand: hex digits (none too), @PATH for the file's bytes or @-
// for standard input's. Hides a hex `arg` once read. On failure says why
// and returns false.
bool read_data(const Io &io, const char *name, char *arg, Bytes &data);

// A value that is never secret enough for env: or file:, such as an IV or a
// KSN: exactly `size` bytes of hex digits.
bool read_hex(const Io &io, const char *name, const char *arg, unsigned char *dest,
              std::size_t size);

// The bytes as upper-case hex and a newline on `io.out`; returns exit_ok.
int put_hex(const Io &io, const unsigned char *bytes, std::size_t length);

} // namespace velkpay::cli
