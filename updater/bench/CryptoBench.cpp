// Throughput of the updater's SHA-256 and Camellia-256 decryption over a
// 256 MB buffer, each beside OpenSSL's on the same data in the same run.
#include "BenchHelpers.h"
#include "CamelliaUtils.h"
#include "Sha256Compress.h"
#include "Sha256Utils.h"
#include "Slices.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

using kw_bench::Passes;

const std::size_t kBufferSize = 256u << 20;
// The piece size the package reader and the file hashing work with.
const std::size_t kPiece = 65536;

const std::vector<unsigned char>& Input()
{
    static const std::vector<unsigned char> data = [] {
        std::vector<unsigned char> bytes(kBufferSize);
        std::mt19937_64 rng(42);
        for (std::size_t i = 0; i < bytes.size(); i += 8) {
            const std::uint64_t v = rng();
            std::memcpy(&bytes[i], &v, 8);
        }
        return bytes;
    }();
    return data;
}

std::vector<unsigned char>& Output()
{
    static std::vector<unsigned char> out(kBufferSize);
    return out;
}

const unsigned char kKey[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

void Sha256Own(benchmark::State& state, bool portable)
{
    sha256utils::detail::force_portable(portable);
    Passes(state, Input(), [](const std::vector<unsigned char>& data) {
        const auto context = sha256utils::create_context();
        for (std::size_t at = 0; at < data.size(); at += kPiece)
            sha256utils::update_context(&data[at], &data[at] + kPiece, context);
        benchmark::DoNotOptimize(sha256utils::get_digest(context));
    });
    sha256utils::detail::force_portable(false);
}

void BM_Sha256_Own(benchmark::State& state) { Sha256Own(state, false); }
void BM_Sha256_OwnPortable(benchmark::State& state) { Sha256Own(state, true); }

void BM_Sha256_OpenSsl(benchmark::State& state)
{
    Passes(state, Input(), [](const std::vector<unsigned char>& data) {
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
        for (std::size_t at = 0; at < data.size(); at += kPiece)
            EVP_DigestUpdate(ctx, &data[at], kPiece);
        unsigned char digest[32];
        unsigned length = 0;
        EVP_DigestFinal_ex(ctx, digest, &length);
        EVP_MD_CTX_free(ctx);
        benchmark::DoNotOptimize(digest);
    });
}

void BM_Camellia256Decrypt_Own(benchmark::State& state)
{
    unsigned char* const out = Output().data();
    Passes(state, Input(), [out](const std::vector<unsigned char>& data) {
        kw::CamelliaUtils camellia(32, kKey);
        // Writes each decrypted block on, as the package reader does.
        unsigned char* to = out;
        const kw::CamelliaUtils::Sink sink = [&to](const unsigned char* block, unsigned count) {
            std::memcpy(to, block, count);
            to += count;
        };
        for (std::size_t at = 0; at < data.size(); at += kPiece)
            camellia.Decrypt(sink, &data[at], kPiece);
        benchmark::DoNotOptimize(out);
    });
}

// As stage 1 decrypts: 1 MiB pieces, each split over every core.
void BM_Camellia256Decrypt_OwnEveryCore(benchmark::State& state)
{
    unsigned char* const out = Output().data();
    const std::size_t piece = 1u << 20;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    Passes(state, Input(), [&](const std::vector<unsigned char>& data) {
        kw::CamelliaUtils camellia(32, kKey);
        for (std::size_t at = 0; at < data.size(); at += piece)
            kw::updater::RunInSlices(piece / 16, 1, cores, [&](std::size_t first, std::size_t blocks) {
                camellia.DecryptBlocks(&data[at + first * 16], out + at + first * 16, blocks);
            });
        benchmark::DoNotOptimize(out);
    });
}

void BM_Camellia256Decrypt_OpenSsl(benchmark::State& state)
{
    unsigned char* const out = Output().data();
    Passes(state, Input(), [out](const std::vector<unsigned char>& data) {
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        EVP_DecryptInit_ex(ctx, EVP_camellia_256_ecb(), nullptr, kKey, nullptr);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        int written = 0;
        for (std::size_t at = 0; at < data.size(); at += kPiece)
            EVP_DecryptUpdate(ctx, out + at, &written, &data[at], static_cast<int>(kPiece));
        EVP_DecryptFinal_ex(ctx, out, &written);
        EVP_CIPHER_CTX_free(ctx);
        benchmark::DoNotOptimize(out);
    });
}

// A few passes over 256 MB each keep the whole run short.
BENCHMARK(BM_Sha256_OpenSsl)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Sha256_Own)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Sha256_OwnPortable)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Camellia256Decrypt_OpenSsl)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Camellia256Decrypt_Own)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Camellia256Decrypt_OwnEveryCore)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

BENCHMARK_MAIN();
