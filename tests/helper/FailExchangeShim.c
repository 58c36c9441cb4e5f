/* Preloaded into the update helper by tests: makes one chosen call of
 * renameat2 fail, so that the exchange paths can be tested without a file
 * system that refuses them. VELUNTA_FAIL_EXCHANGE_CALL=N fails the Nth call
 * (1 = the first exchange, 2 = the exchange back) with EXDEV.
 * VELUNTA_HIDE_PROGRAM=PATH makes every execv of PATH fail with ENOENT, as on
 * a system where that program is not installed. */
#define _GNU_SOURCE
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

static int calls;

int renameat2(int olddirfd, const char *oldpath, int newdirfd, const char *newpath, unsigned int flags)
{
    ++calls;
    const char *failing = getenv("VELUNTA_FAIL_EXCHANGE_CALL");
    if (failing && atoi(failing) == calls) {
        errno = EXDEV;
        return -1;
    }
    return (int)syscall(SYS_renameat2, olddirfd, oldpath, newdirfd, newpath, flags);
}

int execv(const char *path, char *const argv[])
{
    const char *hidden = getenv("VELUNTA_HIDE_PROGRAM");
    if (hidden && strcmp(hidden, path) == 0) {
        errno = ENOENT;
        return -1;
    }
    return execve(path, argv, environ);
}
