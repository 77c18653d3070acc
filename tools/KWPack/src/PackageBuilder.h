// build: a directory becomes an update package. The archive stream of the
// directory (inner header first) is compressed with bzip2 on several threads
// into a scratch file while SHA-256 hashes the compressed bytes; the digest
// is the content key. The package is then written under a temporary name:
// outer header, the content key wrapped with the private key, the plaintext
// length and the Camellia ciphertext, and renamed when complete. Memory stays
// at a few chunks per compression thread whatever the size of the tree.
#pragma once

#include "SourceTree.h"

#include <string>

namespace kwpack {

struct BuildOptions {
    Path source;
    Path package;
    Path key;
    std::string version = "0111";
    bool force = false;
    unsigned jobs = 0;  // compression threads; 0: one per core
    bool creation_times = false;  // read from the disk, not the modification times
};

struct BuildSummary {
    std::uint64_t archive_bytes = 0;     // the uncompressed stream
    std::uint64_t compressed_bytes = 0;  // L, the plaintext length
    std::uint64_t package_bytes = 0;
};

BuildSummary BuildPackage(Env& env, const BuildOptions& options);

// The same from a tree scanned beforehand (its files are read from
// options.source); tests use it to pack names a scan would refuse.
BuildSummary BuildPackageFromTree(Env& env, const BuildOptions& options, const TreeEntry& tree);

} // namespace kwpack
