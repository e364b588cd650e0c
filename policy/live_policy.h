// Machine policy as the running server applies it: read when the server
// starts, and read again at the first call that finds the policy key changed,
// so that an administrator's change reaches the answers without a restart.
// The user's settings and list are loaded once; only policy is live.
//
// A call looks at the watch at most once every kPolicyRecheckMs: under Wine
// each look is a round trip to the wineserver, dearer than the answer itself.
// So a change reaches every call made kPolicyRecheckMs after it.
//
// The key is watched with RegNotifyChangeKeyValue. It may not exist yet, and
// may be deleted and created again, so the watch is on the nearest key that
// exists of Software\Policies and Software (with their subtrees): a policy
// key that appears is noticed as a change of its parent.
//
// Not thread-safe: the server calls it from its one apartment thread, and
// Windows ends a watch when the thread that set it exits.
#pragma once

#include <windows.h>

#include "platform/registry_key.h"
#include "platform/unique_resource.h"
#include "policy/policy.h"
#include "safelist/safe_list.h"

namespace zelk {

constexpr ULONGLONG kPolicyRecheckMs = 100;

class LivePolicy {
 public:
  LivePolicy() = default;
  LivePolicy(const LivePolicy&) = delete;
  LivePolicy& operator=(const LivePolicy&) = delete;

  // Starts the watch, then reads the policy. A watch that cannot be set is
  // tried again at each Refresh. S_OK, or E_OUTOFMEMORY (no policy applies).
  HRESULT Start();

  // Reads the policy again when its key changed since the last read; cheap
  // otherwise (a look at the clock, and every kPolicyRecheckMs one wait that
  // does not wait). Keeps the policy in force when memory for the new one
  // cannot be had.
  void Refresh();

  const Policy& policy() const { return policy_; }
  // The managed lists, indexed for IsProtected.
  const SafeList& managedList() const { return managed_; }
  const SafeList& blockList() const { return blocked_; }

 private:
  HRESULT Watch();
  HRESULT Reload();

  UniqueHandle changed_;  // auto-reset: signalled by the watch
  RegistryKey watched_;
  bool watching_ = false;
  ULONGLONG lastLook_ = 0;  // GetTickCount64 at the last look at the watch
  Policy policy_;
  SafeList managed_;
  SafeList blocked_;
};

}  // namespace zelk
