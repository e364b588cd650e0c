// One-shot options left for a browser window, taken by the next caller for it.
// Memory only: they are lost when the server exits.
//
// A window handle is unique only within its session, and one server may serve
// every session of the machine: an option belongs to the session of the
// caller that left it and the handle, so that no session ever takes another's.
#pragma once

#include <windows.h>

#include <cstdint>
#include <unordered_map>

namespace zelk {

class StartupOptions {
 public:
  // Leaves `option` for `window` of `session`, replacing one already waiting.
  // S_OK, or E_OUTOFMEMORY with the map unchanged.
  HRESULT Set(DWORD session, int32_t window, int32_t option);

  // Takes the option waiting for `window` of `session`: true and *option set,
  // the entry removed; false and *option untouched when none is waiting.
  bool Take(DWORD session, int32_t window, int32_t* option);

  size_t size() const { return options_.size(); }

 private:
  // The session in the high 32 bits, the handle's bits in the low ones.
  static uint64_t KeyOf(DWORD session, int32_t window);

  std::unordered_map<uint64_t, int32_t> options_;
};

}  // namespace zelk
