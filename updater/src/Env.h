// The one door to the file system, in the manner of LevelDB's Env: every
// operation of the updater and of KWPack that reaches the disk goes through
// it, on native paths. One implementation per system (Env_posix.cpp,
// Env_win32.cpp) is chosen at compile time; tests wrap it to fail or stop an
// operation and to drop what was not flushed.
//
// Failures raise boost::filesystem::filesystem_error naming the path, unless
// an operation says otherwise. Operations that take an error_code raise
// nothing: destructors and clean-up paths use them.
#pragma once

#include <kw/FileTime.h>

#include <boost/filesystem/path.hpp>
#include <boost/system/error_code.hpp>

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace kw {
namespace updater {

typedef boost::filesystem::path Path;

enum class FileKind { kNone, kFile, kDirectory, kLink, kOther };

struct FileStatus {
    FileKind kind = FileKind::kNone;
    std::uint64_t size = 0;  // of a regular file
    bool read_only = false;  // Windows' attribute; on POSIX, no write permission at all

    bool Exists() const { return kind != FileKind::kNone; }
    bool IsFile() const { return kind == FileKind::kFile; }
    bool IsDirectory() const { return kind == FileKind::kDirectory; }
};

struct FileTimes {
    FILETIME created{};
    FILETIME modified{};
};

// Which step of reading or setting times failed: the entry could not be
// opened (a directory opens only where asked for), or the call itself failed.
enum class TimesResult { kDone, kCannotOpen, kCannotAccess };

// A file read from its start to its end.
class SequentialFile {
public:
    virtual ~SequentialFile() = default;
    // Reads up to `size` bytes; 0 only at the end. Raises on a read error.
    virtual std::size_t Read(void* data, std::size_t size) = 0;
    virtual std::uint64_t Size() = 0;
    // Goes back to the first byte.
    virtual void Rewind() = 0;
};

// A file being written. Every Append goes to the system at once (nothing is
// buffered here), so an interruption leaves what a killed process leaves;
// callers append in large pieces. The destructor closes without raising.
class WritableFile {
public:
    virtual ~WritableFile() = default;
    virtual void Append(const void* data, std::size_t size) = 0;
    // Puts the content on stable storage.
    virtual void Sync() = 0;
    virtual void Close() = 0;
};

// A nameless file for scratch data, gone when closed or when the process
// ends: appended to, then read from its first byte after Rewind.
class ScratchFile : public WritableFile, public SequentialFile {};

// A lock held until it is released or goes, or the process ends (even
// killed).
class FileLock {
public:
    virtual ~FileLock() = default;
    // Releases the lock, removing its file; raises when that fails.
    virtual void Release() = 0;
};

class Env {
public:
    virtual ~Env() = default;

    // The implementation for this system.
    static Env& Default();

    // ---- directories and names
    // Creates one directory (no parents); false when it exists or cannot be made.
    virtual bool MakeDirectory(const Path& path) = 0;
    // Makes the hidden flag the whole attribute set (a leading dot hides a
    // name on POSIX, where this only checks that the entry exists).
    virtual bool SetHidden(const Path& path) = 0;
    // What stands at `path`: with `follow_links` the entry a link names.
    // A missing entry is kNone; other failures raise.
    virtual FileStatus Status(const Path& path, bool follow_links) = 0;
    // The names in a directory, in no particular order.
    virtual std::vector<Path> ListDirectory(const Path& path) = 0;
    // The name of the entry at `path` as the disk spells it (where names that
    // differ only in case name one entry, as on Windows, it may differ from
    // the name asked for); empty when there is none.
    virtual Path SpelledName(const Path& path) = 0;
    // The longest file name, in native characters, that the file system
    // holding the existing directory `dir` accepts.
    virtual std::size_t MaxNameLength(const Path& dir) = 0;
    virtual Path Absolute(const Path& path) = 0;
    virtual Path TemporaryDirectory() = 0;

    // ---- file times (creation and last write)
    // A directory's times are read only with `directories_too`.
    virtual TimesResult GetTimes(const Path& path, bool directories_too, FileTimes& times) = 0;
    virtual TimesResult SetTimes(const Path& path, const FileTimes& times) = 0;
    // Sets or clears the read-only attribute (on POSIX: every write
    // permission, or the owner's). Removing and replacing ignore it, as on
    // POSIX, so only a placed file that must keep it needs this.
    virtual void SetReadOnly(const Path& path, bool read_only) = 0;

    // ---- files
    // Null, with the error set, when the file cannot be opened.
    virtual std::unique_ptr<SequentialFile> OpenForReading(const Path& path, boost::system::error_code& error) = 0;
    // A new, empty file; fails when anything stands at the name, a link
    // included, so nothing is ever written through a link or into content
    // that another name shares. `owner_only` keeps it from other users.
    virtual std::unique_ptr<WritableFile> CreateNewFile(const Path& path, bool owner_only,
                                                        boost::system::error_code& error) = 0;
    virtual std::unique_ptr<ScratchFile> CreateScratchFile(const Path& directory) = 0;
    // Copies a regular file's content and permissions over `target`,
    // creating or truncating it, without flushing it.
    virtual void CopyFileContents(const Path& source, const Path& target) = 0;
    // Renames `from` to `to`; over an existing `to` only with `replace`,
    // read-only or not. A rename never becomes a copy: across volumes it fails.
    virtual void Rename(const Path& from, const Path& to, bool replace, boost::system::error_code& error) = 0;
    // Makes `link` a second name of `existing`'s content.
    virtual void HardLink(const Path& existing, const Path& link, boost::system::error_code& error) = 0;
    // Removes a file, a link or an empty directory, read-only or not; a
    // missing entry is no error.
    virtual void Remove(const Path& path, boost::system::error_code& error) = 0;

    // ---- stable storage
    // True where FlushFileSystem puts everything written on a file system on
    // stable storage at once (POSIX); elsewhere (Windows) each written file
    // and each changed directory is flushed one by one.
    virtual bool FlushesWholeFileSystem() = 0;
    virtual void FlushFileSystem(const Path& path) = 0;
    virtual void FlushFile(const Path& path) = 0;
    // Flushes a directory's entries (creations, renames, removals).
    virtual void FlushDirectory(const Path& path) = 0;

    // ---- one process at a time
    // An exclusive lock on the file `path`, created when missing: held open
    // without sharing on Windows (and gone with the handle), flock on POSIX
    // (removed before it is released). Null while another process holds it.
    virtual std::unique_ptr<FileLock> LockFile(const Path& path) = 0;

    // ---- Windows behaviours (never on POSIX)
    // True when another process holds `path` open in a way that keeps this
    // one from using it as asked: reading it, or replacing or removing it
    // (which needs delete access; a running program's image refuses it too).
    enum class Use { kRead, kReplace };
    virtual bool IsHeldOpen(const Path& path, Use use) = 0;

    // ---- the console
    virtual bool StandardErrorIsTerminal() = 0;

    // Raising forms of the operations above.
    std::unique_ptr<SequentialFile> OpenForReading(const Path& path);
    std::unique_ptr<WritableFile> CreateNewFile(const Path& path, bool owner_only = false);
    void Rename(const Path& from, const Path& to, bool replace);
    void Remove(const Path& path);
};

// A file read through a buffer, for the parsers and hashes that take a
// stream; it owns the file. Without a file it is a failed stream of size 0.
class FileInputStream : public std::istream {
public:
    explicit FileInputStream(std::unique_ptr<SequentialFile> file);
    ~FileInputStream() override;
    std::uint64_t Size() const { return file_ ? file_->Size() : 0; }

private:
    class Buffer;
    std::unique_ptr<SequentialFile> file_;
    std::unique_ptr<Buffer> buffer_;
};

// A file written through a buffer of the size a standard file stream uses,
// so the system sees the same writes. Close writes the rest and closes; a
// stream dropped without Close writes nothing more (as a killed process).
class FileOutputStream : public std::ostream {
public:
    explicit FileOutputStream(std::unique_ptr<WritableFile> file);
    ~FileOutputStream() override;
    void Sync();
    void Close();

private:
    class Buffer;
    std::unique_ptr<WritableFile> file_;
    std::unique_ptr<Buffer> buffer_;
};

// What the file system operations above build on, shared by every system.
// Whether `path` names something, a link followed; whether a directory.
bool Exists(Env& env, const Path& path);
bool IsDirectory(Env& env, const Path& path);
// Creates `path` and its missing parents; an existing directory is fine.
void CreateDirectories(Env& env, const Path& path);
// Removes `path` with everything below it; a missing entry is no error.
void RemoveAll(Env& env, const Path& path);
void RemoveAll(Env& env, const Path& path, boost::system::error_code& error);
bool IsEmptyDirectory(Env& env, const Path& path);
// A file's whole content; raises when it cannot be opened or read.
std::string ReadWholeFile(Env& env, const Path& path);
// The error for an operation on `path`, raised with the system's last error.
[[noreturn]] void RaiseFileError(const char* what, const Path& path, const boost::system::error_code& error);

} // namespace updater
} // namespace kw
