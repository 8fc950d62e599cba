// SPDX-License-Identifier: MIT
// The reader, the workers and the ordered writer of a threaded stream.
//
// Threads are plain POSIX threads: the program then needs the C library
// alone, as it did with one thread.
#include "pipeline.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "output_file.hpp"
#include "wipe.hpp"

namespace velkfile {

unsigned parse_thread_limit(const char *text) {
    if (text == nullptr || *text == '\0')
        return 0;
    unsigned long value = 0;
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return 0;
        value = value * 10 + static_cast<unsigned long>(*p - '0');
        if (value > max_workers)
            value = max_workers + 1; // saturate: no more than the cap is ever used
    }
    return static_cast<unsigned>(value);
}

unsigned cpus_of_quota(long long quota, long long period) {
    if (quota <= 0 || period <= 0)
        return 0;
    const long long cpus = (quota + period - 1) / period;
    return cpus > static_cast<long long>(max_workers) ? max_workers : static_cast<unsigned>(cpus);
}

unsigned parse_cpu_max(const char *text) {
    long long quota = 0, period = 0;
    char end = 0;
    if (text == nullptr || std::sscanf(text, "%lld %lld%c", &quota, &period, &end) < 2 ||
        (end != 0 && end != '\n'))
        return 0; // "max PERIOD": no quota; anything else: none that we can read
    return cpus_of_quota(quota, period);
}

namespace {

// The first line of a small kernel file, or "" when it cannot be read.
std::string first_line(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "r");
    if (f == nullptr)
        return "";
    char line[256];
    const bool got = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    return got ? line : "";
}

unsigned tighter(unsigned a, unsigned b) {
    return a == 0 ? b : b == 0 ? a : (a < b ? a : b);
}

// The CPUs the quota of the cgroup `path` and of each cgroup above it
// allows, the tightest of them; `quota_of` reads one directory's quota.
template <typename QuotaOf> unsigned quota_along(std::string path, QuotaOf quota_of) {
    unsigned cpus = 0;
    for (;;) {
        cpus = tighter(cpus, quota_of(path));
        if (path.empty() || path == "/")
            return cpus;
        const std::size_t slash = path.rfind('/');
        path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
    }
}

} // namespace

