// Settings and startup-option members of the shared object. Gets answer from
// the cache; puts write through first and change the cache only once the
// registry holds the new value, so a get never reports what a restart would lose.
// A setting that machine policy manages answers with the policy's value and
// refuses every put: the user's own value stays as it is, for when the policy
// goes away.
#include <new>

#include "automation/zelk_helper.h"
#include "platform/status.h"
#include "platform/text.h"

namespace zelk {

namespace {

VARIANT_BOOL ToVariantBool(int32_t flag) { return flag != 0 ? VARIANT_TRUE : VARIANT_FALSE; }

}  // namespace

int32_t ZelkHelper::EffectiveFlag(ManagedFlag flag, int32_t field) {
  const std::optional<int32_t>& managed = PolicyInForce().flags[flag];
  return managed ? *managed : field;
}

HRESULT ZelkHelper::GetFlag(ManagedFlag flag, int32_t field, VARIANT_BOOL* pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = ToVariantBool(EffectiveFlag(flag, field));
  return S_OK;
}

HRESULT ZelkHelper::PutFlag(ManagedFlag flag, int32_t* field, VARIANT_BOOL value) {
  if (PolicyInForce().flags[flag]) return E_ACCESSDENIED;
  const int32_t stored = value != 0 ? 1 : 0;
  ZELK_RETURN_IF_FAILED(WriteSettingDword(kManagedFlagNames[flag], static_cast<DWORD>(stored)));
  *field = stored;
  return S_OK;
}

STDMETHODIMP ZelkHelper::get_AutoShow(VARIANT_BOOL* pVal) {
  return GetFlag(kManagedAutoShow, settings_.autoShow, pVal);
}
STDMETHODIMP ZelkHelper::put_AutoShow(VARIANT_BOOL value) {
  return PutFlag(kManagedAutoShow, &settings_.autoShow, value);
}
STDMETHODIMP ZelkHelper::get_PlaySound(VARIANT_BOOL* pVal) {
  return GetFlag(kManagedPlaySound, settings_.playSound, pVal);
}
STDMETHODIMP ZelkHelper::put_PlaySound(VARIANT_BOOL value) {
  return PutFlag(kManagedPlaySound, &settings_.playSound, value);
}
STDMETHODIMP ZelkHelper::get_ProtectLocal(VARIANT_BOOL* pVal) {
  return GetFlag(kManagedProtectLocal, settings_.protectLocal, pVal);
}
STDMETHODIMP ZelkHelper::put_ProtectLocal(VARIANT_BOOL value) {
  return PutFlag(kManagedProtectLocal, &settings_.protectLocal, value);
}
STDMETHODIMP ZelkHelper::get_ProtectHttps(VARIANT_BOOL* pVal) {
  return GetFlag(kManagedProtectHttps, settings_.protectHttps, pVal);
}
STDMETHODIMP ZelkHelper::put_ProtectHttps(VARIANT_BOOL value) {
  return PutFlag(kManagedProtectHttps, &settings_.protectHttps, value);
}
STDMETHODIMP ZelkHelper::get_LogPopup(VARIANT_BOOL* pVal) {
  return GetFlag(kManagedLogPopup, settings_.logPopup, pVal);
}
STDMETHODIMP ZelkHelper::put_LogPopup(VARIANT_BOOL value) {
  return PutFlag(kManagedLogPopup, &settings_.logPopup, value);
}
STDMETHODIMP ZelkHelper::get_CheckSoftPopup(VARIANT_BOOL* pVal) {
  return GetFlag(kManagedCheckSoftPopup, settings_.checkSoftPopup, pVal);
}
STDMETHODIMP ZelkHelper::put_CheckSoftPopup(VARIANT_BOOL value) {
  return PutFlag(kManagedCheckSoftPopup, &settings_.checkSoftPopup, value);
}

STDMETHODIMP ZelkHelper::get_SoundFile(BSTR* pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = nullptr;
  const std::optional<std::string>& managed = PolicyInForce().soundFile;
  UniqueBstr text;
  ZELK_RETURN_IF_FAILED(BstrFromNarrow(managed ? *managed : settings_.soundFile, &text));
  *pVal = text.release();
  return S_OK;
}

STDMETHODIMP ZelkHelper::put_SoundFile(BSTR value) {
  if (PolicyInForce().soundFile) return E_ACCESSDENIED;
  std::string sound_file;
  ZELK_RETURN_IF_FAILED(NarrowFromWide(value, &sound_file));
  // A longer path could be stored but never read back at the next start.
  if (sound_file.size() > kMaxSoundFileBytes) return E_INVALIDARG;
  ZELK_RETURN_IF_FAILED(WriteSettingString(setting::kSoundFile, sound_file));
  settings_.soundFile.swap(sound_file);
  return S_OK;
}

STDMETHODIMP ZelkHelper::get_TotalPopups(long* pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = settings_.totalPopups;
  return S_OK;
}

STDMETHODIMP ZelkHelper::IncrementTotalPopups(long Count) {
  // Two's complement wrap-around, without signed overflow.
  const DWORD sum = static_cast<DWORD>(settings_.totalPopups) + static_cast<DWORD>(Count);
  ZELK_RETURN_IF_FAILED(WriteSettingDword(setting::kTotalPopups, sum));
  settings_.totalPopups = static_cast<int32_t>(sum);
  return S_OK;
}

// A caller whose session is unknown gets the failure: an option it left or
// took under a guessed session could reach, or be taken from, another session.
STDMETHODIMP ZelkHelper::SetStartupOption(long hWnd, long StartupOption) {
  DWORD session = 0;
  ZELK_RETURN_IF_FAILED(module_->GetCallerSession(&session));
  return startupOptions.Set(session, static_cast<int32_t>(hWnd),
                            static_cast<int32_t>(StartupOption));
}

STDMETHODIMP ZelkHelper::GetStartupOption(long hWnd, long* pStartupOption) {
  if (pStartupOption == nullptr) return E_POINTER;
  DWORD session = 0;
  ZELK_RETURN_IF_FAILED(module_->GetCallerSession(&session));
  // The fallback is 1, not the -1 of the AutoShow get.
  int32_t option = EffectiveFlag(kManagedAutoShow, settings_.autoShow) != 0 ? 1 : 0;
  startupOptions.Take(session, static_cast<int32_t>(hWnd), &option);
  *pStartupOption = option;
  return S_OK;
}

}  // namespace zelk
