// Helpers for the velkfile tests: libcrypto's three-key EDE as an oracle,
// whole-file encryption in memory, and scratch directories.
#pragma once

#include <array>
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
#include "three_key_ede.hpp"
#include "velk_test.hpp"

namespace velkfile::test {

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

// Runs the writer or the reader over `data` through a buffer of `capacity`.
inline StreamResult stream(Direction direction, const Bytes &data, Bytes &result, const Key &key,
                           const Block &iv, int mode, std::size_t capacity = chunk_bytes) {
    std::FILE *in = file_with(data);
    std::FILE *out = std::tmpfile();
    Bytes buffer(capacity);
    const StreamResult r =
        direction == Direction::encrypt
            ? encrypt_stream(in, out, buffer.data(), capacity, key.data(), iv.data(), mode)
            : decrypt_stream(in, out, buffer.data(), capacity, key.data(), iv.data(), mode);
    result = slurp(out);
    std::fclose(in);
    std::fclose(out);
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
