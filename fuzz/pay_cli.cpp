// SPDX-License-Identifier: MIT
// Drives the velkpay command line from memory: the input, split at zero
// bytes, is the argument list after the program's name; standard input is
// a fixed block of bytes and the output streams are memory. Whatever the
// words, the run ends with status 0, 1 or 2, and
//   0: a result on standard output, ending in a newline, nothing on
//      standard error;
//   1: nothing on standard output, one line "velkpay: ..." on standard error;
//   2: nothing on standard output, "velkpay: ..." and a "usage: " line.
// The run works in a directory of its own holding a key file and a data
// file; words with a slash are skipped, so no other file is read.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "commands.hpp"

namespace {

void require(bool ok) {
    if (!ok)
        __builtin_trap();
}

struct Memory {
    char *data = nullptr;
    std::size_t size = 0;
    std::FILE *stream = open_memstream(&data, &size);
    std::string close() {
        require(std::fclose(stream) == 0);
        std::string out(data, size);
        std::free(data);
        return out;
    }
};

std::size_t lines(const std::string &text) {
    std::size_t n = 0;
    for (char c : text)
        n += c == '\n';
    return n;
}

bool starts_with(const std::string &text, const char *prefix) {
    return text.rfind(prefix, 0) == 0;
}

} // namespace

namespace {

char work_dir[] = "/tmp/velkpay-fuzz-XXXXXX";

void remove_work_dir() {
    std::remove("key");
    std::remove("data");
    if (chdir("/") == 0)
        rmdir(work_dir);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    require(mkdtemp(work_dir) != nullptr && chdir(work_dir) == 0);
    std::atexit(remove_work_dir);
    std::FILE *key = std::fopen("key", "w");
    std::fputs("0123456789ABCDEFFEDCBA9876543210\n", key);
    std::fclose(key);
    std::FILE *data = std::fopen("data", "w");
    std::fputs("Now is the time for all ", data);
    std::fclose(data);
    setenv("KEY", "8AA83BF8CBDA10620BC1BF19FBB6CD58BC313D4A371CA8B5", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (std::memchr(data, '/', size) != nullptr)
        return 0;
    std::vector<std::string> words(1, "velkpay");
    std::string word;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    if (size != 0)
        words.push_back(word);
    std::vector<char *> argv;
    for (auto &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    static const char input[] = "0123456789ABCDEF0123456789abcdef";
    std::FILE *in = fmemopen(const_cast<char *>(input), sizeof input - 1, "r");
    Memory out, err;
    const int status = velkpay::cli::run(static_cast<int>(words.size()), argv.data(),
                                         velkpay::cli::Io{in, out.stream, err.stream});
    std::fclose(in);
    const std::string o = out.close(), e = err.close();

    switch (status) {
    case 0:
        require(!o.empty() && o.back() == '\n' && e.empty());
        break;
    case 1:
        require(o.empty() && lines(e) == 1 && starts_with(e, "velkpay: ") && e.back() == '\n');
        break;
    case 2:
        require(o.empty() && lines(e) == 2 && starts_with(e, "velkpay: ") &&
                e.find("\nusage: velkpay ") != std::string::npos && e.back() == '\n');
        break;
    default:
        require(false);
    }
    return 0;
}
