// Time per block of the RSA public-key operation with a 2048-bit modulus,
// against OpenSSL's raw public-key operation on the same key and block.
#include <kw/Montgomery.h>
#include <kw/RSA.h>

#include "BigNum.h"
#include "BenchHelpers.h"

#include <benchmark/benchmark.h>
#include <openssl/rsa.h>

#include <cstdio>

using namespace kwtest;

namespace {
const int kBits = 2048;

Bytes Block() { return PrivateRaw(KeyOfBits(kBits), PadBlock(KeyOfBits(kBits), RandomBytes(32))); }

void BM_KwRsaEncrypt(benchmark::State& state)
{
    const TestKey& key = KeyOfBits(kBits);
    const kw::RSA rsa(key.modulus.data(), key.modulus.size());
    const Bytes block = Block();
    unsigned total = 0;
    const kw::RSA::Output output = [&](const void*, unsigned length) { total += length; };
    for (auto _ : state) rsa.Encrypt(block.data(), block.size(), output);
    benchmark::DoNotOptimize(total);
    if (total != 32 * state.iterations()) state.SkipWithError("wrong payload");
}
BENCHMARK(BM_KwRsaEncrypt)->Unit(benchmark::kMicrosecond);

void BM_OpenSslPublicRaw(benchmark::State& state)
{
    const TestKey& key = KeyOfBits(kBits);
    const Bytes block = Block();
    const Bytes in(block.rbegin(), block.rend());
    std::unique_ptr<EVP_PKEY_CTX, void (*)(EVP_PKEY_CTX*)> ctx(EVP_PKEY_CTX_new(key.pkey.get(), nullptr),
                                                              EVP_PKEY_CTX_free);
    if (EVP_PKEY_encrypt_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) != 1)
        state.SkipWithError("setup");
    Bytes out(in.size());
    for (auto _ : state) {
        std::size_t length = out.size();
        if (EVP_PKEY_encrypt(ctx.get(), out.data(), &length, in.data(), in.size()) != 1) state.SkipWithError("encrypt");
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_OpenSslPublicRaw)->Unit(benchmark::kMicrosecond);

void BM_KwMonMul2048(benchmark::State& state)
{
    const TestKey& key = KeyOfBits(kBits);
    const kw::MultiprecisionInteger n(key.modulus.data(), key.modulus.size());
    kw::MultiprecisionInteger r2, n_prime;
    const unsigned k = kw::CalcRelatedNums(n, r2, n_prime);
    kw::MultiprecisionInteger x = r2;
    for (auto _ : state) x = kw::MonMul(x, x, k, n, n_prime);
    benchmark::DoNotOptimize(x);
}
BENCHMARK(BM_KwMonMul2048)->Unit(benchmark::kMicrosecond);

void BM_KwRsaContext(benchmark::State& state)
{
    const TestKey& key = KeyOfBits(kBits);
    for (auto _ : state) {
        const kw::RSA rsa(key.modulus.data(), key.modulus.size());
        benchmark::DoNotOptimize(&rsa);
    }
}
BENCHMARK(BM_KwRsaContext)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    using kw_bench::Clock;
    return kw_bench::RatioMain(argc, argv, "BM_KwRsaEncrypt", "BM_OpenSslPublicRaw", Clock::Real, [](double ratio) {
        std::printf("kw::RSA::Encrypt / OpenSSL public-key operation (2048-bit, no padding): %.2f\n", ratio);
    });
}