unsigned cgroup_cpu_limit() {
    std::FILE *f = std::fopen("/proc/self/cgroup", "r");
    if (f == nullptr)
        return 0;
    unsigned cpus = 0;
    char line[1024];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        std::string text = line;
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        const std::size_t a = text.find(':'), b = text.find(':', a + 1);
        if (a == std::string::npos || b == std::string::npos)
            continue;
        const std::string controllers = text.substr(a + 1, b - a - 1), path = text.substr(b + 1);
        if (controllers.empty()) {
            for (const char *root : {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"})
                cpus = tighter(cpus, quota_along(path, [root](const std::string &p) {
                                   return parse_cpu_max(
                                       first_line(root + (p == "/" ? "" : p) + "/cpu.max").c_str());
                               }));
        } else if (("," + controllers + ",").find(",cpu,") != std::string::npos) {
            for (const char *root : {"/sys/fs/cgroup/cpu", "/sys/fs/cgroup/cpu,cpuacct"})
                cpus = tighter(cpus, quota_along(path, [root](const std::string &p) {
                                   const std::string dir = root + (p == "/" ? "" : p);
                                   const std::string q = first_line(dir + "/cpu.cfs_quota_us");
                                   const std::string t = first_line(dir + "/cpu.cfs_period_us");
                                   return q.empty() || t.empty()
                                              ? 0u
                                              : cpus_of_quota(std::atoll(q.c_str()),
                                                              std::atoll(t.c_str()));
                               }));
        }
    }
    std::fclose(f);
    return cpus;
}

unsigned available_workers() {
    long cpus = 0;
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        cpus = CPU_COUNT(&set);
    else // more CPUs than a cpu_set_t holds: the online count will do
        cpus = sysconf(_SC_NPROCESSORS_ONLN);
    unsigned workers = cpus < 1                                ? 1u
                       : cpus > static_cast<long>(max_workers) ? max_workers
                                                               : static_cast<unsigned>(cpus);
    // A container limited by CPU time rather than by CPUs sees every CPU in
    // its mask; more workers than its quota only wait for their turn.
    if (const unsigned quota = cgroup_cpu_limit(); quota != 0 && quota < workers)
        workers = quota;
    if (const unsigned limit = parse_thread_limit(std::getenv("VELKFILE_THREADS"));
        limit != 0 && limit < workers)
        workers = limit;
    return workers;
}

namespace {

// One slot of the ring. The reader fills `data`, sets what the worker must
// process and what the writer must write, and for CBC decryption the cipher
// block that precedes the slot.
struct Slot {
    unsigned char *data;
    std::size_t length; // bytes to encrypt or decrypt in place, whole blocks
    std::size_t keep;   // bytes of them to write
    unsigned char chain[8];
    bool done; // processed, waiting for the writer
};

struct Pipeline {
    Direction direction;
    int mode;
    const velk::Ede3BulkKey *key;
    void (*before_job)() = nullptr; // the plan's before_worker_job

    Slot *slots = nullptr;
    std::size_t slot_count = 0;
    std::size_t slot_bytes = 0;
    unsigned char *ring = nullptr;

    // Guarded by `lock`: jobs are numbered in input order; `published` of
    // them have been read, `taken` handed to workers.
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t work = PTHREAD_COND_INITIALIZER; // a job or `stop` for the workers
    pthread_cond_t done = PTHREAD_COND_INITIALIZER; // a finished job for the writer
    std::uint64_t published = 0;
    std::uint64_t taken = 0;
    bool stop = false;

    pthread_t threads[max_workers];
    unsigned started = 0;

    // CBC encryption: the chain carried from slot to slot. That mode has no
    // workers, so only the reader reads and advances it.
    unsigned char encrypt_chain[8] = {};

    void process(Slot &s) {
        const bool chained = direction == Direction::encrypt && mode == mode_cbc;
        process_blocks(direction, mode, s.data, s.length, *key, chained ? encrypt_chain : s.chain);
    }

    // Does the oldest job that nobody has taken, for a worker thread or for
    // the reader. Called, and returns, with `lock` held.
    void do_next_job() {
        Slot &s = slots[taken++ % slot_count];
        pthread_mutex_unlock(&lock);
        process(s);
        pthread_mutex_lock(&lock);
        s.done = true;
        pthread_cond_signal(&done); // the writer is the only one waiting
    }
};

void *worker_main(void *arg) {
    Pipeline &p = *static_cast<Pipeline *>(arg);
    pthread_mutex_lock(&p.lock);
    for (;;) {
        while (!p.stop && p.taken == p.published)
            pthread_cond_wait(&p.work, &p.lock);
        if (p.stop)
            break;
        if (p.before_job != nullptr)
            p.before_job();
        p.do_next_job();
    }
    pthread_mutex_unlock(&p.lock);
    return nullptr;
}

// Starts up to `wanted` worker threads. They block every signal but the
// faults a thread raises on itself, so a handler the program installs runs
// on the thread that owns the streams, except when a worker faults: a fault
// cannot wait for another thread, and with it blocked the kernel would end
// the process without running the handler that removes the temporary.
// Returns how many started; with none, the reader does every job itself.
unsigned start_workers(Pipeline &p, unsigned wanted) {
    sigset_t all, old;
    sigfillset(&all);
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL})
        sigdelset(&all, s);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    while (p.started < wanted &&
           pthread_create(&p.threads[p.started], nullptr, worker_main, &p) == 0)
        ++p.started;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return p.started;
}

// Lets the workers finish the job in hand and waits for them.
void stop_workers(Pipeline &p) {
    pthread_mutex_lock(&p.lock);
    p.stop = true;
    pthread_cond_broadcast(&p.work);
    pthread_mutex_unlock(&p.lock);
    for (unsigned i = 0; i < p.started; ++i)
        pthread_join(p.threads[i], nullptr);
    p.started = 0;
}

// What the reader knows between slots.
struct ReaderState {
    bool over = false;  // the input has ended, or reading it failed
    StreamResult end{}; // why it is over, when not a clean end
    int count = 8;      // encryption: plaintext bytes in the last block
    unsigned char held[8];
    std::size_t held_bytes = 0; // decryption: the block kept back from the last read
    unsigned char chain[8];     // decryption: the cipher block before the next slot
};

