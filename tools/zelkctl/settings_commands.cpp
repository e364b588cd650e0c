// status, get, set and count add: the settings and the pop-up counter.
#include <algorithm>

#include "platform/status.h"
#include "platform/text.h"
#include "tools/zelkctl/arguments.h"
#include "tools/zelkctl/commands.h"
#include "tools/zelkctl/registered_server.h"

namespace zelk {
namespace ctl {

namespace {

using FlagGetter = decltype(&IZelkHelper::get_AutoShow);
using FlagPutter = decltype(&IZelkHelper::put_AutoShow);

enum class SettingKind { kFlag, kText, kCounter };

struct Setting {
  const wchar_t* name;
  SettingKind kind;
  FlagGetter get_flag;  // flags only
  FlagPutter put_flag;  // flags only
};

// In the order status shows them.
const Setting kSettings[] = {
    {L"AutoShow", SettingKind::kFlag, &IZelkHelper::get_AutoShow, &IZelkHelper::put_AutoShow},
    {L"PlaySound", SettingKind::kFlag, &IZelkHelper::get_PlaySound, &IZelkHelper::put_PlaySound},
    {L"SoundFile", SettingKind::kText, nullptr, nullptr},
    {L"ProtectLocal", SettingKind::kFlag, &IZelkHelper::get_ProtectLocal,
     &IZelkHelper::put_ProtectLocal},
    {L"ProtectHttps", SettingKind::kFlag, &IZelkHelper::get_ProtectHttps,
     &IZelkHelper::put_ProtectHttps},
    {L"LogPopup", SettingKind::kFlag, &IZelkHelper::get_LogPopup, &IZelkHelper::put_LogPopup},
    {L"CheckSoftPopup", SettingKind::kFlag, &IZelkHelper::get_CheckSoftPopup,
     &IZelkHelper::put_CheckSoftPopup},
    {L"TotalPopups", SettingKind::kCounter, nullptr, nullptr},
};

const Setting* FindSetting(const std::wstring& name) {
  for (const Setting& setting : kSettings) {
    if (EqualsIgnoringCase(name, setting.name)) return &setting;
  }
  return nullptr;
}

std::wstring SettingNames() {
  std::wstring names;
  for (const Setting& setting : kSettings) {
    if (!names.empty()) names += L", ";
    names += setting.name;
  }
  return names;
}

std::wstring BstrText(BSTR text) {
  return text == nullptr ? std::wstring() : std::wstring(text, SysStringLen(text));
}

// The setting's value as status and get show it. The failing server member
// is named in *operation.
HRESULT ReadSetting(IZelkHelper* helper, const Setting& setting, std::wstring* shown,
                    std::wstring* operation) {
  *operation = std::wstring(setting.name) + L" get";
  switch (setting.kind) {
    case SettingKind::kFlag: {
      VARIANT_BOOL value = VARIANT_FALSE;
      ZELK_RETURN_IF_FAILED((helper->*setting.get_flag)(&value));
      *shown = value != VARIANT_FALSE ? L"on" : L"off";
      return S_OK;
    }
    case SettingKind::kText: {
      UniqueBstr value;
      ZELK_RETURN_IF_FAILED(helper->get_SoundFile(value.put()));
      *shown = BstrText(value.get());
      return S_OK;
    }
    case SettingKind::kCounter: {
      long value = 0;
      ZELK_RETURN_IF_FAILED(helper->get_TotalPopups(&value));
      *shown = std::to_wstring(value);
      return S_OK;
    }
  }
  return E_UNEXPECTED;
}

// `value` has been checked by ValueComplaint.
HRESULT WriteSetting(IZelkHelper* helper, const Setting& setting, const std::wstring& value) {
  if (setting.kind == SettingKind::kFlag) {
    bool flag = false;
    if (!ParseFlag(value, &flag)) return E_INVALIDARG;
    return (helper->*setting.put_flag)(flag ? VARIANT_TRUE : VARIANT_FALSE);
  }
  UniqueBstr path;
  ZELK_RETURN_IF_FAILED(BstrFromWide(value, &path));
  return helper->put_SoundFile(path.get());
}

// Why `value` cannot be stored in `setting`; empty when it can.
std::wstring ValueComplaint(const Setting& setting, const std::wstring& value) {
  bool flag = false;
  switch (setting.kind) {
    case SettingKind::kFlag:
      if (ParseFlag(value, &flag)) return std::wstring();
      return std::wstring(setting.name) + L" takes on/off, true/false or 1/0, not \"" +
             Visible(value) + L"\"";
    case SettingKind::kText: return std::wstring();
    case SettingKind::kCounter: return L"TotalPopups cannot be set; use \"zelkctl count add N\"";
  }
  return L"unknown kind of setting";
}

int UnknownSetting(Invocation& call, const std::wstring& name) {
  return call.UsageError(L"unknown setting \"" + Visible(name) + L"\" (settings: " +
                         SettingNames() + L")");
}

// "Name  value" lines, the values in one column.
std::wstring Table(const std::vector<std::pair<std::wstring, std::wstring>>& lines) {
  size_t width = 0;
  for (const auto& line : lines) width = std::max(width, line.first.size());
  std::wstring table;
  for (const auto& line : lines) {
    // An empty value (no sound file) leaves no padding at the end of its line.
    const size_t padding = line.second.empty() ? 0 : width + 2 - line.first.size();
    table += line.first + std::wstring(padding, L' ') + Visible(line.second) + L"\n";
  }
  return table;
}

// Reads every setting into `lines`, marking those that policy manages; on
// failure reports it and returns false.
bool AddSettingLines(Invocation& call, IZelkHelper* helper, const Policy& policy,
                     std::vector<std::pair<std::wstring, std::wstring>>* lines) {
  for (const Setting& setting : kSettings) {
    std::wstring shown, operation;
    const HRESULT status = ReadSetting(helper, setting, &shown, &operation);
    if (FAILED(status)) {
      call.Failure(operation, status);
      return false;
    }
    if (PolicyManagesSetting(policy, setting.name)) shown += L"  (managed by policy)";
    lines->emplace_back(setting.name, shown);
  }
  return true;
}

}  // namespace

int RunStatus(Invocation& call) {
  IZelkHelper* helper = call.Connect();
  if (helper == nullptr) return kExitFailure;
  // Asked once the server is connected, so the state is that of the server
  // that answers.
  ServerHosting hosting;
  HRESULT status = QueryServerHosting(&hosting);
  if (FAILED(status)) return call.Failure(L"finding how the server is hosted", status);
  Policy policy;
  status = ReadMachinePolicy(&policy);
  if (FAILED(status)) return call.Failure(L"reading machine policy", status);
  std::vector<std::pair<std::wstring, std::wstring>> lines = {{L"Server", HostingText(hosting)}};
  if (!AddSettingLines(call, helper, policy, &lines)) return kExitFailure;
  std::vector<std::wstring> keys;
  status = FetchSafeList(helper, &keys);
  if (FAILED(status)) return call.Failure(L"SafeList get", status);
  std::vector<LogRow> rows;
  status = FetchLogRows(helper, &rows);
  if (FAILED(status)) return call.Failure(L"Logs get", status);
  lines.emplace_back(L"SafeList entries", std::to_wstring(keys.size()));
  lines.emplace_back(L"Log entries", std::to_wstring(CountEntries(rows)));
  call.console().Out(Table(lines));
  return kExitSuccess;
}

int RunGet(Invocation& call) {
  const Setting* setting = FindSetting(call.operand(0));
  if (setting == nullptr) return UnknownSetting(call, call.operand(0));
  IZelkHelper* helper = call.Connect();
  if (helper == nullptr) return kExitFailure;
  std::wstring shown, operation;
  const HRESULT status = ReadSetting(helper, *setting, &shown, &operation);
  if (FAILED(status)) return call.Failure(operation, status);
  call.console().Out(Visible(shown) + L"\n");
  return kExitSuccess;
}

int RunSet(Invocation& call) {
  const Setting* setting = FindSetting(call.operand(0));
  if (setting == nullptr) return UnknownSetting(call, call.operand(0));
  const std::wstring complaint = ValueComplaint(*setting, call.operand(1));
  if (!complaint.empty()) return call.UsageError(complaint);
  Policy policy;
  HRESULT status = ReadMachinePolicy(&policy);
  if (FAILED(status)) return call.Failure(L"reading machine policy", status);
  if (PolicyManagesSetting(policy, setting->name)) {
    call.console().Err(L"zelkctl: set: " + std::wstring(setting->name) +
                       L" is managed by machine policy and cannot be changed here; see "
                       L"\"zelkctl policy\"\n");
    return kExitFailure;
  }
  IZelkHelper* helper = call.Connect();
  if (helper == nullptr) return kExitFailure;
  status = WriteSetting(helper, *setting, call.operand(1));
  if (FAILED(status)) return call.Failure(std::wstring(setting->name) + L" put", status);
  std::wstring shown, operation;
  status = ReadSetting(helper, *setting, &shown, &operation);
  if (FAILED(status)) return call.Failure(operation, status);
  call.console().Out(Table({{setting->name, shown}}));
  return kExitSuccess;
}

int RunCountAdd(Invocation& call) {
  long count = 0;
  if (!ParseLong(call.operand(0), &count)) {
    return call.UsageError(L"N must be a whole number from -2147483648 to 2147483647, not \"" +
                           Visible(call.operand(0)) + L"\"");
  }
  IZelkHelper* helper = call.Connect();
  if (helper == nullptr) return kExitFailure;
  HRESULT status = helper->IncrementTotalPopups(count);
  if (FAILED(status)) return call.Failure(L"IncrementTotalPopups", status);
  long total = 0;
  status = helper->get_TotalPopups(&total);
  if (FAILED(status)) return call.Failure(L"TotalPopups get", status);
  call.console().Out(Table({{L"TotalPopups", std::to_wstring(total)}}));
  return kExitSuccess;
}

}  // namespace ctl
}  // namespace zelk
