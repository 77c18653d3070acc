#include "PackageReader.h"

#include "KWUpdaterError.h"
#include "PackageFormat.h"
#include "ProgressLine.h"
#include "Slices.h"
#include "WorkingFiles.h"

#include <kw/ErrorBoundary.h>
#include <kw/RSA.h>
#include <kw/archive/ArchiveFormat.h>

#include <boost/bind/bind.hpp>

#include <algorithm>
#include <cstring>
#include <thread>

using namespace boost::placeholders;

namespace kw {
namespace updater {
namespace {
const std::size_t kPackagePiece = 1 << 20;
} // namespace

KeyBytes read_key(Env& env, const Path& key_file)
{
    boost::system::error_code error;
    std::unique_ptr<SequentialFile> file = env.OpenForReading(key_file, error);
    if (!file) KW_FAIL("cannot open key file", "read_key");
    FileInputStream in(std::move(file));
    const std::uint64_t length = in.Size();
    if (length == 0) KW_FAIL("empty key file", "read_key");
    KeyBytes key;
    key.length = static_cast<std::size_t>(length);
    key.bytes.reset(new unsigned char[key.length]);
    if (!in.read(reinterpret_cast<char*>(key.bytes.get()), static_cast<std::streamsize>(length)))
        KW_FAIL("an error occurred while reading key file", "read_key");
    return key;
}

std::uint32_t read_version(std::istream& input)
{
    char magic[4], version[4];
    input.read(magic, 4);
    input.read(version, 4);
    if (!input) KW_FAIL("an error occurred while reading header", "read_version");
    return get_version(magic, version, kPackageMagic);
}

std::uint32_t get_version(const char magic[4], const char version[4], const char* expected_magic)
{
    if (std::memcmp(magic, expected_magic, 4) != 0) KW_FAIL("header unmatched!!", "get_version");
    std::uint32_t result = 0;
    if (!ParseVersion(version, result)) KW_FAIL("illegal version character", "get_version");
    return result;
}

CamelliaInfo::CamelliaInfo(std::ostream& output) : digest_(sha256utils::create_context()), output_(output) {}

CamelliaInfo::~CamelliaInfo()
{
    if (decrypting_.valid()) decrypting_.wait();
}

void CamelliaInfo::Input(const void* bytes, unsigned count)
{
    const unsigned char* data = static_cast<const unsigned char*>(bytes);
    if (count == 0) return;
    if (!declared_length_) {
        if (count < 4) KW_FAIL("something wrong: buffer is too few", "CamelliaInfo::Input");
        declared_length_ = kw::archive::format::LoadLe32(data);
        data += 4;
        count -= 4;
        if (count == 0) return;
    }
    // Whole blocks only: a final part shorter than a block is never used.
    pending_.insert(pending_.end(), data, data + count);
    const std::size_t blocks = pending_.size() / 16;
    if (blocks == 0) return;
    std::vector<unsigned char> cipher(pending_.begin(), pending_.begin() + blocks * 16);
    pending_.erase(pending_.begin(), pending_.begin() + blocks * 16);
    const boost::shared_ptr<kw::CamelliaUtils> key = cipher_;
    std::future<std::vector<unsigned char>> next = std::async(std::launch::async, [key, cipher, blocks] {
        std::vector<unsigned char> plain(cipher.size());
        RunInSlices(blocks, 1, std::max(1u, std::thread::hardware_concurrency()), [&](std::size_t at, std::size_t n) {
            key->DecryptBlocks(&cipher[at * 16], &plain[at * 16], n);
        });
        return plain;
    });
    Finish();
    decrypting_ = std::move(next);
}

void CamelliaInfo::Finish()
{
    if (!decrypting_.valid()) return;
    const std::vector<unsigned char> plain = decrypting_.get();
    Output(plain.data(), static_cast<unsigned>(plain.size()));
}

void CamelliaInfo::SetKey(const void* bytes, unsigned count)
{
    cipher_.reset(new kw::CamelliaUtils(static_cast<int>(count), bytes));
}

void CamelliaInfo::Output(const unsigned char* bytes, unsigned count)
{
    // Bytes past the declared length (the padding of the last block) are
    // neither written nor hashed.
    const std::uint32_t n = std::min<std::uint32_t>(count, *declared_length_ - written_);
    if (n == 0) return;
    // A short write (a full disk) must not pass as a complete stage.
    if (!output_.write(reinterpret_cast<const char*>(bytes), n))
        KW_FAIL("cannot write to temporary file", "CamelliaInfo::Output");
    sha256utils::update_context(bytes, bytes + n, digest_);
    written_ += n;
}

bool CamelliaInfo::DigestMatchesKey()
{
    Finish();
    const boost::shared_array<unsigned char> digest = sha256utils::get_digest(digest_);
    if (!cipher_ || cipher_->GetKeyLength() != 32) return false;
    return std::memcmp(cipher_->GetKey().get(), digest.get(), 32) == 0;
}

void decrypt(const Context& context, const Path& package, const Path& key_file, const Path& extract_dir)
{
    Env& env = context.env;
    const KeyBytes key = read_key(env, key_file);
    // A new file, never written through a link left at its name. Removed
    // outside the boundary below, so that a file-system error keeps its
    // native text.
    const Path temporary = TemporaryPackage(env, extract_dir);
    RemoveUnlessDirectory(env, temporary);
    int line = __LINE__;
    kw::ProgramBoundary<KWUpdaterBadAllocation, KWUpdaterCommonError>(__FILE__, line, "decrypt", [&] {
        KW_STEP(line);
        const kw::RSA rsa(key.bytes.get(), key.length);
        boost::system::error_code error;
        std::unique_ptr<WritableFile> created = env.CreateNewFile(temporary, false, error);
        if (!created) KW_FAIL("cannot open file", "decrypt");
        FileOutputStream output(std::move(created));

        KW_STEP(line);
        // The package goes in pieces of many K-byte chunks; progress is still
        // reported chunk by chunk. The first piece is the key block alone.
        std::vector<char> buffer(key.length * std::max<std::size_t>(1, kPackagePiece / key.length));
        std::size_t piece = key.length;
        // A package that cannot be opened is a failed stream: the header
        // step reports it.
        boost::system::error_code unopened;
        FileInputStream input(env.OpenForReading(package, unopened));
        const std::uint64_t length = input.Size();
        const std::uint64_t total = length > kHeaderSize ? length - kHeaderSize : 0;
        CamelliaInfo info(output);
        const kw::RSA::Output set_key = boost::bind(&CamelliaInfo::SetKey, &info, _1, _2);
        if (read_version(input) > kNewestPackageVersion)
            KW_FAIL("Update-file is newer than updater, please update updater", "check_version");

        ProgressLine progress(context.listener, total);
        std::uint64_t read_so_far = 0;
        bool key_unwrapped = false;
        while (input) {
            KW_STEP(line);
            input.read(buffer.data(), static_cast<std::streamsize>(piece));
            const std::streamsize count = input.gcount();
            if (count < 1) break;
            for (std::size_t at = 0; at < static_cast<std::size_t>(count); at += key.length) {
                read_so_far += std::min<std::size_t>(key.length, static_cast<std::size_t>(count) - at);
                progress.Update(read_so_far);
            }
            piece = buffer.size();
            if (key_unwrapped) {
                info.Input(buffer.data(), static_cast<unsigned>(count));
            } else {
                KW_STEP(line);
                rsa.Encrypt(buffer.data(), static_cast<std::size_t>(count), set_key);
                key_unwrapped = true;
            }
        }
        context.listener.ProgressEnded();

        KW_STEP(line);
        info.Finish();
        bool written = true;
        try {
            output.Close();
        } catch (const std::exception&) {
            written = false;
        }
        written = written && output;
        if (!info.DigestMatchesKey()) {
            env.Remove(temporary);
            KW_FAIL("hash unmatched", "decrypt");
        }
        if (!written) KW_FAIL("cannot write to temporary file", "decrypt");
    });
}

} // namespace updater
} // namespace kw
