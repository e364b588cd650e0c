// The process-wide server state: the apartment, the lock count that keeps the
// server alive, the idle monitor that ends it, the class object it publishes,
// and the callbacks that run at teardown.
#pragma once

#include <windows.h>

#include "automation/module_services.h"
#include "platform/unique_resource.h"

namespace zelk {

constexpr DWORD kIdleExitDelayMs = 5000;
constexpr DWORD kExitPauseMs = 1000;

// Called by the server run once the class object is published, before the
// first client call can arrive.
using PublishedCallback = void (*)(void* data);

// Whose sessions the server's callers come from.
enum class CallerSessions {
  kOne,        // the per-user server: COM starts one for each user's session
  kFromToken,  // the service: every session's clients, told apart by their tokens
};

class ServerModule : public ModuleServices {
 public:
  // Makes the constructing thread a single-threaded apartment. Check
  // init_failed() before using the module.
  explicit ServerModule(CallerSessions sessions);
  ~ServerModule();
  ServerModule(const ServerModule&) = delete;
  ServerModule& operator=(const ServerModule&) = delete;

  bool init_failed() const { return initFailed_; }

  // ModuleServices
  ULONG Lock() override;
  ULONG Unlock() override;
  HRESULT EnterModuleLock() override;
  void LeaveModuleLock() override;
  HRESULT AddTerminationCallback(TerminationCallback callback, void* data) override;
  // kOne: session 0 for every caller. kFromToken: the caller's token's.
  HRESULT GetCallerSession(DWORD* session) override;

  // The server run: publish the class object, wait for clients until the idle
  // period passes (or WM_QUIT reaches the constructing thread), withdraw.
  // Returns the run's status (the exit code). `published`, when given, is
  // called once the class object is registered with full success.
  HRESULT RunServer(PublishedCallback published = nullptr, void* data = nullptr);

 private:
  struct TerminationNode {
    TerminationCallback callback;
    void* data;
    TerminationNode* next;
  };

  HRESULT PublishClassObjects(DWORD class_context, DWORD flags);
  HRESULT WithdrawClassObjects();
  HRESULT StartIdleMonitor();
  void RunMessageLoop();
  void PostQuit();
  static DWORD WINAPI IdleMonitorThread(void* module);
  void IdleMonitor();
  void RunTerminationCallbacks();

  volatile LONG lockCount_ = 0;
  const DWORD mainThreadId_;
  const CallerSessions callerSessions_;
  UniqueHandle shutdownEvent_;
  bool delayShutdown_ = true;
  // Set by the main thread when the count falls to zero, cleared by the monitor
  // at the start of each idle period; a wake-up after a fresh drop to zero
  // therefore always starts a new idle period.
  volatile LONG activitySeen_ = 0;
  bool initFailed_ = false;
  bool comInitialized_ = false;
  bool moduleLockReady_ = false;
  CRITICAL_SECTION moduleLock_;
  TerminationNode* terminationList_ = nullptr;
  DWORD classRegistrationCookie_ = 0;
};

}  // namespace zelk
