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
#include "Slices.h"

#include "Sha256Utils.h"

#include <kw/archive/ArchiveFormat.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace kwpack {
namespace {

// The header for a version text: four decimal digits, not newer than any
// updater accepts (a package the updater refuses is useless).
std::string CheckedHeader(const char* magic, const std::string& version)
{
    std::uint32_t number = 0;
    if (version.size() != 4 || !kw::updater::ParseVersion(version.data(), number))
        throw PackError("version \"" + version + "\" is not four decimal digits");
    if (number > kw::updater::kNewestPackageVersion)
        throw PackError("version \"" + version + "\" is newer than any updater accepts (at most " +
                        kw::updater::kNewestVersionText + ")");
    return kw::updater::MakeHeader(magic, version);
}

constexpr unsigned kPieceSize = 1 << 16;  // SHA-256 takes at most 64 KiB per update
constexpr std::size_t kCipherPiece = 1 << 20;

// Encrypts the scratch file into the package, the last block zero-padded.
void WriteCiphertext(ScratchFile& scratch, const unsigned char* key, unsigned jobs, OutputFile& package)
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
        // The blocks are independent (ECB), so `jobs` threads share each piece.
        kw::updater::RunInSlices(whole, kCipherBlock, jobs, [&](std::size_t at, std::size_t length) {
            ContentCipher(key).Encrypt(plain.data() + at, length, encrypted.data() + at);
        });
        package.Write(encrypted.data(), whole);
        if (got < plain.size()) break;
    }
    progress.Finish();
}

} // namespace

BuildSummary BuildPackage(Env& env, const BuildOptions& options)
{
    return BuildPackageFromTree(
        env, options, ScanTree(env, options.source, options.creation_times ? ScanFor::PackageWithCreationTimes : ScanFor::Package));
}

BuildSummary BuildPackageFromTree(Env& env, const BuildOptions& options, const TreeEntry& tree)
{
    // Everything that can be refused is refused before the long work.
    const std::string inner_header = CheckedHeader(kw::updater::kInnerMagic, options.version);
    const std::string outer_header = CheckedHeader(kw::updater::kPackageMagic, options.version);
    const RsaPrivateKey key = RsaPrivateKey::Load(env, options.key);
    RefuseExisting(env, options.package, options.force);

    const unsigned jobs = options.jobs ? options.jobs : ParallelCompressor::DefaultJobs();
    BuildSummary summary;
    summary.archive_bytes = ArchiveStreamSize(tree);
    ScratchFile compressed(env, env.Absolute(options.package).parent_path());
    auto digest_context = sha256utils::create_context();
    {
        // Compressed pieces go to the scratch file and into the digest.
        ParallelCompressor compressor(jobs, [&](const unsigned char* data, std::size_t size) {
            compressed.Write(data, size);
            for (std::size_t done = 0; done < size; done += kPieceSize)
                sha256utils::update_context(data + done, data + std::min(size, done + kPieceSize), digest_context);
        });
        Progress progress("compressing", summary.archive_bytes);
        WriteArchiveStream(env, options.source, tree, inner_header, [&](const unsigned char* data, std::size_t size) {
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
    kw::archive::format::StoreLe32(length, std::uint32_t(summary.compressed_bytes));
    OutputFile package(env, options.package, options.force);
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
