// Machine policy: what an administrator sets through Group Policy under
// HKEY_LOCAL_MACHINE\Software\Policies\Zelk, read in the 64-bit view where
// Group Policy writes it, so that the 32-bit server on 64-bit Windows sees it.
//
//   AutoShow, PlaySound, ProtectLocal, ProtectHttps, LogPopup, CheckSoftPopup
//                  REG_DWORD 0 or 1: the setting's value, which users cannot change
//   SoundFile      REG_SZ of at most 259 bytes in the code page
//   LockSafeList   REG_DWORD 1: users cannot change their safe list
//   SafeList\1, 2, 3 ...   REG_SZ lines "page URL", "site URL", "domain URL":
//                  managed entries, tested in value order after the settings
//   BlockList\1, 2, 3 ...  the same lines: URLs that are never protected
//
// Nothing is dropped silently: every value that is not applied is listed with
// the reason. Policy never changes the user's own settings or list.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry_key.h"

namespace zelk {

constexpr const char kPolicyKeyPath[] = "Software\\Policies\\Zelk";
// Group Policy writes machine policy in the 64-bit view.
constexpr REGSAM kPolicyReadAccess = KEY_READ | KEY_WOW64_64KEY;

// As for the setting: the longest sound file path that the registry string
// buffer holds.
constexpr size_t kMaxManagedSoundFileBytes = kRegistryStringBufferBytes - 1;

namespace policy {
constexpr const char kLockSafeList[] = "LockSafeList";
constexpr const char kSafeListKey[] = "SafeList";
constexpr const char kBlockListKey[] = "BlockList";
}  // namespace policy

// The flags that policy can manage, by their index in Policy::flags.
enum ManagedFlag {
  kManagedAutoShow,
  kManagedPlaySound,
  kManagedProtectLocal,
  kManagedProtectHttps,
  kManagedLogPopup,
  kManagedCheckSoftPopup,
  kManagedFlagCount
};

// The value name of each ManagedFlag, which is also the setting's name.
extern const char* const kManagedFlagNames[kManagedFlagCount];

// One entry of a managed list, as applied.
struct ManagedEntry {
  std::wstring valueName;  // "1", "2", ...
  uint32_t type;           // one EntryType
  std::wstring url;        // as written in the value
  std::string key;         // the narrow key text the server matches, as a protect member makes it
};

// A policy value that is not applied.
struct IgnoredValue {
  std::wstring path;    // the value's name, after "SafeList\" or "BlockList\" for a list value
  std::wstring reason;  // why, in words
};

struct Policy {
  std::optional<int32_t> flags[kManagedFlagCount];  // 0 or 1 when managed
  std::optional<std::string> soundFile;             // narrow, when managed
  bool lockSafeList = false;
  std::vector<ManagedEntry> safeList;   // in value order
  std::vector<ManagedEntry> blockList;  // in value order
  std::vector<IgnoredValue> ignored;    // the key's values first, then each list's

  bool empty() const;
};

// Reads the policy key. A missing key, or a missing list subkey, is no
// policy. A key that exists but cannot be read is listed as ignored. S_OK or
// E_OUTOFMEMORY; *policy is untouched on failure.
HRESULT ReadPolicy(Policy* policy);

}  // namespace zelk
