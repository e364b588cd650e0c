// Timing for the benchmark: a QueryPerformanceCounter stopwatch, the samples
// it fills, and the batched measurement of one call.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/status.h"

namespace zelk {
namespace bench {

// Set from the console's Ctrl+C handler; every measuring loop checks it, so
// an interrupted run still unwinds through the code that restores the
// registry.
bool StopRequested();
void RequestStop();
constexpr HRESULT kStoppedStatus = HRESULT_FROM_WIN32(ERROR_CANCELLED);

class Stopwatch {
 public:
  HRESULT Start();
  HRESULT ElapsedMicroseconds(double* elapsed) const;

 private:
  LARGE_INTEGER start_ = {};
};

// The repetitions of one measurement, each in microseconds per call.
class Sample {
 public:
  HRESULT Add(double microseconds);
  bool empty() const { return values_.empty(); }
  size_t repetitions() const { return values_.size(); }
  // Calls timed together in one repetition (1 for a single timed event).
  unsigned calls_per_repetition() const { return callsPerRepetition_; }
  void set_calls_per_repetition(unsigned calls) { callsPerRepetition_ = calls; }
  double Median() const;
  double Min() const;
  double Max() const;

 private:
  std::vector<double> values_;
  unsigned callsPerRepetition_ = 1;
};

// How one call is timed: a batch is repeated `repetitions` times, and its
// size is doubled until it lasts `min_batch_us`, so that the counter's
// resolution and the cost of reading it vanish against the batch.
struct BatchPlan {
  unsigned repetitions;
  double min_batch_us;
  unsigned max_calls;
};

template <typename Call>
HRESULT TimeBatch(Call& call, unsigned calls, double* elapsed_us) {
  if (StopRequested()) return kStoppedStatus;
  Stopwatch watch;
  ZELK_RETURN_IF_FAILED(watch.Start());
  for (unsigned i = 0; i < calls; ++i) ZELK_RETURN_IF_FAILED(call());
  return watch.ElapsedMicroseconds(elapsed_us);
}

// Finds the batch size for `call`. The calibration batches also warm caches
// and, out of process, the proxy.
template <typename Call>
HRESULT CalibrateBatch(const BatchPlan& plan, Call& call, unsigned* calls) {
  unsigned size = 1;
  double elapsed = 0;
  for (;;) {
    ZELK_RETURN_IF_FAILED(TimeBatch(call, size, &elapsed));
    if (elapsed >= plan.min_batch_us || size >= plan.max_calls) break;
    size *= 2;
  }
  *calls = size;
  return S_OK;
}

template <typename Call>
HRESULT TimeRepetition(Call& call, unsigned calls, Sample* sample) {
  double elapsed = 0;
  ZELK_RETURN_IF_FAILED(TimeBatch(call, calls, &elapsed));
  return sample->Add(elapsed / calls);
}

// `call` returns an HRESULT; the first failure ends the measurement.
template <typename Call>
HRESULT MeasurePerCall(const BatchPlan& plan, Call call, Sample* sample) {
  unsigned calls = 0;
  ZELK_RETURN_IF_FAILED(CalibrateBatch(plan, call, &calls));
  sample->set_calls_per_repetition(calls);
  for (unsigned repetition = 0; repetition < plan.repetitions; ++repetition) {
    ZELK_RETURN_IF_FAILED(TimeRepetition(call, calls, sample));
  }
  return S_OK;
}

// Two calls whose costs are compared: their batches alternate, so that a
// change in the machine's load falls on both alike and their ratio stays fair.
template <typename CallA, typename CallB>
HRESULT MeasurePairPerCall(const BatchPlan& plan, CallA call_a, CallB call_b, Sample* sample_a,
                           Sample* sample_b) {
  unsigned calls_a = 0;
  unsigned calls_b = 0;
  ZELK_RETURN_IF_FAILED(CalibrateBatch(plan, call_a, &calls_a));
  ZELK_RETURN_IF_FAILED(CalibrateBatch(plan, call_b, &calls_b));
  sample_a->set_calls_per_repetition(calls_a);
  sample_b->set_calls_per_repetition(calls_b);
  for (unsigned repetition = 0; repetition < plan.repetitions; ++repetition) {
    ZELK_RETURN_IF_FAILED(TimeRepetition(call_a, calls_a, sample_a));
    ZELK_RETURN_IF_FAILED(TimeRepetition(call_b, calls_b, sample_b));
  }
  return S_OK;
}

}  // namespace bench
}  // namespace zelk
