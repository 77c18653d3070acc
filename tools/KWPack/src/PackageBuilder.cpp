#include "PackageBuilder.h"

#include "ArchiveWriter.h"
#include "AtomicOutput.h"
#include "ContentCipher.h"
#include "PackError.h"
#include "PackageFormat.h"
#include "ParallelCompressor.h"
#include "Progress.h"
#include "RsaKey.h"
#include "RsaPadding.h"
#include "SourceTree.h"

#include "Sha256Utils.h"

#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <cstring>
#include <future>
#include <vector>

namespace fs = boost::filesystem;

namespace kwpack {
namespace {

constexpr unsigned kPieceSize = 1 << 16;  // SHA-256 takes at most 64 KiB per update
constexpr std::size_t kCipherPiece = 1 << 20;

// Compressed pieces go to the scratch file and into the digest.
void KeepCompressed(ScratchFile& scratch, const boost::shared_ptr<sha256utils::Sha256UtilsImpl>& digest,
                    const unsigned char* data, std::size_t size)
{
    scratch.Write(data, size);
    for (std::size_t done = 0; done < size; done += kPieceSize)
        sha256utils::update_context(data + done, data + std::min<std::size_t>(size, done + kPieceSize), digest);
}

// The blocks are independent (ECB), so `jobs` threads share each piece.
void EncryptOnThreads(const unsigned char* key, unsigned jobs, const unsigned char* in, std::size_t size,
                      unsigned char* out)
{
    const std::size_t slice = (size / kCipherBlock + jobs - 1) / jobs * kCipherBlock;
    const auto encrypt = [key, in, out, size](std::size_t at, std::size_t length) {
        ContentCipher(key).Encrypt(in + at, std::min(length, size - at), out + at);
    };
    std::vector<std::future<void>> others;
    for (std::size_t at = slice; at < size; at += slice)
        others.push_back(std::async(std::launch::async, encrypt, at, slice));
    encrypt(0, slice);
    for (std::future<void>& other : others) other.get();
}

// Encrypts the scratch file into the package, the last block zero-padded.
void WriteCiphertext(ScratchFile& scratch, const unsigned char* key, unsigned jobs, AtomicFile& package)
{
    Progress progress("encrypting", scratch.size());
    std::vector<unsigned char> plain(kCipherPiece), encrypted(kCipherPiece);
    scratch.Rewind();
    for (;;) {
        std::size_t got = 0;
        // Fill whole pieces so only the very last one can be partial.
        while (got < plain.size()) {
            std::size_t n = scratch.Read(&plain[got], plain.size() - got);
            if (!n) break;
            got += n;
        }
        if (!got) break;
        progress.Advance(got);
        std::size_t whole = (got + kCipherBlock - 1) / kCipherBlock * kCipherBlock;
        std::memset(&plain[got], 0, whole - got);
        EncryptOnThreads(key, jobs, plain.data(), whole, encrypted.data());
        package.Write(encrypted.data(), whole);
        if (got < plain.size()) break;
    }
    progress.Finish();
}

} // namespace

BuildSummary BuildPackage(const BuildOptions& options)
{
    return BuildPackageFromTree(options, ScanTree(options.source));
}

BuildSummary BuildPackageFromTree(const BuildOptions& options, const TreeEntry& tree)
{
    // Everything that can be refused is refused before the long work.
    const std::string inner_header = MakeHeader(kInnerMagic, options.version);
    const std::string outer_header = MakeHeader(kPackageMagic, options.version);
    const RsaPrivateKey key = RsaPrivateKey::Load(options.key);
    RefuseExisting(options.package, options.force);

    const unsigned jobs = options.jobs ? options.jobs : ParallelCompressor::DefaultJobs();
    BuildSummary summary;
    summary.archive_bytes = ArchiveStreamSize(tree);
    fs::path package_dir = fs::absolute(options.package).parent_path();
    ScratchFile compressed(package_dir);
    auto digest_context = sha256utils::create_context();
    {
        ParallelCompressor compressor(jobs, [&](const unsigned char* data, std::size_t size) {
            KeepCompressed(compressed, digest_context, data, size);
        });
        Progress progress("compressing", summary.archive_bytes);
        WriteArchiveStream(options.source, tree, inner_header, [&](const unsigned char* data, std::size_t size) {
            compressor.Write(data, size);
            progress.Advance(size);
        });
        compressor.Finish();
        progress.Finish();
    }
    summary.compressed_bytes = compressed.size();
    if (summary.compressed_bytes > 0xFFFFFFFFu)
        throw PackError("the compressed tree is 4 GiB or larger; a package cannot hold it");
    const boost::shared_array<unsigned char> content_key = sha256utils::get_digest(digest_context);

    const std::vector<unsigned char> key_block =
        key.PrivateOperation(PadKeyBlock(content_key.get(), kContentKeySize, key.bits()));
    unsigned char length[4];
    PutLe32(length, std::uint32_t(summary.compressed_bytes));

    AtomicFile package(options.package, options.force);
    package.Write(outer_header.data(), outer_header.size());
    package.Write(key_block.data(), key_block.size());
    package.Write(length, sizeof length);
    WriteCiphertext(compressed, content_key.get(), jobs, package);
    package.Commit();
    summary.package_bytes = outer_header.size() + key_block.size() + sizeof length +
                            (summary.compressed_bytes + kCipherBlock - 1) / kCipherBlock * kCipherBlock;
    return summary;
}

} // namespace kwpack
