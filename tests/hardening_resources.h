// What a process holds, measured from inside it: Wine answers
// GetProcessHandleCount with 0 and GetProcessMemoryInfo with figures that do
// not move, so handle values are probed, and heaps and private pages walked.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

namespace zelk {
namespace testing {

struct ResourceUse {
  DWORD handles = 0;
  size_t heap_bytes = 0;       // in blocks allocated from any heap
  size_t committed_bytes = 0;  // in committed private pages
};

inline ResourceUse MeasureResourceUse() {
  ResourceUse use;
  DWORD flags = 0;
  for (ULONG_PTR value = 4; value <= 0x40000; value += 4) {  // handle values: multiples of 4
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++use.handles;
  }
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
  heaps.resize(std::min<size_t>(heaps.size(), GetProcessHeaps(heaps.size(), heaps.data())));
  for (HANDLE heap : heaps) {
    PROCESS_HEAP_ENTRY entry = {};
    HeapLock(heap);
    while (HeapWalk(heap, &entry)) {
      use.heap_bytes += entry.wFlags & PROCESS_HEAP_ENTRY_BUSY ? entry.cbData : 0;
    }
    HeapUnlock(heap);
  }
  MEMORY_BASIC_INFORMATION region = {};
  for (const char* at = nullptr; VirtualQuery(at, &region, sizeof(region)) == sizeof(region);
       at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    const bool counted = region.State == MEM_COMMIT && region.Type == MEM_PRIVATE;
    use.committed_bytes += counted ? region.RegionSize : 0;
  }
  return use;
}

}  // namespace testing
}  // namespace zelk
