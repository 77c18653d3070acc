// What the bzip2 benchmarks share: the 100 MB input file made by the tool
// and the clocks.
#pragma once

#include "../tests/MixedData.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace kw_bz2_bench {

const unsigned long long kTargetCompressedSize = 100ull * 1024 * 1024;
const unsigned kPiece = 65536; // the updater's read size and buffer size

inline long long FileSize(const std::string& path)
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

inline const BenchInput& Input()
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

inline double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }
inline double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; }

inline double ChildrenCpu()
{
    rusage usage;
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

inline double OwnCpu()
{
    timespec t;
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Runs `tool` (e.g. "bzip2 -dc") on the file, output discarded.
inline Timing RunTool(const std::string& path, const std::string& tool = "bzip2 -dc")
{
    const std::string command = tool + " '" + path + "' > /dev/null";
    const double cpuStart = ChildrenCpu();
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) throw std::runtime_error(tool + " failed");
    Timing t;
    t.wall = Seconds(std::chrono::steady_clock::now() - start);
    t.cpu = ChildrenCpu() - cpuStart;
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
inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

} // namespace kw_bz2_bench
