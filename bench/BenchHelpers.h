// What benchmarks across the libraries share: a throughput loop and a main
// that closes the report with one benchmark's time over another's.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kw_bench {

// Times one pass of `pass` over `input` per iteration and reports the bytes
// processed.
template <typename Input, typename Pass> void Passes(benchmark::State& state, const Input& input, Pass pass)
{
    for (auto _ : state) pass(input);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

// CPU time where the machine is shared and wall time is noisy.
enum class Clock { Real, Cpu };

// A main that runs the benchmarks the command line selects and then, if `own`
// and `reference` both ran, calls print(own's time / reference's time).
template <typename Print>
int RatioMain(int argc, char** argv, const std::string& own, const std::string& reference, Clock clock, Print print)
{
    class TimeKeeper : public benchmark::ConsoleReporter {
    public:
        explicit TimeKeeper(Clock clock) : cpu_(clock == Clock::Cpu) {}
        void ReportRuns(const std::vector<Run>& runs) override
        {
            for (const Run& run : runs)
                if (run.run_type == Run::RT_Iteration)
                    times[run.benchmark_name()] = cpu_ ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
            ConsoleReporter::ReportRuns(runs);
        }
        std::map<std::string, double> times;

    private:
        const bool cpu_;
    };
    benchmark::Initialize(&argc, argv);
    TimeKeeper keeper(clock);
    benchmark::RunSpecifiedBenchmarks(&keeper);
    if (keeper.times[own] > 0 && keeper.times[reference] > 0) print(keeper.times[own] / keeper.times[reference]);
    benchmark::Shutdown();
    return 0;
}

} // namespace kw_bench
