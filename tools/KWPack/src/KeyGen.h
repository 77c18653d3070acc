// keygen: a new key pair as the private key for the producer (PEM, mode
// 0600) and the key file for the installation (the raw modulus).
#pragma once

#include "Env.h"

namespace kwpack {

void GenerateKeyFiles(kw::updater::Env& env, const kw::updater::Path& private_key, const kw::updater::Path& key_file,
                      int bits, bool force);

} // namespace kwpack
