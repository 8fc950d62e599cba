/* SPDX-License-Identifier: MIT */
/* Preloaded into velkfile by the tests: no new file can be made with O_EXCL,
 * as in a directory that refuses the temporary of a replacement, while every
 * other open goes through. */
#define _GNU_SOURCE
/* Both names are defined here, so neither may stand for the other. */
#undef _FILE_OFFSET_BITS
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

static int refused_openat(int dir, const char *path, int flags, va_list ap) {
    const mode_t mode = (flags & O_CREAT) != 0 ? va_arg(ap, mode_t) : 0;
    if ((flags & O_CREAT) != 0 && (flags & O_EXCL) != 0) {
        errno = EACCES;
        return -1;
    }
    /* As the C library's openat64 does, so that large files open on 32-bit
     * systems too (the flag is 0 where offsets are 64-bit anyway). */
    return (int)syscall(SYS_openat, dir, path, flags | O_LARGEFILE, mode);
}

int openat(int dir, const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const int fd = refused_openat(dir, path, flags, ap);
    va_end(ap);
    return fd;
}

int openat64(int dir, const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const int fd = refused_openat(dir, path, flags, ap);
    va_end(ap);
    return fd;
}
