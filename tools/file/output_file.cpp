// SPDX-License-Identifier: MIT
// Replacing an output whole, and cleaning up when a signal stops the run.
#include "output_file.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <utility>

#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velkfile {

namespace {

// Every signal whose default action ends the process without a core file,
// and those that would dump one: a stopped run must not leave its temporary
// behind, and a temporary holds plaintext when decrypting. The faults
// (SIGSEGV and its kin) are taken over only where nobody else handles them,
// so a sanitizer's reports still come. SIGXFSZ is ignored instead, so that a
// write beyond the file-size limit fails with EFBIG and is reported like any
// other failed write.
constexpr int cleanup_signals[] = {
    SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF,
#ifdef SIGIO
    SIGIO,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};
constexpr int fault_signals[] = {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGSYS, SIGTRAP};

// What the signal handler reads, written only by the thread that owns the
// output, with the cleanup signals held back on it. Worker threads block
// those signals, so the handler runs on that thread for them; a fault
// (SIGSEGV and its kin) runs it on whichever thread faulted, which reads
// only what was armed before any worker started. The name is copied into
// fixed storage before it is armed, so the handler only calls unlinkat on a
// ready string. The handler touches no other memory: with core files off
// (see install_signal_cleanup) the keys and data die with the process, and
// wiping them here would race with the worker threads still reading them.
char armed_temp[512];
volatile std::sig_atomic_t armed_directory = -1;
volatile std::sig_atomic_t temp_armed = 0;
volatile std::sig_atomic_t progress_shown = 0;

// Which of descriptors 0, 1 and 2 were closed when the program started
// (bit n for descriptor n); written once, before anything else runs.
unsigned closed_at_start = 0;

constexpr char erase_line[] = "\r\033[K";

// The replaced output being written, the bytes written to it, and how many
// of them have their write-back started.
int replaced_fd = -1;
off_t replaced_written = 0, write_back_started = 0;
constexpr off_t write_back_step = off_t{8} << 20;

extern "C" void clean_up_and_die(int signo) {
    const int saved = errno;
    if (temp_armed != 0)
        unlinkat(armed_directory, armed_temp, 0);
    if (progress_shown != 0) {
        ssize_t ignored = write(STDERR_FILENO, erase_line, sizeof erase_line - 1);
        (void)ignored;
    }
    // End by the signal itself, so the parent sees what it would have seen.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(signo, &dfl, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signo);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(signo);
    errno = saved;
    _exit(128 + signo);
}

sigset_t cleanup_set() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : cleanup_signals)
        sigaddset(&set, s);
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s)
        sigaddset(&set, s);
    return set;
}

