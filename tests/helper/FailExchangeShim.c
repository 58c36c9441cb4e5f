/* Preloaded into the update helper by tests: makes one chosen call of
 * renameat2 fail, so that the exchange paths can be tested without a file
 * system that refuses them. VELUNTA_FAIL_EXCHANGE_CALL=N fails the Nth call
 * (1 = the first exchange, 2 = the exchange back) with EXDEV. */
#define _GNU_SOURCE
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
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
