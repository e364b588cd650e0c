#include <cstdarg>
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

const ObjectHeap* FindHeap(const BenchResults& results, size_t entries) {
  for (const ObjectHeap& heap : results.objectHeap) {
    if (heap.entries == entries) return &heap;
  }
  return nullptr;
}

// Heap per entry that an object with `entries` entries holds beyond one with
// the empty list: all of it, and what is left beyond the key text.
bool BytesPerEntry(const BenchResults& results, size_t entries, double* total,
                   double* beyond_key_text) {
  const ObjectHeap* loaded = FindHeap(results, entries);
  const ObjectHeap* empty = FindHeap(results, 0);
  if (entries == 0 || loaded == nullptr || empty == nullptr) return false;
  const double added = static_cast<double>(loaded->heapBytes) - empty->heapBytes;
  *total = added / entries;
  *beyond_key_text = (added - loaded->keyTextBytes) / entries;
  return true;
}

struct SummaryLine {
  const char* name;
  bool known;
  double value;
};

// The figures the targets are set on, in the order they print.
std::vector<SummaryLine> SummaryLines(const BenchResults& results) {
  std::vector<SummaryLine> lines;
  auto ratio = [&lines](const char* name, const Sample* numerator, const Sample* denominator) {
    SummaryLine line = {name, false, 0};
    line.known = MedianRatio(numerator, denominator, &line.value);
    lines.push_back(line);
  };
  ratio("roundtrip_ratio_10000", FindSample(results.queryRoundTrip, kMiddleSize),
        FindSample(results.emptyCallRoundTrip, kMiddleSize));
  ratio("roundtrip_ratio_100000", FindSample(results.queryRoundTrip, kLargestSize),
        FindSample(results.emptyCallRoundTrip, kLargestSize));
  ratio("inprocess_scaling_100000_vs_10", FindSample(results.inProcessQuery, kLargestSize),
        FindSample(results.inProcessQuery, kSmallestSize));
  ratio("protect_scaling_100000_vs_10", FindSample(results.protectUnprotect, kLargestSize),
        FindSample(results.protectUnprotect, kSmallestSize));
  SummaryLine bytes = {"bytes_per_entry_100000", false, 0};
  double total = 0;
  bytes.known = BytesPerEntry(results, kLargestSize, &total, &bytes.value);
  lines.push_back(bytes);
  ratio("load_vs_registry_floor_100000", FindSample(results.inProcessLoad, kLargestSize),
        FindSample(results.registryFloor, kLargestSize));
  return lines;
}

void PrintSummaryLines(const BenchResults& results, FILE* out) {
  std::vector<SummaryLine> lines;
  try {
    lines = SummaryLines(results);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "zelk_bench: no memory for the summary\n");
    return;
  }
  for (const SummaryLine& line : lines) {
    if (line.known) {
      std::fprintf(out, "%s %.2f\n", line.name, line.value);
    } else {
      std::fprintf(out, "%s n/a\n", line.name);
    }
  }
}

void FormatEntries(size_t entries, char (&text)[24]) {
  std::snprintf(text, sizeof(text), "%u", static_cast<unsigned>(entries));
}

void FormatEntryRatio(size_t numerator, size_t denominator, char (&text)[24]) {
  std::snprintf(text, sizeof(text), "%u:%u", static_cast<unsigned>(numerator),
                static_cast<unsigned>(denominator));
}

void PrintRatioRow(FILE* out, const char* label, const char* entries, const Sample* numerator,
                   const Sample* denominator) {
  double ratio = 0;
  if (MedianRatio(numerator, denominator, &ratio)) {
    std::fprintf(out, "  %-52s %13s %12.2f\n", label, entries, ratio);
  } else {
    std::fprintf(out, "  %-52s %13s %12s\n", label, entries, "n/a");
  }
}

// A ratio of one measurement at `size` over the same at the smallest size.
void PrintScalingRow(FILE* out, const char* label, const SizedSamples& samples, size_t size,
                     size_t base) {
  char entries[24];
  FormatEntryRatio(size, base, entries);
  PrintRatioRow(out, label, entries, FindSample(samples, size), FindSample(samples, base));
}

void PrintRawRow(FILE* out, const char* label, const char* entries, const Sample* sample) {
  if (sample == nullptr || sample->empty()) {
    std::fprintf(out, "  %-52s %13s %12s\n", label, entries, "n/a");
    return;
  }
  std::fprintf(out, "  %-52s %13s %12.2f %12.2f %12.2f %5u x %-7u\n", label, entries,
               sample->Median(), sample->Min(), sample->Max(),
               static_cast<unsigned>(sample->repetitions()), sample->calls_per_repetition());
}

