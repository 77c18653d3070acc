// Outputs that appear under their final name only when complete: they are
// written under a temporary sibling name and renamed at the end, so an
// interrupted run never leaves a truncated file or half-filled directory.
#pragma once

#include <boost/filesystem/path.hpp>

#include <cstddef>
#include <cstdio>
#include <sys/types.h>

namespace kwpack {

// Raises PackError when `target` exists and `overwrite` is false.
void RefuseExisting(const boost::filesystem::path& target, bool overwrite);

class AtomicFile {
public:
    // Creates the temporary sibling with the given permission bits.
    AtomicFile(const boost::filesystem::path& target, bool overwrite, mode_t mode = 0644);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    void Write(const void* data, std::size_t size);
    // Flushes to stable storage and places the file under its final name;
    // without `overwrite`, a target that appeared meanwhile is not replaced.
    void Commit();

private:
    boost::filesystem::path target_;
    boost::filesystem::path temp_;
    std::FILE* file_;
    bool overwrite_;
};

class AtomicDirectory {
public:
    AtomicDirectory(const boost::filesystem::path& target, bool overwrite);
    ~AtomicDirectory();
    AtomicDirectory(const AtomicDirectory&) = delete;
    AtomicDirectory& operator=(const AtomicDirectory&) = delete;

    // Where the content is written until Commit.
    const boost::filesystem::path& path() const { return temp_; }
    // Replaces the target (only with `overwrite`) by the written directory.
    void Commit();

private:
    boost::filesystem::path target_;
    boost::filesystem::path temp_;
    bool overwrite_;
    bool committed_ = false;
};

// A scratch directory removed with everything in it when dropped.
class ScratchDirectory {
public:
    explicit ScratchDirectory(const boost::filesystem::path& beside);
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    const boost::filesystem::path& path() const { return path_; }

private:
    boost::filesystem::path path_;
};

// A nameless scratch file (unlinked at once, so nothing is left behind even
// after a crash), written once and then read back from the start.
class ScratchFile {
public:
    explicit ScratchFile(const boost::filesystem::path& directory);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    void Write(const void* data, std::size_t size);
    // Ends writing and moves to the first byte for reading.
    void Rewind();
    // Reads up to `size` bytes; 0 at the end.
    std::size_t Read(void* data, std::size_t size);
    std::uint64_t size() const { return size_; }

private:
    std::FILE* file_;
    std::uint64_t size_ = 0;
};

} // namespace kwpack
