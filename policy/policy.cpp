#include "policy/policy.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "platform/registry_key.h"
#include "platform/status.h"
#include "platform/text.h"
#include "safelist/entry_line.h"
#include "safelist/safe_list.h"

namespace zelk {

const char* const kManagedFlagNames[kManagedFlagCount] = {
    setting::kAutoShow,     setting::kPlaySound, setting::kProtectLocal,
    setting::kProtectHttps, setting::kLogPopup,  setting::kCheckSoftPopup,
};

namespace {

// Values whose names start so are Group Policy's own bookkeeping, not policy.
constexpr wchar_t kGroupPolicyMarker[] = L"**";
constexpr size_t kLargestValueNumber = 1000000000;

std::wstring TypeName(DWORD type) {
  switch (type) {
    case REG_SZ:
      return L"REG_SZ";
    case REG_EXPAND_SZ:
      return L"REG_EXPAND_SZ";
    case REG_BINARY:
      return L"REG_BINARY";
    case REG_DWORD:
      return L"REG_DWORD";
    case REG_MULTI_SZ:
      return L"REG_MULTI_SZ";
    case REG_QWORD:
      return L"REG_QWORD";
    default:
      return L"type " + std::to_wstring(type);
  }
}

std::wstring WrongType(const RegistryValue& value, DWORD expected) {
  std::wstring found = TypeName(value.type);
  if (value.type == REG_DWORD) found += L" of " + std::to_wstring(value.data.size()) + L" bytes";
  return L"wrong type: " + found + L" where the policy is a " + TypeName(expected);
}

// The text of a REG_SZ value's UTF-16 data, up to its first NUL.
std::wstring TextOf(const RegistryValue& value) {
  std::wstring text;
  for (size_t index = 0; index + 1 < value.data.size(); index += 2) {
    const wchar_t c = static_cast<wchar_t>(static_cast<unsigned char>(value.data[index]) |
                                           static_cast<unsigned char>(value.data[index + 1]) << 8);
    if (c == L'\0') break;
    text.push_back(c);
  }
  return text;
}

// Why a switch value is not applied; empty when it is, with *value set.
std::wstring ReadSwitch(const RegistryValue& value, int32_t* number) {
  if (value.type != REG_DWORD || value.data.size() != sizeof(DWORD)) {
    return WrongType(value, REG_DWORD);
  }
  DWORD stored = 0;
  std::copy(value.data.begin(), value.data.end(), reinterpret_cast<char*>(&stored));
  if (stored > 1) return L"the value is " + std::to_wstring(stored) + L"; the policy is 0 or 1";
  *number = static_cast<int32_t>(stored);
  return std::wstring();
}

std::wstring ReadSoundFile(const RegistryValue& value, std::optional<std::string>* sound_file) {
  if (value.type != REG_SZ) return WrongType(value, REG_SZ);
  std::string narrow;
  if (!HeldInCodePage(TextOf(value), &narrow)) {
    return L"the text cannot be held in " + CodePageName();
  }
  if (narrow.size() > kMaxManagedSoundFileBytes) {
    return L"the text is longer than " + std::to_wstring(kMaxManagedSoundFileBytes) + L" bytes";
  }
  *sound_file = std::move(narrow);
  return std::wstring();
}

bool NameIs(const std::string& narrow_name, const char* name) {
  return EqualsIgnoringCase(narrow_name, name);
}

// Applies one value of the policy key itself, or says why it is not applied.
std::wstring ReadKeyValue(const RegistryValue& value, Policy* policy) {
  std::string name;
  if (!HeldInCodePage(value.name, &name)) return L"no policy has this name";
  for (int flag = 0; flag < kManagedFlagCount; ++flag) {
    if (!NameIs(name, kManagedFlagNames[flag])) continue;
    int32_t number = 0;
    std::wstring reason = ReadSwitch(value, &number);
    if (reason.empty()) policy->flags[flag] = number;
    return reason;
  }
  if (NameIs(name, setting::kSoundFile)) return ReadSoundFile(value, &policy->soundFile);
  if (NameIs(name, policy::kLockSafeList)) {
    int32_t number = 0;
    std::wstring reason = ReadSwitch(value, &number);
    if (reason.empty()) policy->lockSafeList = number != 0;
    return reason;
  }
  return L"no policy has this name";
}

std::wstring CannotRead(HRESULT status) {
  return L"the key cannot be read (error " + std::to_wstring(HRESULT_CODE(status)) + L")";
}

// The number a list value is named by (1, 2, 3 ..., no leading zero); 0 for
// any other name.
size_t ValueNumber(const std::wstring& name) {
  if (name.empty() || name[0] == L'0') return 0;
  size_t number = 0;
  for (const wchar_t c : name) {
    if (c < L'0' || c > L'9' || number >= kLargestValueNumber) return 0;
    number = number * 10 + static_cast<size_t>(c - L'0');
  }
  return number;
}

// Why a list value gives no entry; empty when it gives *entry.
std::wstring ReadListEntry(const RegistryValue& value, ManagedEntry* entry) {
  if (value.type != REG_SZ) return WrongType(value, REG_SZ);
  const std::wstring text = TrimmedLine(TextOf(value));
  if (text.empty() || text[0] == L'#') {
    return L"no entry: a line is \"page URL\", \"site URL\" or \"domain URL\"";
  }
  ParsedEntryLine line;
  std::wstring reason = WhyNotEntryLine(text, &line);
  if (!reason.empty()) return reason;
  std::string narrow;
  HeldInCodePage(line.url, &narrow);
  ListedUrl parts;
  if (FAILED(KeyTextToProtect(narrow, &entry->key, &parts))) return WhyServerRefuses(line.url);
  entry->valueName = value.name;
  entry->type = line.type;
  entry->url = std::move(line.url);
  return std::wstring();
}

// May throw std::bad_alloc.
void ReadList(const RegistryKey& policy_key, const char* list_name,
              std::vector<ManagedEntry>* entries, std::vector<IgnoredValue>* ignored) {
  std::wstring wide_list_name;
  if (FAILED(WideFromNarrow(list_name, strlen(list_name), &wide_list_name))) throw std::bad_alloc();
  RegistryKey list_key;
  HRESULT status = list_key.Open(policy_key.get(), list_name, kPolicyReadAccess);
  if (IsNotFound(status)) return;
  std::vector<RegistryValue> values;
  if (SUCCEEDED(status)) status = list_key.ReadAllValues(&values);
  if (status == E_OUTOFMEMORY) throw std::bad_alloc();
  if (FAILED(status)) {
    ignored->push_back({wide_list_name, CannotRead(status)});
    return;
  }
  std::vector<std::pair<size_t, const RegistryValue*>> numbered;
  std::vector<const RegistryValue*> unnumbered;
  for (const RegistryValue& value : values) {
    const size_t number = ValueNumber(value.name);
    if (number == 0) {
      unnumbered.push_back(&value);
    } else {
      numbered.emplace_back(number, &value);
    }
  }
  std::sort(numbered.begin(), numbered.end());
  const std::wstring prefix = wide_list_name + L"\\";
  for (const auto& item : numbered) {
    ManagedEntry entry;
    std::wstring reason = ReadListEntry(*item.second, &entry);
    if (reason.empty()) {
      entries->push_back(std::move(entry));
    } else {
      ignored->push_back({prefix + item.second->name, std::move(reason)});
    }
  }
  for (const RegistryValue* value : unnumbered) {
    ignored->push_back({prefix + value->name, L"a list value is named by its number: 1, 2, 3 ..."});
  }
}

// May throw std::bad_alloc.
void ReadPolicyKey(Policy* policy) {
  RegistryKey policy_key;
  HRESULT status = policy_key.Open(HKEY_LOCAL_MACHINE, kPolicyKeyPath, kPolicyReadAccess);
  if (IsNotFound(status)) return;
  std::vector<RegistryValue> values;
  if (SUCCEEDED(status)) status = policy_key.ReadAllValues(&values);
  if (status == E_OUTOFMEMORY) throw std::bad_alloc();
  if (FAILED(status)) {
    policy->ignored.push_back({L"Software\\Policies\\Zelk", CannotRead(status)});
    return;
  }
  for (const RegistryValue& value : values) {
    if (value.name.compare(0, 2, kGroupPolicyMarker) == 0) continue;
    std::wstring reason = ReadKeyValue(value, policy);
    if (!reason.empty()) policy->ignored.push_back({value.name, std::move(reason)});
  }
  ReadList(policy_key, policy::kSafeListKey, &policy->safeList, &policy->ignored);
  ReadList(policy_key, policy::kBlockListKey, &policy->blockList, &policy->ignored);
}

}  // namespace

bool Policy::empty() const {
  for (const auto& flag : flags) {
    if (flag) return false;
  }
  return !soundFile && !lockSafeList && safeList.empty() && blockList.empty() && ignored.empty();
}

HRESULT ReadPolicy(Policy* policy) {
  try {
    Policy read;
    ReadPolicyKey(&read);
    *policy = std::move(read);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace zelk