// Holds the cleanup signals back while the armed path changes, so the
// handler never sees it half written or unlinks a file that was renamed.
class SignalsHeld {
  public:
    SignalsHeld() {
        const sigset_t set = cleanup_set();
        pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    SignalsHeld(const SignalsHeld &) = delete;
    SignalsHeld &operator=(const SignalsHeld &) = delete;

  private:
    sigset_t old_;
};

bool starts_with_dir(const std::string &path, const std::string &dir) {
    return path.compare(0, dir.size(), dir) == 0 &&
           (path.size() == dir.size() || path[dir.size()] == '/');
}

// The directory part of `path`, with its slash ("" for a bare name).
std::string directory_of(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The directory part of `path` with every link in it resolved, or "".
std::string real_directory_of(const std::string &path) {
    const std::string dir = directory_of(path);
    char *real = realpath(dir.empty() ? "." : dir.c_str(), nullptr);
    if (real == nullptr)
        return "";
    std::string text = real;
    std::free(real);
    return text;
}

// The number of one of this process's descriptors that `path` names
// directly (/proc/self/fd/N, /proc/thread-self/fd/N, /proc/PID/fd/N with
// our own PID), or -1.
int descriptor_named(const std::string &path) {
    const std::string dir = real_directory_of(path);
    const std::string own = "/proc/" + std::to_string(getpid());
    const bool ours =
        dir == own + "/fd" || (starts_with_dir(dir, own + "/task") && dir.size() > 3 &&
                               dir.compare(dir.size() - 3, 3, "/fd") == 0);
    const std::string base = path.substr(directory_of(path).size());
    if (!ours || base.empty() || base.size() > 9 ||
        base.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::atoi(base.c_str());
}

// Follows `path` through symbolic links to the name of the file itself. It
// stops with true at a name that is not a link (or does not exist), and
// stores in `descriptor` the number of one of our own descriptors when the
// way leads to one (/dev/stdout leads to /proc/self/fd/1). False when the
// way cannot be followed or passes through /proc anywhere else.
bool resolve_links(std::string &path, int &descriptor) {
    descriptor = -1;
    for (int hop = 0; hop < 40; ++hop) {
        descriptor = descriptor_named(path);
        if (descriptor >= 0)
            return true;
        if (starts_with_dir(real_directory_of(path), "/proc"))
            return false;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            return errno == ENOENT;
        if (!S_ISLNK(st.st_mode))
            return true;
        char link[4096];
        const ssize_t n = readlink(path.c_str(), link, sizeof link);
        if (n <= 0 || static_cast<std::size_t>(n) == sizeof link)
            return false;
        const std::string text(link, static_cast<std::size_t>(n));
        path = text[0] == '/' ? text : directory_of(path) + text;
    }
    return false;
}

// The temporary's name for `base`: ".BASE.velkfile-XXXXXX", with BASE cut
// short where the whole would not fit in one name of the directory, and the
// X's still to be filled in.
std::string temp_name_for(int directory, const std::string &base) {
    const std::string suffix = ".velkfile-XXXXXX";
    long name_max = fpathconf(directory, _PC_NAME_MAX);
    if (name_max <= 0 || name_max > 4096)
        name_max = 255;
    const std::size_t room = static_cast<std::size_t>(name_max) - 1 - suffix.size();
    // Appended step by step: g++ -O3 warns falsely (-Wrestrict) when a
    // literal is prepended to a temporary string.
    std::string name = ".";
    name.append(base, 0, room);
    name += suffix;
    return name;
}

std::string errno_text(int err) {
    return std::strerror(err);
}

// Decides whether `target` (links resolved) is replaced by a rename and, if
// so, opens its directory and fills in the temporary's name pattern, the
// mode to give the result and the owner it must keep. An output that a
// rename would change in any other way than its bytes is written in place,
// and `reason` says why. A target that is the input's file (`input`) sets
// `same_as_input`.
bool plan_replacement(const std::string &target, OutputFile &out, const struct stat *input) {
    const std::string dir = directory_of(target);
    const std::string base = target.substr(dir.size());
    if (base.empty() || base == "." || base == "..")
        return false;
    const int directory = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) {
        out.in_place_reason = "its directory cannot be opened (" + errno_text(errno) + ")";
        return false;
    }
    const auto give_up = [&out, directory](std::string reason) {
        out.in_place_reason = std::move(reason);
        close(directory);
        return false;
    };
    struct stat st;
    if (fstatat(directory, base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            return give_up("its attributes cannot be read (" + errno_text(errno) + ")");
        // A new file gets what opening it for writing would give it.
        const mode_t mask = umask(0);
        umask(mask);
        out.mode = 0666 & ~mask;
    } else {
        if (input != nullptr && st.st_dev == input->st_dev && st.st_ino == input->st_ino) {
            out.same_as_input = true;
            return give_up("");
        }
        // Devices, pipes and sockets are written; a second hard link would
        // be cut off from the result by a rename.
        if (S_ISLNK(st.st_mode))
            return give_up("it became a symbolic link while it was looked at");
        if (!S_ISREG(st.st_mode))
            return give_up("");
        if (st.st_nlink > 1)
            return give_up("it has " + std::to_string(st.st_nlink) +
                           " hard links, which a replacement would cut off");
        // A file the user may not write stays protected: opening it in place
        // fails as it always did, where a rename would go through.
        if (faccessat(directory, base.c_str(), W_OK, AT_EACCESS) != 0)
            return give_up("it is not writable (" + errno_text(errno) + ")");
        // In a sticky directory only the owner of the file or of the
        // directory may rename over it: find that out now, not after all
        // the work.
        struct stat dst;
        const uid_t me = geteuid();
        if (fstat(directory, &dst) != 0)
            return give_up("its directory's attributes cannot be read (" + errno_text(errno) + ")");
        if ((dst.st_mode & S_ISVTX) != 0 && st.st_uid != me && dst.st_uid != me && me != 0)
            return give_up("it is another user's file in a sticky directory, where it cannot be "
                           "renamed over");
        out.mode = st.st_mode & 07777;
        out.owner = st.st_uid;
        out.group = st.st_gid;
        out.keep_owner = st.st_uid != me || st.st_gid != getegid();
    }
    out.target = base;
    out.temp = temp_name_for(directory, base);
    if (out.temp.size() >= sizeof armed_temp)
        return give_up("its directory takes names too long for the temporary's");
    out.directory = directory;
    return true;
}

// Six characters for the temporary's name. They need not be secret, only
// unlikely to be taken: O_EXCL refuses a name that exists, and another is
// tried.
void fill_random_letters(std::string &name, std::uint64_t &state) {
    constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (std::size_t i = name.size() - 6; i < name.size(); ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        name[i] = letters[state % (sizeof letters - 1)];
    }
}

// Creates the temporary in the opened directory and gives it the old file's
// owner and group; where that is not allowed (another user's file, a group
// we are not in) the replacement would change who owns the file, so nothing
// is left behind and the output is written in place instead.
bool make_temp(OutputFile &out) {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t state = (static_cast<std::uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15u) ^
                          (static_cast<std::uint64_t>(now.tv_sec) << 20) ^
                          (static_cast<std::uint64_t>(getpid()) << 1) ^ 1u;
    state |= 1; // xorshift never leaves zero
    int fd = -1;
    {
        const SignalsHeld held;
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            fill_random_letters(out.temp, state);
            fd = openat(out.directory, out.temp.c_str(),
                        O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd < 0 && errno != EEXIST)
                break;
        }
        if (fd < 0) {
            out.in_place_reason =
                "no temporary file can be made beside it (" + errno_text(errno) + ")";
            return false;
        }
        std::memcpy(armed_temp, out.temp.c_str(), out.temp.size() + 1);
        armed_directory = out.directory;
        temp_armed = 1;
    }
    const bool owned =
        !out.keep_owner || fchown(fd, out.owner == geteuid() ? static_cast<uid_t>(-1) : out.owner,
                                  out.group == getegid() ? static_cast<gid_t>(-1) : out.group) == 0;
    out.stream = owned ? fdopen(fd, "wb") : nullptr;
    if (out.stream == nullptr) {
        out.in_place_reason = owned ? "its temporary cannot be opened as a stream"
                                    : "a replacement could not keep its owner or group";
        const SignalsHeld held;
        unlinkat(out.directory, out.temp.c_str(), 0);
        temp_armed = 0;
        close(fd);
        return false;
    }
    return true;
}

// The text a refusal of descriptor `n` names its cause with.
const char *closed_text(int n) {
    switch (n) {
    case 0:
        return "standard input is closed";
    case 1:
        return "standard output is closed";
    default:
        return "standard error is closed";
    }
}

const char *read_only_text(int n) {
    switch (n) {
    case 0:
        return "standard input is open for reading only";
    case 1:
        return "standard output is open for reading only";
    case 2:
        return "standard error is open for reading only";
    default:
        return nullptr;
    }
}

bool same_file(const struct stat &a, const struct stat *b) {
    return b != nullptr && a.st_dev == b->st_dev && a.st_ino == b->st_ino;
}

// One of our own descriptors, as the shell set it up: written through a
// duplicate of it, so `>>` keeps appending and `{ ...; } >f` keeps what
// others wrote before and after. Reopening would truncate.
// Makes `out.stream` a writing stream on `fd`; when that fails, closes `fd`
// and leaves errno as fdopen set it.
bool stream_on(int fd, OutputFile &out) {
    out.stream = fdopen(fd, "wb");
    if (out.stream != nullptr)
        return true;
    const int err = errno;
    close(fd);
    errno = err;
    return false;
}

bool open_descriptor(int descriptor, OutputFile &out, const struct stat *input) {
    if (descriptor <= 2 && (closed_at_start & (1u << descriptor)) != 0) {
        out.refusal = closed_text(descriptor);
        return false;
    }
    const int flags = fcntl(descriptor, F_GETFL);
    if (flags < 0) {
        if (errno == EBADF)
            out.refusal = "descriptor " + std::to_string(descriptor) + " is not open";
        return false;
    }
    if ((flags & O_ACCMODE) == O_RDONLY) {
        const char *text = read_only_text(descriptor);
        out.refusal = text != nullptr ? text
                                      : "descriptor " + std::to_string(descriptor) +
                                            " is open for reading only";
        return false;
    }
    struct stat st;
    if (fstat(descriptor, &st) == 0 && same_file(st, input)) {
        out.same_as_input = true;
        return false;
    }
    const int fd = fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
    if (fd < 0 || !stream_on(fd, out))
        return false;
    out.through_descriptor = true;
    return true;
}

// Opens `outfile` itself for writing, as fopen "wb" would, but truncates a
// regular file only once it is known not to be the input.
bool open_in_place(const char *outfile, OutputFile &out, const struct stat *input) {
    const int fd = open(outfile, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0)
        return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || same_file(st, input) ||
        (S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0)) {
        const int err = errno;
        out.same_as_input = same_file(st, input);
        close(fd);
        errno = err;
        return false;
    }
    if (!stream_on(fd, out))
        return false;
    if (!S_ISREG(st.st_mode))
        out.in_place_reason.clear();
    else if (out.in_place_reason.empty())
        out.in_place_reason = "it could not be replaced";
    return true;
}

} // namespace

