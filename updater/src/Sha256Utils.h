// The updater's SHA-256 (FIPS 180-4): a hashing context fed in byte ranges,
// the raw 32-byte digest, and the 64-character lowercase hexadecimal digest
// of a stream or a file.
#pragma once

#include "Env.h"

#include <boost/shared_array.hpp>
#include <boost/shared_ptr.hpp>

#include <istream>
#include <string>

namespace sha256utils {

// One message's hashing state; finishing it (get_digest) ends its use.
class Sha256UtilsImpl;

boost::shared_ptr<Sha256UtilsImpl> create_context();

// Adds the bytes [first, last) to the message.
void update_context(const void* first, const void* last, const boost::shared_ptr<Sha256UtilsImpl>& context);

// Finishes the message and returns its 32-byte digest.
boost::shared_array<unsigned char> get_digest(const boost::shared_ptr<Sha256UtilsImpl>& context);

// The text form of a 32-byte digest: two lowercase hex digits per byte.
std::string digest_to_text(const unsigned char* digest);

// Hashes the stream to its end (a read error ends it like the end) and
// stores the text digest in `output`.
void hash_from_stream(std::istream& input, std::string& output);

// The text digest of a file's content; KWUpdaterCommonError "cannot open
// file" when it does not exist, is a directory or cannot be read.
std::string hash_from_file(kw::updater::Env& env, const kw::updater::Path& path);

} // namespace sha256utils
