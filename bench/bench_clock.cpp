#include "bench/bench_clock.h"

#include <algorithm>
#include <new>

namespace zelk {
namespace bench {

namespace {

volatile LONG stopRequested = 0;

HRESULT ReadCounter(LARGE_INTEGER* now) {
  return QueryPerformanceCounter(now) ? S_OK : StatusFromLastError();
}

// The counter's ticks per second, read once: it is fixed at boot.
HRESULT CounterFrequency(double* ticks_per_second) {
  static LONGLONG frequency = 0;
  if (frequency == 0) {
    LARGE_INTEGER value;
    if (!QueryPerformanceFrequency(&value)) return StatusFromLastError();
    if (value.QuadPart <= 0) return E_FAIL;
    frequency = value.QuadPart;
  }
  *ticks_per_second = static_cast<double>(frequency);
  return S_OK;
}

}  // namespace

bool StopRequested() { return InterlockedCompareExchange(&stopRequested, 0, 0) != 0; }
void RequestStop() { InterlockedExchange(&stopRequested, 1); }

HRESULT Stopwatch::Start() {
  double unused = 0;
  // Reading the frequency here keeps that first read out of the timed span.
  ZELK_RETURN_IF_FAILED(CounterFrequency(&unused));
  return ReadCounter(&start_);
}

HRESULT Stopwatch::ElapsedMicroseconds(double* elapsed) const {
  LARGE_INTEGER now;
  ZELK_RETURN_IF_FAILED(ReadCounter(&now));
  double ticks_per_second = 0;
  ZELK_RETURN_IF_FAILED(CounterFrequency(&ticks_per_second));
  *elapsed = static_cast<double>(now.QuadPart - start_.QuadPart) * 1e6 / ticks_per_second;
  return S_OK;
}

HRESULT Sample::Add(double microseconds) {
  try {
    values_.push_back(microseconds);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

// The mean of the two middle values for an even count. No allocation: the
// values are few, so a count of those below each candidate is cheap enough.
double Sample::Median() const {
  if (values_.empty()) return 0;
  const size_t count = values_.size();
  auto nth = [this](size_t rank) {
    for (const double candidate : values_) {
      size_t below = 0;
      size_t equal = 0;
      for (const double value : values_) {
        if (value < candidate) ++below;
        if (value == candidate) ++equal;
      }
      if (rank >= below && rank < below + equal) return candidate;
    }
    return values_.front();
  };
  if (count % 2 == 1) return nth(count / 2);
  return (nth(count / 2 - 1) + nth(count / 2)) / 2;
}

double Sample::Min() const {
  return values_.empty() ? 0 : *std::min_element(values_.begin(), values_.end());
}

double Sample::Max() const {
  return values_.empty() ? 0 : *std::max_element(values_.begin(), values_.end());
}

}  // namespace bench
}  // namespace zelk