bool open_output(const char *outfile, OutputFile &out, const struct stat *input) {
    out = OutputFile{};
    if (*outfile == '\0') {
        out.refusal = "empty file name";
        return false;
    }
    std::string target = outfile;
    int descriptor = -1;
    const bool resolved = resolve_links(target, descriptor);
    if (descriptor >= 0) {
        if (!open_descriptor(descriptor, out, input))
            return false;
    } else if (resolved && plan_replacement(target, out, input) && make_temp(out)) {
        out.replaced = true;
        replaced_fd = fileno(out.stream);
        replaced_written = write_back_started = 0;
    } else {
        if (out.same_as_input)
            return false;
        if (out.directory >= 0)
            close(out.directory);
        std::string reason = std::move(out.in_place_reason);
        if (reason.empty() && !resolved)
            reason = "the way to it through symbolic links cannot be followed";
        out = OutputFile{};
        out.in_place_reason = std::move(reason);
        if (!open_in_place(outfile, out, input))
            return false;
    }
    std::setvbuf(out.stream, nullptr, _IONBF, 0);
    return true;
}

bool names_standard_output(const char *outfile) {
    std::string target = outfile;
    int descriptor = -1;
    if (resolve_links(target, descriptor) && descriptor >= 0)
        return descriptor == STDOUT_FILENO;
    struct stat out_st, std_st;
    return fstat(STDOUT_FILENO, &std_st) == 0 && stat(outfile, &out_st) == 0 &&
           out_st.st_dev == std_st.st_dev && out_st.st_ino == std_st.st_ino;
}

