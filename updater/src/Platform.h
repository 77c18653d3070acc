// The program's few operating-system calls. Narrow text is CP932 (the
// program's ANSI code page) on every host; one implementation per system.
#pragma once

#include <kw/FileTime.h>

#include <boost/filesystem/path.hpp>

#include <cstddef>
#include <fstream>
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
// other encoding, or whose conversion does not come back the same (two
// characters with one code, one character with two), raises
// std::invalid_argument naming it.
boost::filesystem::path NarrowToPath(const std::string& narrow);
std::string PathToNarrow(const boost::filesystem::path& path);

// The command-line argument (locale encoding) as narrow text.
std::string ArgumentToNarrow(const char* argument);
// Narrow text in the terminal's encoding, for console lines.
std::string NarrowToConsole(const std::string& narrow);
// Native text (file names, the texts of the system's and the file-system
// library's errors) in the terminal's encoding.
std::string NativeToConsole(const std::string& native);
// UTF-8 text that is only shown, as well as the terminal can show it; never
// fails.
std::string Utf8ToConsole(const std::string& utf8);

// Copies a regular file's content and permissions over `target`, creating or
// truncating it. Unlike boost::filesystem::copy_file it does not flush each
// copy to the disk: the update flushes once, before it records a stage.
// Failures raise boost::filesystem::filesystem_error.
void CopyFileContents(const boost::filesystem::path& source, const boost::filesystem::path& target);

// Opens `path` as a new, empty file for binary writing; fails (leaving `out`
// closed) when anything stands at the name, a link included, so that nothing
// is ever written through a link or into content that another name shares.
void OpenNewFile(const boost::filesystem::path& path, std::ofstream& out);

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

// True when Windows cannot open `path` by its plain name: a file's whole
// path must be shorter than 260 characters (MAX_PATH), a directory's leave
// room for an 8.3 name in it (248). Never on POSIX.
bool PathTooLong(const boost::filesystem::path& path, bool directory);

// True when another process holds `path` open in a way that keeps this one
// from reading or replacing it (Windows sharing modes); never on POSIX.
bool IsHeldOpen(const boost::filesystem::path& path);

} // namespace platform
