#include "KeyGen.h"

#include "AtomicOutput.h"
#include "PackError.h"
#include "RsaKey.h"

#include <boost/filesystem/operations.hpp>

namespace kwpack {

void GenerateKeyFiles(const boost::filesystem::path& private_key, const boost::filesystem::path& key_file, int bits,
                      bool force)
{
    if (boost::filesystem::absolute(private_key) == boost::filesystem::absolute(key_file))
        throw PackError("the private key and the key file must be different files");
    // Both refusals come before the slow key generation and before either
    // file is written, so a refused run changes nothing.
    AtomicFile pem_out(private_key, force, 0600);
    AtomicFile key_out(key_file, force, 0644);

    const RsaPrivateKey key = RsaPrivateKey::Generate(bits);
    const std::string pem = key.ToPem();
    const std::vector<unsigned char> modulus = key.ModulusLittleEndian();
    pem_out.Write(pem.data(), pem.size());
    key_out.Write(modulus.data(), modulus.size());
    pem_out.Commit();
    key_out.Commit();
}

} // namespace kwpack
