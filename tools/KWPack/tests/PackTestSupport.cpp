#include "PackTestSupport.h"

#include "KeyGen.h"

#include <boost/filesystem/operations.hpp>

#include <openssl/pem.h>

namespace fs = boost::filesystem;

namespace kwpack_test {

RunResult RunKWPack(const std::vector<std::string>& args, const std::vector<std::string>& prefix)
{
    std::vector<std::string> argv = prefix;
    argv.push_back(KWPACK_EXE);
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::RunProgram(argv);
}

EVP_PKEY* ReadPrivateKey(const fs::path& pem)
{
    const std::string text = ReadFile(pem);
    BIO* memory = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(memory, nullptr, nullptr, nullptr);
    BIO_free(memory);
    return key;
}

const TestKey& SharedKey()
{
    // Made on first use and removed when the test program ends.
    struct Holder {
        TempDir dir;
        TestKey key{dir / "private.pem", dir / "lmfile"};
        Holder() { kwpack::GenerateKeyFiles(testsupport::SystemEnv(), key.pem, key.key_file, 1024, true); }
    };
    static const Holder holder;
    return holder.key;
}

} // namespace kwpack_test
