#include "AtomicOutput.h"

#include "PackError.h"

#include <boost/filesystem/exception.hpp>


namespace kwpack {
namespace {

const int kNameAttempts = 100;

std::string Text(const std::string& what, const Path& path, const std::exception& e)
{
    const auto* error = dynamic_cast<const boost::filesystem::filesystem_error*>(&e);
    return what + " " + path.string() + ": " + (error ? error->code().message() : e.what());
}

// Runs `step`; a failure raises PackError saying that `what` failed on `path`.
template <class Step>
auto OnPath(const std::string& what, const Path& path, Step step) -> decltype(step())
{
    try {
        return step();
    } catch (const std::exception& e) {
        throw PackError(Text(what, path, e));
    }
}

[[noreturn]] void Exists(const Path& target)
{
    throw PackError(target.string() + " exists; use --force to replace it");
}

// Runs `attempt` on fresh sibling names until one is free.
template <class Attempt>
Path OnFreshSibling(const Path& target, const char* what, Attempt attempt)
{
    for (int i = 0; i < kNameAttempts; ++i) {
        const Path name = kw::updater::FreshSiblingName(target);
        if (OnPath(what, target, [&] { return attempt(name); })) return name;
    }
    throw PackError(std::string(what) + " " + target.string() + ": no free name");
}

Path FreshDirectoryBeside(Env& env, const Path& target)
{
    return OnFreshSibling(target, "cannot create a directory next to",
                          [&](const Path& name) { return env.MakeDirectory(name); });
}

} // namespace

void RefuseExisting(Env& env, const Path& target, bool overwrite)
{
    if (!overwrite && env.Status(target, false).Exists()) Exists(target);
}


OutputFile::OutputFile(Env& env, const Path& target, bool overwrite, bool owner_only)
    : target_(target), overwrite_(overwrite)
{
    RefuseExisting(env, target, overwrite);
    OnFreshSibling(target, "cannot create a file next to", [&](const Path& name) {
        if (env.Status(name, false).Exists()) return false;
        file_.reset(new kw::updater::AtomicFile(env, target, name, owner_only));
        return true;
    });
}

void OutputFile::Write(const void* data, std::size_t size)
{
    OnPath("cannot write", target_, [&] { file_->Append(data, size); });
}

void OutputFile::Commit()
{
    try {
        // A directory that cannot be flushed leaves the output in place, as
        // complete as it is; only a power cut soon after could undo its name.
        file_->Commit(overwrite_);
    } catch (const boost::filesystem::filesystem_error& e) {
        if (e.code() == boost::system::errc::file_exists) Exists(target_);
        throw PackError(Text("cannot create", target_, e));
    } catch (const std::exception& e) {
        throw PackError(Text("cannot write", target_, e));
    }
}

AtomicDirectory::AtomicDirectory(Env& env, const Path& target, bool overwrite)
    : env_(env), target_(target), overwrite_(overwrite)
{
    RefuseExisting(env, target, overwrite);
    temp_ = FreshDirectoryBeside(env, target);
}

AtomicDirectory::~AtomicDirectory()
{
    boost::system::error_code ignored;
    if (!committed_) kw::updater::RemoveAll(env_, temp_, ignored);
}

void AtomicDirectory::Commit()
{
    boost::system::error_code error;
    if (env_.Status(target_, false).Exists()) {
        if (!overwrite_) Exists(target_);
        kw::updater::RemoveAll(env_, target_, error);
        if (error) throw PackError("cannot remove " + target_.string() + ": " + error.message());
    }
    env_.Rename(temp_, target_, false, error);
    if (error) throw PackError("cannot create " + target_.string() + ": " + error.message());
    committed_ = true;
}

ScratchDirectory::ScratchDirectory(Env& env, const Path& beside)
    : env_(env), path_(FreshDirectoryBeside(env, beside))
{
}

ScratchDirectory::~ScratchDirectory()
{
    boost::system::error_code ignored;
    kw::updater::RemoveAll(env_, path_, ignored);
}

ScratchFile::ScratchFile(Env& env, const Path& directory)
{
    file_ = OnPath("cannot create a scratch file in", directory, [&] { return env.CreateScratchFile(directory); });
}

void ScratchFile::Write(const void* data, std::size_t size)
{
    Explained("cannot write the scratch file", [&] { file_->Append(data, size); });
    size_ += size;
}

void ScratchFile::Rewind()
{
    Explained("cannot write the scratch file", [&] { file_->Rewind(); });
}

std::size_t ScratchFile::Read(void* data, std::size_t size)
{
    return Explained("cannot read the scratch file", [&] { return file_->Read(data, size); });
}

} // namespace kwpack
