// KWDecompress against the bzip2 tool on the same 100 MB bzip2 file, timed
// in alternation within one run so that both see the same machine load.
// The file is made once per run by the tool from mixed-compressibility data.
#include "../tests/MixedData.h"

#include <kw/bz2/KWDecompress.h>

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const unsigned long long kTargetCompressedSize = 100ull * 1024 * 1024;
const unsigned kPiece = 65536; // the updater's read size and buffer size

long long FileSize(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// The input file in a temporary directory, removed at exit.
class BenchInput {
public:
    BenchInput()
    {
        char pattern[] = "/tmp/kw_bz2_bench_XXXXXX";
        if (!::mkdtemp(pattern)) throw std::runtime_error("cannot make a temporary directory");
        dir_ = pattern;
        path_ = dir_ + "/input.bz2";
        Generate();
    }
    ~BenchInput()
    {
        std::remove(path_.c_str());
        ::rmdir(dir_.c_str());
    }
    const std::string& Path() const { return path_; }
    unsigned long long PlainSize() const { return plainSize_; }
    unsigned long long CompressedSize() const { return static_cast<unsigned long long>(FileSize(path_)); }

private:
    // Feeds the tool until its output reaches the target size.
    void Generate()
    {
        const std::string command = "bzip2 -9 -c > '" + path_ + "'";
        FILE* tool = ::popen(command.c_str(), "w");
        if (!tool) throw std::runtime_error("cannot start bzip2");
        std::mt19937 rng(12345);
        std::string chunk;
        // bzip2 holds back up to one 900k block, so stop a little early.
        while (FileSize(path_) < static_cast<long long>(kTargetCompressedSize - 1024 * 1024)) {
            chunk.clear();
            kw_bz2_test::AppendMixedData(chunk, 1024 * 1024, rng, 0.75);
            if (std::fwrite(chunk.data(), 1, chunk.size(), tool) != chunk.size()) break;
            plainSize_ += chunk.size();
        }
        if (::pclose(tool) != 0) throw std::runtime_error("bzip2 failed");
    }

    std::string dir_;
    std::string path_;
    unsigned long long plainSize_ = 0;
};

const BenchInput& Input()
{
    static const BenchInput input;
    return input;
}

// Wall time and processor time (user + system) of one run. Processor time
// is the steadier figure on a machine shared with other work.
struct Timing {
    double wall = 0;
    double cpu = 0;
};

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }
double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; }

double ChildrenCpu()
{
    rusage usage;
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

double OwnCpu()
{
    timespec t;
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

Timing RunTool(const std::string& path)
{
    const std::string command = "bzip2 -dc '" + path + "' > /dev/null";
    const double cpuStart = ChildrenCpu();
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) throw std::runtime_error("bzip2 -dc failed");
    Timing t;
    t.wall = Seconds(std::chrono::steady_clock::now() - start);
    t.cpu = ChildrenCpu() - cpuStart;
    return t;
}

// Reads the file in 65536-byte pieces through KWDecompress, as the updater does.
Timing RunKW(const std::string& path, unsigned long long compressedSize, unsigned long long& produced)
{
    const double cpuStart = OwnCpu();
    const auto start = std::chrono::steady_clock::now();
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
    Timing t;
    t.wall = Seconds(std::chrono::steady_clock::now() - start);
    t.cpu = OwnCpu() - cpuStart;
    return t;
}

// Sums and minimums of one kind of timing.
struct Tally {
    double total = 0;
    double best = 1e300;
    void Add(double t)
    {
        total += t;
        best = std::min(best, t);
    }
};

// Ratios of runs made back to back share the machine's load of the moment,
// so their median is the figure least disturbed by other work.
double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

void BM_KWDecompressVsBzip2Tool(benchmark::State& state)
{
    const BenchInput& input = Input();
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