void reserve_standard_descriptors() {
    for (int n = 0; n <= 2; ++n) {
        if (fcntl(n, F_GETFD) >= 0 || errno != EBADF)
            continue;
        closed_at_start |= 1u << n;
        // The lowest free number is n itself.
        const int fd = open("/dev/null", O_RDWR);
        if (fd >= 0 && fd != n)
            close(fd);
    }
}

const char *closed_descriptor_named(const char *path) {
    std::string target = path;
    int descriptor = -1;
    if (closed_at_start == 0 || !resolve_links(target, descriptor) || descriptor < 0 ||
        descriptor > 2 || (closed_at_start & (1u << descriptor)) == 0)
        return nullptr;
    return closed_text(descriptor);
}

bool commit_output(OutputFile &out) {
    if (!out.replaced) {
        const bool ok = std::fclose(out.stream) == 0;
        out.stream = nullptr;
        return ok;
    }
    const int fd = fileno(out.stream);
    replaced_fd = -1;
    int err = 0;
    const auto step = [&err](bool ok) {
        if (!ok && err == 0)
            err = errno != 0 ? errno : EIO;
    };
    step(std::fflush(out.stream) == 0);
    // Permission bits are best effort, like the owner: some file systems
    // (vfat) refuse fchmod, and the whole result is worth more than them.
    if (err == 0 && fchmod(fd, out.mode) != 0) {
        // kept: the file then has the bits the temporary was made with
    }
    if (err == 0)
        step(fsync(fd) == 0);
    step(std::fclose(out.stream) == 0);
    out.stream = nullptr;
    {
        const SignalsHeld held;
        if (err == 0)
            step(renameat(out.directory, out.temp.c_str(), out.directory, out.target.c_str()) ==
                 0);
        if (err != 0)
            unlinkat(out.directory, out.temp.c_str(), 0);
        temp_armed = 0;
    }
    // The rename is done either way; the sync only hastens it to disk.
    if (err == 0)
        fsync(out.directory);
    close(out.directory);
    out.directory = -1;
    if (err != 0) {
        errno = err;
        return false;
    }
    return true;
}

