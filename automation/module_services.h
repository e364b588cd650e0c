// What the automation object needs from the process that hosts it. The server
// module implements it; in-process tests supply their own. Keeping it abstract
// lets automation/ stay below server/ in the dependency order.
#pragma once

#include <windows.h>

namespace zelk {

using TerminationCallback = void (*)(void* data);

class ModuleServices {
 public:
  // Every reference a client holds on the shared object is one lock on the
  // server: these are that object's AddRef and Release. They return the new count.
  virtual ULONG Lock() = 0;
  virtual ULONG Unlock() = 0;

  // The module lock: re-entrant for the thread that holds it. Guards state that
  // is created lazily and shared process-wide.
  virtual HRESULT EnterModuleLock() = 0;
  virtual void LeaveModuleLock() = 0;

  // Registers a callback that runs once when the module terminates, most
  // recently added first. S_OK or E_OUTOFMEMORY.
  virtual HRESULT AddTerminationCallback(TerminationCallback callback, void* data) = 0;

  // The session of the client whose call is being served: a window handle
  // names one window only within its session, so startup options are kept per
  // session. A host that serves one session answers the same for every
  // caller. On failure *session is untouched and the call cannot be told
  // apart from another session's.
  virtual HRESULT GetCallerSession(DWORD* session) = 0;

 protected:
  ~ModuleServices() = default;
};

// Holds the module lock for one scope.
class ModuleLockGuard {
 public:
  explicit ModuleLockGuard(ModuleServices* module) : module_(module), status_(module->EnterModuleLock()) {}
  ~ModuleLockGuard() {
    if (SUCCEEDED(status_)) module_->LeaveModuleLock();
  }
  ModuleLockGuard(const ModuleLockGuard&) = delete;
  ModuleLockGuard& operator=(const ModuleLockGuard&) = delete;
  HRESULT status() const { return status_; }

 private:
  ModuleServices* module_;
  HRESULT status_;
};

}  // namespace zelk