void PrintRatios(const BenchResults& results, FILE* out) {
  std::fprintf(out, "%-54s %13s %12s\n", "Ratios (of medians)", "entries", "ratio");
  char entries[24];
  for (const size_t size : kStepSizes) {
    FormatEntries(size, entries);
    PrintRatioRow(out, "round trip: IsUrlProtected / get_AutoShow", entries,
                  FindSample(results.queryRoundTrip, size),
                  FindSample(results.emptyCallRoundTrip, size));
  }
  for (const size_t size : {kMiddleSize, kLargestSize}) {
    PrintScalingRow(out, "in process: IsUrlProtected, by list size", results.inProcessQuery,
                    size, kSmallestSize);
  }
  for (const size_t size : {kMiddleSize, kLargestSize}) {
    PrintScalingRow(out, "in process: ProtectPage + UnprotectUrl, by list size",
                    results.protectUnprotect, size, kSmallestSize);
  }
  FormatEntries(kLargestSize, entries);
  PrintRatioRow(out, "in process: Load / bare registry loop", entries,
                FindSample(results.inProcessLoad, kLargestSize),
                FindSample(results.registryFloor, kLargestSize));
  PrintScalingRow(out, "start-up (CoCreateInstance): by list size", results.startUp,
                  kLargestSize, 0);
  PrintScalingRow(out, "start-up (launched directly): by list size", results.directStartUp,
                  kLargestSize, 0);
}

// In the order of the sizes, whatever order they were measured in.
void PrintSizedRows(FILE* out, const char* label, const SizedSamples& samples) {
  char entries[24];
  for (const size_t size : kStepSizes) {
    const Sample* sample = FindSample(samples, size);
    if (sample == nullptr) continue;
    FormatEntries(size, entries);
    PrintRawRow(out, label, entries, sample);
  }
}

void PrintRawNumbers(const BenchResults& results, FILE* out) {
  std::fprintf(out, "%-54s %13s %12s %12s %12s  %s\n", "Raw numbers (microseconds)", "entries",
               "median", "min", "max", "reps x calls");
  PrintSizedRows(out, "round trip: get_AutoShow (empty call)", results.emptyCallRoundTrip);
  PrintSizedRows(out, "round trip: IsUrlProtected (no match)", results.queryRoundTrip);
  PrintSizedRows(out, "in process: IsUrlProtected (no match)", results.inProcessQuery);
  PrintSizedRows(out, "in process: ProtectPage + UnprotectUrl", results.protectUnprotect);
  PrintSizedRows(out, "in process: Load (settings + safe list)", results.inProcessLoad);
  PrintSizedRows(out, "in process: bare registry loop over the list", results.registryFloor);
  PrintSizedRows(out, "start-up: CoCreateInstance to first call return", results.startUp);
  PrintSizedRows(out, "start-up: launched directly, to first call return",
                 results.directStartUp);
}

void PrintMemory(const BenchResults& results, FILE* out) {
  std::fprintf(out, "%-54s %13s %12s %12s %12s\n", "Heap after Load (bytes)", "entries",
               "object", "per entry", "beyond key");
  char entries[24];
  for (const ObjectHeap& heap : results.objectHeap) {
    FormatEntries(heap.entries, entries);
    double total = 0;
    double beyond_key_text = 0;
    if (BytesPerEntry(results, heap.entries, &total, &beyond_key_text)) {
      std::fprintf(out, "  %-52s %13s %12u %12.1f %12.1f\n", "in process: object and its list",
                   entries, static_cast<unsigned>(heap.heapBytes), total, beyond_key_text);
    } else {
      std::fprintf(out, "  %-52s %13s %12u %12s %12s\n", "in process: object and its list",
                   entries, static_cast<unsigned>(heap.heapBytes), "-", "-");
    }
  }
  if (FindHeap(results, kLargestSize) == nullptr) {
    FormatEntries(kLargestSize, entries);
    std::fprintf(out, "  %-52s %13s %12s\n", "in process: object and its list", entries, "n/a");
  }
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

void Progress(const char* format, ...) {
  static const ULONGLONG start = GetTickCount64();
  std::fprintf(stderr, "zelk_bench [%5.0f s]: ",
               static_cast<double>(GetTickCount64() - start) / 1000.0);
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  std::fputc('\n', stderr);
}

HRESULT ContinueAfterFailure(HRESULT status, const char* what, size_t entries,
                             BenchResults* results) {
  if (SUCCEEDED(status) || status == kStoppedStatus) return status;
  Progress("%s with %u entries not measured (0x%08lX); going on", what,
           static_cast<unsigned>(entries), static_cast<unsigned long>(status));
  results->incomplete = true;
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
  PrintMemory(results, out);
  std::fputs(kRule, out);
  std::fprintf(out,
               "round trips: one client and the registered server; the query URL matches no\n"
               "entry. in process: IsUrlProtected at %u entries is timed beside the largest\n"
               "list, batches alternating; Load and the bare registry loop (RegEnumKeyExW,\n"
               "RegOpenKeyExW, RegQueryValueExW, RegCloseKey per subkey) alternate as well.\n"
               "ProtectPage + UnprotectUrl: a new URL on its own host, registry included.\n"
               "heap: blocks in use (HeapWalk) after a Load minus before it; per entry: minus\n"
               "the object with the empty list, over the entries; beyond key: also minus the\n"
               "key text (length + 1). start-up: no server running before; the run's first\n"
               "(cold) start is not counted. Under Wine, CoCreateInstance looks for a starting\n"
               "server's class once a second, so that start-up comes in whole seconds;\n"
               "\"launched directly\" starts the server's LocalServer32 command itself and\n"
               "waits until the server waits for messages (WaitForInputIdle), then calls.\n",
               static_cast<unsigned>(kSmallestSize));
  std::fputs(kRule, out);
  PrintSummaryLines(results, out);
  std::fflush(out);
}

void PrintSummary(const BenchResults& results, FILE* out) {
  PrintSummaryLines(results, out);
  std::fflush(out);
}

}  // namespace bench
}  // namespace zelk
