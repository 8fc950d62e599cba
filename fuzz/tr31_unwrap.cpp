// SPDX-License-Identifier: MIT
// Key-block unwrap, driven from valid blocks. The input chooses a KBPK, a
// key, a header with optional blocks and the wrap's flags and padding; the
// block wrapped from them must unwrap to the same key and header. Then the
// rest of the input changes characters of the block: a block changed in
// anything but the case of its hex must be refused with nothing written,
// and one changed only in that case must still unwrap. The input's bytes are
// last also unwrapped as they are, which may only be refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "velkpay.h"

namespace {

// Bytes taken from the front of the input; zeros once it is used up.
struct Input {
    const std::uint8_t *data;
    std::size_t size;
    unsigned char take() {
        if (size == 0)
            return 0;
        --size;
        return *data++;
    }
    char pick(const char *alphabet) {
        return alphabet[take() % std::strlen(alphabet)];
    }
};

constexpr const char *upper_digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr const char *printable =
    " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~";

// A header every field of which is valid, with 0 to 5 optional blocks of up
// to 40 data characters, some in the extended length form; a PB only ever
// last.
std::string make_header(Input &in) {
    std::string h;
    h += in.pick("ABC");
    h += "0000";
    h += in.pick(upper_digits);
    h += in.pick(upper_digits);
    h += in.pick("ADEHRST0123456789");
    h += in.pick("BCDEGNSTVXY0123456789");
    h += in.take() % 2 ? "00" : std::string{in.pick(upper_digits), in.pick("abcz09")};
    h += in.pick("ENS");
    const unsigned count = in.take() % 6;
    h += static_cast<char>('0' + count / 10);
    h += static_cast<char>('0' + count % 10);
    h += "00";
    for (unsigned i = 0; i < count; ++i) {
        std::string id{in.pick(upper_digits), in.pick(upper_digits)};
        if (id == "PB")
            id = "PC";
        const bool last_pb = i + 1 == count && in.take() % 4 == 0;
        const std::size_t data = in.take() % 41;
        std::string block = last_pb ? "PB" : id;
        char length[16];
        if (in.take() % 3 == 0) {
            std::snprintf(length, sizeof length, "0004%04zX", data + 10);
        } else {
            std::snprintf(length, sizeof length, "%02zX", data + 4);
        }
        block += length;
        for (std::size_t j = 0; j < data; ++j)
            block += in.pick(printable);
        h += block;
    }
    return h;
}

bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool same_ignoring_hex_case(const std::string &a, const std::string &b, std::size_t from) {
    if (a.size() != b.size() || a.compare(0, from, b, 0, from) != 0)
        return false;
    for (std::size_t i = from; i < a.size(); ++i)
        if (a[i] != b[i] && !(is_hex(a[i]) && is_hex(b[i]) &&
                              (a[i] | 0x20) == (b[i] | 0x20)))
            return false;
    return true;
}

struct Unwrapped {
    int code;
    unsigned char key[64];
    std::size_t key_length;
    velkpay_tr31_header header;
};

void unwrap(const std::string &block, const unsigned char *kbpk, std::size_t kbpk_length,
            Unwrapped &u) {
    std::memset(&u, 0xA5, sizeof u);
    u.code = velkpay_tr31_unwrap(block.data(), block.size(), kbpk, kbpk_length, u.key,
                                 sizeof u.key, &u.key_length, &u.header);
}

bool untouched(const Unwrapped &u) {
    Unwrapped marker;
    std::memset(&marker, 0xA5, sizeof marker);
    return std::memcmp(u.key, marker.key, sizeof u.key) == 0 &&
           u.key_length == marker.key_length &&
           std::memcmp(&u.header, &marker.header, sizeof u.header) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    Input in{data, size};
    const unsigned char choice = in.take();
    const std::size_t kbpk_length = choice & 1 ? 24 : 16;
    const int flags = (choice >> 1) & 1 ? VELKPAY_TR31_PAD_SHORT : 0;
    unsigned char kbpk[24], key[32], random[VELKPAY_TR31_RANDOM_SIZE];
    for (auto &b : kbpk)
        b = in.take();
    const std::size_t key_length = 1 + in.take() % sizeof key;
    for (std::size_t i = 0; i < key_length; ++i)
        key[i] = in.take();
    for (auto &b : random)
        b = in.take();
    const std::string header = make_header(in);

    char text[VELKPAY_TR31_MAX_BLOCK];
    std::size_t length = 0;
    const int rc = velkpay_tr31_wrap(header.data(), header.size(), key, key_length, flags, random,
                                     kbpk, kbpk_length, text, sizeof text, &length);
    if (rc != VELKPAY_OK) {
        // The only header the builder makes that wrap may refuse: a PB
        // last that leaves the optional blocks misaligned.
        if (rc != VELKPAY_E_TR31_ALIGNMENT)
            std::abort();
        return 0;
    }
    const std::string block(text, length);

    Unwrapped u;
    unwrap(block, kbpk, kbpk_length, u);
    if (u.code != VELKPAY_OK || u.key_length != key_length ||
        std::memcmp(u.key, key, key_length) != 0 ||
        block[0] != header[0] || block.compare(5, 7, header, 5, 7) != 0 ||
        block.compare(14, header.size() - 14, header, 14) != 0 ||
        u.header.block_length != length)
        std::abort();
    const std::size_t header_length = u.header.header_length;

    // Changes: (position, character) pairs from the rest of the input.
    std::string changed = block;
    while (in.size >= 3) {
        const std::size_t high = in.take();
        const std::size_t at = (high << 8 | in.take()) % changed.size();
        changed[at] = static_cast<char>(in.take());
    }
    if (changed != block) {
        unwrap(changed, kbpk, kbpk_length, u);
        if (same_ignoring_hex_case(block, changed, header_length)) {
            if (u.code != VELKPAY_OK || u.key_length != key_length ||
                std::memcmp(u.key, key, key_length) != 0)
                std::abort();
        } else if (u.code == VELKPAY_OK || !untouched(u)) {
            std::abort();
        }
    }

    // The raw input as a block: refused or not, never a crash.
    unwrap(std::string(reinterpret_cast<const char *>(data), size), kbpk, kbpk_length, u);
    if (u.code != VELKPAY_OK && !untouched(u))
        std::abort();
    return 0;
}
