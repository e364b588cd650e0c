#include "server/server_module.h"

#include <new>

#include "platform/status.h"
#include "server/caller_session.h"
#include "server/class_factory.h"
#include "zelk_admin.h"

namespace zelk {

ServerModule::ServerModule(CallerSessions sessions)
    : mainThreadId_(GetCurrentThreadId()), callerSessions_(sessions) {
  // InitializeCriticalSectionAndSpinCount reports failure, unlike the plain form.
  moduleLockReady_ = InitializeCriticalSectionAndSpinCount(&moduleLock_, 0) != FALSE;
  if (!moduleLockReady_) initFailed_ = true;
  comInitialized_ = SUCCEEDED(CoInitialize(nullptr));
  if (!comInitialized_) initFailed_ = true;
}

ServerModule::~ServerModule() {
  RunTerminationCallbacks();
  if (moduleLockReady_) DeleteCriticalSection(&moduleLock_);
  if (comInitialized_) CoUninitialize();
}

ULONG ServerModule::Lock() { return static_cast<ULONG>(InterlockedIncrement(&lockCount_)); }

ULONG ServerModule::Unlock() {
  const LONG count = InterlockedDecrement(&lockCount_);
  if (count == 0) {
    if (delayShutdown_) {
      // Flag first, then signal: the monitor then always starts a fresh idle
      // period after this drop to zero. The event stays open until the module
      // is destroyed, so a late Unlock while stopping signals nothing harmful.
      InterlockedExchange(&activitySeen_, 1);
      if (shutdownEvent_) SetEvent(shutdownEvent_.get());
    } else {
      PostQuit();
    }
  }
  return static_cast<ULONG>(count);
}

HRESULT ServerModule::EnterModuleLock() {
  if (!moduleLockReady_) return E_FAIL;
  EnterCriticalSection(&moduleLock_);
  return S_OK;
}

void ServerModule::LeaveModuleLock() { LeaveCriticalSection(&moduleLock_); }

HRESULT ServerModule::AddTerminationCallback(TerminationCallback callback, void* data) {
  TerminationNode* node = new (std::nothrow) TerminationNode{callback, data, nullptr};
  if (node == nullptr) return E_OUTOFMEMORY;
  ModuleLockGuard guard(this);
  if (FAILED(guard.status())) {
    delete node;
    return guard.status();
  }
  node->next = terminationList_;
  terminationList_ = node;
  return S_OK;
}

HRESULT ServerModule::GetCallerSession(DWORD* session) {
  if (callerSessions_ == CallerSessions::kFromToken) return CallerSessionFromToken(session);
  *session = 0;
  return S_OK;
}

void ServerModule::RunTerminationCallbacks() {
  while (terminationList_ != nullptr) {
    TerminationNode* node = terminationList_;
    terminationList_ = node->next;
    node->callback(node->data);
    delete node;
  }
}

void ServerModule::PostQuit() { PostThreadMessageA(mainThreadId_, WM_QUIT, 0, 0); }

HRESULT ServerModule::RunServer(PublishedCallback published, void* data) {
  const HRESULT status = PublishClassObjects(CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE);
  if (FAILED(status)) {
    delayShutdown_ = false;
    return status;
  }
  if (status != S_OK) {
    delayShutdown_ = false;
  } else {
    if (delayShutdown_ && FAILED(StartIdleMonitor())) return E_FAIL;
    if (published != nullptr) published(data);
    RunMessageLoop();
  }
  const HRESULT withdrawn = WithdrawClassObjects();
  // Lets calls still running on other threads finish before the process ends.
  if (delayShutdown_) Sleep(kExitPauseMs);
  return withdrawn;
}

HRESULT ServerModule::PublishClassObjects(DWORD class_context, DWORD flags) {
  SingletonClassFactory* factory = nullptr;
  ZELK_RETURN_IF_FAILED(SingletonClassFactory::Create(this, &factory));
  ComPtr<IClassFactory> local;
  local.attach(factory);
  return CoRegisterClassObject(CLSID_ZelkHelper, local.get(), class_context, flags,
                               &classRegistrationCookie_);
}

HRESULT ServerModule::WithdrawClassObjects() {
  if (classRegistrationCookie_ == 0) return S_OK;
  const HRESULT status = CoRevokeClassObject(classRegistrationCookie_);
  classRegistrationCookie_ = 0;
  return status;
}

HRESULT ServerModule::StartIdleMonitor() {
  shutdownEvent_.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (!shutdownEvent_) return StatusFromLastError();
  UniqueHandle thread(CreateThread(nullptr, 0, IdleMonitorThread, this, 0, nullptr));
  if (!thread) return StatusFromLastError();
  return S_OK;
}

void ServerModule::RunMessageLoop() {
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

DWORD WINAPI ServerModule::IdleMonitorThread(void* module) {
  static_cast<ServerModule*>(module)->IdleMonitor();
  return 0;
}

void ServerModule::IdleMonitor() {
  const HANDLE event = shutdownEvent_.get();
  for (;;) {
    // No time limit: a server no client ever released stays up.
    if (WaitForSingleObject(event, INFINITE) != WAIT_OBJECT_0) break;
    DWORD wait;
    do {
      InterlockedExchange(&activitySeen_, 0);
      wait = WaitForSingleObject(event, kIdleExitDelayMs);
    } while (wait == WAIT_OBJECT_0);
    // A lock taken during the idle period signals nothing; seeing the count
    // above zero here means waiting for the next drop to zero.
    if (InterlockedCompareExchange(&activitySeen_, 0, 0) == 0 &&
        InterlockedCompareExchange(&lockCount_, 0, 0) == 0) {
      break;
    }
  }
  PostQuit();
}

}  // namespace zelk
