// The file format and its streaming, in process: round trips around every
// multiple of the read size, the blocks against libcrypto, the chain across
// reads, and the reader's refusal of anything that is not a velkfile file.
#include <vector>

#include "file_test_support.hpp"
#include "key_text.hpp"
#include "progress.hpp"

namespace {

using namespace velkfile;
using namespace velkfile::test;
using velk::test::Random;

// Three different thirds, so a swapped or reused schedule shows.
const Key distinct_key = [] {
    Key k;
    const Bytes b = velk::test::from_hex("133457799bbcdff1 0e329232ea6d0d73 a1b2c3d4e5f60718");
    std::copy(b.begin(), b.end(), k.begin());
    return k;
}();
// K1 = K3, the two-key form.
const Key two_key = [] {
    Key k;
    const Bytes b = velk::test::from_hex("fedcba9876543210 89abcdef01234567 fedcba9876543210");
    std::copy(b.begin(), b.end(), k.begin());
    return k;
}();
const Block iv = velk::test::block_from_hex("1f2e3d4c5b6a7988");

std::vector<std::size_t> boundary_sizes() {
    std::vector<std::size_t> sizes;
    for (std::size_t n = 0; n <= 17; ++n)
        sizes.push_back(n);
    for (std::size_t k = 1; k <= 3; ++k)
        for (std::size_t n = chunk_bytes * k - 8; n <= chunk_bytes * k + 1; ++n)
            sizes.push_back(n);
    Random rng(21);
    for (int i = 0; i < 6; ++i)
        sizes.push_back(rng.below(4 * chunk_bytes));
    return sizes;
}

TEST(Stream, RoundTripsAtEveryBoundaryWithZeroFill) {
    Random rng(22);
    for (const Key *key : {&distinct_key, &two_key}) {
        for (int mode : {mode_ecb, mode_cbc}) {
            for (std::size_t size : boundary_sizes()) {
                SCOPED_TRACE("mode " + std::to_string(mode) + " size " + std::to_string(size));
                const Bytes plain = rng.bytes(size);
                const Bytes enc = encrypt_bytes(plain, *key, iv, mode);
                const std::size_t blocks = (size + 7) / 8;
                ASSERT_EQ(enc.size(), 8 * blocks + 1);
                ASSERT_EQ(enc.back(), size % 8 == 0 ? 8 : size % 8);
                Bytes dec;
                ASSERT_EQ(stream(Direction::decrypt, enc, dec, *key, iv, mode).status,
                          StreamResult::ok);
                ASSERT_EQ(dec, plain);
                if (size % 8 != 0) {
                    // The fill bytes of the last block decrypt to zero.
                    des_subkeys k1, k2, k3;
                    des_3EDEinit_3keys(key->data(), 24, k1, k2, k3);
                    Block last, chain = iv;
                    const std::size_t at = 8 * (blocks - 1);
                    if (blocks > 1)
                        std::memcpy(chain.data(), enc.data() + at - 8, 8);
                    if (mode == mode_cbc)
                        des_cbc3EDEdecode_3keys(enc.data() + at, last.data(), chain.data(), k1, k2,
                                                k3);
                    else
                        des_ecb3EDEdecode_3keys(enc.data() + at, last.data(), k1, k2, k3);
                    for (std::size_t i = size % 8; i < 8; ++i)
                        ASSERT_EQ(last[i], 0) << "fill byte " << i;
                }
            }
        }
    }
}

// The body of a file is plain three-key EDE triple DES of the zero-filled
// plaintext, so any standard implementation reads it; over several reads in
// CBC mode this also proves the chain is carried from read to read.
TEST(Stream, BodyIsLibcryptoEde3OfTheZeroFilledPlaintext) {
    VELK_REQUIRE_LIBCRYPTO();
#ifdef VELK_HAVE_LIBCRYPTO
    Random rng(23);
    for (int mode : {mode_ecb, mode_cbc}) {
        for (std::size_t size :
             {std::size_t{8}, chunk_bytes, 2 * chunk_bytes + 5, 3 * chunk_bytes + 8}) {
            const Bytes plain = rng.bytes(size);
            const Bytes enc = encrypt_bytes(plain, distinct_key, iv, mode);
            Bytes padded = plain;
            padded.resize((size + 7) / 8 * 8, 0);
            const Bytes body(enc.begin(), enc.end() - 1);
            ASSERT_EQ(body, oracle_ede3(distinct_key, iv, padded, mode, true)) << "size " << size;
        }
    }
#endif
}

TEST(Stream, CbcChainCrossesTheReadBoundaryAndTheVectorOnlyTouchesTheFirstBlock) {
    Random rng(24);
    const Bytes plain = rng.bytes(2 * chunk_bytes + 11);
    const Bytes enc = encrypt_bytes(plain, distinct_key, iv, mode_cbc);
    des_subkeys k1, k2, k3;
    des_3EDEinit_3keys(distinct_key.data(), 24, k1, k2, k3);
    for (std::size_t at : {chunk_bytes, 2 * chunk_bytes}) {
        Block expected;
        des_cbc3EDEencode_3keys(plain.data() + at, expected.data(), enc.data() + at - 8, k1, k2,
                                k3);
        ASSERT_EQ(
            Bytes(expected.begin(), expected.end()),
            Bytes(enc.begin() + static_cast<long>(at), enc.begin() + static_cast<long>(at) + 8));
    }
    Bytes dec;
    const Block other_iv = velk::test::block_from_hex("0000000000000000");
    ASSERT_EQ(stream(Direction::decrypt, enc, dec, distinct_key, other_iv, mode_cbc).status,
              StreamResult::ok);
    ASSERT_EQ(dec.size(), plain.size());
    EXPECT_NE(Bytes(dec.begin(), dec.begin() + 8), Bytes(plain.begin(), plain.begin() + 8));
    EXPECT_EQ(Bytes(dec.begin() + 8, dec.end()), Bytes(plain.begin() + 8, plain.end()));
}

// The hold-back reader must not depend on where reads end: any buffer size
// gives the same bytes, and the writer's output does not depend on it either.
TEST(Stream, ResultsDoNotDependOnTheBufferSize) {
    Random rng(25);
    for (int mode : {mode_ecb, mode_cbc}) {
        for (std::size_t size : {0, 1, 7, 8, 9, 15, 16, 17, 23, 24, 25, 100, 1000}) {
            const Bytes plain = rng.bytes(size);
            const Bytes enc = encrypt_bytes(plain, distinct_key, iv, mode);
            for (std::size_t capacity : {16, 24, 32, 40, 64}) {
                Bytes small_enc, dec;
                ASSERT_EQ(
                    stream(Direction::encrypt, plain, small_enc, distinct_key, iv, mode, capacity)
                        .status,
                    StreamResult::ok);
                ASSERT_EQ(small_enc, enc) << size << " through " << capacity;
                ASSERT_EQ(
                    stream(Direction::decrypt, enc, dec, distinct_key, iv, mode, capacity).status,
                    StreamResult::ok);
                ASSERT_EQ(dec, plain) << size << " through " << capacity;
            }
        }
    }
}

// A buffer that is not whole blocks, or too small to hold one block back
// and read another, is refused before anything is read or written: capacity
// 8 used to make the reader loop for ever, 12 made the writer's zero fill
// run past the buffer, and 0 lost the whole input.
TEST(Stream, RefusesAnUnusableBufferBeforeReadingOrWriting) {
    const struct {
        std::size_t capacity;
        bool usable;
    } cases[] = {{0, false},  {1, false},  {8, false},  {12, false}, {15, false},
                 {20, false}, {16, true},  {24, true},  {chunk_bytes, true}};
    const Bytes plain(24, 0x5a);
    const Bytes enc = encrypt_bytes(plain, distinct_key, iv, mode_cbc);
    for (const auto &c : cases) {
        EXPECT_EQ(usable_capacity(c.capacity), c.usable) << c.capacity;
        for (Direction direction : {Direction::encrypt, Direction::decrypt}) {
            SCOPED_TRACE("capacity " + std::to_string(c.capacity));
            const Bytes &data = direction == Direction::encrypt ? plain : enc;
            std::FILE *in = file_with(data);
            std::FILE *out = std::tmpfile();
            // The buffer sits inside a larger one whose guard bytes must stay.
            Bytes guarded(c.capacity + 16, 0xa5);
            unsigned char *buffer = guarded.data() + 8;
            const StreamResult r =
                direction == Direction::encrypt
                    ? encrypt_stream(in, out, buffer, c.capacity, distinct_key.data(), iv.data(),
                                     mode_cbc)
                    : decrypt_stream(in, out, buffer, c.capacity, distinct_key.data(), iv.data(),
                                     mode_cbc);
            if (c.usable) {
                EXPECT_EQ(r.status, StreamResult::ok);
            } else {
                EXPECT_EQ(r.status, StreamResult::bad_capacity);
                EXPECT_EQ(std::ftell(in), 0) << "nothing read";
                EXPECT_TRUE(slurp(out).empty()) << "nothing written";
                EXPECT_EQ(guarded, Bytes(c.capacity + 16, 0xa5)) << "buffer untouched";
            }
            std::fclose(in);
            std::fclose(out);
        }
    }
}

TEST(Stream, EmptyInputsAndTheLoneCountByte) {
    Bytes out;
    EXPECT_EQ(encrypt_bytes({}, distinct_key, iv, mode_cbc), Bytes{8});
    EXPECT_EQ(stream(Direction::decrypt, {}, out, distinct_key, iv, mode_ecb).status,
              StreamResult::ok);
    EXPECT_TRUE(out.empty());
    for (unsigned char count = 1; count <= 8; ++count) {
        EXPECT_EQ(stream(Direction::decrypt, {count}, out, distinct_key, iv, mode_cbc).status,
                  StreamResult::ok);
        EXPECT_TRUE(out.empty());
    }
}

// Nothing the reader writes may come from beyond the decrypted bytes: a
// refused input writes at most the blocks before its last read.
TEST(Stream, ReaderRefusesMalformedInput) {
    Random rng(26);
    struct Case {
        std::size_t size;
        int last; // forced value of the last byte, or -1
        StreamResult::Status want;
    };
    const Case cases[] = {
        {2, -1, StreamResult::bad_size},
        {8, -1, StreamResult::bad_size},
        {10, -1, StreamResult::bad_size},
        {16, -1, StreamResult::bad_size},
        {chunk_bytes, -1, StreamResult::bad_size},
        {chunk_bytes + 8, -1, StreamResult::bad_size},
        {chunk_bytes + 2, -1, StreamResult::bad_size},
        {1, 0, StreamResult::bad_count},
        {9, 0, StreamResult::bad_count},
        {9, 9, StreamResult::bad_count},
        {17, 255, StreamResult::bad_count},
        {chunk_bytes + 1, 0, StreamResult::bad_count},
        {2 * chunk_bytes + 9, 200, StreamResult::bad_count},
    };
    for (const Case &c : cases) {
        for (int mode : {mode_ecb, mode_cbc}) {
            for (std::size_t capacity : {std::size_t{16}, chunk_bytes}) {
                Bytes data = rng.bytes(c.size);
                if (c.last >= 0 && !data.empty())
                    data.back() = static_cast<unsigned char>(c.last);
                Bytes out;
                const StreamResult r =
                    stream(Direction::decrypt, data, out, distinct_key, iv, mode, capacity);
                EXPECT_EQ(r.status, c.want) << c.size << " through " << capacity;
                if (c.want == StreamResult::bad_count) {
                    EXPECT_EQ(r.detail, c.last);
                }
                EXPECT_LT(out.size(), data.size()) << c.size;

                std::FILE *f = file_with(data);
                EXPECT_EQ(check_encrypted_input(f, static_cast<long long>(data.size())).status,
                          c.want);
                std::fclose(f);
            }
        }
    }
    std::FILE *f = file_with({1, 2, 3, 4, 5, 6, 7, 8, 3});
    ASSERT_EQ(check_encrypted_input(f, 9).status, StreamResult::ok);
    EXPECT_EQ(std::fgetc(f), 1) << "the check seeks back to the start";
    std::fclose(f);
}

// The progress hook hears of every byte written, whatever the buffer size,
// and does not change the output.
TEST(Stream, ProgressHookCountsEveryByteWritten) {
    Random rng(23);
    for (std::size_t size : {std::size_t{0}, std::size_t{7}, chunk_bytes, 3 * chunk_bytes + 5}) {
        const Bytes plain = rng.bytes(size);
        for (Direction direction : {Direction::encrypt, Direction::decrypt}) {
            const Bytes data = direction == Direction::encrypt
                                   ? plain
                                   : encrypt_bytes(plain, distinct_key, iv, mode_cbc);
            std::size_t heard = 0;
            const ProgressHook hook{[](void *c, std::size_t n) { *static_cast<std::size_t *>(c) += n; },
                                    &heard};
            std::FILE *in = file_with(data);
            std::FILE *out = std::tmpfile();
            Bytes buffer(1024);
            const StreamResult r =
                direction == Direction::encrypt
                    ? encrypt_stream(in, out, buffer.data(), 1024, distinct_key.data(), iv.data(),
                                     mode_cbc, &hook)
                    : decrypt_stream(in, out, buffer.data(), 1024, distinct_key.data(), iv.data(),
                                     mode_cbc, &hook);
            ASSERT_EQ(r.status, StreamResult::ok);
            const Bytes written = slurp(out);
            // The writer's count byte comes after the last buffer.
            EXPECT_EQ(heard, written.size() - (direction == Direction::encrypt ? 1 : 0)) << size;
            if (direction == Direction::decrypt) {
                EXPECT_EQ(written, plain);
            }
            std::fclose(in);
            std::fclose(out);
        }
    }
}

TEST(Stream, ProgressLineText) {
    struct Case {
        unsigned long long done, total;
        double seconds;
        const char *line;
    };
    const Case cases[] = {
        {12'600'000, 100'700'000, 0.5, "12.6 MB of 100.7 MB, 12%, 25.2 MB/s, 0:03 left"},
        {12'600'000, 0, 0.5, "12.6 MB, 25.2 MB/s"},
        {1'000'000, 10'000'000'000, 1.0, "1.0 MB of 10000.0 MB, 0%, 1.0 MB/s, 2:46:39 left"},
        {101, 100, 1.0, "0.0 MB of 0.0 MB, 100%, 0.0 MB/s, 0:00 left"},
        {0, 100, 0.0, "0.0 MB of 0.0 MB, 0%, 0.0 MB/s"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(format_progress(c.done, c.total, c.seconds), c.line);
}

// What the command-line tests cannot see: the decoded bytes and that a
// refused value leaves nothing of itself behind.
TEST(KeyText, HexDigitsDecodeToBytesAndRefusalsClear) {
    unsigned char v[8];
    std::string error;
    ASSERT_TRUE(parse_hex_value("-V", "00aAbBcCdDeEfF09", v, 8, error));
    EXPECT_EQ(Bytes(v, v + 8), velk::test::from_hex("00aabbccddeeff09"));
    EXPECT_FALSE(parse_hex_value("-V", "0011223344556g77", v, 8, error));
    EXPECT_EQ(Bytes(v, v + 8), Bytes(8, 0));
    EXPECT_EQ(error, "-V: character 14 is not a hex digit");
    EXPECT_FALSE(parse_hex_value("-V", "001122334455667", v, 8, error));
    EXPECT_EQ(Bytes(v, v + 8), Bytes(8, 0));
}

} // namespace
