// Reading an update package: the outer header, the RSA-wrapped content key,
// the Camellia body checked by its SHA-256 digest (stage 1), and the
// decompressing source that feeds the archive loader (stage 2).
#pragma once

#include "CamelliaUtils.h"
#include "Sha256Utils.h"

#include <kw/archive/ArchiveLoader.h>
#include <kw/bz2/KWDecompress.h>

#include <boost/optional.hpp>
#include <boost/shared_array.hpp>
#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <deque>
#include <iosfwd>
#include <string>
#include <vector>

// The newest package version this updater accepts, "0111".
const std::uint32_t kNewestPackageVersion = 0x00010101;

struct KeyBytes {
    boost::shared_array<unsigned char> bytes;
    std::size_t length = 0;
};

// The key file's bytes: the RSA modulus, least significant byte first.
KeyBytes read_key(const std::string& key_file);

// The outer header ("pukw" and four digits) of the package stream.
std::uint32_t read_version(std::istream& input);

// Checks the magic and turns four ASCII digits into the version number.
std::uint32_t get_version(const char magic[4], const char version[4], const char* expected_magic);

// The receiving end of stage 1: takes the body after the key block, reads
// the declared plaintext length, decrypts, and writes and hashes exactly that
// many bytes.
class CamelliaInfo {
public:
    explicit CamelliaInfo(std::ostream& output);

    void Input(const void* bytes, unsigned count);
    void SetKey(const void* bytes, unsigned count);
    void Output(const unsigned char* bytes, unsigned count);

    // Finishes the digest; true when the content key is that digest.
    bool DigestMatchesKey();

private:
    boost::shared_ptr<kw::CamelliaUtils> cipher_;
    boost::optional<std::uint32_t> declared_length_;
    boost::shared_ptr<sha256utils::Sha256UtilsImpl> digest_;
    std::uint32_t written_ = 0;
    std::ostream& output_;
};

// Progress on standard output, at most once per 4096 bytes.
class ProgressLine {
public:
    explicit ProgressLine(std::uint64_t total) : total_(total) {}
    void Update(std::uint64_t done);

private:
    std::uint64_t total_;
    std::uint64_t threshold_ = 0;
};

// One decompressed piece waiting for the archive loader.
struct buffer_attribute {
    std::uint32_t position = 0;
    std::uint32_t size = 0;
    unsigned char data[65536];
};

// The state of one decompression.
struct filter_data {
    filter_data(std::istream& input, std::uint64_t length) : input(input), length(length), progress(length) {}

    std::istream& input;
    std::uint64_t compressed_read = 0;
    std::uint64_t length;
    ProgressLine progress;
    std::string header;
    std::uint64_t decompressed = 0;
    std::deque<boost::shared_ptr<buffer_attribute>> queue;
    std::vector<char> read_buffer;
};

// Decompresses the temporary package file into the loader.
void expand_bzip2(std::istream& input, kw::archive::ArchiveLoader& loader, std::uint64_t length);

// The decompressor's sink: queues the piece and checks the inner header.
void accept_bzip2(filter_data& state, const void* bytes, unsigned count);

// The loader's source: hands out queued bytes, decompressing more as needed.
unsigned read_decompressed(kw::bz2::KWDecompress& decompressor, filter_data& state, void* destination, unsigned count);
