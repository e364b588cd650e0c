// A ModuleServices for tests that host the automation object in process: it
// counts locks, runs its termination callbacks when destroyed, and tells the
// caller's session that a test chose.
#pragma once

#include <windows.h>

#include <new>
#include <utility>
#include <vector>

#include "automation/module_services.h"

namespace zelk {
namespace testing {

class TestModule : public ModuleServices {
 public:
  TestModule() { InitializeCriticalSection(&lock_); }
  ~TestModule() {
    for (auto it = callbacks_.rbegin(); it != callbacks_.rend(); ++it) it->first(it->second);
    DeleteCriticalSection(&lock_);
  }
  ULONG Lock() override { return static_cast<ULONG>(InterlockedIncrement(&locks_)); }
  ULONG Unlock() override { return static_cast<ULONG>(InterlockedDecrement(&locks_)); }
  HRESULT EnterModuleLock() override {
    EnterCriticalSection(&lock_);
    return S_OK;
  }
  void LeaveModuleLock() override { LeaveCriticalSection(&lock_); }
  HRESULT AddTerminationCallback(TerminationCallback callback, void* data) override {
    try {
      callbacks_.emplace_back(callback, data);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  HRESULT GetCallerSession(DWORD* session) override {
    if (SUCCEEDED(callerSessionStatus)) *session = callerSession;
    return callerSessionStatus;
  }
  LONG locks() const { return locks_; }

  // The session every call comes from, or the failure of finding it.
  DWORD callerSession = 0;
  HRESULT callerSessionStatus = S_OK;

 private:
  volatile LONG locks_ = 0;
  CRITICAL_SECTION lock_;
  std::vector<std::pair<TerminationCallback, void*>> callbacks_;
};

// Pairs CoInitialize and CoUninitialize for one scope.
class ScopedComInitializer {
 public:
  explicit ScopedComInitializer(DWORD model = COINIT_APARTMENTTHREADED)
      : status_(CoInitializeEx(nullptr, model)) {}
  ~ScopedComInitializer() {
    if (SUCCEEDED(status_)) CoUninitialize();
  }

 private:
  HRESULT status_;
};

}  // namespace testing
}  // namespace zelk
