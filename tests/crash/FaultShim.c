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
 *   KW_SHIM_POWER=DIR  keep in DIR what a power cut at the kill would leave
 *   KW_SHIM_ROOT=PATH  of the directory tree PATH (absolute): "index" lists
 *                      snapshots, "full N" of the whole tree (at the start
 *                      and at every whole-file-system flush) and "dir N REL"
 *                      of one directory's entries (at its flush), each in
 *                      DIR/N with files as hard links; "dirty" holds, at the
 *                      kill, "DEV INO LENGTH" for every file written since its
 *                      last flush: the length its flushed data reaches
 *
 * Counted are the calls that change the file system or flush it: opening
 * for writing, writes (console descriptors 0-2 excepted), in-kernel copies,
 * renames, creating and removing entries, times and extended attributes,
 * truncation and syncs. Operation numbers start at 1. */
#define _GNU_SOURCE
#include <dirent.h>
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

/* ---- what a power cut would leave ---- */

static const char* power_dir;
static const char* power_root;
static long snapshots;

struct dirty_file {
    dev_t dev;
    ino_t ino;
    off_t flushed; /* the length that the flushed data reaches */
};
static struct dirty_file dirty[16384];
static int dirty_count;

/* The shim's own file operations are raw system calls: never counted. */
static int raw_open(const char* path, int flags)
{
    return (int)syscall(SYS_openat, AT_FDCWD, path, flags | O_CLOEXEC, 0644);
}
static void raw_append(const char* path, const char* text)
{
    const int fd = raw_open(path, O_WRONLY | O_CREAT | O_APPEND);
    if (fd < 0) return;
    syscall(SYS_write, fd, text, strlen(text));
    syscall(SYS_close, fd);
}

/* Copies the entries of `from` to `to`: files as hard links, directories
 * whole when `whole`, else as empty directories (their names only). */
static void snapshot_tree(const char* from, const char* to, int whole)
{
    syscall(SYS_mkdirat, AT_FDCWD, to, 0755);
    DIR* dir = opendir(from);
    if (!dir) return;
    for (struct dirent* e; (e = readdir(dir));) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
        char source[4096], target[4096];
        if (snprintf(source, sizeof source, "%s/%s", from, e->d_name) >= (int)sizeof source ||
            snprintf(target, sizeof target, "%s/%s", to, e->d_name) >= (int)sizeof target)
            abort(); /* the tests' paths are short */
        struct stat st;
        if (lstat(source, &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (whole)
                snapshot_tree(source, target, 1);
            else
                syscall(SYS_mkdirat, AT_FDCWD, target, 0755);
        } else {
            syscall(SYS_linkat, AT_FDCWD, source, AT_FDCWD, target, 0);
        }
    }
    closedir(dir);
}

/* Records the durable state of the tree (whole) or of one directory. */
static void snapshot(const char* path, int whole)
{
    const size_t root_length = strlen(power_root);
    if (strncmp(path, power_root, root_length) != 0 || (path[root_length] && path[root_length] != '/')) return;
    const char* relative = path[root_length] ? path + root_length + 1 : ".";
    char target[4096], line[4400];
    const long n = ++snapshots;
    snprintf(target, sizeof target, "%s/%ld", power_dir, n);
    if (whole) {
        snapshot_tree(power_root, target, 1);
        snprintf(line, sizeof line, "full %ld\n", n);
    } else {
        char nested[4096];
        if (snprintf(nested, sizeof nested, "%s/%s", target, relative) >= (int)sizeof nested) abort();
        /* The directory's parents, then its own entries. */
        syscall(SYS_mkdirat, AT_FDCWD, target, 0755);
        for (char* slash = nested + strlen(target); (slash = strchr(slash + 1, '/'));) {
            *slash = '\0';
            syscall(SYS_mkdirat, AT_FDCWD, nested, 0755);
            *slash = '/';
        }
        snapshot_tree(path, nested, 0);
        snprintf(line, sizeof line, "dir %ld %s\n", n, relative);
    }
    char index[4096];
    snprintf(index, sizeof index, "%s/index", power_dir);
    raw_append(index, line);
}

static struct dirty_file* dirty_entry(const struct stat* st)
{
    for (int i = 0; i < dirty_count; ++i)
        if (dirty[i].dev == st->st_dev && dirty[i].ino == st->st_ino) return &dirty[i];
    return NULL;
}

