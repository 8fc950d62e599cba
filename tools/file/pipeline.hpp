// SPDX-License-Identifier: MIT
// Streaming on several cores: the calling thread reads consecutive slots of
// the input and writes them back out in order, while worker threads encrypt
// or decrypt the slots in between. Only the modes whose blocks do not depend
// on one another take this way: ECB both ways and CBC decryption, where the
// chain input of each slot is the cipher block before it, known when it is
// read. CBC encryption stays on the calling thread.
//
// The output and the result are those of the one-thread streams with a
// buffer of one slot: a malformed tail or a read error is reported after
// every earlier slot has been written and nothing of the failed read; a
// write error stops everything at once.
// Memory is a fixed ring of slots, a few per worker, whatever the input size.
#pragma once

#include <cstddef>
#include <cstdio>

#include "file_stream.hpp"

namespace velkfile {

// Size of one slot of the ring, and the number of slots per worker: with
// three, one slot is being read or written while each worker has one to
// work on and one waiting.
inline constexpr std::size_t default_slot_bytes = 128 * 1024;
inline constexpr std::size_t slots_per_worker = 3;
// More workers than this gain nothing on a single stream and would only
// make the ring larger.
inline constexpr unsigned max_workers = 64;
// The ring never takes more than this; with many workers the slots shrink.
inline constexpr std::size_t max_ring_bytes = 4 * 1024 * 1024;

// How the streams spread their work. The program leaves it at its defaults;
// tests set it to force threads onto small inputs and odd slot sizes.
struct ThreadPlan {
    unsigned workers = 0;       // 0: available_workers()
    std::size_t slot_bytes = 0; // 0: default_slot_bytes; else a multiple of 8, at least 16
};
extern ThreadPlan thread_plan;

// The value of VELKFILE_THREADS as a limit: a positive decimal number, digits
// only (a huge one saturates). Anything else, the empty text included, gives
// 0, which sets no limit.
unsigned parse_thread_limit(const char *text);

// The CPUs in the process's affinity mask, lowered to VELKFILE_THREADS when
// that is a valid smaller number, and to max_workers. At least 1.
unsigned available_workers();

// Runs the whole stream on worker threads when that pays: the plan names
// two or more workers and the input is not a regular file that fits in one
// slot. A pipe starts its workers only when its first slot is full. Returns
// false, having touched neither stream, when the caller should stream on
// its own thread; otherwise stores the outcome in `result`, with `out`
// flushed on success as the one-thread streams do. `chain` is the vector,
// read in CBC mode only. `progress`, when given, hears of every slot written.
bool threaded_stream(Direction direction, int mode, std::FILE *in, std::FILE *out,
                     const velk::Ede3BulkKey &key,
                     const unsigned char chain[8], const ProgressHook *progress,
                     StreamResult &result);

} // namespace velkfile
