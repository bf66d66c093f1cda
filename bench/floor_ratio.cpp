#include "floor_ratio.h"

#include <algorithm>
#include <vector>

namespace {

double secondsPerIteration(const benchmark::BenchmarkReporter::Run& run)
{
    return run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
}

}  // namespace

void FloorRatioReporter::ReportRuns(const std::vector<Run>& reports)
{
    std::vector<Run> shown = reports;
    for (Run& run : shown) {
        const std::string& figure = run.aggregate_name;
        // The spread of the repetitions has no ratio.
        if (run.error_occurred || figure == "stddev" || figure == "cv")
            continue;
        if (run.run_name.function_name == floorCase_) {
            floor_[figure] = secondsPerIteration(run);
            run.counters["floor_x"] = 1;
        } else if (const auto at = floor_.find(figure); at != floor_.end() && at->second > 0) {
            run.counters["floor_x"] = secondsPerIteration(run) / at->second;
        }
    }
    ConsoleReporter::ReportRuns(shown);
}

void scanCase(benchmark::internal::Benchmark* b)
{
    b->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", [](const std::vector<double>& v) {
        return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
    });
}

int runWithFloor(int argc, char** argv, const std::string& floorCase)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    FloorRatioReporter reporter(floorCase);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