void abandon_output(OutputFile &out) {
    if (out.stream != nullptr)
        std::fclose(out.stream);
    out.stream = nullptr;
    if (out.replaced) {
        replaced_fd = -1;
        {
            const SignalsHeld held;
            unlinkat(out.directory, out.temp.c_str(), 0);
            temp_armed = 0;
        }
        close(out.directory);
        out.directory = -1;
    }
}

void wrote_output(std::FILE *out, std::size_t n) {
    if (replaced_fd < 0 || fileno(out) != replaced_fd)
        return;
    replaced_written += static_cast<off_t>(n);
    if (replaced_written - write_back_started < write_back_step)
        return;
#ifdef SYNC_FILE_RANGE_WRITE
    // Linux: queue the range for writing and return. Elsewhere the fsync at
    // the end does it all, as before. A failure here only means the fsync
    // has more to do, and it reports any error that matters.
    sync_file_range(replaced_fd, write_back_started, replaced_written - write_back_started,
                    SYNC_FILE_RANGE_WRITE);
#endif
    write_back_started = replaced_written;
}

void install_signal_cleanup() {
    // No core file may hold a key: a dump would outlive the run, and the
    // handler leaves memory as it is.
    struct rlimit core {};
    if (getrlimit(RLIMIT_CORE, &core) == 0 && core.rlim_cur != 0) {
        core.rlim_cur = 0;
        setrlimit(RLIMIT_CORE, &core);
    }
    std::signal(SIGXFSZ, SIG_IGN);

    struct sigaction act {};
    act.sa_handler = clean_up_and_die;
    act.sa_mask = cleanup_set();
    act.sa_flags = SA_RESTART;
    // Signals that were ignored when the program started stay ignored.
    const auto take = [&act](int s, bool only_default) {
        struct sigaction old {};
        if (sigaction(s, nullptr, &old) != 0 || old.sa_handler == SIG_IGN ||
            (only_default && (old.sa_handler != SIG_DFL || (old.sa_flags & SA_SIGINFO) != 0)))
            return;
        sigaction(s, &act, nullptr);
    };
    for (int s : cleanup_signals)
        take(s, false);
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s)
        take(s, false);
    for (int s : fault_signals)
        take(s, true);
}

void show_progress_line(bool shown) {
    progress_shown = shown ? 1 : 0;
}

} // namespace velkfile
