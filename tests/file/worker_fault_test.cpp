// SPDX-License-Identifier: MIT
// A fault on a worker thread still removes the replacement's temporary: the
// workers leave the synchronous fault signals unblocked, so the cleanup
// handler runs on the thread that faulted (were they blocked, the kernel
// would end the process without it). The fault is planted through the
// thread plan's hook, in a child process that it ends; the old output must
// stay and no temporary may be left.
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "file_test_support.hpp"
#include "output_file.hpp"

namespace {

using namespace velkfile;
using namespace velkfile::test;
namespace fs = std::filesystem;

int planted_signal = 0;
const volatile unsigned char *no_access_page = nullptr;  // mapped PROT_NONE
const volatile unsigned char *beyond_file_end = nullptr; // mapped past an empty file

// Real faults where they can be made portably: a read of a page without
// access (SIGSEGV) and of a mapped page beyond its file's end (SIGBUS).
// SIGFPE and SIGILL are sent to the worker itself, which reaches it only
// when the worker leaves them unblocked.
void fault_now() {
    switch (planted_signal) {
    case SIGSEGV:
        (void)*no_access_page;
        break;
    case SIGBUS:
        (void)*beyond_file_end;
        break;
    default:
        pthread_kill(pthread_self(), planted_signal);
        break;
    }
}

[[noreturn]] void faulting_run(const fs::path &out, int signo) {
    // A sanitizer's handler gives way to the program's, as in a run of the
    // program without one.
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL})
        signal(s, SIG_DFL);
    install_signal_cleanup();
    const long page = sysconf(_SC_PAGESIZE);
    void *none = mmap(nullptr, static_cast<std::size_t>(page), PROT_NONE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    std::FILE *empty = std::tmpfile();
    void *beyond = empty == nullptr ? MAP_FAILED
                                    : mmap(nullptr, static_cast<std::size_t>(page), PROT_READ,
                                           MAP_SHARED, fileno(empty), 0);
    if (none == MAP_FAILED || beyond == MAP_FAILED)
        _exit(90);
    no_access_page = static_cast<const unsigned char *>(none);
    beyond_file_end = static_cast<const unsigned char *>(beyond);
    planted_signal = signo;

    // A pipe that stays open: once its data is read the reader waits in
    // read, so the jobs it has handed out can only be done by a worker, and
    // the run cannot end before one faults. An alarm ends a run that waits
    // anyway (with a signal the test does not expect).
    int ends[2];
    if (pipe(ends) != 0)
        _exit(91);
    const Bytes data(32768, 7);
    if (write(ends[1], data.data(), data.size()) != static_cast<ssize_t>(data.size()))
        _exit(92);
    std::FILE *in = fdopen(ends[0], "rb");
    OutputFile output;
    if (in == nullptr || !open_output(out.c_str(), output, nullptr) || !output.replaced)
        _exit(93);
    alarm(60);
    const ThreadPlan plan{2, 4096, fault_now};
    Bytes buffer(chunk_bytes);
    const Key key{};
    const Block vector{};
    encrypt_stream(in, output.stream, buffer.data(), chunk_bytes, key.data(), vector.data(),
                   mode_ecb, nullptr, plan);
    _exit(0); // the fault never came
}

TEST(WorkerFault, AFaultOnAWorkerStillRemovesTheTemporary) {
    if (under_thread_sanitizer)
        GTEST_SKIP() << "ThreadSanitizer's runtime takes the signals itself: the other builds "
                        "run this test";
    for (const int signo : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
        SCOPED_TRACE(strsignal(signo));
#ifdef VELK_TEST_EMULATED
        if (signo == SIGBUS) {
            std::printf("[          ] under an emulator: the SIGBUS case not run\n");
            continue;
        }
#endif
        ScratchDir dir;
        const Bytes old = {'o', 'l', 'd'};
        write_file(dir / "out", old);
        std::fflush(nullptr);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
            faulting_run(dir / "out", signo);
        int raw = 0;
        ASSERT_EQ(waitpid(pid, &raw, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == signo && !WCOREDUMP(raw))
            << (WIFEXITED(raw) ? "exit status " + std::to_string(WEXITSTATUS(raw))
                               : "signal " + std::to_string(WTERMSIG(raw)));
        EXPECT_EQ(read_file(dir / "out"), old);
        for (const auto &entry : fs::directory_iterator(dir.path))
            EXPECT_EQ(entry.path().filename(), "out");
    }
}

} // namespace
