#include <new>

#include "bench/bench_results.h"

namespace zelk {
namespace bench {

namespace {

constexpr char kRule[] =
    "-----------------------------------------------------------------------------------------"
    "-----------------------------\n";

// A ratio of two medians, or nothing when either is missing.
bool MedianRatio(const Sample* numerator, const Sample* denominator, double* ratio) {
  if (numerator == nullptr || denominator == nullptr || numerator->empty() ||
      denominator->empty() || denominator->Median() <= 0) {
    return false;
  }
  *ratio = numerator->Median() / denominator->Median();
  return true;
}

void PrintRatioRow(FILE* out, const char* label, const char* entries, const Sample* numerator,
                   const Sample* denominator) {
  double ratio = 0;
  if (MedianRatio(numerator, denominator, &ratio)) {
    std::fprintf(out, "  %-52s %9s %12.2f\n", label, entries, ratio);
  } else {
    std::fprintf(out, "  %-52s %9s %12s\n", label, entries, "n/a");
  }
}

void PrintRawRow(FILE* out, const char* label, const char* entries, const Sample* sample) {
  if (sample == nullptr || sample->empty()) {
    std::fprintf(out, "  %-52s %9s %12s\n", label, entries, "n/a");
    return;
  }
  std::fprintf(out, "  %-52s %9s %12.2f %12.2f %12.2f %5u x %-7u\n", label, entries,
               sample->Median(), sample->Min(), sample->Max(),
               static_cast<unsigned>(sample->repetitions()), sample->calls_per_repetition());
}

void FormatEntries(size_t entries, char (&text)[16]) {
  std::snprintf(text, sizeof(text), "%u", static_cast<unsigned>(entries));
}

void PrintRatios(const BenchResults& results, FILE* out) {
  std::fprintf(out, "%-54s %9s %12s\n", "Ratios (of medians)", "entries", "ratio");
  char entries[16];
  for (const size_t size : kRoundTripSizes) {
    FormatEntries(size, entries);
    PrintRatioRow(out, "round trip: IsUrlProtected / get_AutoShow", entries,
                  FindSample(results.queryRoundTrip, size),
                  FindSample(results.emptyCallRoundTrip, size));
  }
  PrintRatioRow(out, "in process: IsUrlProtected, 10000 / 10 entries", "10000:10",
                FindSample(results.inProcessQuery, kLargestSize),
                FindSample(results.inProcessQuery, kInProcessSizes[0]));
  PrintRatioRow(out, "start-up (CoCreateInstance): 10000 entries / empty", "10000:0",
                FindSample(results.startUp, kLargestSize), FindSample(results.startUp, 0));
  PrintRatioRow(out, "start-up (launched directly): 10000 entries / empty", "10000:0",
                FindSample(results.directStartUp, kLargestSize),
                FindSample(results.directStartUp, 0));
}

void PrintSizedRows(FILE* out, const char* label, const SizedSamples& samples) {
  char entries[16];
  for (const SizedSample& sized : samples) {
    FormatEntries(sized.entries, entries);
    PrintRawRow(out, label, entries, &sized.sample);
  }
}

void PrintRawNumbers(const BenchResults& results, FILE* out) {
  std::fprintf(out, "%-54s %9s %12s %12s %12s  %s\n", "Raw numbers (microseconds)", "entries",
               "median", "min", "max", "reps x calls");
  PrintSizedRows(out, "round trip: get_AutoShow (empty call)", results.emptyCallRoundTrip);
  PrintSizedRows(out, "round trip: IsUrlProtected (no match)", results.queryRoundTrip);
  PrintRawRow(out, "in process: UrlParts::Decompose", "-",
              results.decompose.empty() ? nullptr : &results.decompose);
  PrintSizedRows(out, "in process: IsUrlProtected (no match)", results.inProcessQuery);
  PrintSizedRows(out, "in process: Load (settings + LoadSafeList)", results.inProcessLoad);
  PrintSizedRows(out, "start-up: CoCreateInstance to first call return", results.startUp);
  PrintSizedRows(out, "start-up: launched directly, to first call return",
                 results.directStartUp);
}

}  // namespace

HRESULT SampleFor(SizedSamples* samples, size_t entries, Sample** sample) {
  for (SizedSample& sized : *samples) {
    if (sized.entries == entries) {
      *sample = &sized.sample;
      return S_OK;
    }
  }
  try {
    samples->push_back(SizedSample{entries, Sample()});
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *sample = &samples->back().sample;
  return S_OK;
}

const Sample* FindSample(const SizedSamples& samples, size_t entries) {
  for (const SizedSample& sized : samples) {
    if (sized.entries == entries) return &sized.sample;
  }
  return nullptr;
}

void PrintReport(const BenchResults& results, FILE* out) {
  std::fprintf(out, "\nZelkAdmin benchmark: medians of the repetitions, QueryPerformanceCounter\n");
  std::fputs(kRule, out);
  PrintRatios(results, out);
  std::fputs(kRule, out);
  PrintRawNumbers(results, out);
  std::fputs(kRule, out);
  std::fprintf(out,
               "round trips: one client and the registered server; the query URL matches no\n"
               "entry, so the whole list is walked. start-up: no server running before; the\n"
               "run's first (cold) start is not counted. Under Wine, CoCreateInstance looks for\n"
               "a starting server's class once a second, so that start-up comes in whole\n"
               "seconds; \"launched directly\" starts the server's LocalServer32 command itself\n"
               "and waits until the server waits for messages (WaitForInputIdle), then calls.\n");
  std::fflush(out);
}

}  // namespace bench
}  // namespace zelk
