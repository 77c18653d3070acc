// keygen: a new key pair as the private key for the producer (PEM, mode
// 0600) and the key file for the installation (the raw modulus).
#pragma once

#include <boost/filesystem/path.hpp>

namespace kwpack {

void GenerateKeyFiles(const boost::filesystem::path& private_key, const boost::filesystem::path& key_file, int bits,
                      bool force);

} // namespace kwpack
