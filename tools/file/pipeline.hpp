// SPDX-License-Identifier: MIT
// Streaming, on one core or several: the calling thread reads consecutive
// slots of the input and writes them back out in order, while worker
// threads (when there are any) encrypt or decrypt the slots in between.
// The calling thread is one of the workers: with n, n - 1 threads are
// started, and it takes a job itself whenever it has nothing to read and
// the oldest slot is not ready to write. (Were it only to read and write,
// it would share the CPUs with n busy workers and get less than a CPU of
// its own, and the output would wait for it.) Only the modes whose blocks
// do not depend on one another take this way: ECB both ways and CBC
// decryption, where the chain input of each slot is the cipher block before
// it, known when it is read. CBC encryption stays on the calling thread.
//
// With no workers the ring is one slot, the caller's buffer. The output and
// the result do not depend on the number of workers, only on the slot
// size: a malformed tail or a read error is reported after every earlier
// slot has been written and nothing of the failed read; a write error stops
// everything at once.
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

// The value of VELKFILE_THREADS as a limit: a positive decimal number, digits
// only (a huge one saturates). Anything else, the empty text included, gives
// 0, which sets no limit.
unsigned parse_thread_limit(const char *text);

// Whole CPUs that a CPU-time quota of `quota` in every `period` allows,
// rounded up and capped at max_workers; 0 (no limit) unless both are
// positive. parse_cpu_max reads cgroup v2's cpu.max line, "QUOTA PERIOD" or
// "max PERIOD", the same way; any other text gives 0.
unsigned cpus_of_quota(long long quota, long long period);
unsigned parse_cpu_max(const char *text);

// The CPU quota of the process's cgroup and of those above it, the
// tightest, in whole CPUs (rounded up), or 0 when there is none: cpu.max
// under cgroup v2, cpu.cfs_quota_us and cpu.cfs_period_us under v1.
unsigned cgroup_cpu_limit();

// The CPUs in the process's affinity mask, lowered to the CPU quota of its
// cgroup (and of the cgroups above it), to VELKFILE_THREADS when that is a
// valid smaller number, and to max_workers. At least 1.
unsigned available_workers();

// Streams `in` to `out` in the velkfile format: the one framing of the
// format (reading, holding back the last block, the count byte, the checks
// of the end) for every run. It runs on worker threads when that pays: the
// plan (file_stream.hpp) names two or more workers, the mode does not chain (not CBC
// encryption), the input is not a regular file that fits in one slot, and
// the ring can be had. A pipe starts its workers only when its first slot is
// full. Otherwise the reader processes each read itself, in `buffer` of
// `capacity` bytes (a usable_capacity). `chain` is the vector, read in CBC
// mode only. `out` is flushed on success; `progress`, when given, hears of
// every buffer written. Only the stream's own ring is wiped here.
StreamResult stream_blocks(Direction direction, int mode, std::FILE *in, std::FILE *out,
                           const velk::Ede3BulkKey &key, const unsigned char chain[8],
                           unsigned char *buffer, std::size_t capacity,
                           const ProgressHook *progress, const ThreadPlan &plan);

} // namespace velkfile
