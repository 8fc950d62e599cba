// SPDX-License-Identifier: MIT
// Replacing an output whole, and cleaning up when a signal stops the run.
#include "output_file.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
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
constexpr int cleanup_signals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGPIPE,  SIGALRM,
                                   SIGTERM, SIGUSR1, SIGUSR2, SIGXCPU,  SIGVTALRM,
                                   SIGPROF, SIGIO,   SIGPWR,  SIGSTKFLT};
constexpr int fault_signals[] = {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGSYS, SIGTRAP};

// What the signal handler reads, written only by the thread that owns the
// output, with the signals held back (worker threads block every signal, so
// the handler runs on that thread too). The path is copied into fixed
// storage before it is armed, so the handler only calls unlink on a ready
// string. The handler touches no other memory: with core files off (see
// install_signal_cleanup) the keys and data die with the process, and
// wiping them here would race with the worker threads still reading them.
char armed_temp[4096];
volatile std::sig_atomic_t temp_armed = 0;
volatile std::sig_atomic_t progress_shown = 0;

constexpr char erase_line[] = "\r\033[K";

// The replaced output being written, the bytes written to it, and how many
// of them have their write-back started.
int replaced_fd = -1;
off_t replaced_written = 0, write_back_started = 0;
constexpr off_t write_back_step = off_t{8} << 20;

extern "C" void clean_up_and_die(int signo) {
    const int saved = errno;
    if (temp_armed != 0)
        unlink(armed_temp);
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
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
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
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
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
// short where the whole would not fit in one name of the directory.
std::string temp_name_for(const std::string &dir, const std::string &base) {
    const std::string suffix = ".velkfile-XXXXXX";
    long name_max = pathconf(dir.empty() ? "." : dir.c_str(), _PC_NAME_MAX);
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

// Decides whether `target` (links resolved) is replaced by a rename and, if
// so, fills in the temporary's name pattern, the mode to give the result and
// the owner it must keep. An output that a rename would change in any other
// way than its bytes is written in place.
bool plan_replacement(const std::string &target, OutputFile &out) {
    const std::string dir = directory_of(target);
    const std::string base = target.substr(dir.size());
    if (base.empty() || base == "." || base == "..")
        return false;
    struct stat st;
    if (stat(target.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return false;
        // A new file gets what opening it for writing would give it.
        const mode_t mask = umask(0);
        umask(mask);
        out.mode = 0666 & ~mask;
    } else {
        // Devices, pipes and sockets are written; a second hard link would
        // be cut off from the result by a rename.
        if (!S_ISREG(st.st_mode) || st.st_nlink > 1)
            return false;
        // A file the user may not write stays protected: opening it in place
        // fails as it always did, where a rename would go through.
        if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            return false;
        // In a sticky directory only the owner of the file or of the
        // directory may rename over it: find that out now, not after all
        // the work.
        struct stat dst;
        const uid_t me = geteuid();
        if (stat(dir.empty() ? "." : dir.c_str(), &dst) != 0 ||
            ((dst.st_mode & S_ISVTX) != 0 && st.st_uid != me && dst.st_uid != me && me != 0))
            return false;
        out.mode = st.st_mode & 07777;
        out.owner = st.st_uid;
        out.group = st.st_gid;
        out.keep_owner = st.st_uid != me || st.st_gid != getegid();
    }
    out.target = target;
    out.temp = dir + temp_name_for(dir, base);
    return out.temp.size() < sizeof armed_temp;
}

// Creates the temporary and gives it the old file's owner and group; where
// that is not allowed (another user's file, a group we are not in) the
// replacement would change who owns the file, so nothing is created and the
// output is written in place instead.
bool make_temp(OutputFile &out) {
    int fd;
    {
        const SignalsHeld held;
        fd = mkostemp(out.temp.data(), O_CLOEXEC);
        if (fd < 0)
            return false;
        std::memcpy(armed_temp, out.temp.c_str(), out.temp.size() + 1);
        temp_armed = 1;
    }
    const bool owned =
        !out.keep_owner || fchown(fd, out.owner == geteuid() ? static_cast<uid_t>(-1) : out.owner,
                                  out.group == getegid() ? static_cast<gid_t>(-1) : out.group) == 0;
    out.stream = owned ? fdopen(fd, "wb") : nullptr;
    if (out.stream == nullptr) {
        const SignalsHeld held;
        unlink(out.temp.c_str());
        temp_armed = 0;
        close(fd);
        return false;
    }
    return true;
}

void sync_directory_of(const std::string &path) {
    const std::string dir = directory_of(path);
    const int fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd); // the rename is done either way; this only hastens it to disk
        close(fd);
    }
}

} // namespace

bool open_output(const char *outfile, OutputFile &out) {
    out = OutputFile{};
    std::string target = outfile;
    int descriptor = -1;
    const bool resolved = resolve_links(target, descriptor);
    if (descriptor >= 0) {
        // One of our own descriptors, as the shell set it up: written
        // through it, so `>>` keeps appending and `{ ...; } >f` keeps what
        // others wrote before and after. Reopening would truncate.
        const int fd = fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
        if (fd < 0)
            return false;
        out.stream = fdopen(fd, "wb");
        if (out.stream == nullptr) {
            const int err = errno;
            close(fd);
            errno = err;
            return false;
        }
        out.through_descriptor = true;
    } else if (resolved && plan_replacement(target, out) && make_temp(out)) {
        out.replaced = true;
        replaced_fd = fileno(out.stream);
        replaced_written = write_back_started = 0;
    } else {
        out = OutputFile{};
        out.stream = std::fopen(outfile, "wb");
        if (out.stream == nullptr)
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
            step(std::rename(out.temp.c_str(), out.target.c_str()) == 0);
        if (err != 0)
            unlink(out.temp.c_str());
        temp_armed = 0;
    }
    if (err != 0) {
        errno = err;
        return false;
    }
    sync_directory_of(out.target);
    return true;
}

void abandon_output(OutputFile &out) {
    if (out.stream != nullptr)
        std::fclose(out.stream);
    out.stream = nullptr;
    if (out.replaced) {
        replaced_fd = -1;
        const SignalsHeld held;
        unlink(out.temp.c_str());
        temp_armed = 0;
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
