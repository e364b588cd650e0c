// What one benchmark run measured, and the table it prints.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <vector>

#include "bench/bench_clock.h"

namespace zelk {
namespace bench {

// The safe-list sizes of the two parts of the run.
constexpr size_t kRoundTripSizes[] = {0, 100, 1000, 10000};
constexpr size_t kInProcessSizes[] = {10, 1000, 10000};
constexpr size_t kLargestSize = 10000;

struct SizedSample {
  size_t entries;
  Sample sample;
};
using SizedSamples = std::vector<SizedSample>;

struct BenchResults {
  // Out of process, through the registered server.
  SizedSamples emptyCallRoundTrip;  // get_AutoShow, answered from the settings cache
  SizedSamples queryRoundTrip;      // IsUrlProtected of a URL that matches nothing
  SizedSamples startUp;             // CoCreateInstance until the first call returns
  SizedSamples directStartUp;       // own launch, ready, CoCreateInstance, first call
  // In process, on a ZelkHelper object without the transport.
  Sample decompose;                 // UrlParts::Decompose of that URL
  SizedSamples inProcessQuery;      // ZelkHelper::IsUrlProtected
  SizedSamples inProcessLoad;       // ZelkHelper::Load (settings and safe list)
};

// The sample for `entries`, added if there is none yet. The pointer is valid
// until the next sample is added to `samples`.
HRESULT SampleFor(SizedSamples* samples, size_t entries, Sample** sample);
const Sample* FindSample(const SizedSamples& samples, size_t entries);

// Ratios first, then the raw medians with their spread; missing samples
// (a run cut short) print as "n/a".
void PrintReport(const BenchResults& results, FILE* out);

}  // namespace bench
}  // namespace zelk
