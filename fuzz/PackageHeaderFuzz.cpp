// The front of a package over arbitrary bytes, with a fixed key: the outer
// header (read_version/get_version), the RSA key block unwrapped by
// kw::RSA::Encrypt, the padding check alone on the raw block, and, when the
// block yields a content key, the Camellia body reader that stage 1 feeds in
// key-sized pieces.
#include "FuzzCheck.h"
#include "FuzzKey.h"

#include "PackageFormat.h"
#include "PackageReader.h"

#include <kw/MultiprecisionInteger.h>
#include <kw/RSA.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

using namespace kw::updater;

namespace {

const kw::RSA& Key()
{
    static const kw::RSA rsa(kwfuzz::kFuzzModulus, sizeof kwfuzz::kFuzzModulus);
    return rsa;
}

// The longest payload the key's padding allows: 4C bytes, C = (h - 34) / 32.
std::size_t MaxPayload() { return 4 * ((Key().GetBits() - 1 - 34) / 32); }

// Takes the payload, which must lie within the allowed length; the copy lets
// AddressSanitizer check that the whole payload is readable.
kw::RSA::Output Collect(boost::optional<std::vector<unsigned char>>& payload)
{
    return [&payload](const void* bytes, unsigned length) {
        if (payload) kwfuzz::Fail("the payload was delivered twice");
        if (length > MaxPayload()) kwfuzz::Fail("a payload longer than the padding allows");
        const unsigned char* p = static_cast<const unsigned char*>(bytes);
        payload.emplace(p, p + length);
    };
}

void ReadBody(const std::vector<unsigned char>& content_key, std::istream& input)
{
    std::ostringstream plain;
    CamelliaInfo info(plain);
    info.SetKey(content_key.data(), static_cast<unsigned>(content_key.size()));
    std::vector<char> piece(sizeof kwfuzz::kFuzzModulus);
    while (input.read(piece.data(), static_cast<std::streamsize>(piece.size())) || input.gcount() > 0)
        info.Input(piece.data(), static_cast<unsigned>(input.gcount()));
    info.DigestMatchesKey();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The inner header's check on the first bytes, as stage 2 makes it.
    const char* bytes = reinterpret_cast<const char*>(data);
    if (size >= 8) kwfuzz::Try([&] { get_version(bytes, bytes + 4, "KWUP"); });

    std::istringstream input(std::string(bytes, size));
    std::uint32_t version = 0;
    if (!kwfuzz::Try([&] { version = read_version(input); }) || version > kNewestPackageVersion) return 0;
    std::vector<char> block(sizeof kwfuzz::kFuzzModulus);
    input.read(block.data(), static_cast<std::streamsize>(block.size()));
    const std::size_t length = static_cast<std::size_t>(input.gcount());
    if (length == 0) return 0;

    // The padding check by itself on the block taken as the padded integer.
    boost::optional<std::vector<unsigned char>> payload;
    kwfuzz::Try([&] {
        kw::MultiprecisionInteger m(block.data(), length);
        Key().DecryptionAntiPadding(m, Collect(payload));
    });

    boost::optional<std::vector<unsigned char>> content_key;
    if (!kwfuzz::Try([&] { Key().Encrypt(block.data(), length, Collect(content_key)); })) return 0;
    if (!content_key) kwfuzz::Fail("Encrypt returned without a payload or an error");
    kwfuzz::Try([&] { ReadBody(*content_key, input); });
    return 0;
}
