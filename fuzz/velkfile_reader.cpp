// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes to the velkfile reader and checks what it may do with
// them: accept exactly the well-formed files, write exactly the plaintext
// length their count byte names, agree with the up-front check a regular file
// gets, and never write beyond what it decrypted. The same bytes, taken as a
// plaintext, must survive the writer and the reader unchanged.
//
// Input layout: one control byte (bit 0: CBC; bits 1-3: buffer size; bits
// 4-5: one thread, or 2, 3 or 8 workers with slots of the buffer size), then
// the bytes of the file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "file_stream.hpp"
#include "pipeline.hpp"

namespace {

using velkfile::StreamResult;

constexpr unsigned char key[24] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                   0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1,
                                   0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
constexpr unsigned char vector[8] = {0x0F, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A, 0x69, 0x78};

// Small buffers put read boundaries everywhere in short inputs; the reader
// has no code that depends on the size, and the tests run the real one.
constexpr std::size_t capacities[8] = {16, 24, 32, 40, 64, 136, 256, 1024};
static_assert(
    [] {
        for (std::size_t c : capacities)
            if (!velkfile::usable_capacity(c))
                return false;
        return true;
    }(),
    "the stream functions refuse a buffer that is not whole blocks or under two");

void require(bool ok) {
    if (!ok)
        __builtin_trap();
}

struct Memory {
    char *data = nullptr;
    std::size_t size = 0;
    std::FILE *stream = open_memstream(&data, &size);
    std::vector<unsigned char> close() {
        require(std::fclose(stream) == 0);
        std::vector<unsigned char> out(data, data + size);
        std::free(data);
        return out;
    }
};

std::FILE *reading(const unsigned char *data, std::size_t size) {
    static unsigned char none[1];
    // fmemopen reads only; the cast is for its C signature.
    return fmemopen(size != 0 ? const_cast<unsigned char *>(data) : none, size, "rb");
}

using Stream = StreamResult (*)(std::FILE *, std::FILE *, unsigned char *, std::size_t,
                                const unsigned char *, const unsigned char *, int,
                                const velkfile::ProgressHook *, const velkfile::ThreadPlan &);

StreamResult through(Stream fn, const unsigned char *data, std::size_t size,
                     std::vector<unsigned char> &buffer, int mode, const velkfile::ThreadPlan &plan,
                     std::vector<unsigned char> &out) {
    std::FILE *in = reading(data, size);
    require(in != nullptr);
    Memory result;
    const StreamResult r =
        fn(in, result.stream, buffer.data(), buffer.size(), key, vector, mode, nullptr, plan);
    out = result.close();
    std::fclose(in);
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    const int mode = data[0] & 1 ? velkfile::mode_cbc : velkfile::mode_ecb;
    std::vector<unsigned char> buffer(capacities[(data[0] >> 1) & 7]);
    constexpr unsigned workers[4] = {1, 2, 3, 8};
    const velkfile::ThreadPlan plan{workers[(data[0] >> 4) & 3], buffer.size()};
    const unsigned char *file = data + 1;
    const std::size_t n = size - 1;

    std::vector<unsigned char> out;
    const StreamResult r = through(velkfile::decrypt_stream, file, n, buffer, mode, plan, out);
    require(r.status != StreamResult::read_failed && r.status != StreamResult::write_failed);

    // A file of the count byte alone holds no block: only 8 fits it.
    const bool well_formed =
        n == 0 || (n % 8 == 1 && file[n - 1] >= 1 && file[n - 1] <= 8 && (n > 1 || file[0] == 8));
    require((r.status == StreamResult::ok) == well_formed);
    if (well_formed) {
        const std::size_t body = n == 0 ? 0 : n - 1;
        require(out.size() == (body == 0 ? 0 : body - 8 + file[n - 1]));
    } else {
        require(out.size() < n);
        require(r.status == (n % 8 != 1                               ? StreamResult::bad_size
                             : n == 1 && file[0] >= 1 && file[0] <= 7 ? StreamResult::lone_count
                                                                      : StreamResult::bad_count));
    }

    // The check made before a regular file's output is created agrees.
    std::FILE *in = reading(file, n);
    require(in != nullptr);
    require(velkfile::check_encrypted_input(in, static_cast<off_t>(n)).status == r.status);
    std::fclose(in);

    // The same bytes as a plaintext: the file has the format's size and count
    // byte, and reads back to them.
    std::vector<unsigned char> enc, dec;
    require(through(velkfile::encrypt_stream, file, n, buffer, mode, plan, enc).status ==
            StreamResult::ok);
    require(enc.size() == (n + 7) / 8 * 8 + 1);
    require(enc.back() == (n % 8 == 0 ? 8 : n % 8));
    require(through(velkfile::decrypt_stream, enc.data(), enc.size(), buffer, mode, plan, dec).status ==
            StreamResult::ok);
    require(dec.size() == n && (n == 0 || std::memcmp(dec.data(), file, n) == 0));
    return 0;
}
