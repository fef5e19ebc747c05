/* Preloaded into the arm64 test programs that cross-build.sh runs under
 * qemu-aarch64, so that they can start child processes as on the board.
 *
 * - qemu-user 7.2 refuses clone(CLONE_PIDFD) but passes pidfd waits on to
 *   the host's kernel, which knows them. Qt 5.15's QProcess probes for pidfd
 *   support with such a wait and then fails to start any child. Answering the
 *   probe as a kernel without pidfds does makes it fork the classic way.
 * - Without a binfmt handler the host cannot execute an arm64 program, so an
 *   exec of one runs it through qemu-aarch64 instead.
 * The preload itself is dropped from what children inherit: a host program
 * cannot load it, and qemu gives it back to emulated ones (QEMU_SET_ENV). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

static const char kQemu[] = "/usr/bin/qemu-aarch64";

long syscall(long number, ...)
{
    static long (*real)(long, ...);
    va_list ap;
    long a[6];

    va_start(ap, number);
    for (int i = 0; i < 6; i++)
        a[i] = va_arg(ap, long);
    va_end(ap);
    if (number == SYS_waitid && a[0] == P_PIDFD) {
        errno = EINVAL;
        return -1;
    }
    if (!real)
        real = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
    return real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

static int is_arm64_program(const char *path)
{
    Elf64_Ehdr h;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    ssize_t n = read(fd, &h, sizeof h);
    close(fd);
    return n == (ssize_t)sizeof h && memcmp(h.e_ident, ELFMAG, SELFMAG) == 0 &&
           h.e_machine == EM_AARCH64;
}

static size_t count(char *const v[])
{
    size_t n = 0;
    while (v && v[n])
        n++;
    return n;
}

int execve(const char *path, char *const argv[], char *const envp[])
{
    static int (*real)(const char *, char *const[], char *const[]);
    if (!real)
        real = (int (*)(const char *, char *const[], char *const[]))dlsym(RTLD_NEXT, "execve");

    /* Stack copies: nothing to free, whether the exec succeeds or not. */
    size_t ne = count(envp), na = count(argv);
    char *env[ne + 1], *args[na + 3];
    size_t k = 0;
    for (size_t i = 0; i < ne; i++)
        if (strncmp(envp[i], "LD_PRELOAD=", 11) != 0)
            env[k++] = envp[i];
    env[k] = NULL;
    if (!is_arm64_program(path))
        return real(path, argv, env);
    args[0] = (char *)kQemu;
    args[1] = (char *)path;
    for (size_t i = 1; i < na; i++)
        args[i + 1] = argv[i];
    args[na > 0 ? na + 1 : 2] = NULL;
    return real(kQemu, args, env);
}

int execv(const char *path, char *const argv[])
{
    return execve(path, argv, environ);
}
