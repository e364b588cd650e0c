// One-shot options left for a browser window, taken by the next caller for it.
// Memory only: they are lost when the server exits.
#pragma once

#include <windows.h>

#include <cstdint>
#include <unordered_map>

namespace zelk {

class StartupOptions {
 public:
  // Leaves `option` for `window`, replacing one already waiting.
  // S_OK, or E_OUTOFMEMORY with the map unchanged.
  HRESULT Set(int32_t window, int32_t option);

  // Takes the option waiting for `window`: true and *option set, the entry
  // removed; false and *option untouched when none is waiting.
  bool Take(int32_t window, int32_t* option);

  size_t size() const { return options_.size(); }

 private:
  std::unordered_map<int32_t, int32_t> options_;
};

}  // namespace zelk
