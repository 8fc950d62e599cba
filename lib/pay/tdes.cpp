// SPDX-License-Identifier: MIT
// Triple DES in ECB and CBC over whole buffers. Independent blocks (ECB both
// ways, CBC decryption) run on the bitsliced many-block engine once a call
// has enough of them to repay the engine's key set-up; shorter calls, and
// CBC encryption, whose blocks wait on each other, run one block at a time
// through velkcore.hpp's schedules. Both ways give the same bytes.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "ede3_bulk.hpp"
#include "schedules.hpp"
#include "velkpay.h"
#include "wipe.hpp"

namespace {

using velk::pay::with_tdes_schedule;

// From this many blocks on, a call builds the engine's key (about 74 KiB of
// masks, on the stack) and runs in batches; below it, the set-up would cost
// more than it saves.
constexpr std::size_t bulk_blocks = 64;

enum class Direction { encrypt, decrypt };
enum class Mode { ecb, cbc };

// The arguments every function checks before it computes: nothing is
// written when one is refused. `out` may be `in` but must not overlap it
// otherwise, since blocks are read and written in batches.
int check(const unsigned char *in, const unsigned char *out, std::size_t length,
          const unsigned char *key, std::size_t key_length) {
    if (key == nullptr)
        return VELKPAY_E_ARGUMENT;
    if (key_length != 16 && key_length != 24)
        return VELKPAY_E_KEY_LENGTH;
    if (length % 8 != 0)
        return VELKPAY_E_DATA_LENGTH;
    if (length > 0 && (in == nullptr || out == nullptr))
        return VELKPAY_E_ARGUMENT;
    const auto i = reinterpret_cast<std::uintptr_t>(in), o = reinterpret_cast<std::uintptr_t>(out);
    if (length > 0 && i != o && i < o + length && o < i + length)
        return VELKPAY_E_ARGUMENT;
    return VELKPAY_OK;
}

// The engine's key from a 16-byte (K1 K2, with K3 = K1) or 24-byte key,
// through the one three-key set-up, Ede3Schedule: a 16-byte key is first
// written out as K1 K2 K1. The copy and the schedules are wiped here, the
// engine's key by its destructor.
velk::Ede3BulkKey bulk_key(const unsigned char *key, std::size_t key_length) noexcept {
    std::array<unsigned char, 24> full;
    std::copy_n(key, 16, full.begin());
    std::copy_n(key_length == 24 ? key + 16 : key, 8, full.begin() + 16);
    const velk::Ede3Schedule s(full);
    velk::secure_wipe(full.data(), full.size());
    return velk::Ede3BulkKey(s);
}

void run_bulk(Mode mode, Direction direction, const unsigned char *in, unsigned char *out,
              std::size_t blocks, unsigned char *iv, const unsigned char *key,
              std::size_t key_length) {
    const velk::Ede3BulkKey bulk = bulk_key(key, key_length);
    if (mode == Mode::cbc)
        velk::ede3_cbc_decrypt_blocks(bulk, in, out, blocks, iv);
    else if (direction == Direction::encrypt)
        velk::ede3_encrypt_blocks(bulk, in, out, blocks);
    else
        velk::ede3_decrypt_blocks(bulk, in, out, blocks);
}

// One block at a time, on the schedule of the key. In CBC the chain is
// carried by velkcore.hpp's chaining helpers and handed back in `iv`.
void run_blocks(Mode mode, Direction direction, const unsigned char *in, unsigned char *out,
                std::size_t blocks, unsigned char *iv, const unsigned char *key,
                std::size_t key_length) {
    with_tdes_schedule(key, key_length, [&](const auto &s) {
        const auto block_in = [&](std::size_t b) {
            return std::span<const unsigned char, 8>(in + 8 * b, 8);
        };
        const auto block_out = [&](std::size_t b) {
            return std::span<unsigned char, 8>(out + 8 * b, 8);
        };
        if (mode == Mode::ecb) {
            for (std::size_t b = 0; b < blocks; ++b) {
                if (direction == Direction::encrypt)
                    s.ecb_encrypt(block_in(b), block_out(b));
                else
                    s.ecb_decrypt(block_in(b), block_out(b));
            }
            return;
        }
        const std::span<unsigned char, 8> chain(iv, 8);
        if (direction == Direction::encrypt) {
            velk::CbcEncryptor cbc(s, chain);
            for (std::size_t b = 0; b < blocks; ++b)
                cbc(block_in(b), block_out(b));
            std::copy(cbc.chain().begin(), cbc.chain().end(), chain.begin());
        } else {
            velk::CbcDecryptor cbc(s, chain);
            for (std::size_t b = 0; b < blocks; ++b)
                cbc(block_in(b), block_out(b));
            std::copy(cbc.chain().begin(), cbc.chain().end(), chain.begin());
        }
    });
}

int run(Mode mode, Direction direction, const unsigned char *in, unsigned char *out,
        std::size_t length, unsigned char *iv, const unsigned char *key, std::size_t key_length) {
    if (const int refused = check(in, out, length, key, key_length))
        return refused;
    if (mode == Mode::cbc && iv == nullptr)
        return VELKPAY_E_ARGUMENT;
    const std::size_t blocks = length / 8;
    const bool independent = mode == Mode::ecb || direction == Direction::decrypt;
    if (independent && blocks >= bulk_blocks)
        run_bulk(mode, direction, in, out, blocks, iv, key, key_length);
    else
        run_blocks(mode, direction, in, out, blocks, iv, key, key_length);
    return VELKPAY_OK;
}

} // namespace

extern "C" {

VELKPAY_API int velkpay_tdes_ecb_encrypt(const unsigned char *in, unsigned char *out, size_t length,
                                         const unsigned char *key, size_t key_length) {
    return run(Mode::ecb, Direction::encrypt, in, out, length, nullptr, key, key_length);
}

VELKPAY_API int velkpay_tdes_ecb_decrypt(const unsigned char *in, unsigned char *out, size_t length,
                                         const unsigned char *key, size_t key_length) {
    return run(Mode::ecb, Direction::decrypt, in, out, length, nullptr, key, key_length);
}

VELKPAY_API int velkpay_tdes_cbc_encrypt(const unsigned char *in, unsigned char *out, size_t length,
                                         unsigned char iv[8], const unsigned char *key,
                                         size_t key_length) {
    return run(Mode::cbc, Direction::encrypt, in, out, length, iv, key, key_length);
}

VELKPAY_API int velkpay_tdes_cbc_decrypt(const unsigned char *in, unsigned char *out, size_t length,
                                         unsigned char iv[8], const unsigned char *key,
                                         size_t key_length) {
    return run(Mode::cbc, Direction::decrypt, in, out, length, iv, key, key_length);
}

} // extern "C"
