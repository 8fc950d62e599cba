// SPDX-License-Identifier: MIT
// Replacing an output whole, and cleaning up when a signal stops the run.
#include "output_file.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velkfile {

namespace {

constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// What the signal handler reads. The path is copied into fixed storage
// before it is armed, so the handler only calls unlink on a ready string.
char armed_temp[4096];
volatile std::sig_atomic_t temp_armed = 0;

struct Secret {
    void *volatile p;
    volatile std::size_t size;
};
Secret secrets[4];

extern "C" void clean_up_and_die(int signo) {
    if (temp_armed != 0)
        unlink(armed_temp);
    for (Secret &s : secrets) {
        auto *q = static_cast<volatile unsigned char *>(s.p);
        const std::size_t n = q == nullptr ? 0 : s.size;
        for (std::size_t i = 0; i < n; ++i)
            q[i] = 0;
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
    _exit(128 + signo);
}

// Holds the cleanup signals back while the armed path changes, so the
// handler never sees it half written or unlinks a file that was renamed.
class SignalsHeld {
  public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : cleanup_signals)
            sigaddset(&set, s);
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
    SignalsHeld(const SignalsHeld &) = delete;
    SignalsHeld &operator=(const SignalsHeld &) = delete;

  private:
    sigset_t old_;
};

bool starts_with_dir(const char *path, const char *dir) {
    const std::size_t n = std::strlen(dir);
    return std::strncmp(path, dir, n) == 0 && (path[n] == '\0' || path[n] == '/');
}

// The directory part of `path`, with its slash ("" for a bare name).
std::string directory_of(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// /dev/stdout, /dev/fd/N and their kin lead through /dev or /proc to
// whatever a descriptor is open on: such a name must be written, never
// replaced, even when it ends at a regular file.
bool in_system_tree(const std::string &path) {
    const std::string dir = directory_of(path);
    char *real = realpath(dir.empty() ? "." : dir.c_str(), nullptr);
    if (real == nullptr)
        return true; // cannot tell: write in place, as always
    const bool system = starts_with_dir(real, "/dev") || starts_with_dir(real, "/proc");
    std::free(real);
    return system;
}

// Follows `path` through symbolic links to the name of the file itself,
// refusing any step through /dev or /proc. False when that cannot be done.
bool resolve_links(std::string &path) {
    for (int hop = 0; hop < 40; ++hop) {
        if (in_system_tree(path))
            return false;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            return false;
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

// Decides whether `outfile` is replaced by a rename and, if so, fills in
// the target, the temporary's name pattern and the mode to give it.
bool plan_replacement(const char *outfile, OutputFile &out) {
    std::string target = outfile;
    struct stat lst;
    if (lstat(outfile, &lst) != 0) {
        if (errno != ENOENT)
            return false;
        // A new file gets what opening it for writing would give it.
        const mode_t mask = umask(0);
        umask(mask);
        out.mode = 0666 & ~mask;
    } else {
        struct stat st;
        if (stat(outfile, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink > 1)
            return false;
        // A file the user may not write stays protected: opening it in place
        // fails as it always did, where a rename would go through.
        if (faccessat(AT_FDCWD, outfile, W_OK, AT_EACCESS) != 0)
            return false;
        if (!resolve_links(target))
            return false;
        out.mode = st.st_mode & 07777;
        out.owner = st.st_uid;
        out.group = st.st_gid;
        out.keep_owner = st.st_uid != geteuid() || st.st_gid != getegid();
    }
    if (in_system_tree(target))
        return false;
    const std::string prefix = directory_of(target);
    const std::string base = target.substr(prefix.size());
    if (base.empty() || base == "." || base == "..")
        return false;
    out.target = target;
    out.temp = prefix + "." + base + ".velkfile-XXXXXX";
    return out.temp.size() < sizeof armed_temp;
}

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
    out.stream = fdopen(fd, "wb");
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
    if (plan_replacement(outfile, out) && make_temp(out)) {
        out.replaced = true;
    } else {
        out = OutputFile{};
        out.stream = std::fopen(outfile, "wb");
        if (out.stream == nullptr)
            return false;
    }
    std::setvbuf(out.stream, nullptr, _IONBF, 0);
    return true;
}

bool commit_output(OutputFile &out) {
    if (!out.replaced) {
        const bool ok = std::fclose(out.stream) == 0;
        out.stream = nullptr;
        return ok;
    }
    const int fd = fileno(out.stream);
    bool ok = std::fflush(out.stream) == 0;
    if (ok && out.keep_owner && fchown(fd, out.owner, out.group) != 0) {
        // Only a privileged user may hand a file to another owner; anyone
        // else gets the new file as their own, as when writing a new file.
    }
    ok = ok && fchmod(fd, out.mode) == 0 && fsync(fd) == 0;
    ok = std::fclose(out.stream) == 0 && ok;
    out.stream = nullptr;
    {
        const SignalsHeld held;
        ok = ok && std::rename(out.temp.c_str(), out.target.c_str()) == 0;
        if (!ok)
            unlink(out.temp.c_str());
        temp_armed = 0;
    }
    if (ok)
        sync_directory_of(out.target);
    return ok;
}

void abandon_output(OutputFile &out) {
    if (out.stream != nullptr)
        std::fclose(out.stream);
    out.stream = nullptr;
    if (out.replaced) {
        const SignalsHeld held;
        unlink(out.temp.c_str());
        temp_armed = 0;
    }
}

void install_signal_cleanup() {
    struct sigaction act {};
    act.sa_handler = clean_up_and_die;
    sigemptyset(&act.sa_mask);
    for (int s : cleanup_signals)
        sigaddset(&act.sa_mask, s);
    act.sa_flags = SA_RESTART;
    for (int s : cleanup_signals) {
        struct sigaction old {};
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            sigaction(s, &act, nullptr);
    }
}

void register_secret(void *p, std::size_t size) {
    for (Secret &s : secrets) {
        if (s.p == nullptr) {
            s.size = 0;
            s.p = p;
            s.size = size;
            return;
        }
    }
}

void forget_secret(const void *p) {
    for (Secret &s : secrets) {
        if (s.p == p) {
            s.size = 0;
            s.p = nullptr;
        }
    }
}

} // namespace velkfile
