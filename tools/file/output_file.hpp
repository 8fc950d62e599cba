// SPDX-License-Identifier: MIT
// The output of one file operation, and what happens to it when the run
// fails or is stopped by a signal.
//
// A regular file (existing or not) is written to a temporary file beside it,
// ".NAME.velkfile-XXXXXX" (NAME cut short where the whole would be too long
// a name), readable only by its owner while it is written, and renamed over
// NAME once it is complete and on disk; until then NAME keeps its old
// bytes, or stays absent. A symbolic link to a regular file has the file it
// points to replaced and stays a link. Written in place instead, because a
// rename would change more than the bytes:
//   - a name for one of the program's own descriptors (/dev/stdout,
//     /dev/fd/N, /proc/self/fd/N): written through that descriptor, never
//     reopened, so append mode and the offset the shell set up are kept;
//   - devices, pipes, sockets, anything else reached through /proc;
//   - a file with more than one hard link (the others would keep the old
//     bytes);
//   - a file whose owner and group the replacement could not keep (another
//     user's group-writable file), or which a sticky directory would not let
//     us rename over;
//   - a file in a directory where no temporary can be made.
// Each way is decided before any data is read, and a regular file written
// in place carries the reason, for the notice the program prints.
//
// The output's directory is opened once, and everything after goes through
// that descriptor: the old file's attributes, the temporary, the rename and
// the sync of the directory. A directory renamed, or replaced by a link,
// while the run goes on cannot send the result anywhere else.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include <sys/stat.h>
#include <sys/types.h>

namespace velkfile {

struct OutputFile {
    std::FILE *stream = nullptr;
    bool replaced = false;           // written to `temp`, renamed over `target` at the end
    bool through_descriptor = false; // written through a duplicate of our own descriptor
    int directory = -1;              // a replaced output's directory, opened once
    std::string target;              // the name the rename replaces, within `directory`
    std::string temp;                // the temporary's name, within `directory`
    mode_t mode = 0; // permission bits the replaced or new file gets
    uid_t owner = 0;
    gid_t group = 0;
    bool keep_owner = false; // the old file's owner or group differ from ours
    // A regular file written in place: why it is not replaced. Empty for
    // replaced outputs, descriptor names and outputs that are no regular file.
    std::string in_place_reason;
    // Why open_output refused, when errno alone would name the wrong cause.
    std::string refusal;
    bool same_as_input = false; // refused: the output is the input's file
};

// Opens `outfile` for writing as described above, unbuffered (the caller
// writes whole buffers, and no copy of the data is left in a stdio buffer).
// `input`, when given, is the input's regular file: an output that turns out
// to be that very file, once opened, is refused with `same_as_input` before
// anything in it is changed. Returns false when the output cannot be opened,
// with `refusal` saying why or else errno set.
bool open_output(const char *outfile, OutputFile &out, const struct stat *input);

// Whether `outfile` is the program's standard output (/dev/stdout, or the
// very file standard output is open on): the program's own messages then
// go to standard error, so that they never enter the data.
bool names_standard_output(const char *outfile);

// Gives each of descriptors 0, 1 and 2 that is closed at start-up to
// /dev/null, so that no file the program opens takes its number (an input
// opened as descriptor 1 would receive the program's own lines), and
// remembers that it was closed.
void reserve_standard_descriptors();

// When `path` names one of the standard descriptors that was closed at
// start-up (/dev/stdin, /dev/fd/1, ...), what to say about it
// ("standard output is closed"); otherwise nullptr.
const char *closed_descriptor_named(const char *path);

// Finishes a replaced output: permission bits (best effort), fsync, close,
// rename, then the directory is synced. Closes an in-place output. Returns
// false with errno set to the cause when a step fails; a replaced output is
// then left as it was and the temporary removed.
bool commit_output(OutputFile &out);

// Closes the output after a failure and removes its temporary file, if any.
void abandon_output(OutputFile &out);

// Told after each write of `n` bytes to `out`: once a replaced output holds
// a few MiB whose write-back has not begun, starts it without waiting, so
// that the work goes on while the disk writes and the fsync at the end finds
// little left. Does nothing for an output written in place (nothing waits
// for its write-back). Called from the one thread that writes.
void wrote_output(std::FILE *out, std::size_t n);

// Sets the process up so that a stopped run leaves nothing behind: no core
// file (the core-file size limit becomes 0), SIGXFSZ ignored (a write past
// the file-size limit then fails with EFBIG), and every signal whose default
// action ends the process (SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT,
// SIGALRM, SIGUSR1, SIGUSR2 and the rest) first removes the temporary file
// of the output being written and erases a progress line, then ends the
// program by the same signal, so a shell sees status 128 + its number.
// Signals that were ignored when the program started stay ignored.
void install_signal_cleanup();

// Tells the signal cleanup whether a progress line is on standard error.
void show_progress_line(bool shown);

} // namespace velkfile
