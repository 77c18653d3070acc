// ArchiveLoader over a 300 MB archive stream held in memory: throughput, and
// the loaded tree's memory against its content size.
#include "ArchiveStreamBuilder.h"
#include "BenchHelpers.h"

#include <kw/archive/KWArchive.h>

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace {

struct Corpus {
    std::string stream;
    std::uint64_t content = 0;
    std::uint64_t files = 0;
};

// Files of log-uniform sizes between `smallest` and `largest` bytes, 64 per
// directory, until `total` content bytes are reached.
Corpus MakeCorpus(std::uint64_t total, double smallest, double largest)
{
    std::mt19937_64 random(2024);
    std::uniform_real_distribution<double> exponent(std::log(smallest), std::log(largest));
    kwtest::TreeSpec top = kwtest::TreeSpec::Dir(1, 2);
    Corpus corpus;
    kwtest::TreeSpec* directory = nullptr;
    while (corpus.content < total) {
        if (corpus.files % 64 == 0) {
            top.Add("dir" + std::to_string(corpus.files / 64), kwtest::TreeSpec::Dir(3, 4));
            directory = &top.children.back().second;
        }
        const std::size_t size = static_cast<std::size_t>(std::exp(exponent(random)));
        directory->Add("file" + std::to_string(corpus.files) + ".bin",
                       kwtest::TreeSpec::FileOf(std::string(size, static_cast<char>(corpus.files)), 5, 6));
        corpus.content += size;
        ++corpus.files;
    }
    corpus.stream = kwtest::Serialize(top, kwtest::Order::DepthFirst);
    return corpus;
}

// Each made once, on first use.
const Corpus& Large() { static const Corpus corpus = MakeCorpus(300u << 20, 512, 1 << 20); return corpus; }
const Corpus& Small() { static const Corpus corpus = MakeCorpus(300u << 20, 256, 16 << 10); return corpus; }

std::size_t HeapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// The source the updater would hand over: copies out of the stream.
struct MemorySource {
    const std::string* bytes;
    std::size_t position;
    unsigned operator()(void* destination, unsigned capacity)
    {
        const std::size_t count = std::min<std::size_t>(capacity, bytes->size() - position);
        std::memcpy(destination, bytes->data() + position, count);
        position += count;
        return static_cast<unsigned>(count);
    }
};

void LoadCorpus(benchmark::State& state, const Corpus& corpus)
{
    double overhead = 0;
    for (auto _ : state) {
        const std::size_t before = HeapInUse();
        auto loader = std::make_unique<kw::archive::ArchiveLoader>();
        const bool ok = loader->ReadFromStream(MemorySource{&corpus.stream, 0});
        state.PauseTiming();
        if (!ok) state.SkipWithError("stream did not load");
        const std::size_t after = HeapInUse();
        overhead = (double(after - before) - double(corpus.content)) / double(corpus.content);
        loader.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * corpus.stream.size()));
    state.counters["files"] = double(corpus.files);
    state.counters["content_MB"] = double(corpus.content) / 1e6;
    state.counters["tree_overhead_pct"] = overhead * 100;
}

void BM_LoadLargeFiles(benchmark::State& state) { LoadCorpus(state, Large()); }
void BM_LoadSmallFiles(benchmark::State& state) { LoadCorpus(state, Small()); }

// Reference: pulling the same stream through the same source in 64-byte
// calls and copying it into 512-byte pieces, with no tree built.
void BM_ReferenceCopyOnly(benchmark::State& state)
{
    char piece[512];
    kw_bench::Passes(state, Large().stream, [&piece](const std::string& stream) {
        kw::archive::ArchiveLoader::Source source = MemorySource{&stream, 0};
        std::size_t filled = 0;
        while (unsigned got = source(piece + filled, std::min<unsigned>(64, 512 - filled)))
            filled = (filled + got) % 512;
        benchmark::DoNotOptimize(piece);
    });
}

} // namespace

BENCHMARK(BM_LoadLargeFiles)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_LoadSmallFiles)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ReferenceCopyOnly)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
