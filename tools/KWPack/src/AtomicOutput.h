// Outputs that appear under their final name only when complete: they are
// written under a fresh sibling name and renamed at the end, so an
// interrupted run never leaves a truncated file or half-filled directory.
#pragma once

#include "AtomicFile.h"
#include "Env.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kwpack {

using kw::updater::Env;
using kw::updater::Path;

// Raises PackError when `target` exists and `overwrite` is false.
void RefuseExisting(Env& env, const Path& target, bool overwrite);

class OutputFile {
public:
    // `owner_only` keeps the file from other users (a private key).
    OutputFile(Env& env, const Path& target, bool overwrite, bool owner_only = false);

    void Write(const void* data, std::size_t size);
    // Flushes to stable storage and places the file under its final name;
    // without `overwrite`, a target that appeared meanwhile is not replaced.
    void Commit();

private:
    Path target_;
    bool overwrite_;
    std::unique_ptr<kw::updater::AtomicFile> file_;
};

class AtomicDirectory {
public:
    AtomicDirectory(Env& env, const Path& target, bool overwrite);
    ~AtomicDirectory();
    AtomicDirectory(const AtomicDirectory&) = delete;
    AtomicDirectory& operator=(const AtomicDirectory&) = delete;

    // Where the content is written until Commit.
    const Path& path() const { return temp_; }
    // Replaces the target (only with `overwrite`) by the written directory.
    void Commit();

private:
    Env& env_;
    Path target_;
    Path temp_;
    bool overwrite_;
    bool committed_ = false;
};

// A scratch directory beside a path, removed with everything in it when dropped.
class ScratchDirectory {
public:
    ScratchDirectory(Env& env, const Path& beside);
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    const Path& path() const { return path_; }

private:
    Env& env_;
    Path path_;
};

// A nameless scratch file, written once and then read back from the start.
class ScratchFile {
public:
    ScratchFile(Env& env, const Path& directory);

    void Write(const void* data, std::size_t size);
    // Ends writing and moves to the first byte for reading.
    void Rewind();
    // Reads up to `size` bytes; 0 at the end.
    std::size_t Read(void* data, std::size_t size);
    std::uint64_t size() const { return size_; }

private:
    std::unique_ptr<kw::updater::ScratchFile> file_;
    std::uint64_t size_ = 0;
};

} // namespace kwpack
