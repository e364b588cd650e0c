#include <cstdarg>
#include <new>
#include <string>

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
  std::string name;
  bool known;
  double value;
};

const char* HostingLabel(bool service) { return service ? "service" : "per_user"; }

// The figures the targets are set on, in the order they print. May
// throw std::bad_alloc.
std::vector<SummaryLine> SummaryLines(const BenchResults& results) {
  std::vector<SummaryLine> lines;
  auto ratio = [&lines](const char* name, const Sample* numerator, const Sample* denominator) {
    SummaryLine line = {name, false, 0};
    line.known = MedianRatio(numerator, denominator, &line.value);
    lines.push_back(line);
  };
  const HostedSamples& per_user = results.perUser;
  ratio("roundtrip_ratio_10000", FindSample(per_user.queryRoundTrip, kMiddleSize),
        FindSample(per_user.emptyCallRoundTrip, kMiddleSize));
  ratio("roundtrip_ratio_100000", FindSample(per_user.queryRoundTrip, kLargestSize),
        FindSample(per_user.emptyCallRoundTrip, kLargestSize));
  ratio("inprocess_scaling_100000_vs_10", FindSample(results.inProcessQuery, kLargestSize),
        FindSample(results.inProcessQuery, kSmallestSize));
  ratio("inprocess_scaling_managed_10000_vs_10", FindSample(results.managedQuery, kMiddleSize),
        FindSample(results.managedQuery, kSmallestSize));
  ratio("protect_scaling_100000_vs_10", FindSample(results.protectUnprotect, kLargestSize),
        FindSample(results.protectUnprotect, kSmallestSize));
  SummaryLine bytes = {"bytes_per_entry_100000", false, 0};
  double total = 0;
  bytes.known = BytesPerEntry(results, kLargestSize, &total, &bytes.value);
  lines.push_back(bytes);
  ratio("load_vs_registry_floor_100000", FindSample(results.inProcessLoad, kLargestSize),
        FindSample(results.registryFloor, kLargestSize));
  ratio("roundtrip_ratio_service_vs_per_user_10000",
        FindSample(results.service.queryRoundTrip, kMiddleSize),
        FindSample(per_user.queryRoundTrip, kMiddleSize));
  for (const bool service : {false, true}) {
    const HostedSamples& hosted = service ? results.service : per_user;
    for (const size_t size : kHostingSizes) {
      const Sample* sample = FindSample(hosted.coldFirstAnswer, size);
      const bool known = sample != nullptr && !sample->empty();
      lines.push_back({"cold_first_answer_ms_" + std::string(HostingLabel(service)) + "_" +
                           std::to_string(size),
                       known, known ? sample->Median() / 1000.0 : 0});
    }
  }
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
      std::fprintf(out, "%s %.2f\n", line.name.c_str(), line.value);
    } else {
      std::fprintf(out, "%s n/a\n", line.name.c_str());
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

// One ratio row a size.
template <size_t kCount>
void PrintSizedRatioRows(FILE* out, const char* label, const size_t (&sizes)[kCount],
                         const SizedSamples& numerator, const SizedSamples& denominator) {
  char entries[24];
  for (const size_t size : sizes) {
    FormatEntries(size, entries);
    PrintRatioRow(out, label, entries, FindSample(numerator, size),
                  FindSample(denominator, size));
  }
}

void PrintRatios(const BenchResults& results, FILE* out) {
  std::fprintf(out, "%-54s %13s %12s\n", "Ratios (of medians)", "entries", "ratio");
  const HostedSamples& per_user = results.perUser;
  const HostedSamples& service = results.service;
  PrintSizedRatioRows(out, "round trip per user: IsUrlProtected / get_AutoShow", kStepSizes,
                      per_user.queryRoundTrip, per_user.emptyCallRoundTrip);
  PrintSizedRatioRows(out, "round trip, service: IsUrlProtected / get_AutoShow", kHostingSizes,
                      service.queryRoundTrip, service.emptyCallRoundTrip);
  PrintSizedRatioRows(out, "round trip IsUrlProtected: service / per user", kHostingSizes,
                      service.queryRoundTrip, per_user.queryRoundTrip);
  PrintSizedRatioRows(out, "cold first answer: service / per user", kHostingSizes,
                      service.coldFirstAnswer, per_user.coldFirstAnswer);
  char entries[24];
  for (const size_t size : {kMiddleSize, kLargestSize}) {
    PrintScalingRow(out, "in process: IsUrlProtected, by list size", results.inProcessQuery,
                    size, kSmallestSize);
  }
  PrintScalingRow(out, "in process: IsUrlProtected, by managed entries", results.managedQuery,
                  kMiddleSize, kSmallestSize);
  for (const size_t size : {kMiddleSize, kLargestSize}) {
    PrintScalingRow(out, "in process: ProtectPage + UnprotectUrl, by list size",
                    results.protectUnprotect, size, kSmallestSize);
  }
  FormatEntries(kLargestSize, entries);
  PrintRatioRow(out, "in process: Load / bare registry loop", entries,
                FindSample(results.inProcessLoad, kLargestSize),
                FindSample(results.registryFloor, kLargestSize));
  PrintScalingRow(out, "cold first answer per user: by list size",
                  results.perUser.coldFirstAnswer, kLargestSize, 0);
  PrintScalingRow(out, "cold first answer, service: by list size",
                  results.service.coldFirstAnswer, kLargestSize, 0);
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
  PrintSizedRows(out, "round trip per user: get_AutoShow (empty call)",
                 results.perUser.emptyCallRoundTrip);
  PrintSizedRows(out, "round trip per user: IsUrlProtected (no match)",
                 results.perUser.queryRoundTrip);
  PrintSizedRows(out, "round trip, service: get_AutoShow (empty call)",
                 results.service.emptyCallRoundTrip);
  PrintSizedRows(out, "round trip, service: IsUrlProtected (no match)",
                 results.service.queryRoundTrip);
  PrintSizedRows(out, "in process: IsUrlProtected (no match)", results.inProcessQuery);
  PrintSizedRows(out, "in process: IsUrlProtected, N managed entries", results.managedQuery);
  PrintSizedRows(out, "in process: ProtectPage + UnprotectUrl", results.protectUnprotect);
  PrintSizedRows(out, "in process: Load (settings + safe list)", results.inProcessLoad);
  PrintSizedRows(out, "in process: bare registry loop over the list", results.registryFloor);
  PrintSizedRows(out, "cold first answer per user: create + IsUrlProtected",
                 results.perUser.coldFirstAnswer);
  PrintSizedRows(out, "cold first answer, service: create + IsUrlProtected",
                 results.service.coldFirstAnswer);
  PrintSizedRows(out, "start-up: launched directly, to first answer", results.directStartUp);
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

bool IsHostingSize(size_t entries) {
  for (const size_t size : kHostingSizes) {
    if (size == entries) return true;
  }
  return false;
}

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
               "round trips: one client and the registered server, per user (LocalServer32) or\n"
               "hosted by the ZelkAdmin service, in every session after a cold start (at 0,\n"
               "10,000 and 100,000 entries per user before and after the service's); the query\n"
               "URL matches no entry; the target for service / per user at 10,000 is at most\n"
               "1.05. in process: IsUrlProtected at %u entries is timed beside the largest list,\n"
               "batches alternating; Load and the bare registry loop (RegEnumKeyExW,\n"
               "RegOpenKeyExW, RegQueryValueExW, RegCloseKey per subkey) alternate as well.\n"
               "N managed entries: machine policy's SafeList, the user's list at %u entries, N\n"
               "growing under the same object, three rounds.\n"
               "ProtectPage + UnprotectUrl: a new URL on its own host, registry included. heap:\n"
               "blocks in use (HeapWalk) after a Load minus before it; per entry: minus the\n"
               "object with the empty list, over the entries; beyond key: also minus the key\n"
               "text (length + 1). cold first answer: no server running before (per user after\n"
               "its idle exit, the service stopped), CoCreateInstance until the first\n"
               "IsUrlProtected returns; the run's first start (per user, empty list, cold\n"
               "caches) is not counted. Under Wine, CoCreateInstance looks for a starting\n"
               "server's class once a second, so that a cold answer comes in whole seconds;\n"
               "\"launched directly\" starts the server's LocalServer32 command itself and waits\n"
               "until the server waits for messages (WaitForInputIdle), then calls.\n",
               static_cast<unsigned>(kSmallestSize), static_cast<unsigned>(kSmallestSize));
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
