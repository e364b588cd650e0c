// HRESULT helpers: the one place where Win32 error codes become statuses.
#pragma once

#include <windows.h>

namespace zelk {

// The status for a Win32 error code returned by a failed call (registry
// functions return their code and leave the last error alone). A failure that
// carries no code (ERROR_SUCCESS) becomes E_FAIL, so a failure can never reach
// a caller as a success status.
inline HRESULT StatusFromWin32(LONG error) {
  if (error == ERROR_SUCCESS) return E_FAIL;
  return HRESULT_FROM_WIN32(static_cast<unsigned long>(error));
}

// The status for the thread's last error; call it right after the failed call
// that set the error (file functions, module functions). E_FAIL when unset.
inline HRESULT StatusFromLastError() { return StatusFromWin32(static_cast<LONG>(GetLastError())); }

}  // namespace zelk

// Early returns. They hide no cleanup: owners release what is open.
#define ZELK_RETURN_IF_FAILED(expression)      \
  do {                                         \
    const HRESULT zelk_status_ = (expression); \
    if (FAILED(zelk_status_)) return zelk_status_; \
  } while (0)

#define ZELK_RETURN_IF_NULL(status, pointer) \
  do {                                       \
    if ((pointer) == nullptr) return (status); \
  } while (0)
