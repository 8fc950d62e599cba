// SPDX-License-Identifier: MIT
// velkfile's per-buffer seam, which runs the many-block path, against the
// one-block three-key EDE forms of the tests' support code: every direction and
// mode, buffers of every block count up to a velkfile chunk and a few
// beyond, the chain carried from buffer to buffer.
#include <gtest/gtest.h>

#include <cstring>

#include "file_stream.hpp"
#include "three_key_ede.hpp"
#include "three_key_ede_blocks.hpp"
#include "velk_test.hpp"

namespace {

using namespace velk::test;
using velkfile::Direction;

struct Keys {
    des_subkeys k1, k2, k3;
    explicit Keys(const Bytes &key) { des_3EDEinit_3keys(key.data(), 24, k1, k2, k3); }
};

// The block-by-block loop, with the one-block functions.
void one_at_a_time(Direction direction, int mode, unsigned char *buf, std::size_t length,
                   const Keys &k, unsigned char chain[8]) {
    for (std::size_t at = 0; at + 8 <= length; at += 8) {
        unsigned char *block = buf + at;
        unsigned char cipher[8];
        std::memcpy(cipher, block, 8);
        if (direction == Direction::encrypt && mode == velkfile::mode_cbc) {
            des_cbc3EDEencode_3keys(block, block, chain, k.k1, k.k2, k.k3);
            std::memcpy(chain, block, 8);
        } else if (direction == Direction::encrypt) {
            des_ecb3EDEencode_3keys(block, block, k.k1, k.k2, k.k3);
        } else if (mode == velkfile::mode_cbc) {
            des_cbc3EDEdecode_3keys(block, block, chain, k.k1, k.k2, k.k3);
            std::memcpy(chain, cipher, 8);
        } else {
            des_ecb3EDEdecode_3keys(block, block, k.k1, k.k2, k.k3);
        }
    }
}

TEST(ProcessBlocks, EqualsTheOneBlockFunctionsForEveryDirectionModeAndLength) {
    Random rng(81);
    const std::size_t max_blocks = velkfile::chunk_bytes / 8 + 3;
    for (Direction direction : {Direction::encrypt, Direction::decrypt})
        for (int mode : {velkfile::mode_ecb, velkfile::mode_cbc})
            for (std::size_t blocks = 0; blocks <= max_blocks;
                 blocks += blocks < 300 ? 1 : 1 + rng.below(97)) {
                const Keys keys(rng.bytes(24));
                const Bytes data = rng.bytes(8 * blocks);
                const Block iv = rng.block();
                Bytes want = data, got = data;
                Block want_chain = iv, got_chain = iv;
                one_at_a_time(direction, mode, want.data(), want.size(), keys, want_chain.data());
                const velk::Ede3BulkKey bulk_key(keys.k1, keys.k2, keys.k3);
                velkfile::process_blocks(direction, mode, got.data(), got.size(), bulk_key,
                                         got_chain.data());
                ASSERT_EQ(to_hex(got), to_hex(want))
                    << blocks << " blocks, mode " << mode << ", direction "
                    << (direction == Direction::encrypt ? "encrypt" : "decrypt");
                ASSERT_EQ(to_hex(got_chain), to_hex(want_chain)) << blocks << " blocks";
            }
}

} // namespace
