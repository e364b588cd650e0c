// The registry state the benchmark changes, and how it is given back.
//
// Everything the benchmark keeps for itself lives under
// HKEY_CURRENT_USER\Software\ZelkBench: the copy of the user's own
// safe-list entries while they are set aside.
#pragma once

#include <windows.h>


namespace zelk {
namespace bench {

constexpr char kScratchRootPath[] = "Software\\ZelkBench";
constexpr char kSetAsidePath[] = "Software\\ZelkBench\\SetAsideSafeList";

// Removes HKEY_CURRENT_USER\Software\ZelkBench at the end of the run when
// nothing is left in it. The key is the benchmark's own; only a set-aside
// list that could not be put back keeps it, for the next run to recover.
class ScratchRoot {
 public:
  ScratchRoot() = default;
  ~ScratchRoot();
  ScratchRoot(const ScratchRoot&) = delete;
  ScratchRoot& operator=(const ScratchRoot&) = delete;
};

// Gives the benchmark an empty HKLM\Software\Zelk\SafeList and gives the
// user's entries back afterwards.
//
// Engage first repairs what an interrupted run left (puts a set-aside copy
// back, removes bench entries), then copies the remaining entries to
// kSetAsidePath and removes them from the list. Restore (also run by the
// destructor) removes the bench entries and copies the set-aside entries
// back. The copy lives in the registry, not in memory, so that even a killed
// run loses nothing: the next run puts it back.
class SafeListGuard {
 public:
  SafeListGuard() = default;
  ~SafeListGuard();
  SafeListGuard(const SafeListGuard&) = delete;
  SafeListGuard& operator=(const SafeListGuard&) = delete;

  HRESULT Engage();
  HRESULT Restore();

 private:
  bool engaged_ = false;
};

}  // namespace bench
}  // namespace zelk
