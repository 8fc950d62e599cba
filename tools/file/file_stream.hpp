// SPDX-License-Identifier: MIT
// The velkfile format and its streaming writer and reader.
//
// An encrypted file is the plaintext's 8-byte blocks, each encrypted with
// three-key EDE triple DES in ECB or CBC mode, followed by one count byte:
// the number of plaintext bytes in the last block (1..8). There is no header.
// A plaintext of L bytes gives 8*ceil(L/8) + 1 bytes; an empty plaintext
// gives the count byte 8 alone. The fill bytes of a short last block are 0.
//
// The work is split in three layers so each can be driven on its own:
//   process_blocks         one buffer of whole blocks, in place;
//   encrypt_stream/...     a whole stream through one fixed buffer, reporting
//                          what went wrong but printing nothing;
//   encrypt_file/...       paths: the opening order, the checks that must
//                          come before the output is touched, the messages.
#pragma once

#include <cstddef>
#include <cstdio>

#include <sys/types.h>

#include "ede3_bulk.hpp"
#include "velkcore.h"

namespace velkfile {

// Size of the one buffer each file operation streams through.
inline constexpr std::size_t chunk_bytes = 16384;

// The mode argument: 1 selects CBC, every other value ECB.
inline constexpr int mode_ecb = 0;
inline constexpr int mode_cbc = 1;

enum class Direction { encrypt, decrypt };

// Encrypts or decrypts `length` bytes at `buf` in place, 8-byte block by
// block (`length` is a multiple of 8). In CBC mode `chain` holds the previous
// cipher block on entry and is advanced to the last cipher block of the
// buffer, so consecutive buffers continue one chain. `key` is built once per
// file; it is only read, so several buffers may use it at once.
void process_blocks(Direction direction, int mode, unsigned char *buf, std::size_t length,
                    const velk::Ede3BulkKey &key, unsigned char chain[8]);

// Reads until `want` bytes are in or the input ends, so a short count always
// means end of input (or an error, which the caller asks ferror about), also
// from pipes that deliver data in small pieces. Clears errno first.
std::size_t read_full(std::FILE *in, unsigned char *buf, std::size_t want);

struct StreamResult {
    enum Status {
        ok,
        read_failed,  // detail: errno of the failed read
        write_failed, // detail: errno of the failed write, count byte or flush
        bad_size,     // the input's size is not 8*N + 1
        bad_count,    // detail: the count byte, not in 1..8
        lone_count,   // detail: the count byte of a file of one byte, not 8
        bad_capacity, // the buffer breaks usable_capacity: nothing read or written
    } status = ok;
    int detail = 0;
};

// The stream functions need a buffer of whole blocks (the writer fills the
// last block with zeros in place) with room for one block more than the
// block the reader holds back, so at least two. Any other capacity is
// refused with bad_capacity before a byte is read or written.
constexpr bool usable_capacity(std::size_t capacity) {
    return capacity >= 16 && capacity % 8 == 0;
}
static_assert(usable_capacity(chunk_bytes));

// How a stream spreads its work over threads. The program passes the
// defaults; the tests name workers and slot sizes to force threads onto
// small inputs and odd slots.
struct ThreadPlan {
    unsigned workers = 0;       // 0: available_workers() (pipeline.hpp)
    std::size_t slot_bytes = 0; // 0: default_slot_bytes; else a multiple of 8, at least 16
    // Called on a worker thread (never the reader) before each job it
    // takes: tests plant a fault there. The program leaves it null.
    void (*before_worker_job)() = nullptr;
};

// Told after each buffer of output is written, with its length in bytes, so
// the caller can show how far a long run has come.
struct ProgressHook {
    void (*written)(void *context, std::size_t bytes);
    void *context;
};

// Streams `in` to `out` through `buffer` of `capacity` bytes (see
// usable_capacity; the program uses chunk_bytes). The key is 24 bytes, the
// vector 8 bytes and read only in CBC mode. Both flush `out` at the end but
// close neither stream. `progress`, when given, hears of every buffer written;
// `plan` says how many threads may share the work.
// The key schedules and the chaining value are wiped before they return; the
// buffer is the caller's to wipe.
StreamResult encrypt_stream(std::FILE *in, std::FILE *out, unsigned char *buffer,
                            std::size_t capacity, const unsigned char key[24],
                            const unsigned char vector[8], int mode,
                            const ProgressHook *progress = nullptr, const ThreadPlan &plan = {});

// The reader trusts nothing in its input. It holds back the last block of
// each full read until the next read shows whether it is the final block, so
// it needs no size probe and a pipe gives exactly what a regular file gives.
// Nothing beyond the decrypted bytes of the current read is ever written. A
// malformed input is found only at its end, after the earlier blocks have
// been written. An empty input gives an empty output.
StreamResult decrypt_stream(std::FILE *in, std::FILE *out, unsigned char *buffer,
                            std::size_t capacity, const unsigned char key[24],
                            const unsigned char vector[8], int mode,
                            const ProgressHook *progress = nullptr, const ThreadPlan &plan = {});

// The failures of the framing, with errno of the read or write just failed
// as the detail (EIO when the call left none).
StreamResult read_failure();
StreamResult write_failure();

// Checks the count byte of an input's last block; `after_a_block` is false
// for a file that is the count byte alone, which holds no byte to count, so
// only 8 (an empty plaintext) is valid there.
StreamResult check_count_byte(int count, bool after_a_block);

// For an input whose size is known: checks that `size` is 8*N + 1 (or 0) and
// that the last byte is a count byte in 1..8, then seeks `in` back to its
// start. Lets the caller refuse a malformed file before creating its output.
StreamResult check_encrypted_input(std::FILE *in, off_t size);

} // namespace velkfile

// Encrypt or decrypt the file `infile` into `outfile` with the 24-byte key,
// the 8-byte vector (read only in CBC mode) and the mode (1 CBC, else ECB).
// Return 0 when the whole file was processed, 1 after any failure, which has
// then been reported. The output is not created or truncated when the input
// cannot be opened, is a directory, names the same file as the output, or
// (decryption of a regular file) is not a well-formed encrypted file. A
// regular-file output is replaced whole on success and left as it was on
// failure (see output_file.hpp). The data buffer is wiped before release.
int encrypt_file(const char *infile, const char *outfile, const unsigned char key[24],
                 const unsigned char vector[8], int mode);
int decrypt_file(const char *infile, const char *outfile, const unsigned char key[24],
                 const unsigned char vector[8], int mode);
