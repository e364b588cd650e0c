// The in-process half of the benchmark: ZelkHelper objects hosted in this
// process as the server module hosts them, called through IZelkHelper without
// the transport, on the list in HKLM\Software\Zelk\SafeList. The caller has
// engaged a SafeListGuard, so that list holds bench entries only, and a
// PolicyGuard: with the smallest list, managed entries are written and timed.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>

#include "automation/zelk_helper.h"
#include "bench/bench_results.h"
#include "tests/test_module.h"

namespace zelk {
namespace bench {

class InProcessBench {
 public:
  InProcessBench() = default;
  InProcessBench(const InProcessBench&) = delete;
  InProcessBench& operator=(const InProcessBench&) = delete;

  // Measures the list as it is now, `entries` bench entries (one of
  // kStepSizes, called in their order). A measurement that fails is noted
  // in `results` and the run goes on; only a stop or a broken list fails.
  HRESULT MeasureAt(size_t entries, BenchResults* results);

 private:
  HRESULT MeasureQueries(size_t entries, std::unique_ptr<ZelkHelper> helper,
                         BenchResults* results);

  zelk::testing::TestModule module_;
  // The object loaded with the smallest list: its IsUrlProtected is timed
  // beside the largest list's, so that both see the same machine load.
  std::unique_ptr<ZelkHelper> smallest_;
};

}  // namespace bench
}  // namespace zelk
