// What a process holds, measured from inside it, so that a long loop of calls
// can show that nothing accumulates. Wine answers GetProcessHandleCount with 0
// and GetProcessMemoryInfo with figures that do not move, so both are measured
// directly: handles by asking about every handle value, memory by walking the
// heaps and the committed private pages.
#pragma once

#include <windows.h>

#include <vector>

namespace zelk {
namespace testing {

// Handle values are multiples of 4, handed out lowest-free first; a process
// of these tests never holds more than a few thousand.
constexpr ULONG_PTR kHighestProbedHandle = 0x40000;

// The number of handles the process holds.
inline DWORD OpenHandleCount() {
  DWORD reported = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &reported) && reported != 0) return reported;
  DWORD counted = 0;
  for (ULONG_PTR value = 4; value <= kHighestProbedHandle; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++counted;
  }
  return counted;
}

// Bytes in blocks that are allocated from any heap of the process (the C
// runtime's, the process heap, COM's task allocator and the string cache).
inline size_t HeapBytesInUse() {
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
  const DWORD count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
  size_t in_use = 0;
  for (DWORD index = 0; index < count && index < heaps.size(); ++index) {
    if (!HeapLock(heaps[index])) continue;
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heaps[index], &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) in_use += entry.cbData;
    }
    HeapUnlock(heaps[index]);
  }
  return in_use;
}

// Committed private pages: heaps grow here, and so do blocks large enough to
// bypass them.
inline size_t CommittedPrivateBytes() {
  size_t committed = 0;
  MEMORY_BASIC_INFORMATION region = {};
  const char* address = nullptr;
  while (VirtualQuery(address, &region, sizeof(region)) == sizeof(region)) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) committed += region.RegionSize;
    const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= address) break;
    address = next;
  }
  return committed;
}

struct ResourceUse {
  DWORD handles;
  size_t heap_bytes;
  size_t committed_bytes;
};

inline ResourceUse MeasureResourceUse() {
  return ResourceUse{OpenHandleCount(), HeapBytesInUse(), CommittedPrivateBytes()};
}

}  // namespace testing
}  // namespace zelk