// Fills `s` from the input; returns whether it holds a job. The rules are
// those of the one-thread writer: a short read is the end, and a short last
// block is zero-filled.
bool read_plain_slot(std::FILE *in, Slot &s, std::size_t capacity, ReaderState &r) {
    const std::size_t got = read_full(in, s.data, capacity);
    if (std::ferror(in)) {
        r.end = read_failure();
        r.over = true;
        return false;
    }
    if (got < capacity)
        r.over = true;
    if (got == 0)
        return false;
    std::size_t length = got;
    if (const std::size_t rest = got % 8; rest != 0) {
        std::memset(s.data + got, 0, 8 - rest);
        length += 8 - rest;
        r.count = static_cast<int>(rest);
    }
    s.length = s.keep = length;
    return true;
}

// The rules of the one-thread reader: the last block of a full read is kept
// back until the next read shows whether the count byte follows it alone;
// the end of the input is checked for its size and count byte before any of
// its last read is handed on. The chain input of the slot is taken before
// the slot is decrypted in place.
bool read_cipher_slot(std::FILE *in, Slot &s, std::size_t capacity, ReaderState &r) {
    std::memcpy(s.data, r.held, r.held_bytes);
    const std::size_t n =
        r.held_bytes + read_full(in, s.data + r.held_bytes, capacity - r.held_bytes);
    if (std::ferror(in)) {
        r.end = read_failure();
        r.over = true;
        return false;
    }
    std::size_t body;
    if (n == capacity) {
        body = capacity - 8;
        std::memcpy(r.held, s.data + body, 8);
        r.held_bytes = 8;
        s.keep = body;
    } else {
        r.over = true;
        if (n == 0)
            return false;
        if (n % 8 != 1) {
            r.end = StreamResult{StreamResult::bad_size, 0};
            return false;
        }
        const int count = s.data[n - 1];
        body = n - 1;
        if (const StreamResult c = check_count_byte(count, body != 0);
            c.status != StreamResult::ok) {
            r.end = c;
            return false;
        }
        if (body == 0) // the count byte alone: an empty plaintext
            return false;
        s.keep = body - 8 + static_cast<std::size_t>(count);
    }
    s.length = body;
    std::memcpy(s.chain, r.chain, 8);
    std::memcpy(r.chain, s.data + body - 8, 8);
    return true;
}

// The one place where processed bytes leave the program.
bool write_slot(std::FILE *out, const Slot &s, const ProgressHook *progress) {
    if (std::fwrite(s.data, 1, s.keep, out) != s.keep)
        return false;
    wrote_output(out, s.keep);
    if (progress != nullptr)
        progress->written(progress->context, s.keep);
    return true;
}

// Reads, hands out and writes until the input is over and every job is
// written, or a write fails.
StreamResult run_pipeline(Pipeline &p, std::FILE *in, std::FILE *out, unsigned workers,
                          ReaderState &r, std::uint64_t &reads, const ProgressHook *progress) {
    std::uint64_t written = 0;
    for (;;) {
        pthread_mutex_lock(&p.lock);
        // With nothing to read and the oldest job not done, this thread does
        // a job that no worker has taken; it waits only when there is none.
        while (written < p.published && !p.slots[written % p.slot_count].done &&
               (r.over || p.published - written == p.slot_count)) {
            if (p.taken < p.published)
                p.do_next_job();
            else
                pthread_cond_wait(&p.done, &p.lock);
        }
        Slot *head = written < p.published ? &p.slots[written % p.slot_count] : nullptr;
        const bool head_done = head != nullptr && head->done;
        pthread_mutex_unlock(&p.lock);

        if (head_done) {
            if (!write_slot(out, *head, progress))
                return write_failure();
            head->done = false; // no worker touches a slot between its job's turns
            ++written;
            continue;
        }
        if (r.over)
            return r.end; // everything read has been written
        Slot &s = p.slots[p.published % p.slot_count];
        ++reads;
        const bool job = p.direction == Direction::encrypt
                             ? read_plain_slot(in, s, p.slot_bytes, r)
                             : read_cipher_slot(in, s, p.slot_bytes, r);
        if (!job)
            continue;
        // Threads start with the first slot that the input does not end in:
        // an input of one slot is done here, without them. This thread is
        // the last of the workers.
        if (workers > 1 && p.started == 0 && !r.over && p.published == 0)
            start_workers(p, workers - 1);
        pthread_mutex_lock(&p.lock);
        ++p.published;
        pthread_cond_signal(&p.work);
        pthread_mutex_unlock(&p.lock);
    }
}

