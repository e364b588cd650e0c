// What one benchmark run measured, the table it prints and the summary lines
// that tools read.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <deque>
#include <vector>

#include "bench/bench_clock.h"

namespace zelk {
namespace bench {

// The safe-list sizes the run steps through, the list growing from one to the
// next. Each size's entries are written once and serve both halves.
constexpr size_t kSmallestSize = 10;
constexpr size_t kMiddleSize = 10000;
constexpr size_t kLargestSize = 100000;
constexpr size_t kStepSizes[] = {0, kSmallestSize, kMiddleSize, kLargestSize};
// Where the two hostings are compared: the cold first answers, and round
// trips through the service.
constexpr size_t kHostingSizes[] = {0, kMiddleSize, kLargestSize};
// The machine policy's managed SafeList sizes, measured with the smallest
// user list.
constexpr size_t kManagedSizes[] = {kSmallestSize, kMiddleSize};
bool IsHostingSize(size_t entries);

struct SizedSample {
  size_t entries;
  Sample sample;
};
// A deque: adding a sample leaves the others where they are.
using SizedSamples = std::deque<SizedSample>;

// The heap an object holds once it has loaded a list of `entries` entries,
// and the key text those entries hold (length + 1 each).
struct ObjectHeap {
  size_t entries;
  size_t heapBytes;
  size_t keyTextBytes;
};

// Out of process, through one hosting of the registered server.
struct HostedSamples {
  SizedSamples emptyCallRoundTrip;  // get_AutoShow, answered from the settings cache
  SizedSamples queryRoundTrip;      // IsUrlProtected of a URL that matches nothing
  // With no server running before: CoCreateInstance until the first
  // IsUrlProtected (that URL) has returned.
  SizedSamples coldFirstAnswer;
};

struct BenchResults {
  HostedSamples perUser;            // COM starts the server (LocalServer32)
  HostedSamples service;            // the service control manager starts it
  SizedSamples directStartUp;       // per user: own launch, ready, CoCreateInstance, first answer
  // In process, on a ZelkHelper object without the transport.
  SizedSamples inProcessQuery;      // IsUrlProtected of that URL
  SizedSamples managedQuery;        // the same under kManagedSizes managed entries
  SizedSamples inProcessLoad;       // ZelkHelper::Load (settings and safe list)
  SizedSamples protectUnprotect;    // ProtectPage then UnprotectUrl of a new URL
  SizedSamples registryFloor;       // the bare registry loop over the SafeList key
  std::vector<ObjectHeap> objectHeap;
  // Something could not be measured (it prints as n/a); the run went on.
  bool incomplete = false;
};

// The sample for `entries`, added if there is none yet.
HRESULT SampleFor(SizedSamples* samples, size_t entries, Sample** sample);
const Sample* FindSample(const SizedSamples& samples, size_t entries);

// A line on stderr about where the run is, with the seconds since its start.
void Progress(const char* format, ...) __attribute__((format(printf, 1, 2)));

// After a measurement that failed: notes it in `results`, says so on stderr,
// and answers S_OK, so that the run goes on and the figure prints as n/a.
// A stop (Ctrl+C) is passed on.
HRESULT ContinueAfterFailure(HRESULT status, const char* what, size_t entries,
                             BenchResults* results);

// Ratios first, then the raw medians with their spread, then the summary
// lines; missing samples print as "n/a".
void PrintReport(const BenchResults& results, FILE* out);

// Only the summary lines, "name value", one a line, for tools to read.
void PrintSummary(const BenchResults& results, FILE* out);

}  // namespace bench
}  // namespace zelk
