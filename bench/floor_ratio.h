#pragma once
// The console report with one more column, floor_x: each case's CPU time per
// iteration over the floor case's, figure for figure (mean to mean, median to
// median, min to min). The floor case must run first.

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <utility>

class FloorRatioReporter : public benchmark::ConsoleReporter {
public:
    explicit FloorRatioReporter(std::string floorCase) : ConsoleReporter(OO_None), floorCase_(std::move(floorCase)) {}
    void ReportRuns(const std::vector<Run>& reports) override;

private:
    std::string floorCase_;
    std::map<std::string, double> floor_;  // seconds per iteration, by aggregate ("" for a single run)
};

// A scan case's registration: microseconds, and the min beside mean and median
// when repeated.
void scanCase(benchmark::internal::Benchmark* b);

// Runs the benchmarks the command line selects, reported through FloorRatioReporter.
int runWithFloor(int argc, char** argv, const std::string& floorCase);
