// What the bzip2 benchmarks share: the input files made by the tool and the
// clocks.
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

const unsigned kPiece = 65536; // the updater's read size and buffer size

inline long long FileSize(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// A file the tool (bzip2 -9) compresses from what feed(tool, path) writes to
// it; feed returns how many bytes that was. It lives in a temporary directory,
// removed with it.
class ToolFile {
public:
    template <typename Feed> explicit ToolFile(Feed feed)
    {
        char pattern[] = "/tmp/kw_bz2_bench_XXXXXX";
        if (!::mkdtemp(pattern)) throw std::runtime_error("cannot make a temporary directory");
        dir_ = pattern;
        path_ = dir_ + "/input.bz2";
        FILE* tool = ::popen(("bzip2 -9 -c > '" + path_ + "'").c_str(), "w");
        if (!tool) throw std::runtime_error("cannot start bzip2");
        plainSize_ = feed(tool, path_);
        if (::pclose(tool) != 0) throw std::runtime_error("bzip2 failed");
    }
    ~ToolFile()
    {
        std::remove(path_.c_str());
        ::rmdir(dir_.c_str());
    }
    const std::string& Path() const { return path_; }
    unsigned long long PlainSize() const { return plainSize_; }
    unsigned long long CompressedSize() const { return static_cast<unsigned long long>(FileSize(path_)); }

private:
    std::string dir_;
    std::string path_;
    unsigned long long plainSize_ = 0;
};

// 100 MB of the tool's output from mixed-compressibility data, made once.
inline const ToolFile& Input()
{
    static const ToolFile input([](FILE* tool, const std::string& path) {
        std::mt19937 rng(12345);
        unsigned long long plain = 0;
        // bzip2 holds back up to one 900k block, so stop 1 MB short.
        while (FileSize(path) < (100ll - 1) << 20) {
            std::string chunk;
            kw_bz2_test::AppendMixedData(chunk, 1024 * 1024, rng, 0.75);
            if (std::fwrite(chunk.data(), 1, chunk.size(), tool) != chunk.size()) break;
            plain += chunk.size();
        }
        return plain;
    });
    return input;
}

// Wall time and processor time (user + system) of one run. Processor time
// is the steadier figure on a machine shared with other work.
struct Timing { double wall = 0, cpu = 0; };

inline double OwnCpu()
{
    timespec t;
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

inline double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; }

inline double ChildrenCpu()
{
    rusage usage;
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

inline double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The Timing since it was made, with `cpu` (the process's own or its
// children's) as the processor clock. Returning Elapsed() from a function
// leaves the destruction of its locals out of the time.
struct Stopwatch {
    double (*cpu)() = OwnCpu;
    double cpuStart = cpu();
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    Timing Elapsed() const { return {Seconds(std::chrono::steady_clock::now() - start), cpu() - cpuStart}; }
};

// Runs `tool` (e.g. "bzip2 -dc") on the file, output discarded.
inline Timing RunTool(const std::string& path, const std::string& tool = "bzip2 -dc")
{
    const std::string command = tool + " '" + path + "' > /dev/null";
    const Stopwatch watch{ChildrenCpu};
    if (std::system(command.c_str()) != 0) throw std::runtime_error(tool + " failed");
    return watch.Elapsed();
}

// Sum and minimum of one kind of timing.
struct Tally {
    double total = 0, best = 1e300;
    void Add(double t) { total += t; best = std::min(best, t); }
};

// Ratios of runs made back to back share the machine's load of the moment,
// so their median is the figure least disturbed by other work.
inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : (v[(v.size() - 1) / 2] + v[v.size() / 2]) / 2;
}

} // namespace kw_bz2_bench
