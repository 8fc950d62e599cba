/* SPDX-License-Identifier: MIT */
/* Preloaded into velkfile by the tests: fchmod fails as it does on file
 * systems without Unix permission bits (vfat and similar). */
#include <errno.h>
#include <sys/stat.h>

int fchmod(int fd, mode_t mode) {
    (void)fd;
    (void)mode;
    errno = EPERM;
    return -1;
}
