// SPDX-License-Identifier: MIT
// The file format and its streaming, in process: round trips around every
// multiple of the read size, the blocks against libcrypto, the chain across
// reads, and the reader's refusal of anything that is not a velkfile file;
// each on one thread and on workers with slots small enough that every input
// crosses many of them. Then the threaded streams against the one-thread
// ones: the same bytes and the same failures for any number of workers.
#include <vector>

#include <sched.h>

#include "file_test_support.hpp"
#include "hex_digits.hpp"
#include "key_text.hpp"
#include "progress.hpp"

namespace velkfile {
// Names the plan in test listings.
void PrintTo(const ThreadPlan &plan, std::ostream *os) {
    *os << plan.workers << " workers, slots of " << plan.slot_bytes << " bytes";
}
} // namespace velkfile

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

// Every stream test runs under each plan: one thread; two workers with
// slots of 33 blocks; eight workers with slots just over one batch of
// the many-block path.
class Stream : public ::testing::TestWithParam<ThreadPlan> {
  protected:
    void SetUp() override { test_plan = GetParam(); }
    void TearDown() override { test_plan = ThreadPlan{}; }
};

INSTANTIATE_TEST_SUITE_P(Plans, Stream,
                         ::testing::Values(ThreadPlan{1, 0}, ThreadPlan{2, 264},
                                           ThreadPlan{8, 2048 + 8}),
                         [](const ::testing::TestParamInfo<ThreadPlan> &info) {
                             return std::to_string(info.param.workers) + "_workers";
                         });

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

