#include "PackageReader.h"

#include "KWUpdaterError.h"
#include "Platform.h"
#include "StageDir.h"
#include "Stages.h"
#include "StreamLength.h"

#include <kw/ErrorBoundary.h>
#include <kw/RSA.h>

#include <boost/bind/bind.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iostream>

namespace fs = boost::filesystem;
using namespace boost::placeholders;

namespace {

const unsigned kPieceSize = 65536;
const std::uint64_t kProgressStep = 4096;

std::uint32_t ReadLe32(const unsigned char* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

} // namespace

void ProgressLine::Update(std::uint64_t done)
{
    if (done < threshold_) return;
    std::cout << boost::format(" progress: %09d / %09d\r") % done % total_ << std::flush;
    threshold_ = std::min(threshold_ + kProgressStep, total_);
}

KeyBytes read_key(const std::string& key_file)
{
    std::ifstream in(platform::NarrowToPath(key_file).string(), std::ios::binary);
    if (!in) KW_FAIL("cannot open key file", "read_key");
    const std::streamoff length = StreamLength(in);
    if (length <= 0) KW_FAIL("empty key file", "read_key");
    KeyBytes key;
    key.length = static_cast<std::size_t>(length);
    key.bytes.reset(new unsigned char[key.length]);
    if (!in.read(reinterpret_cast<char*>(key.bytes.get()), length))
        KW_FAIL("an error occurred while reading key file", "read_key");
    return key;
}

std::uint32_t read_version(std::istream& input)
{
    char magic[4], version[4];
    input.read(magic, 4);
    input.read(version, 4);
    if (!input) KW_FAIL("an error occurred while reading header", "read_version");
    return get_version(magic, version, "pukw");
}

std::uint32_t get_version(const char magic[4], const char version[4], const char* expected_magic)
{
    if (std::memcmp(magic, expected_magic, 4) != 0) KW_FAIL("header unmatched!!", "get_version");
    std::uint32_t result = 0;
    for (int i = 0; i < 4; ++i) {
        if (version[i] < '0' || version[i] > '9') KW_FAIL("illegal version character", "get_version");
        result |= static_cast<std::uint32_t>(version[i] - '0') << (24 - 8 * i);
    }
    return result;
}

CamelliaInfo::CamelliaInfo(std::ostream& output) : digest_(sha256utils::create_context()), output_(output) {}

void CamelliaInfo::Input(const void* bytes, unsigned count)
{
    const unsigned char* data = static_cast<const unsigned char*>(bytes);
    if (count == 0) return;
    if (!declared_length_) {
        if (count < 4) KW_FAIL("something wrong: buffer is too few", "CamelliaInfo::Input");
        declared_length_ = ReadLe32(data);
        data += 4;
        count -= 4;
        if (count == 0) return;
    }
    cipher_->Decrypt(boost::bind(&CamelliaInfo::Output, this, _1, _2), data, count);
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
    const boost::shared_array<unsigned char> digest = sha256utils::get_digest(digest_);
    if (!cipher_ || cipher_->GetKeyLength() != 32) return false;
    return std::memcmp(cipher_->GetKey().get(), digest.get(), 32) == 0;
}

void decrypt(const std::string& package, const std::string& key_file, const fs::path& extract_dir)
{
    const KeyBytes key = read_key(key_file);
    int line = __LINE__;
    kw::ProgramBoundary<KWUpdaterBadAllocation, KWUpdaterCommonError>(__FILE__, line, "decrypt", [&] {
        KW_STEP(line);
        const kw::RSA rsa(key.bytes.get(), key.length);
        const fs::path temporary = StageDir::TemporaryPackage(extract_dir);
        std::ofstream output(temporary.string(), std::ios::binary | std::ios::trunc);
        if (!output) KW_FAIL("cannot open file", "decrypt");

        KW_STEP(line);
        std::vector<char> buffer(key.length);
        std::ifstream input(platform::NarrowToPath(package).string(), std::ios::binary);
        const std::streamoff length = StreamLength(input);
        const std::uint64_t total = length > 8 ? static_cast<std::uint64_t>(length - 8) : 0;
        CamelliaInfo info(output);
        const kw::RSA::Output set_key = boost::bind(&CamelliaInfo::SetKey, &info, _1, _2);
        if (read_version(input) > kNewestPackageVersion)
            KW_FAIL("Update-file is newer than updater, please update updater", "check_version");

        ProgressLine progress(total);
        std::uint64_t read_so_far = 0;
        bool key_unwrapped = false;
        while (input) {
            KW_STEP(line);
            input.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            const std::streamsize count = input.gcount();
            if (count < 1) break;
            read_so_far += static_cast<std::uint64_t>(count);
            progress.Update(read_so_far);
            if (key_unwrapped) {
                info.Input(buffer.data(), static_cast<unsigned>(count));
            } else {
                KW_STEP(line);
                rsa.Encrypt(buffer.data(), static_cast<std::size_t>(count), set_key);
                key_unwrapped = true;
            }
        }
        std::cout << std::endl;

        KW_STEP(line);
        output.flush();
        const bool written = static_cast<bool>(output);
        if (!info.DigestMatchesKey()) {
            output.close();
            fs::remove(temporary);
            KW_FAIL("hash unmatched", "decrypt");
        }
        if (!written) KW_FAIL("cannot write to temporary file", "decrypt");
    });
}

void accept_bzip2(filter_data& state, const void* bytes, unsigned count)
{
    if (count == 0) return;
    if (count > kPieceSize) KW_FAIL("buffer overflow", "accept_bzip2");
    boost::shared_ptr<buffer_attribute> piece = boost::make_shared<buffer_attribute>();
    std::memcpy(piece->data, bytes, count);
    piece->size = count;
    state.queue.push_back(piece);

    if (state.header.size() < 8) {
        const std::size_t take = std::min<std::size_t>(8 - state.header.size(), count);
        state.header.append(static_cast<const char*>(bytes), take);
        if (state.header.size() == 8 &&
            get_version(state.header.data(), state.header.data() + 4, "KWUP") > kNewestPackageVersion)
            KW_FAIL("Update-file is newer than updater, please update updater", "accept_bzip2");
    }
    state.decompressed += count;
}

unsigned read_decompressed(kw::bz2::KWDecompress& decompressor, filter_data& state, void* destination, unsigned count)
{
    // A stretch of compressed input that yields nothing loops here; it never
    // deepens the call chain.
    while (state.queue.empty()) {
        state.read_buffer.resize(kPieceSize);
        state.input.read(state.read_buffer.data(), kPieceSize);
        const std::streamsize got = state.input.gcount();
        if (got <= 0) return 0;
        state.compressed_read += static_cast<std::uint64_t>(got);
        decompressor.Decompress(state.read_buffer.data(), static_cast<unsigned>(got),
                                state.compressed_read >= state.length,
                                boost::bind(&accept_bzip2, boost::ref(state), _1, _2));
        state.progress.Update(state.compressed_read);
    }
    buffer_attribute& front = *state.queue.front();
    const unsigned remaining = front.size - front.position;
    if (count < remaining) {
        std::memcpy(destination, front.data + front.position, count);
        front.position += count;
        return count;
    }
    std::memcpy(destination, front.data + front.position, remaining);
    state.queue.pop_front();
    return remaining;
}

void expand_bzip2(std::istream& input, kw::archive::ArchiveLoader& loader, std::uint64_t length)
{
    kw::bz2::KWDecompress decompressor(kPieceSize, 0, 0);
    filter_data state(input, length);
    if (!loader.ReadFromStream(boost::bind(&read_decompressed, boost::ref(decompressor), boost::ref(state), _1, _2)))
        KW_FAIL("an error occurred while decompression", "expand_bzip2");
}
