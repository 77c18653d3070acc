/* A preloaded library that counts the file-system operations of the process
 * it is loaded into and, at the Nth one, kills the process or makes the call
 * fail. The program under test reads no environment; only this library does:
 *
 *   KW_SHIM_LOG=FILE   append one line "INDEX OP PATH" per counted operation
 *   KW_SHIM_KILL=N     raise SIGKILL instead of performing operation N
 *   KW_SHIM_FAIL=N     make operation N fail with KW_SHIM_ERRNO
 *   KW_SHIM_FAIL_PATH=TEXT
 *                      make every operation on a path containing TEXT fail
 *                      with KW_SHIM_ERRNO (a lasting fault, such as a file
 *                      the user may not replace)
 *   KW_SHIM_FAIL_OP=OP only operations named OP (as in the log) on that path
 *   KW_SHIM_ERRNO=E    the error number of an injected failure (default ENOSPC)
 *   KW_SHIM_NO_SYNC=1  count flushes to stable storage but skip them: a
 *                      killed process loses nothing the kernel holds, and
 *                      the tests run many updates
 *
 * Counted are the calls that change the file system or flush it: opening
 * for writing, writes (console descriptors 0-2 excepted), in-kernel copies,
 * renames, creating and removing entries, times and extended attributes,
 * truncation and syncs. Operation numbers start at 1. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utime.h>

static int configured;
static long counter;
static long kill_at = -1;
static long fail_at = -1;
static const char* fail_path;
static const char* fail_op;
static int fail_errno = ENOSPC;
static int log_fd = -1;
static int no_sync;

static long env_number(const char* name, long fallback)
{
    const char* text = getenv(name);
    return text && *text ? strtol(text, NULL, 10) : fallback;
}

static void configure(void)
{
    if (configured) return;
    configured = 1;
    kill_at = env_number("KW_SHIM_KILL", -1);
    fail_at = env_number("KW_SHIM_FAIL", -1);
    fail_errno = (int)env_number("KW_SHIM_ERRNO", ENOSPC);
    fail_path = getenv("KW_SHIM_FAIL_PATH");
    if (fail_path && !*fail_path) fail_path = NULL;
    no_sync = env_number("KW_SHIM_NO_SYNC", 0) != 0;
    fail_op = getenv("KW_SHIM_FAIL_OP");
    if (fail_op && !*fail_op) fail_op = NULL;
    const char* log = getenv("KW_SHIM_LOG");
    /* The raw system call: the log's own writes are not counted. */
    if (log && *log)
        log_fd = (int)syscall(SYS_openat, AT_FDCWD, log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

__attribute__((constructor)) static void shim_init(void) { configure(); }

static void log_line(long index, const char* op, const char* path, int fd)
{
    char resolved[4096];
    if (!path && fd >= 0) {
        char link[64];
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t n = readlink(link, resolved, sizeof resolved - 1);
        resolved[n > 0 ? n : 0] = '\0';
        path = resolved;
    }
    char line[4400];
    const int n = snprintf(line, sizeof line, "%ld %s %s\n", index, op, path ? path : "");
    if (n > 0) syscall(SYS_write, log_fd, line, (size_t)(n < (int)sizeof line ? n : (int)sizeof line - 1));
}

/* Called before each counted operation: kills the process, or returns the
 * error number the operation must fail with, or 0 to perform it. */
static int hit(const char* op, const char* path, int fd)
{
    configure();
    const long index = ++counter;
    if (log_fd >= 0) log_line(index, op, path, fd);
    if (index == kill_at) {
        kill(getpid(), SIGKILL);
        for (;;) pause();
    }
    if (index == fail_at) return fail_errno;
    if (fail_path && path && strstr(path, fail_path) && (!fail_op || strcmp(op, fail_op) == 0)) return fail_errno;
    return 0;
}

#define REAL(name) \
    static __typeof__(&name) real_##name; \
    if (!real_##name) real_##name = (__typeof__(&name))dlsym(RTLD_NEXT, #name)

#define FAIL_IF(op, path, fd, failed)  \
    do {                               \
        const int e_ = hit(op, path, fd); \
        if (e_) {                      \
            errno = e_;                \
            return failed;             \
        }                              \
    } while (0)

static int opens_for_writing(int flags) { return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0; }

static int fopen_writes(const char* mode) { return strpbrk(mode, "wa+") != NULL; }

/* ---- opening ---- */

#define MODE_ARG(flags) \
    mode_t mode = 0; \
    if ((flags) & (O_CREAT | O_TMPFILE)) { \
        va_list ap; \
        va_start(ap, flags); \
        mode = (mode_t)va_arg(ap, int); \
        va_end(ap); \
    }

int open(const char* path, int flags, ...)
{
    MODE_ARG(flags);
    REAL(open);
    if (opens_for_writing(flags)) FAIL_IF("open", path, -1, -1);
    return real_open(path, flags, mode);
}

int open64(const char* path, int flags, ...)
{
    MODE_ARG(flags);
    REAL(open64);
    if (opens_for_writing(flags)) FAIL_IF("open", path, -1, -1);
    return real_open64(path, flags, mode);
}

int openat(int dir, const char* path, int flags, ...)
{
    MODE_ARG(flags);
    REAL(openat);
    if (opens_for_writing(flags)) FAIL_IF("openat", path, -1, -1);
    return real_openat(dir, path, flags, mode);
}

int openat64(int dir, const char* path, int flags, ...)
{
    MODE_ARG(flags);
    REAL(openat64);
    if (opens_for_writing(flags)) FAIL_IF("openat", path, -1, -1);
    return real_openat64(dir, path, flags, mode);
}

int __open_2(const char* path, int flags)
{
    REAL(__open_2);
    if (opens_for_writing(flags)) FAIL_IF("open", path, -1, -1);
    return real___open_2(path, flags);
}

int __open64_2(const char* path, int flags)
{
    REAL(__open64_2);
    if (opens_for_writing(flags)) FAIL_IF("open", path, -1, -1);
    return real___open64_2(path, flags);
}

int creat(const char* path, mode_t mode)
{
    REAL(creat);
    FAIL_IF("creat", path, -1, -1);
    return real_creat(path, mode);
}

int creat64(const char* path, mode_t mode)
{
    REAL(creat64);
    FAIL_IF("creat", path, -1, -1);
    return real_creat64(path, mode);
}

/* libstdc++'s file streams open through fopen, whose own open is internal
 * to the C library. */
FILE* fopen(const char* path, const char* mode)
{
    REAL(fopen);
    if (fopen_writes(mode)) FAIL_IF("fopen", path, -1, NULL);
    return real_fopen(path, mode);
}

FILE* fopen64(const char* path, const char* mode)
{
    REAL(fopen64);
    if (fopen_writes(mode)) FAIL_IF("fopen", path, -1, NULL);
    return real_fopen64(path, mode);
}

/* ---- writing ---- */

ssize_t write(int fd, const void* data, size_t size)
{
    REAL(write);
    if (fd > 2) FAIL_IF("write", NULL, fd, -1);
    return real_write(fd, data, size);
}

ssize_t writev(int fd, const struct iovec* iov, int count)
{
    REAL(writev);
    if (fd > 2) FAIL_IF("writev", NULL, fd, -1);
    return real_writev(fd, iov, count);
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset)
{
    REAL(pwrite);
    FAIL_IF("pwrite", NULL, fd, -1);
    return real_pwrite(fd, data, size, offset);
}

ssize_t pwrite64(int fd, const void* data, size_t size, off64_t offset)
{
    REAL(pwrite64);
    FAIL_IF("pwrite", NULL, fd, -1);
    return real_pwrite64(fd, data, size, offset);
}

ssize_t sendfile(int out, int in, off_t* offset, size_t count)
{
    REAL(sendfile);
    FAIL_IF("sendfile", NULL, out, -1);
    return real_sendfile(out, in, offset, count);
}

ssize_t sendfile64(int out, int in, off64_t* offset, size_t count)
{
    REAL(sendfile64);
    FAIL_IF("sendfile", NULL, out, -1);
    return real_sendfile64(out, in, offset, count);
}

ssize_t copy_file_range(int in, loff_t* in_offset, int out, loff_t* out_offset, size_t count, unsigned flags)
{
    REAL(copy_file_range);
    FAIL_IF("copy_file_range", NULL, out, -1);
    return real_copy_file_range(in, in_offset, out, out_offset, count, flags);
}

/* Boost.Filesystem reaches copy_file_range through syscall(2). */
long syscall(long number, ...)
{
    va_list ap;
    va_start(ap, number);
    long a[6];
    for (int i = 0; i < 6; ++i) a[i] = va_arg(ap, long);
    va_end(ap);
    REAL(syscall);
    if (number == SYS_copy_file_range) FAIL_IF("copy_file_range", NULL, (int)a[2], -1);
    return real_syscall(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

int ftruncate(int fd, off_t length)
{
    REAL(ftruncate);
    FAIL_IF("ftruncate", NULL, fd, -1);
    return real_ftruncate(fd, length);
}

int ftruncate64(int fd, off64_t length)
{
    REAL(ftruncate64);
    FAIL_IF("ftruncate", NULL, fd, -1);
    return real_ftruncate64(fd, length);
}

int truncate(const char* path, off_t length)
{
    REAL(truncate);
    FAIL_IF("truncate", path, -1, -1);
    return real_truncate(path, length);
}

int truncate64(const char* path, off64_t length)
{
    REAL(truncate64);
    FAIL_IF("truncate", path, -1, -1);
    return real_truncate64(path, length);
}

/* ---- names ---- */

int rename(const char* from, const char* to)
{
    REAL(rename);
    FAIL_IF("rename", to, -1, -1);
    return real_rename(from, to);
}

int renameat(int from_dir, const char* from, int to_dir, const char* to)
{
    REAL(renameat);
    FAIL_IF("rename", to, -1, -1);
    return real_renameat(from_dir, from, to_dir, to);
}

int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags)
{
    REAL(renameat2);
    FAIL_IF("rename", to, -1, -1);
    return real_renameat2(from_dir, from, to_dir, to, flags);
}

int mkdir(const char* path, mode_t mode)
{
    REAL(mkdir);
    FAIL_IF("mkdir", path, -1, -1);
    return real_mkdir(path, mode);
}

int mkdirat(int dir, const char* path, mode_t mode)
{
    REAL(mkdirat);
    FAIL_IF("mkdir", path, -1, -1);
    return real_mkdirat(dir, path, mode);
}

int unlink(const char* path)
{
    REAL(unlink);
    FAIL_IF("unlink", path, -1, -1);
    return real_unlink(path);
}

int unlinkat(int dir, const char* path, int flags)
{
    REAL(unlinkat);
    FAIL_IF("unlink", path, -1, -1);
    return real_unlinkat(dir, path, flags);
}

int rmdir(const char* path)
{
    REAL(rmdir);
    FAIL_IF("rmdir", path, -1, -1);
    return real_rmdir(path);
}

int remove(const char* path)
{
    REAL(remove);
    FAIL_IF("remove", path, -1, -1);
    return real_remove(path);
}

int link(const char* from, const char* to)
{
    REAL(link);
    FAIL_IF("link", to, -1, -1);
    return real_link(from, to);
}

int symlink(const char* from, const char* to)
{
    REAL(symlink);
    FAIL_IF("symlink", to, -1, -1);
    return real_symlink(from, to);
}

int chmod(const char* path, mode_t mode)
{
    REAL(chmod);
    FAIL_IF("chmod", path, -1, -1);
    return real_chmod(path, mode);
}

int fchmod(int fd, mode_t mode)
{
    REAL(fchmod);
    FAIL_IF("fchmod", NULL, fd, -1);
    return real_fchmod(fd, mode);
}

/* ---- times and attributes ---- */

int utimensat(int dir, const char* path, const struct timespec times[2], int flags)
{
    REAL(utimensat);
    FAIL_IF("utimensat", path, dir, -1);
    return real_utimensat(dir, path, times, flags);
}

int futimens(int fd, const struct timespec times[2])
{
    REAL(futimens);
    FAIL_IF("futimens", NULL, fd, -1);
    return real_futimens(fd, times);
}

int utimes(const char* path, const struct timeval times[2])
{
    REAL(utimes);
    FAIL_IF("utimes", path, -1, -1);
    return real_utimes(path, times);
}

int utime(const char* path, const struct utimbuf* times)
{
    REAL(utime);
    FAIL_IF("utime", path, -1, -1);
    return real_utime(path, times);
}

int setxattr(const char* path, const char* name, const void* value, size_t size, int flags)
{
    REAL(setxattr);
    FAIL_IF("setxattr", path, -1, -1);
    return real_setxattr(path, name, value, size, flags);
}

int lsetxattr(const char* path, const char* name, const void* value, size_t size, int flags)
{
    REAL(lsetxattr);
    FAIL_IF("setxattr", path, -1, -1);
    return real_lsetxattr(path, name, value, size, flags);
}

int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags)
{
    REAL(fsetxattr);
    FAIL_IF("fsetxattr", NULL, fd, -1);
    return real_fsetxattr(fd, name, value, size, flags);
}

/* ---- flushing ---- */

int fsync(int fd)
{
    REAL(fsync);
    FAIL_IF("fsync", NULL, fd, -1);
    return no_sync ? 0 : real_fsync(fd);
}

int fdatasync(int fd)
{
    REAL(fdatasync);
    FAIL_IF("fdatasync", NULL, fd, -1);
    return no_sync ? 0 : real_fdatasync(fd);
}

int syncfs(int fd)
{
    REAL(syncfs);
    FAIL_IF("syncfs", NULL, fd, -1);
    return no_sync ? 0 : real_syncfs(fd);
}

void sync(void)
{
    REAL(sync);
    hit("sync", NULL, -1); /* cannot fail; a kill still applies */
    if (!no_sync) real_sync();
}
