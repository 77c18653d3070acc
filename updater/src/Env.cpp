// The parts of the environment that every system shares: raising forms and
// the compound operations built from the single ones, so that a test
// environment sees (and can stop) each step.
#include "Env.h"

#include <boost/filesystem/exception.hpp>

#include <cstdio>

namespace kw {
namespace updater {

void RaiseFileError(const char* what, const Path& path, const boost::system::error_code& error)
{
    throw boost::filesystem::filesystem_error(what, path, error);
}

std::unique_ptr<SequentialFile> Env::OpenForReading(const Path& path)
{
    boost::system::error_code error;
    std::unique_ptr<SequentialFile> file = OpenForReading(path, error);
    if (!file) RaiseFileError("cannot open the file", path, error);
    return file;
}

std::unique_ptr<WritableFile> Env::CreateNewFile(const Path& path, bool owner_only)
{
    boost::system::error_code error;
    std::unique_ptr<WritableFile> file = CreateNewFile(path, owner_only, error);
    if (!file) RaiseFileError("cannot create the file", path, error);
    return file;
}

void Env::Rename(const Path& from, const Path& to, bool replace)
{
    boost::system::error_code error;
    Rename(from, to, replace, error);
    if (error) throw boost::filesystem::filesystem_error("cannot rename", from, to, error);
}

void Env::Remove(const Path& path)
{
    boost::system::error_code error;
    Remove(path, error);
    if (error) RaiseFileError("cannot remove", path, error);
}

bool Exists(Env& env, const Path& path)
{
    return env.Status(path, true).Exists();
}

bool IsDirectory(Env& env, const Path& path)
{
    return env.Status(path, true).IsDirectory();
}

void CreateDirectories(Env& env, const Path& path)
{
    if (path.filename_is_dot()) return CreateDirectories(env, path.parent_path()); // a trailing '/'
    if (path.empty() || IsDirectory(env, path)) return;
    const Path parent = path.parent_path();
    if (!parent.empty() && parent != path) CreateDirectories(env, parent);
    // Another name in the way, or a failure that status can tell, is raised
    // by the check that follows.
    if (!env.MakeDirectory(path) && !IsDirectory(env, path))
        RaiseFileError("cannot create the directory", path,
                       boost::system::errc::make_error_code(boost::system::errc::not_a_directory));
}

void RemoveAll(Env& env, const Path& path, boost::system::error_code& error)
{
    error.clear();
    FileStatus status;
    try {
        status = env.Status(path, false);
        if (status.IsDirectory())
            for (const Path& name : env.ListDirectory(path)) {
                RemoveAll(env, path / name, error);
                if (error) return;
            }
    } catch (const boost::filesystem::filesystem_error& e) {
        error = e.code();
        return;
    }
    if (status.Exists()) env.Remove(path, error);
}

void RemoveAll(Env& env, const Path& path)
{
    boost::system::error_code error;
    RemoveAll(env, path, error);
    if (error) RaiseFileError("cannot remove", path, error);
}

bool IsEmptyDirectory(Env& env, const Path& path)
{
    return env.ListDirectory(path).empty();
}

std::string ReadWholeFile(Env& env, const Path& path)
{
    const std::unique_ptr<SequentialFile> file = env.OpenForReading(path);
    std::string content;
    char buffer[1 << 14];
    for (std::size_t got; (got = file->Read(buffer, sizeof buffer)) != 0;) content.append(buffer, got);
    return content;
}

class FileInputStream::Buffer : public std::streambuf {
public:
    explicit Buffer(SequentialFile& file) : file_(file), data_(1 << 16) {}

protected:
    int_type underflow() override
    {
        const std::size_t got = file_.Read(data_.data(), data_.size());
        setg(data_.data(), data_.data(), data_.data() + got);
        return got ? traits_type::to_int_type(data_[0]) : traits_type::eof();
    }

    // Only the first byte is a place to go back to.
    pos_type seekpos(pos_type position, std::ios_base::openmode) override
    {
        if (position != pos_type(0)) return pos_type(off_type(-1));
        file_.Rewind();
        setg(data_.data(), data_.data(), data_.data());
        return position;
    }

private:
    SequentialFile& file_;
    std::vector<char> data_;
};

FileInputStream::FileInputStream(std::unique_ptr<SequentialFile> file)
    : std::istream(nullptr), file_(std::move(file))
{
    if (!file_) return; // no buffer: the stream stays failed
    buffer_.reset(new Buffer(*file_));
    rdbuf(buffer_.get());
}

FileInputStream::~FileInputStream() = default;

// 64 KiB on every system (BUFSIZ is 512 bytes on Windows): a file goes out
// in few system calls, and pieces at least that large go out uncopied.
class FileOutputStream::Buffer : public std::streambuf {
public:
    explicit Buffer(WritableFile& file) : file_(file), data_(1 << 16) { setp(data_.data(), data_.data() + data_.size()); }

    void WriteOut()
    {
        const std::size_t pending = static_cast<std::size_t>(pptr() - pbase());
        setp(data_.data(), data_.data() + data_.size());
        if (pending) file_.Append(data_.data(), pending);
    }

protected:
    int_type overflow(int_type c) override
    {
        WriteOut();
        if (!traits_type::eq_int_type(c, traits_type::eof())) sputc(traits_type::to_char_type(c));
        return traits_type::not_eof(c);
    }

    std::streamsize xsputn(const char* bytes, std::streamsize count) override
    {
        if (count < static_cast<std::streamsize>(data_.size())) return std::streambuf::xsputn(bytes, count);
        WriteOut();
        file_.Append(bytes, static_cast<std::size_t>(count));
        return count;
    }

private:
    WritableFile& file_;
    std::vector<char> data_;
};

FileOutputStream::FileOutputStream(std::unique_ptr<WritableFile> file)
    : std::ostream(nullptr), file_(std::move(file)), buffer_(new Buffer(*file_))
{
    rdbuf(buffer_.get());
}

FileOutputStream::~FileOutputStream() = default;

void FileOutputStream::Sync()
{
    buffer_->WriteOut();
    file_->Sync();
}

void FileOutputStream::Close()
{
    buffer_->WriteOut();
    file_->Close();
}

} // namespace updater
} // namespace kw