// How many workers the stream gets, and its ring: none (0) when the mode
// chains from block to block, the plan names fewer than two, or the input
// is a regular file that fits in one slot.
unsigned planned_workers(const ThreadPlan &plan, Direction direction, int mode, std::FILE *in,
                         std::size_t &slot_count, std::size_t &slot_bytes) {
    if (direction == Direction::encrypt && mode == mode_cbc)
        return 0;
    unsigned workers = plan.workers != 0 ? plan.workers : available_workers();
    if (workers > max_workers)
        workers = max_workers;
    if (workers < 2)
        return 0;
    slot_count = slots_per_worker * workers;
    slot_bytes = plan.slot_bytes != 0 ? plan.slot_bytes : default_slot_bytes;
    if (slot_bytes * slot_count > max_ring_bytes)
        slot_bytes = max_ring_bytes / slot_count / 8 * 8;

    struct stat st;
    const int fd = fileno(in);
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const off_t at = ftello(in);
        if (at >= 0 && st.st_size - at <= static_cast<off_t>(slot_bytes))
            return 0;
    }
    return workers;
}

} // namespace

StreamResult stream_blocks(Direction direction, int mode, std::FILE *in, std::FILE *out,
                           const velk::Ede3BulkKey &key, const unsigned char chain[8],
                           unsigned char *buffer, std::size_t capacity,
                           const ProgressHook *progress, const ThreadPlan &plan) {
    Pipeline p;
    p.direction = direction;
    p.mode = mode;
    p.key = &key;
    p.before_job = plan.before_worker_job;
    const unsigned workers =
        planned_workers(plan, direction, mode, in, p.slot_count, p.slot_bytes);
    if (workers != 0) {
        p.ring = static_cast<unsigned char *>(std::malloc(p.slot_count * p.slot_bytes));
        p.slots = static_cast<Slot *>(std::calloc(p.slot_count, sizeof(Slot)));
        if (p.ring == nullptr || p.slots == nullptr) {
            // Short of memory for the ring: the caller's one buffer still works.
            std::free(p.ring);
            std::free(p.slots);
            p.ring = nullptr;
            p.slots = nullptr;
        }
    }
    Slot one{};
    const bool own_ring = p.ring != nullptr;
    if (own_ring) {
        for (std::size_t i = 0; i < p.slot_count; ++i)
            p.slots[i].data = p.ring + i * p.slot_bytes;
    } else {
        // No workers: the caller's buffer is the one slot, processed by the
        // reader itself between its read and its write.
        one.data = buffer;
        p.slots = &one;
        p.slot_count = 1;
        p.slot_bytes = capacity;
    }

    ReaderState r;
    std::memcpy(r.chain, chain, 8);
    std::memcpy(p.encrypt_chain, chain, 8);
    std::uint64_t reads = 0;
    StreamResult result = run_pipeline(p, in, out, own_ring ? workers : 0, r, reads, progress);
    stop_workers(p);
    if (result.status == StreamResult::ok) {
        if (direction == Direction::encrypt && std::fputc(r.count, out) == EOF)
            result = write_failure();
        else if (std::fflush(out) != 0)
            result = write_failure();
    }

    velk::secure_wipe(&r, sizeof r);
    velk::secure_wipe(p.encrypt_chain, sizeof p.encrypt_chain);
    velk::secure_wipe(p.slots, p.slot_count * sizeof(Slot));
    if (own_ring) {
        // Only the slots that were read into hold anything to clear; the
        // caller's buffer is the caller's to wipe.
        const std::uint64_t used = reads < p.slot_count ? reads : p.slot_count;
        velk::secure_wipe(p.ring, static_cast<std::size_t>(used) * p.slot_bytes);
        std::free(p.ring);
        std::free(p.slots);
    }
    pthread_mutex_destroy(&p.lock);
    pthread_cond_destroy(&p.work);
    pthread_cond_destroy(&p.done);
    return result;
}

} // namespace velkfile
