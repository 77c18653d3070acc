// KWDecompress against the bzip2 tool on the same 100 MB bzip2 file, timed
// in alternation within one run so that both see the same machine load.
// The file is made once per run by the tool from mixed-compressibility data.
#include "BenchSupport.h"

#include <kw/bz2/KWDecompress.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace {

using namespace kw_bz2_bench;

// Reads the file in 65536-byte pieces through KWDecompress, as the updater does.
Timing RunKW(const std::string& path, unsigned long long compressedSize, unsigned long long& produced)
{
    const Stopwatch watch;
    std::ifstream in(path, std::ios::binary);
    std::vector<char> piece(kPiece);
    kw::bz2::KWDecompress decompress(kPiece, 0, 0);
    produced = 0;
    unsigned long long read = 0;
    while (read < compressedSize) {
        const unsigned n = static_cast<unsigned>(std::min<unsigned long long>(kPiece, compressedSize - read));
        if (!in.read(piece.data(), n)) throw std::runtime_error("short read");
        read += n;
        decompress.Decompress(piece.data(), n, read == compressedSize,
                              [&produced](const void*, unsigned count) { produced += count; });
    }
    return watch.Elapsed();
}

void BM_KWDecompressVsBzip2Tool(benchmark::State& state)
{
    const ToolFile& input = Input();
    const double megabytes = static_cast<double>(input.CompressedSize()) / (1024.0 * 1024.0);
    Tally toolWall, toolCpu, kwWall, kwCpu;
    std::vector<double> wallRatios, cpuRatios;
    bool toolFirst = true;
    for (auto _ : state) {
        Timing tool, kw;
        unsigned long long produced = 0;
        // Alternate the order so that neither side always runs on a warm cache.
        if (toolFirst) tool = RunTool(input.Path());
        kw = RunKW(input.Path(), input.CompressedSize(), produced);
        if (!toolFirst) tool = RunTool(input.Path());
        toolFirst = !toolFirst;
        if (produced != input.PlainSize()) {
            state.SkipWithError("KWDecompress produced the wrong number of bytes");
            return;
        }
        state.SetIterationTime(kw.wall);
        toolWall.Add(tool.wall);
        toolCpu.Add(tool.cpu);
        kwWall.Add(kw.wall);
        kwCpu.Add(kw.cpu);
        wallRatios.push_back(tool.wall / kw.wall);
        cpuRatios.push_back(tool.cpu / kw.cpu);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["compressed_MB"] = megabytes;
    state.counters["plain_MB"] = static_cast<double>(input.PlainSize()) / (1024.0 * 1024.0);
    state.counters["kw_MBps"] = megabytes * n / kwWall.total;
    state.counters["tool_MBps"] = megabytes * n / toolWall.total;
    // Throughput of KWDecompress relative to the tool (the goal is >= 0.95).
    state.counters["ratio_wall_mean"] = toolWall.total / kwWall.total;
    state.counters["ratio_wall_best"] = toolWall.best / kwWall.best;
    state.counters["ratio_cpu_mean"] = toolCpu.total / kwCpu.total;
    state.counters["ratio_cpu_best"] = toolCpu.best / kwCpu.best;
    state.counters["ratio_wall_median"] = Median(wallRatios);
    state.counters["ratio_cpu_median"] = Median(cpuRatios);
}
BENCHMARK(BM_KWDecompressVsBzip2Tool)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(6);

} // namespace

BENCHMARK_MAIN();
