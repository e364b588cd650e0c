// policy: what machine policy sets, and every policy value the server ignores.
// zelkctl reads the policy key with the server's own reader, so that what it
// shows is what the server applies.
#include <algorithm>
#include <new>

#include "policy/policy.h"
#include "safelist/entry_line.h"
#include "platform/text.h"
#include "tools/zelkctl/arguments.h"
#include "tools/zelkctl/commands.h"

namespace zelk {
namespace ctl {

namespace {

constexpr wchar_t kNotConfigured[] = L"not configured";

// Policy names are ASCII; a managed sound file was read from wide text and
// converts back.
std::wstring Wide(const std::string& text) {
  std::wstring wide;
  if (FAILED(WideFromNarrow(text.data(), text.size(), &wide))) wide = L"?";
  return wide;
}

std::wstring FlagText(const std::optional<int32_t>& flag) {
  if (!flag) return kNotConfigured;
  return *flag != 0 ? L"on" : L"off";
}

// "  NAME  value" lines, the values in one column.
std::wstring Aligned(const std::vector<std::pair<std::wstring, std::wstring>>& lines) {
  size_t width = 0;
  for (const auto& line : lines) width = std::max(width, line.first.size());
  std::wstring text;
  for (const auto& line : lines) {
    text += L"  " + line.first + std::wstring(width + 2 - line.first.size(), L' ') +
            Visible(line.second) + L"\n";
  }
  return text;
}

std::wstring ListSection(const wchar_t* name, const std::vector<ManagedEntry>& entries) {
  std::wstring text = std::wstring(name) + L": ";
  if (entries.empty()) return text + kNotConfigured + L"\n";
  text += std::to_wstring(entries.size()) + (entries.size() == 1 ? L" entry\n" : L" entries\n");
  for (const ManagedEntry& entry : entries) text += L"  " + ManagedEntryLine(name, entry) + L"\n";
  return text;
}

std::wstring PolicyReport(const Policy& policy) {
  std::vector<std::pair<std::wstring, std::wstring>> settings;
  for (int flag = 0; flag < kManagedFlagCount; ++flag) {
    settings.emplace_back(Wide(kManagedFlagNames[flag]), FlagText(policy.flags[flag]));
  }
  settings.emplace_back(L"SoundFile", policy.soundFile ? Wide(*policy.soundFile)
                                                       : std::wstring(kNotConfigured));
  settings.emplace_back(Wide(policy::kLockSafeList),
                        policy.lockSafeList ? L"on" : kNotConfigured);
  std::wstring report = L"Machine policy (HKLM\\" + Wide(kPolicyKeyPath) + L"):\n" +
                        Aligned(settings) + ListSection(L"SafeList", policy.safeList) +
                        ListSection(L"BlockList", policy.blockList);
  if (policy.ignored.empty()) return report;
  report += L"Ignored (" + std::to_wstring(policy.ignored.size()) + L"):\n";
  for (const IgnoredValue& value : policy.ignored) {
    report += L"  " + Visible(value.path) + L": " + value.reason + L"\n";
  }
  return report;
}

}  // namespace

std::wstring ManagedEntryLine(const wchar_t* list_name, const ManagedEntry& entry) {
  const wchar_t* word = EntryTypeWord(entry.type);
  return Visible(std::wstring(list_name) + L"\\" + entry.valueName + L"  " +
                 (word != nullptr ? word : L"?") + L" " + entry.url);
}

HRESULT ReadMachinePolicy(Policy* policy) {
  try {
    return ReadPolicy(policy);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

bool PolicyManagesSetting(const Policy& policy, const std::wstring& name) {
  if (EqualsIgnoringCase(name, L"SoundFile")) return policy.soundFile.has_value();
  for (int flag = 0; flag < kManagedFlagCount; ++flag) {
    if (EqualsIgnoringCase(name, Wide(kManagedFlagNames[flag]).c_str())) {
      return policy.flags[flag].has_value();
    }
  }
  return false;
}

int RunPolicy(Invocation& call) {
  Policy policy;
  const HRESULT status = ReadMachinePolicy(&policy);
  if (FAILED(status)) return call.Failure(L"reading machine policy", status);
  call.console().Out(PolicyReport(policy));
  return policy.ignored.empty() ? kExitSuccess : kExitIncomplete;
}

}  // namespace ctl
}  // namespace zelk
