#include "automation/startup_options.h"

#include <new>

namespace zelk {

HRESULT StartupOptions::Set(int32_t window, int32_t option) {
  try {
    options_[window] = option;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

bool StartupOptions::Take(int32_t window, int32_t* option) {
  auto found = options_.find(window);
  if (found == options_.end()) return false;
  *option = found->second;
  options_.erase(found);
  return true;
}

}  // namespace zelk
