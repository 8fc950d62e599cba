// SPDX-License-Identifier: MIT
// Helpers for the velkfile tests: libcrypto's three-key EDE as an oracle,
// whole-file encryption in memory, and scratch directories.
#pragma once

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "file_stream.hpp"
#include "libcrypto_oracle.hpp"
#include "pipeline.hpp"
#include "three_key_ede.hpp"
#include "three_key_ede_blocks.hpp"
#include "velk_test.hpp"

namespace velkfile::test {

// ThreadSanitizer's runtime (clang 14) takes every signal itself and runs
// the program's handler later, and that is not dependable: now and then a
// signal is dropped and the run goes on, and a signal that lands while the
// runtime records a mutex operation can run the handler there, where its
// unlink waits for a lock the runtime already holds. The tests that stop
// runs by signals are therefore left to the other builds.
#if defined(__SANITIZE_THREAD__)
constexpr bool under_thread_sanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool under_thread_sanitizer = true;
#else
constexpr bool under_thread_sanitizer = false;
#endif
#else
constexpr bool under_thread_sanitizer = false;
#endif

using velk::test::Block;
using velk::test::Bytes;

using Key = std::array<unsigned char, 24>;

#ifdef VELK_HAVE_LIBCRYPTO
// libcrypto's three-key EDE (E_K3 D_K2 E_K1) over whole blocks.
inline Bytes oracle_ede3(const Key &key, const Block &iv, const Bytes &in, int mode, bool encrypt) {
    DES_key_schedule k1 = velk::test::oracle::schedule(key.data());
    DES_key_schedule k2 = velk::test::oracle::schedule(key.data() + 8);
    DES_key_schedule k3 = velk::test::oracle::schedule(key.data() + 16);
    Bytes out(in.size());
    const int enc = encrypt ? DES_ENCRYPT : DES_DECRYPT;
    if (mode == mode_cbc) {
        DES_cblock chain;
        std::memcpy(chain, iv.data(), 8);
        DES_ede3_cbc_encrypt(in.data(), out.data(), static_cast<long>(in.size()), &k1, &k2, &k3,
                             &chain, enc);
    } else {
        for (std::size_t at = 0; at < in.size(); at += 8) {
            DES_cblock i, o;
            std::memcpy(i, in.data() + at, 8);
            DES_ecb3_encrypt(&i, &o, &k1, &k2, &k3, enc);
            std::memcpy(out.data() + at, o, 8);
        }
    }
    return out;
}
#endif

// Everything a std::FILE holds, from its start.
inline Bytes slurp(std::FILE *f) {
    std::rewind(f);
    Bytes out;
    int c;
    while ((c = std::fgetc(f)) != EOF)
        out.push_back(static_cast<unsigned char>(c));
    return out;
}

inline std::FILE *file_with(const Bytes &data) {
    std::FILE *f = std::tmpfile();
    if (!data.empty())
        std::fwrite(data.data(), 1, data.size(), f);
    std::rewind(f);
    return f;
}

// The thread plan that the helpers below, and the tests' own stream calls,
// pass: a test sets it for its run (PlanScope, the Stream fixture).
inline ThreadPlan test_plan;

// The writer or the reader from `in` to `out` through all of `buffer`, under
// the test's plan.
inline StreamResult run_stream(Direction direction, std::FILE *in, std::FILE *out, Bytes &buffer,
                               const Key &key, const Block &iv, int mode) {
    return direction == Direction::encrypt
               ? encrypt_stream(in, out, buffer.data(), buffer.size(), key.data(), iv.data(),
                                mode, nullptr, test_plan)
               : decrypt_stream(in, out, buffer.data(), buffer.size(), key.data(), iv.data(),
                                mode, nullptr, test_plan);
}

// Runs the writer or the reader over `data` through a buffer of `capacity`.
inline StreamResult stream(Direction direction, const Bytes &data, Bytes &result, const Key &key,
                           const Block &iv, int mode, std::size_t capacity = chunk_bytes) {
    std::FILE *in = file_with(data);
    std::FILE *out = std::tmpfile();
    Bytes buffer(capacity);
    const StreamResult r = run_stream(direction, in, out, buffer, key, iv, mode);
    result = slurp(out);
    std::fclose(in);
    std::fclose(out);
    return r;
}

// Sets the thread plan the helpers below stream with for a scope, and
// restores the default after it.
struct PlanScope {
    explicit PlanScope(unsigned workers, std::size_t slot_bytes = 0) {
        test_plan = ThreadPlan{workers, slot_bytes};
    }
    ~PlanScope() { test_plan = ThreadPlan{}; }
    PlanScope(const PlanScope &) = delete;
    PlanScope &operator=(const PlanScope &) = delete;
};

// A stream over memory that is no regular file, as a pipe is: each read
// gives at most `piece` bytes, and reading fails with EIO once `fail_at`
// bytes have been read. Writes go to `data` and fail with ENOSPC beyond
// `fail_at` bytes.
struct PipeLike {
    Bytes data;
    std::size_t at = 0;
    std::size_t piece = 4096;
    std::size_t fail_at = SIZE_MAX;

    std::FILE *open(const char *how) {
        cookie_io_functions_t io{};
        io.read = [](void *c, char *buf, std::size_t size) -> ssize_t {
            auto &p = *static_cast<PipeLike *>(c);
            if (p.at >= p.fail_at) {
                errno = EIO;
                return -1;
            }
            const std::size_t n = std::min({size, p.piece, p.data.size() - p.at, p.fail_at - p.at});
            if (n != 0)
                std::memcpy(buf, p.data.data() + p.at, n);
            p.at += n;
            return static_cast<ssize_t>(n);
        };
        io.write = [](void *c, const char *buf, std::size_t size) -> ssize_t {
            auto &p = *static_cast<PipeLike *>(c);
            if (p.data.size() + size > p.fail_at) {
                errno = ENOSPC;
                return -1;
            }
            p.data.insert(p.data.end(), buf, buf + size);
            return static_cast<ssize_t>(size);
        };
        return fopencookie(this, how, io);
    }
};

// Streams `in` (a pipe-like source that may fail) into a sink that fails
// beyond `out_limit` bytes; `result` gets what reached the sink.
inline StreamResult stream_pipe(Direction direction, PipeLike in, Bytes &result, const Key &key,
                                const Block &iv, int mode, std::size_t capacity = chunk_bytes,
                                std::size_t out_limit = SIZE_MAX) {
    PipeLike sink;
    sink.fail_at = out_limit;
    std::FILE *f_in = in.open("rb");
    std::FILE *f_out = sink.open("wb");
    Bytes buffer(capacity);
    const StreamResult r = run_stream(direction, f_in, f_out, buffer, key, iv, mode);
    std::fclose(f_in);
    std::fclose(f_out);
    result = sink.data;
    return r;
}

inline Bytes encrypt_bytes(const Bytes &plain, const Key &key, const Block &iv, int mode) {
    Bytes out;
    EXPECT_EQ(stream(Direction::encrypt, plain, out, key, iv, mode).status, StreamResult::ok);
    return out;
}

inline Bytes read_file(const std::filesystem::path &p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::filesystem::path &p, const Bytes &data) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

// A fresh directory, removed with everything in it at the end of the scope.
struct ScratchDir {
    std::filesystem::path path;
    ScratchDir() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "velkfile-test-XXXXXX").string();
        if (mkdtemp(tmpl.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path = tmpl;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path operator/(const std::string &name) const { return path / name; }
};

} // namespace velkfile::test
