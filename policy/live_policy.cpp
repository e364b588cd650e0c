#include "policy/live_policy.h"

#include <new>
#include <vector>

#include "platform/status.h"

namespace zelk {

namespace {

// Where a policy key that does not exist yet will appear: the nearest of these
// that exists is watched, with its subtree.
constexpr const char* kWatchedKeys[] = {"Software\\Policies", "Software"};

constexpr DWORD kChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

// May throw std::bad_alloc.
HRESULT AssignList(const std::vector<ManagedEntry>& entries, SafeList* list) {
  std::vector<SafeList::KeyAndType> keys;
  keys.reserve(entries.size());
  for (const ManagedEntry& entry : entries) keys.push_back({&entry.key, entry.type});
  return list->Assign(keys);
}

}  // namespace

HRESULT LivePolicy::Start() {
  lastLook_ = GetTickCount64();
  changed_.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (changed_) watching_ = SUCCEEDED(Watch());
  return Reload();
}

void LivePolicy::Refresh() {
  const ULONGLONG now = GetTickCount64();
  if (now - lastLook_ < kPolicyRecheckMs) return;
  lastLook_ = now;
  if (!changed_) {
    changed_.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!changed_) return;
  }
  if (watching_ && WaitForSingleObject(changed_.get(), 0) != WAIT_OBJECT_0) return;
  // Watch again before reading, so that a change made while reading is not lost.
  watching_ = SUCCEEDED(Watch());
  if (!watching_) return;
  static_cast<void>(Reload());
}

HRESULT LivePolicy::Watch() {
  HRESULT status = E_FAIL;
  for (const char* path : kWatchedKeys) {
    status = watched_.Open(HKEY_LOCAL_MACHINE, path, KEY_NOTIFY | KEY_WOW64_64KEY);
    if (SUCCEEDED(status)) break;
    if (!IsNotFound(status)) return status;
  }
  ZELK_RETURN_IF_FAILED(status);
  const LONG result = RegNotifyChangeKeyValue(watched_.get(), TRUE, kChanges, changed_.get(), TRUE);
  if (result != ERROR_SUCCESS) {
    watched_.Close();
    return StatusFromWin32(result);
  }
  return S_OK;
}

HRESULT LivePolicy::Reload() {
  Policy read;
  ZELK_RETURN_IF_FAILED(ReadPolicy(&read));
  SafeList managed;
  SafeList blocked;
  try {
    ZELK_RETURN_IF_FAILED(AssignList(read.safeList, &managed));
    ZELK_RETURN_IF_FAILED(AssignList(read.blockList, &blocked));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  policy_ = std::move(read);
  managed_.Swap(&managed);
  blocked_.Swap(&blocked);
  return S_OK;
}

}  // namespace zelk
