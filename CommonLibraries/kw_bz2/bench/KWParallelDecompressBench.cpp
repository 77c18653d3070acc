// KWParallelDecompress on the same 100 MB file with 0 (the sequential
// pipeline), 1 and 2 workers, timed in alternation with the bzip2 and
// lbzip2 tools; the magic scan alone; and the peak memory of a stream of
// zeros whose blocks each expand to about 45 MB.
#include "../src/MagicScanner.h"
#include "../src/StreamBits.h"
#include "BenchSupport.h"

#include <kw/bz2/KWParallelDecompress.h>

#include <benchmark/benchmark.h>

#include <fstream>

namespace {

using namespace kw_bz2_bench;

// Peak resident memory since the last reset, in MB (Linux only).
double PeakRssMB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmHWM:") == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

void ResetPeakRss()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
}

// Reads the file through the reader as the updater does: 65536-byte pieces
// and Read requests.
Timing RunReader(const std::string& path, unsigned workers, unsigned long long& produced)
{
    const Stopwatch watch;
    std::ifstream in(path, std::ios::binary);
    const unsigned long long length = static_cast<unsigned long long>(FileSize(path));
    const kw::bz2::Bz2Source source = [&in](void* buffer, unsigned count) {
        in.read(static_cast<char*>(buffer), count);
        return static_cast<unsigned>(in.gcount());
    };
    const kw::bz2::Bz2Rewind rewind = [&in] {
        in.clear();
        in.seekg(0);
    };
    kw::bz2::KWParallelDecompress reader(source, rewind, length, kPiece, kPiece, kw::bz2::Bz2HeadCheck(), 8,
                                         kw::bz2::Bz2ReadHook(), workers);
    std::vector<char> buffer(kPiece);
    produced = 0;
    while (const unsigned got = reader.Read(buffer.data(), kPiece)) produced += got;
    return watch.Elapsed();
}

bool HasTool(const char* name) { return std::system((std::string("command -v ") + name + " >/dev/null").c_str()) == 0; }

void BM_ParallelReaderWorkers(benchmark::State& state)
{
    const ToolFile& input = Input();
    const double megabytes = static_cast<double>(input.CompressedSize()) / (1024.0 * 1024.0);
    const bool lbzip2 = HasTool("lbzip2");
    Tally sequential, one, two, tool, tool2;
    std::vector<double> twoOverOne, twoOverSequential;
    double peakTwo = 0;
    int turn = 0;
    for (auto _ : state) {
        Timing t[3];
        // Rotate the order so that no run always follows the same one.
        for (int i = 0; i < 3; ++i) {
            const unsigned workers = static_cast<unsigned>((turn + i) % 3);
            unsigned long long produced = 0;
            if (workers == 2) ResetPeakRss();
            t[workers] = RunReader(input.Path(), workers, produced);
            if (workers == 2) peakTwo = std::max(peakTwo, PeakRssMB());
            if (produced != input.PlainSize()) {
                state.SkipWithError("the reader produced the wrong number of bytes");
                return;
            }
        }
        ++turn;
        state.SetIterationTime(t[2].wall);
        sequential.Add(t[0].wall);
        one.Add(t[1].wall);
        two.Add(t[2].wall);
        twoOverOne.push_back(t[1].wall / t[2].wall);
        twoOverSequential.push_back(t[0].wall / t[2].wall);
        tool.Add(RunTool(input.Path()).wall);
        if (lbzip2) tool2.Add(RunTool(input.Path(), "lbzip2 -dc -n2").wall);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["compressed_MB"] = megabytes;
    state.counters["w0_MBps"] = megabytes * n / sequential.total;
    state.counters["w1_MBps"] = megabytes * n / one.total;
    state.counters["w2_MBps"] = megabytes * n / two.total;
    state.counters["bzip2_MBps"] = megabytes * n / tool.total;
    if (lbzip2) state.counters["lbzip2_n2_MBps"] = megabytes * n / tool2.total;
    // The goal: 2 workers at least 1.8 times as fast as 1.
    state.counters["w2_over_w1_median"] = Median(twoOverOne);
    state.counters["w2_over_w0_median"] = Median(twoOverSequential);
    state.counters["w2_peak_rss_MB"] = peakTwo;
}
BENCHMARK(BM_ParallelReaderWorkers)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void BM_MagicScan(benchmark::State& state)
{
    std::ifstream in(Input().Path(), std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t hits = 0;
    for (auto _ : state) {
        kw::bz2::InputWindow window;
        window.Append(bytes.data(), bytes.size());
        kw::bz2::MagicScanner scanner;
        std::vector<kw::bz2::MagicHit> found;
        const Stopwatch watch;
        scanner.Scan(window, true, found);
        state.SetIterationTime(watch.Elapsed().wall);
        hits = found.size();
    }
    state.counters["hits"] = static_cast<double>(hits);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_MagicScan)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// 1.5 GB of zeros: blocks far larger than what a block keeps in memory.
void BM_ParallelReaderZeros(benchmark::State& state)
{
    const ToolFile zeros([](FILE* tool, const std::string&) {
        const std::vector<char> mb(1 << 20, 0);
        for (int i = 0; i < 1536; ++i) std::fwrite(mb.data(), 1, mb.size(), tool);
        return 1536ull << 20;
    });
    double peak = 0;
    for (auto _ : state) {
        unsigned long long produced = 0;
        ResetPeakRss();
        const Timing t = RunReader(zeros.Path(), 2, produced);
        peak = std::max(peak, PeakRssMB());
        state.SetIterationTime(t.wall);
        if (produced != zeros.PlainSize()) state.SkipWithError("the reader produced the wrong number of bytes");
    }
    state.counters["plain_MB"] = static_cast<double>(zeros.PlainSize() >> 20);
    state.counters["peak_rss_MB"] = peak;
}
BENCHMARK(BM_ParallelReaderZeros)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

} // namespace
