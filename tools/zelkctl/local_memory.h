// Owner for memory that Windows allocates with LocalAlloc on our behalf
// (CommandLineToArgvW, FormatMessage with FORMAT_MESSAGE_ALLOCATE_BUFFER).
#pragma once

#include <windows.h>

#include "platform/unique_resource.h"

namespace zelk {
namespace ctl {

struct LocalMemoryTraits {
  static HLOCAL Invalid() { return nullptr; }
  static void Close(HLOCAL memory) { LocalFree(memory); }
};

using UniqueLocalMemory = UniqueResource<HLOCAL, LocalMemoryTraits>;

}  // namespace ctl
}  // namespace zelk