TEST_P(Stream, RoundTripsAtEveryBoundaryWithZeroFill) {
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
TEST_P(Stream, BodyIsLibcryptoEde3OfTheZeroFilledPlaintext) {
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

TEST_P(Stream, CbcChainCrossesTheReadBoundaryAndTheVectorOnlyTouchesTheFirstBlock) {
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
TEST_P(Stream, ResultsDoNotDependOnTheBufferSize) {
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
TEST(StreamLimits, RefusesAnUnusableBufferBeforeReadingOrWriting) {
    const struct {
        std::size_t capacity;
        bool usable;
    } cases[] = {{0, false},  {1, false}, {8, false}, {12, false},        {15, false},
                 {20, false}, {16, true}, {24, true}, {chunk_bytes, true}};
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
            const StreamResult r = direction == Direction::encrypt
                                       ? encrypt_stream(in, out, buffer, c.capacity,
                                                        distinct_key.data(), iv.data(), mode_cbc,
                                                        nullptr, test_plan)
                                       : decrypt_stream(in, out, buffer, c.capacity,
                                                        distinct_key.data(), iv.data(), mode_cbc,
                                                        nullptr, test_plan);
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

TEST_P(Stream, EmptyInputsAndTheLoneCountByte) {
    Bytes out;
    EXPECT_EQ(encrypt_bytes({}, distinct_key, iv, mode_cbc), Bytes{8});
    EXPECT_EQ(stream(Direction::decrypt, {}, out, distinct_key, iv, mode_ecb).status,
              StreamResult::ok);
    EXPECT_TRUE(out.empty());
    // A file of one byte holds no block: only the count 8 of an empty
    // plaintext fits it, any other count claims bytes that are not there.
    for (unsigned char count = 1; count <= 8; ++count) {
        const StreamResult r = stream(Direction::decrypt, {count}, out, distinct_key, iv, mode_cbc);
        EXPECT_EQ(r.status, count == 8 ? StreamResult::ok : StreamResult::lone_count) << +count;
        EXPECT_TRUE(out.empty());
        std::FILE *f = file_with({count});
        EXPECT_EQ(check_encrypted_input(f, 1).status, r.status) << +count;
        std::fclose(f);
    }
}

// Nothing the reader writes may come from beyond the decrypted bytes: a
// refused input writes at most the blocks before its last read.
TEST_P(Stream, ReaderRefusesMalformedInput) {
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
        {1, 1, StreamResult::lone_count},
        {1, 7, StreamResult::lone_count},
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

// The progress hook hears of every byte written, whatever the buffer size
// and the number of workers, and does not change the output.
TEST_P(Stream, ProgressHookCountsEveryByteWritten) {
    Random rng(23);
    for (std::size_t size : {std::size_t{0}, std::size_t{7}, chunk_bytes, 3 * chunk_bytes + 5}) {
        const Bytes plain = rng.bytes(size);
        for (const auto &[direction, mode] :
             {std::pair{Direction::encrypt, mode_ecb}, std::pair{Direction::decrypt, mode_ecb},
              std::pair{Direction::encrypt, mode_cbc}, std::pair{Direction::decrypt, mode_cbc}}) {
            const Bytes data = direction == Direction::encrypt
                                   ? plain
                                   : encrypt_bytes(plain, distinct_key, iv, mode);
            std::size_t heard = 0;
            const ProgressHook hook{
                [](void *c, std::size_t n) { *static_cast<std::size_t *>(c) += n; }, &heard};
            std::FILE *in = file_with(data);
            std::FILE *out = std::tmpfile();
            Bytes buffer(1024);
            const StreamResult r =
                direction == Direction::encrypt
                    ? encrypt_stream(in, out, buffer.data(), 1024, distinct_key.data(), iv.data(),
                                     mode, &hook, test_plan)
                    : decrypt_stream(in, out, buffer.data(), 1024, distinct_key.data(), iv.data(),
                                     mode, &hook, test_plan);
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

// Plaintext sizes whose files land on each side of the slot boundaries
// near `at`: the count byte alone in a read, a full last read, a short one.
void add_sizes_around(std::vector<std::size_t> &sizes, std::size_t at) {
    for (long d : {-17L, -9L, -8L, -1L, 0L, 1L, 8L, 9L, 17L})
        if (static_cast<long>(at) + d >= 0)
            sizes.push_back(static_cast<std::size_t>(static_cast<long>(at) + d));
}

// Every worker count gives the one-thread bytes, from a regular file and
// from a pipe, around slot boundaries, the many-block batch (a slot of 129
// blocks) and the end of the ring (three slots per worker).
TEST(ThreadedStream, SameBytesForOneTwoAndEightWorkers) {
    Random rng(41);
    for (std::size_t slot : {std::size_t{16}, std::size_t{1032}, default_slot_bytes}) {
        std::vector<std::size_t> sizes = {0, 1, 7, 8, 9};
        if (slot == default_slot_bytes) {
            // The program's own slots, lightly: one slot, the count byte
            // alone in the next read, a block into the next slot.
            sizes.insert(sizes.end(), {slot - 8, slot, slot + 9});
        } else {
            for (std::size_t k = 1; k <= 3; ++k)
                add_sizes_around(sizes, k * slot);
            for (std::size_t workers : {2, 8})
                add_sizes_around(sizes, slots_per_worker * workers * slot);
        }
        for (int mode : {mode_ecb, mode_cbc}) {
            for (std::size_t size : sizes) {
                SCOPED_TRACE("slot " + std::to_string(slot) + " mode " + std::to_string(mode) +
                             " size " + std::to_string(size));
                const Bytes plain = rng.bytes(size);
                Bytes enc;
                {
                    PlanScope serial(1);
                    ASSERT_EQ(stream(Direction::encrypt, plain, enc, distinct_key, iv, mode).status,
                              StreamResult::ok);
                }
                for (unsigned workers : {1u, 2u, 8u}) {
                    PlanScope plan(workers, slot);
                    Bytes out;
                    ASSERT_EQ(stream(Direction::encrypt, plain, out, distinct_key, iv, mode).status,
                              StreamResult::ok);
                    ASSERT_EQ(out, enc) << workers << " workers, file";
                    ASSERT_EQ(stream(Direction::decrypt, enc, out, distinct_key, iv, mode).status,
                              StreamResult::ok);
                    ASSERT_EQ(out, plain) << workers << " workers, file";
                    // A pipe delivers odd pieces, never whole slots at once.
                    PipeLike pipe;
                    pipe.piece = 1000;
                    pipe.data = plain;
                    ASSERT_EQ(
                        stream_pipe(Direction::encrypt, pipe, out, distinct_key, iv, mode).status,
                        StreamResult::ok);
                    ASSERT_EQ(out, enc) << workers << " workers, pipe";
                    pipe.data = enc;
                    ASSERT_EQ(
                        stream_pipe(Direction::decrypt, pipe, out, distinct_key, iv, mode).status,
                        StreamResult::ok);
                    ASSERT_EQ(out, plain) << workers << " workers, pipe";
                }
            }
        }
    }
}

TEST(Progress, LineText) {
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

    // Narrow terminals: fields are left out, widest-last, until the line
    // leaves the last column free.
    const struct {
        unsigned long long done, total;
        std::size_t columns;
        const char *line;
    } fits[] = {
        {12'600'000, 100'700'000, 0, "velkfile: 12.6 MB of 100.7 MB, 12%, 25.2 MB/s, 0:03 left"},
        {12'600'000, 100'700'000, 80, "velkfile: 12.6 MB of 100.7 MB, 12%, 25.2 MB/s, 0:03 left"},
        {12'600'000, 100'700'000, 57, "velkfile: 12.6 MB of 100.7 MB, 12%, 25.2 MB/s, 0:03 left"},
        {12'600'000, 100'700'000, 56, "velkfile: 12.6 MB of 100.7 MB, 12%, 25.2 MB/s"},
        {12'600'000, 100'700'000, 40, "velkfile: 12.6 MB of 100.7 MB, 12%"},
        {12'600'000, 100'700'000, 30, "12.6 MB of 100.7 MB, 12%"},
        {12'600'000, 100'700'000, 10, "12%"},
        {12'600'000, 100'700'000, 3, "12"},
        {12'600'000, 0, 20, "velkfile: 12.6 MB"},
        {12'600'000, 0, 5, "12.6"},
        {12'600'000, 0, 1, ""},
    };
    for (const auto &f : fits) {
        const std::string line = fit_progress(f.done, f.total, 0.5, f.columns);
        EXPECT_EQ(line, f.line) << f.columns;
        if (f.columns != 0) {
            EXPECT_LT(line.size(), f.columns);
        }
    }
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

// The branch-free decoder against the plain rule, for every byte value in
// each place of a pair, and the first bad character among several. The
// line end is found among CR, LF and digits in every position.
TEST(KeyText, BranchFreeDecodingAgreesWithThePlainRuleForEveryByte) {
    const auto plain_value = [](int c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
    };
    for (int c = 0; c < 256; ++c) {
        for (int place = 0; place < 2; ++place) {
            char text[4] = {'7', '7', 'e', 'E'};
            text[place] = static_cast<char>(c);
            unsigned char out[2];
            const std::size_t bad = decode_hex_digits(text, out, 2);
            const int v = plain_value(c);
            EXPECT_EQ(bad, v < 0 ? static_cast<std::size_t>(place + 1) : 0u) << c;
            if (v >= 0) {
                EXPECT_EQ(out[0], place == 0 ? v << 4 | 7 : 0x70 | v) << c;
                EXPECT_EQ(out[1], 0xEE);
            }
        }
    }
    unsigned char out[3];
    EXPECT_EQ(decode_hex_digits("00x1zz", out, 3), 3u);
    for (std::size_t at = 0; at <= 6; ++at) {
        std::string line = "0123456";
        if (at < line.size())
            line[at] = '\n';
        EXPECT_EQ(line_length(line.data(), line.size()), at);
    }
    const std::string crlf = "01\r\n\r\n";
    EXPECT_EQ(without_carriage_return(crlf.data(), line_length(crlf.data(), crlf.size())), 2u);
    EXPECT_EQ(without_carriage_return("0\r", 1), 1u);
    EXPECT_EQ(without_carriage_return("\r", 1), 0u);
    EXPECT_EQ(without_carriage_return("", 0), 0u);
}

// A read error, a write error or a malformed tail at any point: the threaded
// stream reports what the one-thread stream reports, after writing exactly
// the bytes it writes (the earlier slots, nothing of the failed one), and
// returns rather than hangs. The one-thread stream reads as much per read
// as a slot holds, so the bytes must match exactly.
TEST(ThreadedStream, FailuresMatchTheOneThreadStream) {
    Random rng(42);
    struct Case {
        const char *what;
        Direction direction;
        std::size_t read_fails_at; // SIZE_MAX: never
        std::size_t write_fails_at;
        // Decryption: 1 keeps the file whole, -1 drops its last byte, any
        // other value replaces the count byte.
        int tail;
    };
    for (std::size_t slot : {std::size_t{24}, std::size_t{1032}}) {
        const std::size_t n = SIZE_MAX;
        const Case cases[] = {
            {"read at 0", Direction::encrypt, 0, n, 0},
            {"read in slot 1", Direction::encrypt, slot / 2, n, 0},
            {"read at slot 2", Direction::encrypt, slot, n, 0},
            {"read late", Direction::encrypt, 9 * slot + 5, n, 0},
            {"read at 0", Direction::decrypt, 0, n, 1},
            {"read after hold", Direction::decrypt, slot + 3, n, 1},
            {"read late", Direction::decrypt, 9 * slot, n, 1},
            {"write at 0", Direction::encrypt, n, 0, 0},
            {"write mid", Direction::encrypt, n, 3 * slot + 1, 0},
            {"write late", Direction::encrypt, n, 11 * slot, 0},
            {"count byte", Direction::encrypt, n, 12 * slot, 0},
            {"write at 0", Direction::decrypt, n, 0, 1},
            {"write late", Direction::decrypt, n, 10 * slot, 1},
            {"short tail", Direction::decrypt, n, n, -1},
            {"count 0", Direction::decrypt, n, n, 0},
            {"count 9", Direction::decrypt, n, n, 9},
        };
        for (int mode : {mode_ecb, mode_cbc}) {
            for (const Case &c : cases) {
                SCOPED_TRACE(std::string(c.what) + ", slot " + std::to_string(slot) + " mode " +
                             std::to_string(mode));
                PipeLike in;
                in.data = rng.bytes(12 * slot);
                if (c.direction == Direction::decrypt) {
                    in.data = encrypt_bytes(in.data, distinct_key, iv, mode);
                    if (c.tail < 0)
                        in.data.pop_back();
                    else if (c.tail != 1)
                        in.data.back() = static_cast<unsigned char>(c.tail);
                }
                in.piece = 1000;
                in.fail_at = c.read_fails_at;
                Bytes want, got;
                StreamResult want_r, got_r;
                {
                    PlanScope serial(1);
                    want_r = stream_pipe(c.direction, in, want, distinct_key, iv, mode, slot,
                                         c.write_fails_at);
                }
                ASSERT_NE(want_r.status, StreamResult::ok);
                for (unsigned workers : {2u, 8u}) {
                    PlanScope plan(workers, slot);
                    got_r = stream_pipe(c.direction, in, got, distinct_key, iv, mode, slot,
                                        c.write_fails_at);
                    EXPECT_EQ(got_r.status, want_r.status) << workers << " workers";
                    EXPECT_EQ(got_r.detail, want_r.detail) << workers << " workers";
                    EXPECT_EQ(got, want) << workers << " workers";
                }
            }
        }
    }
}

TEST(ThreadedStream, WorkersFollowTheAffinityMaskAndTheLimit) {
    const struct {
        const char *text;
        unsigned limit;
    } limits[] = {
        {"1", 1},  {"2", 2},  {"08", 8},  {"64", 64}, {"99999999999999999999999", max_workers + 1},
        {"", 0},   {"0", 0},  {"-2", 0},  {"+2", 0},  {" 2", 0},
        {"2 ", 0}, {"2x", 0}, {"0x4", 0}, {"two", 0},
    };
    for (const auto &l : limits)
        EXPECT_EQ(parse_thread_limit(l.text), l.limit) << '"' << l.text << '"';
    EXPECT_EQ(parse_thread_limit(nullptr), 0u);

    // A cgroup's CPU quota in whole CPUs, rounded up.
    const struct {
        const char *text;
        unsigned cpus;
    } quotas[] = {
        {"max 100000\n", 0},    {"200000 100000\n", 2},
        {"150000 100000", 2},   {"50000 100000\n", 1},
        {"1 100000", 1},        {"6400000 1000", max_workers},
        {"0 100000", 0},        {"-1 100000", 0},
        {"100000", 0},          {"", 0},
        {"200000 100000 x", 0},
    };
    for (const auto &q : quotas)
        EXPECT_EQ(parse_cpu_max(q.text), q.cpus) << q.text;
    EXPECT_EQ(parse_cpu_max(nullptr), 0u);
    EXPECT_EQ(cpus_of_quota(-1, 100000), 0u); // cgroup v1's "no quota"
    EXPECT_EQ(cpus_of_quota(250000, 100000), 3u);

    cpu_set_t mask;
    ASSERT_EQ(sched_getaffinity(0, sizeof mask, &mask), 0);
    // The machine's own cgroup quota, if any, lowers every expectation.
    const unsigned quota = cgroup_cpu_limit();
    const auto cpus =
        std::min(static_cast<unsigned>(CPU_COUNT(&mask)), quota != 0 ? quota : max_workers);
    const char *saved = std::getenv("VELKFILE_THREADS");
    const std::string saved_text = saved != nullptr ? saved : "";
    unsetenv("VELKFILE_THREADS");
    EXPECT_EQ(available_workers(), std::min(cpus, max_workers));
    for (const char *junk : {"0", "junk", ""}) {
        setenv("VELKFILE_THREADS", junk, 1);
        EXPECT_EQ(available_workers(), std::min(cpus, max_workers)) << junk;
    }
    setenv("VELKFILE_THREADS", "1", 1);
    EXPECT_EQ(available_workers(), 1u);
    setenv("VELKFILE_THREADS", "1000", 1); // a limit, never a demand
    EXPECT_EQ(available_workers(), std::min(cpus, max_workers));
    unsetenv("VELKFILE_THREADS");

    // One CPU in the mask, as `taskset -c 0` leaves it: one worker.
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &mask)) {
            CPU_SET(cpu, &one);
            break;
        }
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    EXPECT_EQ(available_workers(), 1u);
    ASSERT_EQ(sched_setaffinity(0, sizeof mask, &mask), 0);
    if (saved != nullptr)
        setenv("VELKFILE_THREADS", saved_text.c_str(), 1);
}

} // namespace
