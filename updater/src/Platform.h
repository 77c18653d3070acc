// The program's few operating-system calls. Narrow text is CP932 (the
// program's ANSI code page) on every host; one implementation per system.
#pragma once

#include <kw/FileTime.h>

#include <boost/filesystem/path.hpp>

#include <cstddef>
#include <string>

namespace platform {

// Creates one directory (no parents); false when it exists or cannot be made.
bool CreateOneDirectory(const std::string& narrow_path);

// Makes the hidden flag the whole attribute set; false on failure.
bool SetHiddenOnly(const std::string& narrow_path);

// An open file or directory for reading or setting its times.
class FileHandle {
public:
    enum Access { Read, Write };
    // Opens an existing entry; a directory opens only with backup semantics.
    FileHandle(const std::string& narrow_path, Access access, bool backup_semantics);
    ~FileHandle();
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool IsOpen() const;
    bool GetTimes(FILETIME* created, FILETIME* modified) const;
    bool SetTimes(const FILETIME* created, const FILETIME* modified);

private:
    struct State;
    State* state_;
};

// Narrow (CP932) text to a native path and back; text without a form in the
// other encoding raises std::invalid_argument.
boost::filesystem::path NarrowToPath(const std::string& narrow);
std::string PathToNarrow(const boost::filesystem::path& path);

// The command-line argument (locale encoding) as narrow text.
std::string ArgumentToNarrow(const char* argument);
// Narrow text in the terminal's encoding, for console lines.
std::string NarrowToConsole(const std::string& narrow);

// Copies a regular file's content and permissions over `target`, creating or
// truncating it. Unlike boost::filesystem::copy_file it does not flush each
// copy to the disk: the update flushes once, before it records a stage.
// Failures raise boost::filesystem::filesystem_error.
void CopyFileContents(const boost::filesystem::path& source, const boost::filesystem::path& target);

// True where FlushFileSystem puts everything written on a file system on
// stable storage at once (POSIX). Elsewhere (Windows) each written file and
// each changed directory must be flushed one by one.
bool FlushesWholeFileSystem();

// Flushes everything written under `path`'s file system to stable storage;
// does nothing where the system has no such flush.
void FlushFileSystem(const boost::filesystem::path& path);

// Flushes one file's data, or one directory's entries (creations, renames,
// removals), to stable storage. Failures, of these and of FlushFileSystem,
// raise boost::filesystem::filesystem_error.
void FlushFile(const boost::filesystem::path& path);
void FlushDirectory(const boost::filesystem::path& path);

// The longest file name, in native characters, that the file system holding
// the existing directory `dir` accepts.
std::size_t MaxNameLength(const boost::filesystem::path& dir);

} // namespace platform
