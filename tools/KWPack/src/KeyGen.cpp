#include "KeyGen.h"

#include "AtomicOutput.h"
#include "PackError.h"
#include "RsaKey.h"

namespace kwpack {

void GenerateKeyFiles(Env& env, const Path& private_key, const Path& key_file, int bits, bool force)
{
    if (env.Absolute(private_key) == env.Absolute(key_file))
        throw PackError("the private key and the key file must be different files");
    // Both refusals come before the slow key generation and before either
    // file is written, so a refused run changes nothing.
    OutputFile pem_out(env, private_key, force, true);
    OutputFile key_out(env, key_file, force);

    const RsaPrivateKey key = RsaPrivateKey::Generate(bits);
    const std::string pem = key.ToPem();
    const std::vector<unsigned char> modulus = key.ModulusLittleEndian();
    pem_out.Write(pem.data(), pem.size());
    key_out.Write(modulus.data(), modulus.size());
    pem_out.Commit();
    key_out.Commit();
}

} // namespace kwpack
