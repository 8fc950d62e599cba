// SPDX-License-Identifier: MIT
// Streaming encryption and decryption of whole files in the velkfile format.
#include "file_stream.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "output_file.hpp"
#include "pipeline.hpp"
#include "progress.hpp"
#include "three_key_ede.hpp"
#include "wipe.hpp"

namespace velkfile {

namespace {

// The key schedules and the chaining value of one file operation, wiped
// when the operation ends.
struct Cipher {
    des_subkeys ks1, ks2, ks3;
    unsigned char chain[8];

    Cipher(const unsigned char key[24], const unsigned char vector[8]) {
        // Weak and semi-weak keys are used like any other: the class is not looked at.
        des_3EDEinit_3keys(key, 24, ks1, ks2, ks3);
        std::memcpy(chain, vector, 8);
    }
    ~Cipher() {
        velk::secure_wipe(ks1, sizeof ks1);
        velk::secure_wipe(ks2, sizeof ks2);
        velk::secure_wipe(ks3, sizeof ks3);
        velk::secure_wipe(chain, sizeof chain);
    }
    Cipher(const Cipher &) = delete;
    Cipher &operator=(const Cipher &) = delete;
};

StreamResult failure(StreamResult::Status status, int detail = 0) {
    return StreamResult{status, detail};
}

StreamResult failure_with_errno(StreamResult::Status status) {
    const int err = errno;
    return failure(status, err != 0 ? err : EIO);
}

} // namespace

std::size_t read_full(std::FILE *in, unsigned char *buf, std::size_t want) {
    std::size_t got = 0;
    errno = 0;
    while (got < want) {
        const std::size_t n = std::fread(buf + got, 1, want - got, in);
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

// The blocks of ECB and those of CBC decryption do not depend on one another,
// so the library's many-block path takes the whole buffer at once; it gives
// exactly the bytes of des_ecb3EDEencode_3keys and its siblings block by
// block. CBC encryption chains, so it stays one block at a time, with the
// chain carried in registers across the buffer.
void process_blocks(Direction direction, int mode, unsigned char *buf, std::size_t length,
                    const velk::Ede3BulkKey &key, unsigned char chain[8]) {
    const bool cbc = mode == mode_cbc;
    const std::size_t blocks = length / 8;
    if (direction == Direction::encrypt) {
        if (cbc)
            velk::ede3_cbc_encrypt_blocks(key, buf, buf, blocks, chain);
        else
            velk::ede3_encrypt_blocks(key, buf, buf, blocks);
    } else {
        if (cbc)
            velk::ede3_cbc_decrypt_blocks(key, buf, buf, blocks, chain);
        else
            velk::ede3_decrypt_blocks(key, buf, buf, blocks);
    }
}

StreamResult read_failure() {
    return failure_with_errno(StreamResult::read_failed);
}

StreamResult write_failure() {
    return failure_with_errno(StreamResult::write_failed);
}

StreamResult check_count_byte(int count, bool after_a_block) {
    if (count < 1 || count > 8)
        return failure(StreamResult::bad_count, count);
    if (!after_a_block && count != 8)
        return failure(StreamResult::lone_count, count);
    return {};
}

namespace {

StreamResult stream(Direction direction, std::FILE *in, std::FILE *out, unsigned char *buffer,
                    std::size_t capacity, const unsigned char key[24],
                    const unsigned char vector[8], int mode, const ProgressHook *progress,
                    const ThreadPlan &plan) {
    if (!usable_capacity(capacity))
        return failure(StreamResult::bad_capacity);
    Cipher cipher(key, vector);
    // The key in the block paths' forms, once for the whole file.
    const velk::Ede3BulkKey bulk_key(cipher.ks1, cipher.ks2, cipher.ks3);
    return stream_blocks(direction, mode, in, out, bulk_key, cipher.chain, buffer, capacity,
                         progress, plan);
}

} // namespace

StreamResult encrypt_stream(std::FILE *in, std::FILE *out, unsigned char *buffer,
                            std::size_t capacity, const unsigned char key[24],
                            const unsigned char vector[8], int mode, const ProgressHook *progress,
                            const ThreadPlan &plan) {
    return stream(Direction::encrypt, in, out, buffer, capacity, key, vector, mode, progress,
                  plan);
}

StreamResult decrypt_stream(std::FILE *in, std::FILE *out, unsigned char *buffer,
                            std::size_t capacity, const unsigned char key[24],
                            const unsigned char vector[8], int mode, const ProgressHook *progress,
                            const ThreadPlan &plan) {
    return stream(Direction::decrypt, in, out, buffer, capacity, key, vector, mode, progress,
                  plan);
}

StreamResult check_encrypted_input(std::FILE *in, off_t size) {
    if (size == 0)
        return {};
    if (size % 8 != 1)
        return failure(StreamResult::bad_size);
    errno = 0;
    if (fseeko(in, size - 1, SEEK_SET) != 0)
        return read_failure();
    const int count = std::fgetc(in);
    if (count == EOF) // the file shrank, or the read failed
        return std::ferror(in) ? read_failure() : failure(StreamResult::bad_size);
    if (const StreamResult r = check_count_byte(count, size > 1); r.status != StreamResult::ok)
        return r;
    if (fseeko(in, 0, SEEK_SET) != 0)
        return read_failure();
    return {};
}

} // namespace velkfile

namespace {

using velkfile::StreamResult;

// A path as messages show it: an empty one quoted, so that the line still
// names something.
const char *shown(const char *path) {
    return *path == '\0' ? "''" : path;
}

// Where the program's own lines ("Error in write !" and the like) go:
// standard output, as they always have, unless the output is standard
// output itself, where they would enter the data.
std::FILE *message_stream = stdout;

void message(const char *line) {
    std::fputs(line, message_stream);
    std::fputc('\n', message_stream);
}

// The failed write's line, then its cause on standard error, naming the
// output: "out: No space left on device".
void write_error(const char *outfile, int err) {
    message("Error in write !");
    std::fprintf(stderr, "%s: %s\n", outfile, std::strerror(err != 0 ? err : EIO));
}

// Prints what went wrong; returns the program status for it.
int report(const StreamResult &r, const char *infile, const char *outfile) {
    switch (r.status) {
    case StreamResult::ok:
        return 0;
    case StreamResult::write_failed:
        write_error(outfile, r.detail);
        break;
    case StreamResult::read_failed:
        std::fprintf(stderr, "%s: read error: %s\n", infile, std::strerror(r.detail));
        break;
    case StreamResult::bad_size:
        std::fprintf(stderr,
                     "%s: not a velkfile encrypted file: its size is not a multiple of 8 plus 1\n",
                     infile);
        break;
    case StreamResult::bad_count:
        std::fprintf(stderr,
                     "%s: not a velkfile encrypted file: its count byte is %d, not 1 to 8\n",
                     infile, r.detail);
        break;
    case StreamResult::lone_count:
        std::fprintf(stderr,
                     "%s: not a velkfile encrypted file: it holds no block, so its count byte "
                     "must be 8, not %d\n",
                     infile, r.detail);
        break;
    case StreamResult::bad_capacity: // the program's own buffer size: a build fault
        std::fprintf(stderr, "%s: internal error: unusable stream buffer size\n", infile);
        break;
    }
    return 1;
}

// Closes the input, wipes and releases the buffer: the last steps of every
// path through process_file once both exist.
void release(std::FILE *in, unsigned char *buffer) {
    std::fclose(in);
    if (buffer != nullptr) {
        velk::secure_wipe(buffer, velkfile::chunk_bytes);
        std::free(buffer);
    }
}

// Opening order shared by both directions: the input first, then the checks
// that must hold before anything is written, then the buffer, and only then
// the output, so a failure up to that point leaves the output path untouched.
int process_file(velkfile::Direction direction, const char *infile, const char *outfile,
                 const unsigned char key[24], const unsigned char vector[8], int mode) {
    message_stream = velkfile::names_standard_output(outfile) ? stderr : stdout;
    for (const char *path : {infile, outfile}) {
        if (*path == '\0') {
            std::fprintf(stderr, "%s: empty file name\n", shown(path));
            return 1;
        }
    }
    if (const char *cause = velkfile::closed_descriptor_named(infile)) {
        std::fprintf(stderr, "%s: %s\n", infile, cause);
        return 1;
    }
    std::FILE *in = std::fopen(infile, "rb");
    if (in == nullptr) {
        std::perror(infile);
        return 1;
    }
    // The stream functions read whole buffers; unbuffered, no plaintext is
    // left behind in a stdio buffer that nothing wipes.
    std::setvbuf(in, nullptr, _IONBF, 0);
    struct stat st;
    const bool known = fstat(fileno(in), &st) == 0;
    if (known && S_ISDIR(st.st_mode)) {
        // A directory opens for reading but every read fails: say so before
        // the output exists.
        errno = EISDIR;
        std::perror(infile);
        release(in, nullptr);
        return 1;
    }
    if (direction == velkfile::Direction::decrypt && known && S_ISREG(st.st_mode)) {
        // A regular file shows its size: refuse a malformed one before the
        // output exists. Other inputs are checked as they stream.
        if (const StreamResult r = velkfile::check_encrypted_input(in, st.st_size);
            r.status != StreamResult::ok) {
            release(in, nullptr);
            return report(r, infile, outfile);
        }
    }
    auto *buffer = static_cast<unsigned char *>(std::malloc(velkfile::chunk_bytes));
    if (buffer == nullptr) {
        message("Error: Cannot alloc memory !");
        release(in, nullptr);
        return 1;
    }
    // Opening the input and the output under two names may reach one
    // regular file (hard or symbolic links, /dev/stdout redirected to it):
    // the output, once opened, is compared with the input and refused before
    // anything in it changes. Devices and pipes lose nothing that way, so
    // /dev/stdin and /dev/stdout may share a terminal.
    velkfile::OutputFile out;
    if (!velkfile::open_output(outfile, out, known && S_ISREG(st.st_mode) ? &st : nullptr)) {
        if (out.same_as_input)
            std::fprintf(stderr, "%s and %s are the same file: refusing to overwrite the input\n",
                         infile, outfile);
        else if (!out.refusal.empty())
            std::fprintf(stderr, "%s: %s\n", outfile, out.refusal.c_str());
        else
            std::perror(outfile);
        release(in, buffer);
        return 1;
    }
    if (!out.in_place_reason.empty())
        std::fprintf(stderr,
                     "velkfile: %s: written in place, not replaced: %s; a failed run leaves it "
                     "incomplete\n",
                     outfile, out.in_place_reason.c_str());

    const off_t size = known && S_ISREG(st.st_mode) ? st.st_size : 0;
    velkfile::Progress progress(static_cast<unsigned long long>(size), isatty(STDERR_FILENO) == 1);
    const StreamResult r =
        direction == velkfile::Direction::encrypt
            ? velkfile::encrypt_stream(in, out.stream, buffer, velkfile::chunk_bytes, key, vector,
                                       mode, progress.hook())
            : velkfile::decrypt_stream(in, out.stream, buffer, velkfile::chunk_bytes, key, vector,
                                       mode, progress.hook());
    progress.finish();
    int status = report(r, infile, outfile);
    if (r.status == StreamResult::read_failed || r.status == StreamResult::bad_size ||
        r.status == StreamResult::bad_count || r.status == StreamResult::lone_count) {
        // Blocks written in place are left rather than removed: the output
        // may be a device or a file the user wants to inspect. A replaced
        // output never saw them.
        std::fprintf(stderr, "%s: %s\n", outfile,
                     out.replaced ? "left unchanged" : "left incomplete");
    }
    if (status != 0) {
        velkfile::abandon_output(out);
    } else if (!velkfile::commit_output(out)) {
        // Buffered bytes, the flush to disk or the rename may fail only here.
        write_error(outfile, errno);
        status = 1;
    }
    release(in, buffer);
    return status;
}

} // namespace

int encrypt_file(const char *infile, const char *outfile, const unsigned char key[24],
                 const unsigned char vector[8], int mode) {
    return process_file(velkfile::Direction::encrypt, infile, outfile, key, vector, mode);
}

int decrypt_file(const char *infile, const char *outfile, const unsigned char key[24],
                 const unsigned char vector[8], int mode) {
    return process_file(velkfile::Direction::decrypt, infile, outfile, key, vector, mode);
}