/* Before data of `fd` changes: what was flushed so far stays what it was.
 * `length` is the length the change leaves (truncation), or -1 (a write). */
static void note_write(int fd, off_t length)
{
    struct stat st;
    if (!power_dir || fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
    struct dirty_file* e = dirty_entry(&st);
    if (!e) {
        if (dirty_count == (int)(sizeof dirty / sizeof dirty[0])) abort();
        e = &dirty[dirty_count++];
        e->dev = st.st_dev;
        e->ino = st.st_ino;
        e->flushed = st.st_size;
    }
    if (length >= 0 && length < e->flushed) e->flushed = length;
}

/* The path `fd` was opened at, in `path` (4096 bytes); false when unknown. */
static int fd_path(int fd, char* path)
{
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, 4095);
    path[n > 0 ? n : 0] = '\0';
    return n > 0;
}

/* After a flush of `fd` that returned `result`. */
static int note_flush(int fd, int result)
{
    struct stat st;
    char path[4096];
    if (result != 0 || !power_dir || fd < 0 || fstat(fd, &st) != 0) return result;
    if (S_ISDIR(st.st_mode)) {
        if (fd_path(fd, path)) snapshot(path, 0);
    } else if (S_ISREG(st.st_mode)) {
        struct dirty_file* e = dirty_entry(&st);
        if (e) *e = dirty[--dirty_count];
    }
    return result;
}

/* After a flush of the whole file system that returned `result`. */
static int note_flush_all(int result)
{
    if (result != 0 || !power_dir) return result;
    dirty_count = 0;
    snapshot(power_root, 1);
    return result;
}

static void write_dirty(void)
{
    if (!power_dir) return;
    char path[4096], line[128];
    snprintf(path, sizeof path, "%s/dirty", power_dir);
    const int fd = raw_open(path, O_WRONLY | O_CREAT | O_TRUNC);
    for (int i = 0; fd >= 0 && i < dirty_count; ++i) {
        const int n = snprintf(line, sizeof line, "%lu %lu %lld\n", (unsigned long)dirty[i].dev,
                               (unsigned long)dirty[i].ino, (long long)dirty[i].flushed);
        syscall(SYS_write, fd, line, (size_t)n);
    }
    if (fd >= 0) syscall(SYS_close, fd);
}

/* A setting of the environment; NULL when unset or empty. */
static const char* env_text(const char* name)
{
    const char* text = getenv(name);
    return text && *text ? text : NULL;
}

static long env_number(const char* name, long fallback)
{
    const char* text = env_text(name);
    return text ? strtol(text, NULL, 10) : fallback;
}

static void configure(void)
{
    if (configured) return;
    configured = 1;
    kill_at = env_number("KW_SHIM_KILL", -1);
    fail_at = env_number("KW_SHIM_FAIL", -1);
    fail_errno = (int)env_number("KW_SHIM_ERRNO", ENOSPC);
    fail_path = env_text("KW_SHIM_FAIL_PATH");
    fail_op = env_text("KW_SHIM_FAIL_OP");
    no_sync = env_number("KW_SHIM_NO_SYNC", 0) != 0;
    const char* log = env_text("KW_SHIM_LOG");
    if (log) log_fd = raw_open(log, O_WRONLY | O_CREAT | O_APPEND);
    power_root = env_text("KW_SHIM_ROOT");
    power_dir = power_root ? env_text("KW_SHIM_POWER") : NULL;
    /* What exists when the program starts is on stable storage. */
    if (power_dir) snapshot(power_root, 1);
}

__attribute__((constructor)) static void shim_init(void) { configure(); }

