// Shared test helpers: a scratch directory and captured console streams.
#pragma once

#include <boost/filesystem.hpp>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace testsupport {

// A fresh directory removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir() : path_(boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("kwtest-%%%%-%%%%-%%%%"))
    {
        boost::filesystem::create_directories(path_);
    }
    ~TempDir()
    {
        boost::system::error_code ignored;
        boost::filesystem::remove_all(path_, ignored);
    }
    const boost::filesystem::path& path() const { return path_; }
    boost::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    boost::filesystem::path path_;
};

// Redirects a stream into a string for the lifetime of the object.
class Capture {
public:
    explicit Capture(std::ostream& stream) : stream_(stream), saved_(stream.rdbuf(buffer_.rdbuf())) {}
    ~Capture() { stream_.rdbuf(saved_); }
    std::string text() const { return buffer_.str(); }

private:
    std::ostream& stream_;
    std::ostringstream buffer_;
    std::streambuf* saved_;
};

inline void WriteFile(const boost::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path.string(), std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadFile(const boost::filesystem::path& path)
{
    std::ifstream in(path.string(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

} // namespace testsupport
