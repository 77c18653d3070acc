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
static int raw_open(const char* path, int flags) { return (int)syscall(SYS_openat, AT_FDCWD, path, flags | O_CLOEXEC, 0644); }
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

static void note_flush(int fd)
{
    struct stat st;
    if (!power_dir || fd < 0 || fstat(fd, &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        char link[64], path[4096];
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t n = readlink(link, path, sizeof path - 1);
        if (n <= 0) return;
        path[n] = '\0';
        snapshot(path, 0);
    } else if (S_ISREG(st.st_mode)) {
        struct dirty_file* e = dirty_entry(&st);
        if (e) *e = dirty[--dirty_count];
    }
}

static void note_flush_all(void)
{
    if (!power_dir) return;
    dirty_count = 0;
    snapshot(power_root, 1);
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
    power_dir = getenv("KW_SHIM_POWER");
    power_root = getenv("KW_SHIM_ROOT");
    if (!power_dir || !*power_dir || !power_root || !*power_root) power_dir = NULL;
    /* What exists when the program starts is on stable storage. */
    if (power_dir) snapshot(power_root, 1);
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

/* A truncating open loses whatever the file held. */
static int opened(int fd, int flags)
{
    if (fd >= 0 && (flags & O_TRUNC)) note_write(fd, 0);
    return fd;
}

static FILE* fopened(FILE* file, const char* mode)
{
    if (file && strchr(mode, 'w')) note_write(fileno(file), 0);
    return file;
}

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
    return opened(real_open(path, flags, mode), flags);
}

int open64(const char* path, int flags, ...)
{
    MODE_ARG(flags);
    REAL(open64);
    if (opens_for_writing(flags)) FAIL_IF("open", path, -1, -1);
    return opened(real_open64(path, flags, mode), flags);
}

int openat(int dir, const char* path, int flags, ...)
{
    MODE_ARG(flags);
    REAL(openat);
    if (opens_for_writing(flags)) FAIL_IF("openat", path, -1, -1);
    return opened(real_openat(dir, path, flags, mode), flags);
}

int openat64(int dir, const char* path, int flags, ...)
{
    MODE_ARG(flags);
    REAL(openat64);
    if (opens_for_writing(flags)) FAIL_IF("openat", path, -1, -1);
    return opened(real_openat64(dir, path, flags, mode), flags);
}

int __open_2(const char* path, int flags)
{
    REAL(__open_2);
    if (opens_for_writing(flags)) FAIL_IF("open", path, -1, -1);
    return opened(real___open_2(path, flags), flags);
}

int __open64_2(const char* path, int flags)
{
    REAL(__open64_2);
    if (opens_for_writing(flags)) FAIL_IF("open", path, -1, -1);
    return opened(real___open64_2(path, flags), flags);
}

int creat(const char* path, mode_t mode)
{
    REAL(creat);
    FAIL_IF("creat", path, -1, -1);
    return opened(real_creat(path, mode), O_TRUNC);
}

int creat64(const char* path, mode_t mode)
{
    REAL(creat64);
    FAIL_IF("creat", path, -1, -1);
    return opened(real_creat64(path, mode), O_TRUNC);
}

/* libstdc++'s file streams open through fopen, whose own open is internal
 * to the C library. */
FILE* fopen(const char* path, const char* mode)
{
    REAL(fopen);
    if (fopen_writes(mode)) FAIL_IF("fopen", path, -1, NULL);
    return fopened(real_fopen(path, mode), mode);
}

FILE* fopen64(const char* path, const char* mode)
{
    REAL(fopen64);
    if (fopen_writes(mode)) FAIL_IF("fopen", path, -1, NULL);
    return fopened(real_fopen64(path, mode), mode);
}

/* ---- writing ---- */

ssize_t write(int fd, const void* data, size_t size)
{
    REAL(write);
    if (fd > 2) {
        FAIL_IF("write", NULL, fd, -1);
        note_write(fd, -1);
    }
    return real_write(fd, data, size);
}

ssize_t writev(int fd, const struct iovec* iov, int count)
{
    REAL(writev);
    if (fd > 2) {
        FAIL_IF("writev", NULL, fd, -1);
        note_write(fd, -1);
    }
    return real_writev(fd, iov, count);
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset)
{
    REAL(pwrite);
    FAIL_IF("pwrite", NULL, fd, -1);
    note_write(fd, -1);
    return real_pwrite(fd, data, size, offset);
}

ssize_t pwrite64(int fd, const void* data, size_t size, off64_t offset)
{
    REAL(pwrite64);
    FAIL_IF("pwrite", NULL, fd, -1);
    note_write(fd, -1);
    return real_pwrite64(fd, data, size, offset);
}

ssize_t sendfile(int out, int in, off_t* offset, size_t count)
{
    REAL(sendfile);
    FAIL_IF("sendfile", NULL, out, -1);
    note_write(out, -1);
    return real_sendfile(out, in, offset, count);
}

ssize_t sendfile64(int out, int in, off64_t* offset, size_t count)
{
    REAL(sendfile64);
    FAIL_IF("sendfile", NULL, out, -1);
    note_write(out, -1);
    return real_sendfile64(out, in, offset, count);
}

ssize_t copy_file_range(int in, loff_t* in_offset, int out, loff_t* out_offset, size_t count, unsigned flags)
{
    REAL(copy_file_range);
    FAIL_IF("copy_file_range", NULL, out, -1);
    note_write(out, -1);
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
    if (number == SYS_copy_file_range) {
        FAIL_IF("copy_file_range", NULL, (int)a[2], -1);
        note_write((int)a[2], -1);
    }
    return real_syscall(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

int ftruncate(int fd, off_t length)
{
    REAL(ftruncate);
    FAIL_IF("ftruncate", NULL, fd, -1);
    note_write(fd, length);
    return real_ftruncate(fd, length);
}

int ftruncate64(int fd, off64_t length)
{
    REAL(ftruncate64);
    FAIL_IF("ftruncate", NULL, fd, -1);
    note_write(fd, length);
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
    const int result = no_sync ? 0 : real_fsync(fd);
    if (result == 0) note_flush(fd);
    return result;
}

int fdatasync(int fd)
{
    REAL(fdatasync);
    FAIL_IF("fdatasync", NULL, fd, -1);
    const int result = no_sync ? 0 : real_fdatasync(fd);
    if (result == 0) note_flush(fd);
    return result;
}

int syncfs(int fd)
{
    REAL(syncfs);
    FAIL_IF("syncfs", NULL, fd, -1);
    const int result = no_sync ? 0 : real_syncfs(fd);
    if (result == 0) note_flush_all();
    return result;
}

void sync(void)
{
    REAL(sync);
    hit("sync", NULL, -1); /* cannot fail; a kill still applies */
    if (!no_sync) real_sync();
    note_flush_all();
}