static void log_line(long index, const char* op, const char* path, int fd)
{
    char resolved[4096];
    if (!path && fd >= 0) {
        fd_path(fd, resolved);
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
        write_dirty();
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

/* Counts operation `op`: true when it must fail, with errno set to say why. */
static int fails(const char* op, const char* path, int fd)
{
    const int e = hit(op, path, fd);
    if (e) errno = e;
    return e != 0;
}

/* The same for a call that changes the data of `fd`, leaving it `length`
 * long (truncation) or -1 (a write). */
static int write_fails(const char* op, int fd, off_t length)
{
    if (fails(op, NULL, fd)) return 1;
    note_write(fd, length);
    return 0;
}

/* The same for an open, counted when it opens for writing. */
static int open_fails(const char* op, const char* path, int flags)
{
    return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) && fails(op, path, -1);
}

/* A truncating open loses whatever the file held. */
static int opened(int fd, int flags)
{
    if (fd >= 0 && (flags & O_TRUNC)) note_write(fd, 0);
    return fd;
}

/* Defines `type name params`, which returns -1 when `failure` (one of the
 * counting checks above) says so and else `call`, made on the real function. */
#define WRAP(type, name, params, failure, call) \
    type name params                            \
    {                                           \
        REAL(name);                             \
        return (failure) ? -1 : (call);         \
    }

/* The same for open(2) and its kin, whose `mode` follows the flags only when
 * a file may be created. */
#define WRAP_OPEN(name, params, op, call)                              \
    int name params                                                    \
    {                                                                  \
        mode_t mode = 0;                                               \
        if (flags & (O_CREAT | O_TMPFILE)) {                           \
            va_list ap;                                                \
            va_start(ap, flags);                                       \
            mode = (mode_t)va_arg(ap, int);                            \
            va_end(ap);                                                \
        }                                                              \
        REAL(name);                                                    \
        return open_fails(op, path, flags) ? -1 : opened(call, flags); \
    }

/* ---- opening ---- */

WRAP_OPEN(open, (const char* path, int flags, ...), "open", real_open(path, flags, mode))
WRAP_OPEN(open64, (const char* path, int flags, ...), "open", real_open64(path, flags, mode))
WRAP_OPEN(openat, (int dir, const char* path, int flags, ...), "openat", real_openat(dir, path, flags, mode))
WRAP_OPEN(openat64, (int dir, const char* path, int flags, ...), "openat", real_openat64(dir, path, flags, mode))
WRAP(int, __open_2, (const char* path, int flags), open_fails("open", path, flags),
     opened(real___open_2(path, flags), flags))
WRAP(int, __open64_2, (const char* path, int flags), open_fails("open", path, flags),
     opened(real___open64_2(path, flags), flags))
WRAP(int, creat, (const char* path, mode_t mode), fails("creat", path, -1), opened(real_creat(path, mode), O_TRUNC))
WRAP(int, creat64, (const char* path, mode_t mode), fails("creat", path, -1), opened(real_creat64(path, mode), O_TRUNC))

/* libstdc++'s file streams open through fopen, whose own open is internal
 * to the C library. */
static int fopen_fails(const char* path, const char* mode) { return strpbrk(mode, "wa+") && fails("fopen", path, -1); }

static FILE* fopened(FILE* file, const char* mode)
{
    if (file && strchr(mode, 'w')) note_write(fileno(file), 0);
    return file;
}

FILE* fopen(const char* path, const char* mode)
{
    REAL(fopen);
    return fopen_fails(path, mode) ? NULL : fopened(real_fopen(path, mode), mode);
}

FILE* fopen64(const char* path, const char* mode)
{
    REAL(fopen64);
    return fopen_fails(path, mode) ? NULL : fopened(real_fopen64(path, mode), mode);
}

/* ---- writing ---- */

WRAP(ssize_t, write, (int fd, const void* data, size_t size), fd > 2 && write_fails("write", fd, -1),
     real_write(fd, data, size))
WRAP(ssize_t, writev, (int fd, const struct iovec* iov, int count), fd > 2 && write_fails("writev", fd, -1),
     real_writev(fd, iov, count))
WRAP(ssize_t, pwrite, (int fd, const void* data, size_t size, off_t offset), write_fails("pwrite", fd, -1),
     real_pwrite(fd, data, size, offset))
WRAP(ssize_t, pwrite64, (int fd, const void* data, size_t size, off64_t offset), write_fails("pwrite", fd, -1),
     real_pwrite64(fd, data, size, offset))
WRAP(ssize_t, sendfile, (int out, int in, off_t* offset, size_t count), write_fails("sendfile", out, -1),
     real_sendfile(out, in, offset, count))
WRAP(ssize_t, sendfile64, (int out, int in, off64_t* offset, size_t count), write_fails("sendfile", out, -1),
     real_sendfile64(out, in, offset, count))
WRAP(ssize_t, copy_file_range, (int in, loff_t* in_offset, int out, loff_t* out_offset, size_t count, unsigned flags),
     write_fails("copy_file_range", out, -1), real_copy_file_range(in, in_offset, out, out_offset, count, flags))

/* Boost.Filesystem reaches copy_file_range through syscall(2). */
long syscall(long number, ...)
{
    va_list ap;
    va_start(ap, number);
    long a[6];
    for (int i = 0; i < 6; ++i) a[i] = va_arg(ap, long);
    va_end(ap);
    REAL(syscall);
    if (number == SYS_copy_file_range && write_fails("copy_file_range", (int)a[2], -1)) return -1;
    return real_syscall(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

WRAP(int, ftruncate, (int fd, off_t length), write_fails("ftruncate", fd, length), real_ftruncate(fd, length))
WRAP(int, ftruncate64, (int fd, off64_t length), write_fails("ftruncate", fd, length), real_ftruncate64(fd, length))
WRAP(int, truncate, (const char* path, off_t length), fails("truncate", path, -1), real_truncate(path, length))
WRAP(int, truncate64, (const char* path, off64_t length), fails("truncate", path, -1), real_truncate64(path, length))

/* ---- names ---- */

WRAP(int, rename, (const char* from, const char* to), fails("rename", to, -1), real_rename(from, to))
WRAP(int, renameat, (int from_dir, const char* from, int to_dir, const char* to), fails("rename", to, -1),
     real_renameat(from_dir, from, to_dir, to))
WRAP(int, renameat2, (int from_dir, const char* from, int to_dir, const char* to, unsigned flags),
     fails("rename", to, -1), real_renameat2(from_dir, from, to_dir, to, flags))
WRAP(int, mkdir, (const char* path, mode_t mode), fails("mkdir", path, -1), real_mkdir(path, mode))
WRAP(int, mkdirat, (int dir, const char* path, mode_t mode), fails("mkdir", path, -1), real_mkdirat(dir, path, mode))
WRAP(int, unlink, (const char* path), fails("unlink", path, -1), real_unlink(path))
WRAP(int, unlinkat, (int dir, const char* path, int flags), fails("unlink", path, -1), real_unlinkat(dir, path, flags))
WRAP(int, rmdir, (const char* path), fails("rmdir", path, -1), real_rmdir(path))
WRAP(int, remove, (const char* path), fails("remove", path, -1), real_remove(path))
WRAP(int, link, (const char* from, const char* to), fails("link", to, -1), real_link(from, to))
WRAP(int, symlink, (const char* from, const char* to), fails("symlink", to, -1), real_symlink(from, to))
WRAP(int, chmod, (const char* path, mode_t mode), fails("chmod", path, -1), real_chmod(path, mode))
WRAP(int, fchmod, (int fd, mode_t mode), fails("fchmod", NULL, fd), real_fchmod(fd, mode))

/* ---- times and attributes ---- */

WRAP(int, utimensat, (int dir, const char* path, const struct timespec times[2], int flags),
     fails("utimensat", path, dir), real_utimensat(dir, path, times, flags))
WRAP(int, futimens, (int fd, const struct timespec times[2]), fails("futimens", NULL, fd), real_futimens(fd, times))
WRAP(int, utimes, (const char* path, const struct timeval times[2]), fails("utimes", path, -1),
     real_utimes(path, times))
WRAP(int, utime, (const char* path, const struct utimbuf* times), fails("utime", path, -1), real_utime(path, times))
WRAP(int, setxattr, (const char* path, const char* name, const void* value, size_t size, int flags),
     fails("setxattr", path, -1), real_setxattr(path, name, value, size, flags))
WRAP(int, lsetxattr, (const char* path, const char* name, const void* value, size_t size, int flags),
     fails("setxattr", path, -1), real_lsetxattr(path, name, value, size, flags))
WRAP(int, fsetxattr, (int fd, const char* name, const void* value, size_t size, int flags),
     fails("fsetxattr", NULL, fd), real_fsetxattr(fd, name, value, size, flags))

/* ---- flushing ---- */

WRAP(int, fsync, (int fd), fails("fsync", NULL, fd), note_flush(fd, no_sync ? 0 : real_fsync(fd)))
WRAP(int, fdatasync, (int fd), fails("fdatasync", NULL, fd), note_flush(fd, no_sync ? 0 : real_fdatasync(fd)))
WRAP(int, syncfs, (int fd), fails("syncfs", NULL, fd), note_flush_all(no_sync ? 0 : real_syncfs(fd)))

void sync(void)
{
    REAL(sync);
    hit("sync", NULL, -1); /* cannot fail; a kill still applies */
    if (!no_sync) real_sync();
    note_flush_all(0);
}
