// Stage 1: reading an update package: the outer header, the RSA-wrapped
// content key, and the Camellia body checked by its SHA-256 digest, written
// to the temporary package file.
#pragma once

#include "CamelliaUtils.h"
#include "Env.h"
#include "Sha256Utils.h"
#include "UpdateListener.h"

#include <boost/optional.hpp>
#include <boost/shared_array.hpp>
#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <future>
#include <iosfwd>
#include <string>
#include <vector>

namespace kw {
namespace updater {

struct KeyBytes {
    boost::shared_array<unsigned char> bytes;
    std::size_t length = 0;
};

// The key file's bytes: the RSA modulus, least significant byte first.
KeyBytes read_key(Env& env, const Path& key_file);

// The outer header ("pukw" and four digits) of the package stream.
std::uint32_t read_version(std::istream& input);

// Checks the magic and turns four ASCII digits into the version number.
std::uint32_t get_version(const char magic[4], const char version[4], const char* expected_magic);

// The receiving end of stage 1: takes the body after the key block, reads
// the declared plaintext length, decrypts, and writes and hashes exactly that
// many bytes. A piece is decrypted on every core while the one before it is
// hashed and written.
class CamelliaInfo {
public:
    explicit CamelliaInfo(std::ostream& output);
    ~CamelliaInfo();

    void Input(const void* bytes, unsigned count);
    void SetKey(const void* bytes, unsigned count);
    void Output(const unsigned char* bytes, unsigned count);

    // Writes and hashes the piece still being decrypted.
    void Finish();
    // Finishes the digest; true when the content key is that digest.
    bool DigestMatchesKey();

private:

    boost::shared_ptr<kw::CamelliaUtils> cipher_;
    boost::optional<std::uint32_t> declared_length_;
    boost::shared_ptr<sha256utils::Sha256UtilsImpl> digest_;
    std::uint32_t written_ = 0;
    std::ostream& output_;
    std::vector<unsigned char> pending_;  // the start of a block the next piece completes
    std::future<std::vector<unsigned char>> decrypting_;
};

// Stage 1: checks and decrypts the package into the temporary package file
// beside the extraction directory.
void decrypt(const Context& context, const Path& package, const Path& key_file, const Path& extract_dir);

} // namespace updater
} // namespace kw
