// SPDX-License-Identifier: MIT
// The output of one file operation, and what happens to it when the run
// fails or is stopped by a signal.
//
// A regular file (existing or not) is written to a temporary file beside it,
// ".NAME.velkfile-XXXXXX", readable only by its owner while it is written,
// and renamed over NAME once it is complete and on disk; until then NAME
// keeps its old bytes, or stays absent. Outputs that a rename cannot replace
// are written in place: devices, pipes, anything under /dev or /proc (such as
// /dev/stdout), and a regular file with more than one hard link, which a
// rename would cut off from its other names. A symbolic link to a regular
// file has the file it points to replaced and stays a link.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include <sys/types.h>

namespace velkfile {

struct OutputFile {
    std::FILE *stream = nullptr;
    bool replaced = false; // written to `temp`, renamed over `target` at the end
    std::string target;    // the file the rename replaces (symbolic links resolved)
    std::string temp;
    mode_t mode = 0;       // permission bits the replaced or new file gets
    uid_t owner = 0;
    gid_t group = 0;
    bool keep_owner = false; // the old file's owner and group differ from ours
};

// Opens `outfile` for writing as described above, unbuffered (the caller
// writes whole buffers, and no copy of the data is left in a stdio buffer).
// A temporary file that cannot be made beside the output (a directory the
// user may not write to, a name too long) leaves the output written in place
// as before. Returns false, with errno set, when the output cannot be opened.
bool open_output(const char *outfile, OutputFile &out);

// Finishes a replaced output: permission bits, fsync, close, rename, then the
// directory is synced. Closes an in-place output. Returns false when any step
// fails; a replaced output is then left as it was and the temporary removed.
bool commit_output(OutputFile &out);

// Closes the output after a failure and removes its temporary file, if any.
void abandon_output(OutputFile &out);

// SIGINT, SIGTERM, SIGHUP and SIGPIPE end the program as before (by the same
// signal, so a shell sees status 128 + its number), but first remove the
// temporary file of the output being written and clear the registered
// secrets. Signals that were ignored when the program started stay ignored.
void install_signal_cleanup();

// Memory that the signal cleanup clears (up to four regions at a time; the
// program holds four: key and vector, buffer, schedules, the many-block
// key). A region must be forgotten before it is released. Called from one
// thread only.
void register_secret(void *p, std::size_t size);
void forget_secret(const void *p);

// A region registered for as long as this lives.
class SecretHeld {
  public:
    SecretHeld(void *p, std::size_t size) : p_(p) { register_secret(p, size); }
    ~SecretHeld() { forget_secret(p_); }
    SecretHeld(const SecretHeld &) = delete;
    SecretHeld &operator=(const SecretHeld &) = delete;

  private:
    const void *p_;
};

} // namespace velkfile
