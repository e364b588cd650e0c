#include "automation/startup_options.h"

#include <new>

namespace zelk {

uint64_t StartupOptions::KeyOf(DWORD session, int32_t window) {
  return static_cast<uint64_t>(session) << 32 | static_cast<uint32_t>(window);
}

HRESULT StartupOptions::Set(DWORD session, int32_t window, int32_t option) {
  try {
    options_[KeyOf(session, window)] = option;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

bool StartupOptions::Take(DWORD session, int32_t window, int32_t* option) {
  auto found = options_.find(KeyOf(session, window));
  if (found == options_.end()) return false;
  *option = found->second;
  options_.erase(found);
  return true;
}

}  // namespace zelk
